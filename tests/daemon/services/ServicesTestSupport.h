// What the services' in-process tests share: the configuration in memory, a
// controller on a fake kernel with a profile of the Mach-O fixtures, the
// in-process hub (one per test program) with the command handler
// registered, and readers of what the process sent through it.
#pragma once

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>

// boost 1.74's list serializer needs library_version_type declared first.
#include <boost/serialization/library_version_type.hpp>
#include <boost/serialization/list.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "AlertManager.h"
#include "AppProtRecords.h"
#include "AppProtectionController.h"
#include "CommandImpl.h"
#include "ConfigController.h"
#include "FakeKernelControl.h"
#include "HVOCommBroker.h"
#include "HVOTestPeer.h"
#include "HealthCheckImpl.h"
#include "MakeProfile.h"
#include "MemoryPreferences.h"
#include "ProcessSupport.h"
#include "ProcessSource.h"
#include "ReportRecords.h"
#include "StatsManager.h"
#include "TestFiles.h"

namespace servicestest {

constexpr char kSocket[] = "/usr/local/Vantrel/hvo/var/hvodsocket";
constexpr char kDomain[] = "com.vantrel.zrm.appprotection";
/// boost 1.74's archive header, as every payload and event text starts.
const std::wstring kHeader = L"22 serialization::archive 18";

template <class Pred> bool eventually(Pred pred, int ms = 10000)
{
    for (int i = 0; i < ms / 10 && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
}

/// The Mach-O fixtures of tests/fixtures/daemon_fixtures.py, made once.
inline const std::string& fixtures()
{
    struct Folder {
        std::string path;
        Folder()
        {
            char tmpl[] = "/tmp/ward-services-fixtures.XXXXXX";
            path = ::mkdtemp(tmpl);
            int rc = -1;
            proc::run({"/usr/bin/python3", DAEMON_FIXTURES_PY, path}, &rc, 60);
            if (rc != 0)
                std::abort();
        }
        ~Folder()
        {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Folder folder;
    return folder.path;
}

class NoProcesses : public AppProtection::ProcessSource {
public:
    std::vector<int> listPids() override { return {}; }
    std::string programPath(int) override { return ""; }
};

class NoCodesign : public AppProtection::CodeSignChecker {
public:
    bool available() override { return false; }
    bool isAppleSigned(const std::string&) override { return false; }
};

/// The one hub of the test program, with the daemon's command handler and
/// health check registered as module 3.
struct Hub {
    HVO::TestPeer peer;
    AppProtection::CommandImpl commands;
    AppProtection::HealthCheckImpl health;
    Hub()
    {
        HVO::HVOCommBroker* broker = HVO::HVOCommBroker::getInstance(kSocket);
        broker->setHVKId(3);
        broker->setCommandInterface(&commands);
        broker->setHealthCheckInterface(&health);
        broker->start(true);
    }
};

inline Hub& hub()
{
    static Hub* h = new Hub(); // lives to the end: broker threads use it
    return *h;
}

inline ScanRequest request(int pid, int type, int cookie, const std::string& path, int protocol = 0)
{
    ScanRequest r;
    std::memset(&r, 0, sizeof r);
    r.pid = pid;
    r.reserved1 = 0x11111111;
    r.reserved2 = 0x22222222;
    r.requestType = type;
    r.padding = 0xABCD;
    r.protocol = protocol;
    r.cookie = cookie;
    std::strncpy(r.path, path.c_str(), sizeof r.path - 1);
    r.networkAction = 4;
    return r;
}

inline sockaddr_in peerAddress(const char* ip, uint16_t port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    inet_pton(AF_INET, ip, &a.sin_addr);
    a.sin_port = port; // a plain number, as the kernel extension sends it
    return a;
}

/// A sent 60000 or 60001 decoded.
struct SentAlert {
    int commandId = 0;
    int destination = 0;
    bool flag = true;
    int hvkId = 0;
    int alertType = 0;
    AppProtection::AppProtAlert alert;
    HVO::BasicCommandData header;
};

inline SentAlert decodeAlert(const HVO::TestPeer::Sent& sent)
{
    SentAlert out;
    out.commandId = sent.header.getCommandId();
    out.destination = sent.header.getDestinationId();
    out.flag = sent.header.getCommandFlag();
    out.header = sent.header;
    HVO::CommandResult holder;
    HVO::PayloadAccess::setInput(holder, sent.text);
    ReporterData reporter;
    holder.getCustomData(reporter);
    out.hvkId = reporter.getHvkId();
    out.alertType = reporter.getAlertType();
    reporter.getAlertCustomData(out.alert);
    return out;
}

/// The user's answer as module 102 sends it back.
inline void answerAlert(const SentAlert& sent, AppProtection::AppProtAlert answer, bool completed = true,
                        bool status = true)
{
    HVO::CommandResult reply;
    reply.setBasicCommandData(sent.header);
    reply.setCommandCompleted(completed);
    reply.setCommandStatus(status);
    ReporterData reporter;
    reporter.setHvkId(102);
    reporter.setAlertType(ALERT_TYPE_ALERT);
    reporter.setAlertCustomData(answer);
    reply.setCustomData(reporter);
    hub().peer.deliverResponse(reply);
}

/// The last word of an event text before its hvkId: the record's time.
inline std::wstring eventTime(const std::wstring& text)
{
    const size_t end = text.rfind(L' ');
    const size_t begin = text.rfind(L' ', end - 1);
    return text.substr(begin + 1, end - begin - 1);
}

/// Each test: the configuration in memory, EnableAppProtection false, no
/// controller, fresh alert and block records, the hub's records counted
/// from here.
class ServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hub();
        AppProtection::AppProtectionController::releaseInstance();
        AppProtection::AlertManager::releaseInstance();
        AppProtection::StatsManager::releaseInstance();
        m_store.reset(new settingstoretest::MemoryPreferences);
        AppProtection::ConfigController::releaseInstance();
        m_config = AppProtection::ConfigController::getInstance();
        m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(false));
        putString("ProfilePath", dir / "profile.data");
        putString("PIDFilePath", dir / ".AppProtPid");
        m_commands = hub().peer.commands().size();
        m_logs = hub().peer.logs().size();
        m_responses = hub().peer.responses().size();
    }
    void TearDown() override
    {
        AppProtection::AlertManager::releaseInstance();
        AppProtection::AppProtectionController::releaseInstance();
        AppProtection::ConfigController::releaseInstance();
        m_store.reset();
    }

    void putString(const char* key, const std::string& value)
    {
        m_store->put(kDomain, key, PrefString::createWithUTF8(value));
    }
    void putInt(const char* key, int value) { m_store->put(kDomain, key, std::make_shared<PrefNumber>(value)); }

    /// Copies the named fixtures into dir/apps.
    std::string apps(std::initializer_list<const char*> names)
    {
        const std::string folder = dir / "apps";
        std::filesystem::create_directories(folder);
        for (const char* name : names)
            std::filesystem::copy_file(fixtures() + "/" + name, folder + "/" + name,
                                       std::filesystem::copy_options::overwrite_existing);
        return folder;
    }

    /// The controller on a fake kernel, with `rules` as its profile.
    AppProtection::AppProtectionController* start(const std::vector<daemontest::Rule>& rules = {})
    {
        daemontest::makeProfile(dir / "profile.data", rules);
        auto control = std::make_unique<coretest::FakeKernelControl>();
        fake = control.get();
        AppProtection::AppProtectionController::Dependencies deps;
        deps.kernelControl = std::move(control);
        deps.processSource = std::make_unique<NoProcesses>();
        deps.codeSignChecker = std::make_unique<NoCodesign>();
        AppProtection::AppProtectionController::setDependencies(std::move(deps));
        controller = AppProtection::AppProtectionController::getInstance();
        controller->loadProfile(false);
        return controller;
    }

    /// Answers queued for the kernel since the last call: (cookie, result,
    /// network action).
    std::vector<std::tuple<int, int, int>> answers()
    {
        std::vector<std::tuple<int, int, int>> out;
        for (const ScanRequest& r : controller->popAllFromResponseQueue())
            out.emplace_back(r.cookie, r.result, r.networkAction);
        return out;
    }

    std::vector<HVO::TestPeer::Sent> newCommands()
    {
        auto all = hub().peer.commands();
        return std::vector<HVO::TestPeer::Sent>(all.begin() + static_cast<long>(m_commands), all.end());
    }
    std::vector<HVO::TestPeer::Log> newLogs()
    {
        auto all = hub().peer.logs();
        return std::vector<HVO::TestPeer::Log>(all.begin() + static_cast<long>(m_logs), all.end());
    }
    std::vector<SentAlert> newAlerts()
    {
        std::vector<SentAlert> out;
        for (const auto& c : newCommands())
            out.push_back(decodeAlert(c));
        return out;
    }
    /// Waits until the hub has `n` new records of that kind.
    void waitCommands(size_t n)
    {
        ASSERT_TRUE(eventually([&] { return newCommands().size() >= n; })) << newCommands().size();
    }
    void waitLogs(size_t n)
    {
        ASSERT_TRUE(eventually([&] { return newLogs().size() >= n; })) << newLogs().size();
    }

    std::unique_ptr<settingstoretest::MemoryPreferences> m_store;
    AppProtection::ConfigController* m_config = nullptr;
    testfiles::TempDir dir;
    AppProtection::AppProtectionController* controller = nullptr;
    coretest::FakeKernelControl* fake = nullptr;
    size_t m_commands = 0, m_logs = 0, m_responses = 0;
};

} // namespace servicestest
