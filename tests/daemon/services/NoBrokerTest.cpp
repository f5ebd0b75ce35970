// A process whose broker lookup gives no broker (the first lookup named
// another socket): every sender returns, an alert is denied at once and a
// command is still taken.
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "AlertManager.h"
#include "AppHVOLogWrapper.h"
#include "AppProtectionController.h"
#include "CommandImpl.h"
#include "ConfigController.h"
#include "FakeKernelControl.h"
#include "HVOCommBroker.h"
#include "MemoryPreferences.h"
#include "ReportManager.h"
#include "TestFiles.h"

namespace {

using namespace AppProtection;

class NoProcesses : public ProcessSource {
public:
    std::vector<int> listPids() override { return {}; }
    std::string programPath(int) override { return ""; }
};

class NoCodesign : public CodeSignChecker {
public:
    bool available() override { return false; }
    bool isAppleSigned(const std::string&) override { return false; }
};

TEST(NoBroker, SendersReturnAndAlertsAreDeniedAtOnce)
{
    ASSERT_NE(nullptr, HVO::HVOCommBroker::getInstance("/tmp/not-the-hub"));
    ASSERT_EQ(nullptr, HVO::HVOCommBroker::getInstance(kHvoSocketPath));

    settingstoretest::MemoryPreferences store;
    testfiles::TempDir dir;
    store.put("com.vantrel.zrm.appprotection", "ProfilePath", PrefString::createWithUTF8(dir / "profile.data"));
    store.put("com.vantrel.zrm.appprotection", "EnableAppProtection", PrefBoolean::get(false));
    ConfigController::releaseInstance();
    AppProtectionController::Dependencies deps;
    deps.kernelControl = std::make_unique<coretest::FakeKernelControl>();
    deps.processSource = std::make_unique<NoProcesses>();
    deps.codeSignChecker = std::make_unique<NoCodesign>();
    AppProtectionController::setDependencies(std::move(deps));
    AppProtectionController* controller = AppProtectionController::getInstance();
    controller->loadProfile(false);

    ReportData data;
    DetailReportData detail;
    AppHVOLogWrapper::sendHistoryEvents(data, detail);
    AppHVOLogWrapper::sendRecentEvents(detail);
    AppHVOLogWrapper::sendZuvEvents(data, detail);
    AppHVOLogWrapper::sendLogMessage(HVO::LOG_TYPE_ACTIVITY, HVO::HVK_LOG_LEVEL_3, "%s", "x");

    BasicAppRecord record;
    record.setAppGroup("/g");
    AppProtReport report("/g", record, EXEC_ACTION, 4);
    report.setAction(false);
    ReportManager().handleReport(report, true);

    ScanRequest request;
    std::memset(&request, 0, sizeof request);
    request.cookie = 77;
    request.requestType = EXEC_ACTION;
    request.networkAction = 4;
    std::strcpy(request.path, "/opt/x");
    AlertManager::getInstance()->sendAlert(request);
    const std::vector<ScanRequest> answers = controller->popAllFromResponseQueue();
    ASSERT_EQ(1u, answers.size());
    EXPECT_EQ(77, answers[0].cookie);
    EXPECT_EQ(2, answers[0].result);
    EXPECT_EQ(4, answers[0].networkAction);
    AlertManager::getInstance()->clearAllAlerts(true);
    EXPECT_TRUE(controller->popAllFromResponseQueue().empty()) << "nothing left pending";

    CommandImpl commands;
    HVO::CommandData command(20004, 3, false);
    EXPECT_TRUE(commands.handleCommand(command));

    AlertManager::releaseInstance();
    AppProtectionController::releaseInstance();
    ConfigController::releaseInstance();
    HVO::HVOCommBroker::releaseInstance();
}

} // namespace
