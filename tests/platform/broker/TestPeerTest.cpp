// The in-process hub: the broker's own code over a socket pair, envelopes
// answered without hvod, a hub that can be made unreachable, and deliveries
// into the process's interfaces.
#include <atomic>
#include <chrono>
#include <thread>

#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "AppProtRecords.h"
#include "HVOCommBroker.h"
#include "HVOTestPeer.h"

namespace {

const char* kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";

struct Handler : HVO::CommandInterface, HVO::HealthCheckInterface {
    std::atomic<int> commands{0}, replies{0}, health{0};
    std::atomic<int> lastPrompt{-1};
    bool handleCommand(HVO::CommandData& c) override
    {
        ++commands;
        AppProtection::AppProtPrefsData p;
        c.getCustomData(p);
        lastPrompt = p.getPromptTimeout();
        if (p.getPromptTimeout() < 0)
            return false; // unanswered: the broker sends a failure reply
        HVO::CommandResult answer;
        answer.setBasicCommandData(c);
        answer.setCommandStatus(true);
        answer.setCommandCompleted(true);
        HVO::HVOCommBroker::getInstance(kSocket)->sendCommandResponse(answer);
        return true;
    }
    void handleCommandResponse(HVO::CommandResult& r) override { replies += r.getCommandStatus() ? 1 : 100; }
    bool handleHealthCheck() override
    {
        ++health;
        return true;
    }
};

template <class Pred> bool eventually(Pred pred)
{
    for (int i = 0; i < 1000 && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
}

TEST(TestPeer, AnswersRecordsAndDelivers)
{
    HVO::TestPeer peer;
    EXPECT_EQ(nullptr, HVO::HVOCommBroker::getInstance(""));
    HVO::HVOCommBroker* b = HVO::HVOCommBroker::getInstance(kSocket);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(b, HVO::HVOCommBroker::getInstance(kSocket));
    EXPECT_EQ(nullptr, HVO::HVOCommBroker::getInstance("/tmp/other"));

    // No hub: the send fails as it does without hvod.
    peer.setHubReachable(false);
    HVO::CommandData early(20004, 3, false);
    HVO::CommandResult r;
    try {
        b->sendCommand(early, &r, true, 45);
        ADD_FAILURE() << "no exception";
    } catch (const HVO::HVOException& e) {
        EXPECT_EQ(std::string(e.what()), std::string("cannot reach hvod at ") + kSocket + ": Connection refused");
    }
    peer.setHubReachable(true);

    peer.setAnswer([](HVO::CommandData& request, HVO::CommandResult& reply) {
        if (request.getDestinationId() != 3)
            return false;
        AppProtection::AppProtPrefsData p;
        p.setPromptTimeout(30);
        reply.setCustomData(p);
        return true;
    });
    HVO::CommandData c(20004, 3, false);
    b->sendCommand(c, &r, true, 45);
    AppProtection::AppProtPrefsData got;
    r.getCustomData(got);
    EXPECT_EQ(30, got.getPromptTimeout());
    EXPECT_EQ(20004, r.getBasicCommandData().getCommandId());

    HVO::CommandData nowhere(10201, 4, false);
    try {
        b->sendCommand(nowhere, &r, true, 45);
        ADD_FAILURE() << "no exception";
    } catch (const HVO::HVOException& e) {
        EXPECT_EQ(std::string(e.what()), "no module 4 registered with hvod");
    }
    HVO::CommandData alert(60001, 102, false);
    b->sendCommand(alert, nullptr, false, 45);
    auto sent = peer.commands();
    ASSERT_EQ(3u, sent.size());
    EXPECT_TRUE(sent[0].waited);
    EXPECT_FALSE(sent[2].waited);
    EXPECT_EQ(60001, sent[2].header.getCommandId());
    EXPECT_EQ(102, sent[2].header.getDestinationId());

    Handler h;
    b->setCommandInterface(&h);
    b->setHealthCheckInterface(&h);
    struct Case {
        int prompt;
        bool status; // of the reply the peer gets back
    } cases[] = {{45, true}, {-1, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.prompt);
        HVO::CommandData in(20005, 3, false);
        AppProtection::AppProtPrefsData p;
        p.setPromptTimeout(k.prompt);
        in.setCustomData(p);
        auto reply = peer.deliverCommand(in);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(k.status, reply->status);
        EXPECT_EQ(20005, reply->header.getCommandId());
        EXPECT_EQ(k.prompt, h.lastPrompt.load());
    }
    HVO::CommandResult answer;
    answer.setBasicCommandData(alert);
    answer.setCommandStatus(true);
    peer.deliverResponse(answer);
    EXPECT_TRUE(eventually([&] { return h.replies.load() == 1; }));
    EXPECT_TRUE(peer.deliverHealthCheck());
    EXPECT_EQ(1, h.health.load());

    HVO::CommandResult reply;
    reply.setBasicCommandData(c);
    reply.setCommandStatus(false);
    const size_t before = peer.responses().size();
    b->sendCommandResponse(reply);
    auto responses = peer.responses();
    ASSERT_EQ(before + 1, responses.size());
    EXPECT_FALSE(responses.back().status);
    EXPECT_EQ(20004, responses.back().header.getCommandId());

    HVO::LogRequest log(3, HVO::LOG_TYPE_HISTORY_EVENT, HVO::HVK_LOG_LEVEL_1);
    log.setMessage(L"m");
    b->sendLog(log);
    HVO_LOG_MSG(3, L"AppProtection", 1, 3, L"%s %d", "Denied \xe9", 5);
    auto logs = peer.logs();
    ASSERT_EQ(2u, logs.size());
    EXPECT_EQ(L"m", logs[0].message);
    EXPECT_EQ(3, logs[0].type);
    EXPECT_FALSE(logs[0].formatted);
    EXPECT_TRUE(logs[1].formatted);
    EXPECT_EQ(L"AppProtection", logs[1].component);
    EXPECT_EQ((std::wstring{L'D', L'e', L'n', L'i', L'e', L'd', L' ', static_cast<wchar_t>(0xDCE9), L' ', L'5'}),
              logs[1].message);

    b->setCommandInterface(nullptr);
    b->setHealthCheckInterface(nullptr);
    HVO::HVOCommBroker::releaseInstance();
    HVO::HVOCommBroker::releaseInstance();
}

TEST(TestPeer, ReleaseWithoutBrokerDoesNothing)
{
    HVO::TestPeer peer;
    EXPECT_NO_THROW(HVO::HVOCommBroker::releaseInstance());
    EXPECT_NO_THROW(HVO::HVOCommBroker::releaseInstance());
    EXPECT_TRUE(peer.logs().empty()) << "a release without a broker reached the hub";
    // The broker made afterwards is whole: it reaches the hub, and its own
    // release and one more leave nothing behind.
    HVO::HVOCommBroker* b = HVO::HVOCommBroker::getInstance(kSocket);
    ASSERT_NE(nullptr, b);
    HVO::LogRequest log(3, HVO::LOG_TYPE_HISTORY_EVENT, HVO::HVK_LOG_LEVEL_1);
    log.setMessage(L"after");
    b->sendLog(log);
    auto logs = peer.logs();
    ASSERT_EQ(1u, logs.size());
    EXPECT_EQ(L"after", logs[0].message);
    EXPECT_NO_THROW(HVO::HVOCommBroker::releaseInstance());
    EXPECT_NO_THROW(HVO::HVOCommBroker::releaseInstance());
}

} // namespace
