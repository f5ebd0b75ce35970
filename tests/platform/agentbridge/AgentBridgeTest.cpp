// The agent stand-in in process: registration and its failure hooks, calls
// on one thread in arrival order, release with calls queued and in hand.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

#include <gtest/gtest.h>

#include "AgentControl.h"
#include "HvoAgent.h"
#include "ThrowingSections.h"

using namespace HVOEnterprise;

namespace {

const std::string kAccess = "abcdef" + std::string(58, '7');

std::mutex g_logMutex;
std::vector<std::pair<int, std::wstring>> g_logs; // guarded by g_logMutex

void recordLog(AgentLogCategory category, const wchar_t* text)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logs.emplace_back(category, text);
}

/// A policy service that records the thread and order of its calls and can
/// be held inside a call.
class Policy : public IHvoAgentPolicyEnforcement {
public:
    bool enforcePolicy(const std::wstring& name, const SectionsHandle& sections) override
    {
        std::unique_lock<std::mutex> lock(m);
        threads.push_back(std::this_thread::get_id());
        names.push_back(name);
        std::wstring v;
        if (sections.getPropValue(L"General", L"throw", v))
            throw std::runtime_error("policy refused: " + HvoAgentUtils::wstringToString(v));
        entered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return !hold; });
        return name != L"false";
    }
    bool enforcePolicy(const std::wstring&, const std::wstring&, const std::wstring&, unsigned long, LogonState,
                       const SectionsHandle&) override
    {
        return true;
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m);
        hold = false;
        cv.notify_all();
    }
    void waitEntered()
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return entered; });
    }

    std::mutex m;
    std::condition_variable cv;
    bool hold = false;
    bool entered = false;
    std::vector<std::thread::id> threads;
    std::vector<std::wstring> names;
};

class Collection : public IHvoAgentPropertyCollection {
public:
    bool collectProperties(bool all, SectionsHandle& sections) override
    {
        sections.insert(L"General", L"b", L"2");
        sections.insert(L"General", L"a", all ? L"all" : L"some");
        sections.insert(L"Other", L"c", L"3");
        sections.insert(L"General", L"b", L"22");
        return true;
    }
    bool isSoftwareExists(const std::wstring&) override { return true; }
};

class AgentBridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        control::setSocketPath("");
        control::setFailure(control::Failure::NONE);
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_logs.clear();
    }
    void TearDown() override
    {
        HvoAgent::releaseInstance();
        control::setFailure(control::Failure::FROM_ENV);
    }
    HvoAgent* create(const std::string& access = kAccess)
    {
        return HvoAgent::createInstance("QELVNMAC1100", "ZOVOVORU3700RUZA", "42", access, L"/var/tmp", recordLog);
    }
};

TEST_F(AgentBridgeTest, RecordsTheSixValuesAndChecksTheAccessStringsForm)
{
    struct Case {
        const char* name;
        std::string access;
        bool created;
    } cases[] = {
        {"well formed", kAccess, true},
        {"63 characters", kAccess.substr(0, 63), false},
        {"65 characters", kAccess + "7", false},
        {"upper-case letter", "Abcdef" + std::string(58, '7'), false},
        {"letter among the digits", "abcdef" + std::string(57, '7') + "x", false},
        {"digit among the letters", "abcde1" + std::string(58, '7'), false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HvoAgent* agent = create(c.access);
        EXPECT_EQ(agent != nullptr, c.created);
        EXPECT_EQ(HvoAgent::getInstance(), agent);
        HvoAgent::releaseInstance();
        EXPECT_EQ(HvoAgent::getInstance(), nullptr);
    }
    ASSERT_NE(create(), nullptr);
    EXPECT_EQ(create(), nullptr) << "one instance per process";
    control::Status s;
    ASSERT_TRUE(control::status(s));
    EXPECT_EQ(s.softwareId, "QELVNMAC1100");
    EXPECT_EQ(s.agentId, "ZOVOVORU3700RUZA");
    EXPECT_EQ(s.processId, "42");
    EXPECT_EQ(s.accessString, kAccess);
    EXPECT_EQ(s.logDirectory, L"/var/tmp");
    EXPECT_EQ(s.property, agentwire::NEVER_OFFERED);
    EXPECT_EQ(s.policy, agentwire::NEVER_OFFERED);
}

TEST_F(AgentBridgeTest, FailureHooksRefuseOrThrowAsConfigured)
{
    struct Case {
        const char* name;
        control::Failure failure;
        bool created;
        bool propertyThrows;
        agentwire::ServiceState property, policy;
    } cases[] = {
        {"none", control::Failure::NONE, true, false, agentwire::REGISTERED, agentwire::REGISTERED},
        {"create", control::Failure::CREATE, false, false, agentwire::NEVER_OFFERED, agentwire::NEVER_OFFERED},
        {"property", control::Failure::PROPERTY, true, false, agentwire::REFUSED, agentwire::REGISTERED},
        {"policy", control::Failure::POLICY, true, false, agentwire::REGISTERED, agentwire::REFUSED},
        {"throw", control::Failure::THROW, true, true, agentwire::NEVER_OFFERED, agentwire::REGISTERED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        control::setFailure(c.failure);
        HvoAgent* agent = create();
        ASSERT_EQ(agent != nullptr, c.created);
        if (agent == nullptr) {
            control::Status s;
            EXPECT_FALSE(control::status(s));
            continue;
        }
        Collection collection;
        Policy policy;
        if (c.propertyThrows)
            EXPECT_THROW(agent->registerPropertyCollectionService(&collection), std::runtime_error);
        else
            EXPECT_EQ(agent->registerPropertyCollectionService(&collection), c.property == agentwire::REGISTERED);
        EXPECT_EQ(agent->registerPolicyEnforcementService(&policy), c.policy == agentwire::REGISTERED);
        control::Status s;
        ASSERT_TRUE(control::status(s));
        EXPECT_EQ(s.property, c.property);
        EXPECT_EQ(s.policy, c.policy);
        EXPECT_EQ(agent->getPropertyCollectionInterface(),
                  c.property == agentwire::REGISTERED ? &collection : nullptr);
        EXPECT_EQ(agent->getPolicyEnforcementInterface(), c.policy == agentwire::REGISTERED ? &policy : nullptr);
        HvoAgent::releaseInstance();
    }
}

TEST_F(AgentBridgeTest, FailureHookFromTheEnvironment)
{
    control::setFailure(control::Failure::FROM_ENV);
    ::setenv("AGENTBRIDGE_FAIL", "create", 1);
    EXPECT_EQ(create(), nullptr);
    ::setenv("AGENTBRIDGE_FAIL", "policy", 1);
    HvoAgent* agent = create();
    ASSERT_NE(agent, nullptr);
    Policy policy;
    EXPECT_FALSE(agent->registerPolicyEnforcementService(&policy));
    HvoAgent::releaseInstance();
    ::unsetenv("AGENTBRIDGE_FAIL");
    agent = create();
    ASSERT_NE(agent, nullptr);
    EXPECT_TRUE(agent->registerPolicyEnforcementService(&policy));
}

TEST_F(AgentBridgeTest, CallsRunOnOneThreadOfTheAgentInArrivalOrder)
{
    HvoAgent* agent = create();
    ASSERT_NE(agent, nullptr);
    Policy policy;
    Collection collection;
    ASSERT_TRUE(agent->registerPolicyEnforcementService(&policy));
    ASSERT_TRUE(agent->registerPropertyCollectionService(&collection));

    SectionsHandle none;
    std::vector<std::future<control::Result>> results;
    for (int i = 0; i < 20; ++i) {
        results.push_back(std::async(std::launch::async, [i, &none] {
            return control::enforcePolicy(std::to_wstring(i), none);
        }));
    }
    for (auto& r : results)
        EXPECT_EQ(r.get().outcome, agentwire::OUT_TRUE);
    ASSERT_EQ(policy.threads.size(), 20u);
    for (const auto& id : policy.threads) {
        EXPECT_EQ(id, policy.threads.front());
        EXPECT_NE(id, std::this_thread::get_id());
    }

    EXPECT_EQ(control::enforcePolicy(L"false", none).outcome, agentwire::OUT_FALSE);
    SectionsHandle throwing;
    throwing.insert(L"General", L"throw", L"café");
    const control::Result threw = control::enforcePolicy(L"x", throwing);
    EXPECT_EQ(threw.outcome, agentwire::OUT_THREW);
    EXPECT_EQ(threw.message, "policy refused: café");

    SectionsHandle got;
    EXPECT_EQ(control::collectProperties(false, got).outcome, agentwire::OUT_TRUE);
    ASSERT_EQ(got.entries().size(), 3u);
    EXPECT_EQ(got.entries()[0].key, L"b");
    EXPECT_EQ(got.entries()[0].value, L"22") << "a repeated key keeps its place";
    EXPECT_EQ(got.entries()[1].value, L"some");
    EXPECT_EQ(got.entries()[2].section, L"Other");

    EXPECT_EQ(control::log(-1, L"agent café").outcome, agentwire::OUT_TRUE);
    std::lock_guard<std::mutex> lock(g_logMutex);
    ASSERT_EQ(g_logs.size(), 1u);
    EXPECT_EQ(g_logs[0].first, -1);
    EXPECT_EQ(g_logs[0].second, L"agent café");
}

TEST_F(AgentBridgeTest, CallsWithoutTheServiceOrTheAgent)
{
    SectionsHandle none;
    EXPECT_EQ(control::enforcePolicy(L"", none).message, "no agent");
    control::Counts counts;
    EXPECT_FALSE(control::counts(counts));
    ASSERT_NE(create(), nullptr);
    const control::Result r = control::enforcePolicy(L"", none);
    EXPECT_EQ(r.outcome, agentwire::OUT_NO_SERVICE);
    EXPECT_EQ(control::collectProperties(true, none).outcome, agentwire::OUT_NO_SERVICE);
}

TEST_F(AgentBridgeTest, ReleaseFailsQueuedCallsAndLetsTheCallInHandFinish)
{
    HvoAgent* agent = create();
    ASSERT_NE(agent, nullptr);
    Policy policy;
    policy.hold = true;
    ASSERT_TRUE(agent->registerPolicyEnforcementService(&policy));
    SectionsHandle none;
    auto inHand = std::async(std::launch::async, [&] { return control::enforcePolicy(L"first", none); });
    policy.waitEntered();
    auto queued = std::async(std::launch::async, [&] { return control::enforcePolicy(L"second", none); });
    // The second call is queued once the agent holds it; give it the time.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto release = std::async(std::launch::async, [] { HvoAgent::releaseInstance(); });
    const control::Result second = queued.get();
    EXPECT_EQ(second.outcome, agentwire::OUT_NO_SERVICE);
    EXPECT_EQ(second.message, "agent released");
    EXPECT_EQ(release.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "the release waits for the call in hand";
    policy.release();
    release.get();
    EXPECT_EQ(inHand.get().outcome, agentwire::OUT_TRUE);
    EXPECT_EQ(policy.names, std::vector<std::wstring>{L"first"});
    EXPECT_EQ(HvoAgent::getInstance(), nullptr);
}

TEST_F(AgentBridgeTest, PluginReloadAndUnloadAreCountedAndLogged)
{
    HvoAgent* agent = create();
    ASSERT_NE(agent, nullptr);
    agent->performPluginReload();
    agent->performPluginUnload();
    agent->performPluginUnload();
    control::Counts counts;
    ASSERT_TRUE(control::counts(counts));
    EXPECT_EQ(counts.reloads, 1u);
    EXPECT_EQ(counts.unloads, 2u);
    // A call queued after them runs after their log lines.
    control::log(0, L"after");
    std::lock_guard<std::mutex> lock(g_logMutex);
    ASSERT_EQ(g_logs.size(), 4u);
    EXPECT_EQ(g_logs[3].second, L"after");
}

TEST_F(AgentBridgeTest, TheAgentsThreadBlocksEveryAsynchronousSignal)
{
    HvoAgent* agent = create();
    ASSERT_NE(agent, nullptr);
    struct Probe : IHvoAgentPolicyEnforcement {
        sigset_t mask;
        bool enforcePolicy(const std::wstring&, const SectionsHandle&) override
        {
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            return true;
        }
        bool enforcePolicy(const std::wstring&, const std::wstring&, const std::wstring&, unsigned long, LogonState,
                           const SectionsHandle&) override
        {
            return true;
        }
    } probe;
    ASSERT_TRUE(agent->registerPolicyEnforcementService(&probe));
    SectionsHandle none;
    ASSERT_EQ(control::enforcePolicy(L"", none).outcome, agentwire::OUT_TRUE);
    for (int s : {SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGINT, SIGPIPE, SIGALRM, SIGCHLD})
        EXPECT_TRUE(sigismember(&probe.mask, s)) << s;
}

TEST(AgentBridgeUtils, WstringToStringIsUtf8WithQuestionMarks)
{
    struct Case {
        std::wstring in;
        std::string out;
    } cases[] = {
        {L"plain", "plain"},
        {L"caf\u00e9 \u20ac \U0001F600", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {std::wstring(1, wchar_t(0xD800)) + L"x", "?x"},
        {std::wstring(1, wchar_t(0x110000)), "?"},
        {L"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HvoAgentUtils::wstringToString(c.in), c.out);
}

TEST(AgentBridgeSections, LookupInsertionOrderAndEmptyNames)
{
    SectionsHandle h;
    EXPECT_TRUE(h.insert(L"S", L"k2", L"v2"));
    EXPECT_TRUE(h.insert(L"T", L"k1", L"t"));
    EXPECT_TRUE(h.insert(L"S", L"k1", L"v1"));
    EXPECT_FALSE(h.insert(L"", L"k", L"v"));
    EXPECT_FALSE(h.insert(L"S", L"", L"v"));
    std::wstring v = L"untouched";
    EXPECT_FALSE(h.getPropValue(L"S", L"k3", v));
    EXPECT_EQ(v, L"untouched");
    EXPECT_TRUE(h.getPropValue(L"T", L"k1", v));
    EXPECT_EQ(v, L"t");
    ASSERT_EQ(h.entries().size(), 3u);
    EXPECT_EQ(h.entries()[0].key, L"k2");
    EXPECT_EQ(h.entries()[2].key, L"k1");

    agentbridgetest::ThrowingSections t(2);
    EXPECT_TRUE(t.insert(L"S", L"a", L"1"));
    EXPECT_THROW(t.insert(L"S", L"b", L"2"), std::runtime_error);
    EXPECT_TRUE(t.insert(L"S", L"c", L"3"));
    EXPECT_EQ(t.entries().size(), 2u);
}

} // namespace
