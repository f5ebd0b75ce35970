// The in-process peer: envelopes answered without sockets, a broker that
// can be made absent, and deliveries into the process's interfaces.
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "AppProtRecords.h"
#include "HVOCommBroker.h"
#include "HVOTestPeer.h"

namespace {

const char* kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";

struct Handler : HVO::CommandInterface, HVO::HealthCheckInterface {
    int commands = 0, replies = 0, health = 0;
    int lastPrompt = -1;
    bool handleCommand(HVO::CommandData& c) override
    {
        ++commands;
        AppProtection::AppProtPrefsData p;
        c.getCustomData(p);
        lastPrompt = p.getPromptTimeout();
        return true;
    }
    void handleCommandResponse(HVO::CommandResult& r) override { replies += r.getCommandStatus() ? 1 : 100; }
    bool handleHealthCheck() override
    {
        ++health;
        return true;
    }
};

TEST(TestPeer, AnswersRecordsAndDelivers)
{
    HVO::TestPeer peer;
    EXPECT_EQ(nullptr, HVO::HVOCommBroker::getInstance(""));
    peer.setBrokerAvailable(false);
    EXPECT_EQ(nullptr, HVO::HVOCommBroker::getInstance(kSocket));
    peer.setBrokerAvailable(true);
    HVO::HVOCommBroker* b = HVO::HVOCommBroker::getInstance(kSocket);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(b, HVO::HVOCommBroker::getInstance(kSocket));
    EXPECT_EQ(nullptr, HVO::HVOCommBroker::getInstance("/tmp/other"));

    peer.setAnswer([](HVO::CommandData& request, HVO::CommandResult& reply) {
        if (request.getDestinationId() != 3)
            return false;
        AppProtection::AppProtPrefsData p;
        p.setPromptTimeout(30);
        reply.setCustomData(p);
        return true;
    });
    HVO::CommandData c(20004, 3, false);
    HVO::CommandResult r;
    b->sendCommand(c, &r, true, 45);
    AppProtection::AppProtPrefsData got;
    r.getCustomData(got);
    EXPECT_EQ(30, got.getPromptTimeout());
    EXPECT_EQ(20004, r.getBasicCommandData().getCommandId());

    HVO::CommandData nowhere(10201, 4, false);
    EXPECT_THROW(b->sendCommand(nowhere, &r, true, 45), HVO::HVOException);
    HVO::CommandData alert(60001, 102, false);
    b->sendCommand(alert, nullptr, false, 45);
    ASSERT_EQ(3u, peer.commands().size());
    EXPECT_FALSE(peer.commands()[2].waited);
    EXPECT_EQ(60001, peer.commands()[2].header.getCommandId());

    Handler h;
    b->setCommandInterface(&h);
    b->setHealthCheckInterface(&h);
    HVO::CommandData in(20005, 3, false);
    AppProtection::AppProtPrefsData p;
    p.setPromptTimeout(45);
    in.setCustomData(p);
    EXPECT_TRUE(peer.deliverCommand(in));
    EXPECT_EQ(45, h.lastPrompt);
    HVO::CommandResult answer;
    answer.setBasicCommandData(alert);
    peer.deliverResponse(answer);
    EXPECT_EQ(1, h.replies);
    EXPECT_TRUE(peer.deliverHealthCheck());

    HVO::CommandResult reply;
    reply.setBasicCommandData(in);
    reply.setCommandStatus(false);
    b->sendCommandResponse(reply);
    ASSERT_EQ(1u, peer.responses().size());
    EXPECT_FALSE(peer.responses()[0].status);

    HVO::LogRequest log(3, HVO::LOG_TYPE_HISTORY_EVENT, HVO::HVK_LOG_LEVEL_1);
    log.setMessage(L"m");
    b->sendLog(log);
    HVO_LOG_MSG(3, L"AppProtection", 1, 3, L"%s %d", "Denied \xe9", 5);
    auto logs = peer.logs();
    ASSERT_EQ(2u, logs.size());
    EXPECT_EQ(L"m", logs[0].message);
    EXPECT_EQ(3, logs[0].type);
    EXPECT_TRUE(logs[1].formatted);
    EXPECT_EQ((std::wstring{L'D', L'e', L'n', L'i', L'e', L'd', L' ', static_cast<wchar_t>(0xDCE9), L' ', L'5'}),
              logs[1].message);

    b->setCommandInterface(nullptr);
    b->setHealthCheckInterface(nullptr);
    HVO::HVOCommBroker::releaseInstance();
    HVO::HVOCommBroker::releaseInstance();
}

TEST(TestPeer, ReleaseWithoutBrokerDoesNothing)
{
    HVO::HVOCommBroker::releaseInstance();
    HVO::HVOCommBroker::releaseInstance();
}

} // namespace
