// The kernel link: its wire against a real kernel-side socket, and its
// passes, options and failures against a kernel control in memory.
#include <condition_variable>
#include <deque>

#include "AppProtError.h"
#include "CoreTestSupport.h"
#include "FakeKernelControl.h"
#include "KctlTestSupport.h"
#include "KernelSide.h"
#include "KextInterface.h"
#include "SocketKernelControl.h"

using AppProtection::AppProtException;
using AppProtection::KextInterface;
using coretest::FakeKernelControl;

namespace {

/// Collects requests; answers what the test gives it.
class Sink : public AppProtection::KextRequestSink {
public:
    void addtoRequestQueue(ScanRequest& request) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
        m_cv.notify_all();
    }
    std::vector<ScanRequest> popAllFromResponseQueue() override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_answers.empty() && !m_woken)
            m_cv.wait_for(lock, std::chrono::milliseconds(20));
        std::vector<ScanRequest> out(m_answers.begin(), m_answers.end());
        m_answers.clear();
        return out;
    }
    void wakeResponseQueue() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_woken = true;
        m_cv.notify_all();
    }
    void kextLinkLost() override { ++m_linkLost; }

    void answer(const ScanRequest& r)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.push_back(r);
        m_cv.notify_all();
    }
    std::vector<ScanRequest> requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    bool waitRequests(size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return m_requests.size() >= n; });
    }
    std::atomic<int> m_linkLost{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<ScanRequest> m_requests;
    std::deque<ScanRequest> m_answers;
    bool m_woken = false;
};

class KextFakeTest : public coretest::CoreTest {
protected:
    void SetUp() override
    {
        coretest::CoreTest::SetUp();
        auto control = std::make_unique<FakeKernelControl>();
        fake = control.get();
        link.reset(new KextInterface(std::move(control), sink));
    }
    void TearDown() override
    {
        link.reset();
        coretest::CoreTest::TearDown();
    }
    std::vector<long long> passesOf(int option)
    {
        std::vector<long long> out;
        for (const auto& o : fake->options())
            if (o.option == option)
                out.push_back(o.pass);
        return out;
    }

    std::vector<std::vector<uint8_t>> payloadsOf(int option)
    {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& o : fake->options())
            if (o.option == option)
                out.push_back(o.payload);
        return out;
    }

    Sink sink;
    FakeKernelControl* fake = nullptr;
    std::unique_ptr<KextInterface> link;
};

TEST_F(KextFakeTest, PingsAreCountedInPasses)
{
    struct Case {
        const char* name;
        int interval;
        int failures; // option 6 fails this many times first
        std::vector<long long> first;
    };
    const Case cases[] = {
        {"KextHCInterval 30: passes 0, 3000, 6000", 30, 0, {0, 3000, 6000}},
        {"KextHCInterval 0: every pass", 0, 0, {0, 1, 2, 3, 4}},
        {"a failing ping is tried again on the next pass", 30, 3, {0, 1, 2, 3, 3003}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        putInt("KextHCInterval", c.interval);
        fake->setInstantWaits(true);
        if (c.failures)
            fake->failOption(kctl::KEXT_OPT_PING, EIO, c.failures);
        link->connectToKext();
        link->startHooking();
        ASSERT_TRUE(proc::waitFor([&] { return passesOf(6).size() >= c.first.size(); }, 20));
        link->stopHooking();
        std::vector<long long> pings = passesOf(6);
        pings.resize(c.first.size());
        EXPECT_EQ(c.first, pings);
        TearDown();
    }
    SetUp();
}

TEST_F(KextFakeTest, PromptTimeoutGoesOnceAndAfterEachChange)
{
    fake->setInstantWaits(true);
    link->connectToKext();
    link->startHooking();
    ASSERT_TRUE(fake->waitFor([&] { return fake->count(kctl::KEXT_OPT_PROMPT_TIMEOUT) == 1; }, 5));
    ASSERT_TRUE(proc::waitFor([&] { return fake->passes() > 300; }, 5));
    EXPECT_EQ(1u, fake->count(kctl::KEXT_OPT_PROMPT_TIMEOUT));
    EXPECT_EQ((std::vector<uint8_t>{0x3c, 0, 0, 0}), payloadsOf(kctl::KEXT_OPT_PROMPT_TIMEOUT).front());
    // A refused time-out is not sent again until the preference changes.
    fake->failOption(kctl::KEXT_OPT_PROMPT_TIMEOUT, EINVAL, 1);
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setPromptTimeout(90));
    ASSERT_TRUE(fake->waitFor([&] { return fake->count(kctl::KEXT_OPT_PROMPT_TIMEOUT) == 2; }, 5));
    const long long refused = fake->passes();
    ASSERT_TRUE(proc::waitFor([&] { return fake->passes() > refused + 300; }, 5));
    EXPECT_EQ(2u, fake->count(kctl::KEXT_OPT_PROMPT_TIMEOUT));
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setPromptTimeout(91));
    ASSERT_TRUE(fake->waitFor([&] { return fake->count(kctl::KEXT_OPT_PROMPT_TIMEOUT) == 3; }, 5));
    EXPECT_EQ((std::vector<uint8_t>{91, 0, 0, 0}), payloadsOf(kctl::KEXT_OPT_PROMPT_TIMEOUT).back());
    link->stopHooking();
}

std::vector<std::string> exclusionOptions(FakeKernelControl& fake)
{
    std::vector<std::string> out;
    for (const auto& o : fake.options()) {
        if (o.option == kctl::KEXT_OPT_FLUSH_EXCLUSIONS)
            out.push_back("7:" + std::to_string(o.payload.size()));
        else if (o.option == kctl::KEXT_OPT_ADD_EXCLUSION)
            out.push_back("8:" + std::string(o.payload.begin(), o.payload.end()));
    }
    return out;
}

TEST_F(KextFakeTest, ExclusionsGoWithoutEmptyEntriesAndAgainWhenChanged)
{
    std::vector<std::string> list{"/opt/ex", "", "/tmp/e x", std::string(1023, 'l')};
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setExclusionsList(list));
    link->connectToKext();
    link->pushExclusions();
    EXPECT_EQ((std::vector<std::string>{"7:0", "8:/opt/ex", "8:/tmp/e x", "8:" + std::string(1023, 'l')}),
              exclusionOptions(*fake));

    link->startHooking();
    std::vector<std::string> changed{"/new"};
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setExclusionsList(changed));
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setExclusionsChanged(true));
    ASSERT_TRUE(fake->waitFor([&] { return exclusionOptions(*fake).size() == 6; }, 5));
    EXPECT_EQ("7:0", exclusionOptions(*fake)[4]);
    EXPECT_EQ("8:/new", exclusionOptions(*fake)[5]);
    EXPECT_TRUE(proc::waitFor([&] { return !m_config->getExclusionsChanged(); }, 5));
    link->stopHooking();
}

TEST_F(KextFakeTest, FailedOptionsThrowTheirCodes)
{
    struct Case {
        const char* name;
        int option;
        std::function<void(KextInterface&)> call;
        AppProtection::AppProtError code;
        std::string message;
    };
    const Case cases[] = {
        {"flush", 7, [](KextInterface& k) { k.pushExclusions(); }, AppProtection::KEXT_FLUSH_EXCLUSIONS_FAILED,
         "Error in flushing kext exclusions"},
        {"add exclusion", 8, [](KextInterface& k) { k.pushExclusions(); }, AppProtection::KEXT_SET_EXCLUSIONS_FAILED,
         "Error in setting kext exclusions"},
        {"ping", 6, [](KextInterface& k) { k.pingKext(); }, AppProtection::KEXT_PING_FAILED, "Unable to ping kext"},
        {"purge", 9, [](KextInterface& k) { k.purgeKextCache(); }, AppProtection::KEXT_PING_FAILED,
         "Unable to purge kext cache "},
        {"start hooking", 1, [](KextInterface& k) { k.startHooking(); }, AppProtection::KEXT_START_HOOKING_FAILED,
         "Unable to start hooking"},
        {"stop hooking", 2,
         [](KextInterface& k) {
             k.startHooking();
             k.stopHooking();
         },
         AppProtection::KEXT_STOP_HOOKING_FAILED, "Unable to stop hooking"},
        {"connect", 0, [](KextInterface& k) { k.connectToKext(); }, AppProtection::KEXT_CONNECT_FAILED,
         "Unable to connect to kext"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::vector<std::string> list{"/a", "/b"};
        m_config->setExclusionsList(list);
        link->connectToKext();
        if (c.option == 0)
            fake->failOpen(true);
        else
            fake->failOption(c.option, EINVAL);
        try {
            c.call(*link);
            ADD_FAILURE() << "no exception";
        } catch (const AppProtException& e) {
            EXPECT_EQ(c.code, e.getExceptionId());
            EXPECT_EQ(c.message, e.getExceptionMsg());
        }
        // Nothing after the first refused exclusion; no thread left running.
        EXPECT_LE(fake->count(kctl::KEXT_OPT_ADD_EXCLUSION), 1u);
        EXPECT_FALSE(link->isHooking());
        const long long passes = fake->passes();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(passes, fake->passes());
        TearDown();
    }
    SetUp();
}

TEST_F(KextFakeTest, HangUpHandsTheDisableOnAndEndsTheRequestThread)
{
    link->connectToKext();
    link->startHooking();
    fake->hangUp();
    ASSERT_TRUE(proc::waitFor([&] { return sink.m_linkLost == 1; }, 5));
    const long long passes = fake->passes();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(passes, fake->passes());
    EXPECT_THROW(link->stopHooking(), AppProtException); // option 2 on a link that is gone
    link->disconnectFromKext();
    EXPECT_EQ(1, sink.m_linkLost);
}

TEST_F(KextFakeTest, FailedWaitsAreTriedAgainAndRequestsStillAnswered)
{
    for (const int err : {EINTR, EIO, ENOMEM}) {
        SCOPED_TRACE(std::strerror(err));
        Sink requests;
        auto control = std::make_unique<FakeKernelControl>();
        FakeKernelControl* kernel = control.get();
        KextInterface kext(std::move(control), requests);
        kernel->failWaits(err, 3);
        ScanRequest first{};
        first.cookie = 71;
        kernel->pushDatagram(&first, sizeof first);
        kext.connectToKext();
        kext.startHooking();
        ASSERT_TRUE(requests.waitRequests(1));
        EXPECT_GT(kernel->passes(), 3);
        // Still reading after the failures: a later request arrives too.
        ScanRequest second{};
        second.cookie = 72;
        kernel->pushDatagram(&second, sizeof second);
        ASSERT_TRUE(requests.waitRequests(2));
        for (ScanRequest r : requests.requests()) {
            r.result = 1;
            requests.answer(r);
        }
        ASSERT_TRUE(kernel->waitFor([&] { return kernel->count(kctl::KEXT_OPT_RESPONSE) == 2; }, 5));
        std::vector<int> cookies;
        for (const auto& o : kernel->options()) {
            if (o.option != kctl::KEXT_OPT_RESPONSE)
                continue;
            ScanRequest r;
            ASSERT_EQ(kctl::answer::kSize, o.payload.size());
            std::memcpy(&r, o.payload.data() + kctl::answer::kRecord, sizeof r);
            cookies.push_back(r.cookie);
        }
        EXPECT_EQ((std::vector<int>{71, 72}), cookies);
        EXPECT_EQ(0, requests.m_linkLost);
        kext.stopHooking();
        kext.disconnectFromKext();
    }
}

TEST_F(KextFakeTest, PendingAnswersGoOutBeforeTheLinkCloses)
{
    link->connectToKext();
    ScanRequest r{};
    r.cookie = 41;
    r.result = 1;
    sink.answer(r);
    link->sendPendingResponses();
    link->disconnectFromKext();
    EXPECT_EQ((std::vector<std::string>{"open", "option 4", "close"}), fake->events());
}

TEST(KextLoad, MissingKextloadFails)
{
    if (std::filesystem::exists("/sbin/kextload"))
        GTEST_SKIP() << "/sbin/kextload exists here";
    try {
        KextInterface::loadKext();
        FAIL() << "no exception";
    } catch (const AppProtException& e) {
        EXPECT_EQ(AppProtection::KEXT_LOAD_FAILED, e.getExceptionId());
        EXPECT_EQ("Unable to load kext", e.getExceptionMsg());
    }
}

// ---------------------------------------------------------------------------
// The wire, against the kernel side's own socket code.

class KextWireTest : public coretest::CoreTest {
protected:
    void SetUp() override
    {
        coretest::CoreTest::SetUp();
        std::string error;
        ASSERT_TRUE(listener.listen(kctl::controlSocketPath(dir.path(), kctl::kAppProtectionControlName), error))
            << error;
        link.reset(new KextInterface(std::make_unique<kctl::SocketKernelControl>(dir.path()), sink));
        std::thread connect([&] { link->connectToKext(); });
        ASSERT_TRUE(kctl::acceptLink(listener.fd(), kernel, 5000, error)) << error;
        connect.join();
        server.reset(new kctltest::OptionServer(kernel.control, [](const kctltest::SeenOption&) {
            return std::make_pair(0, 0);
        }));
        link->startHooking();
    }
    void TearDown() override
    {
        link.reset();
        server.reset();
        kernel.close();
        coretest::CoreTest::TearDown();
    }
    /// Sends `count` records in one datagram, plus `tail` bytes.
    std::vector<kctl::RequestRecord> send(int count, size_t tail, int firstCookie)
    {
        std::vector<kctl::RequestRecord> records;
        std::vector<uint8_t> datagram(count * kctl::record::kSize + tail, 0xee);
        for (int i = 0; i < count; ++i) {
            kctl::RequestRecord r;
            r.pid = 4000 + i;
            r.reserved1 = 0x11223344;
            r.reserved2 = -7 - i;
            r.requestType = 100;
            r.padding = 0x5a5a;
            r.protocol = 2;
            r.cookie = firstCookie + i;
            r.path = i == 0 ? std::string(1024, 'p') : "/usr/bin/true";
            r.peer.sin_family = AF_INET;
            r.peer.sin_port = 8080;
            r.peer.sin_addr.s_addr = htonl(0x0a010203);
            r.networkAction = 7;
            r.encode(datagram.data() + i * kctl::record::kSize);
            records.push_back(r);
        }
        EXPECT_EQ(0, kctl::sendMessage(kernel.data, datagram.data(), datagram.size(), kctl::monotonicMs() + 5000));
        return records;
    }

    testfiles::TempDir dir;
    Sink sink;
    kctl::KernelListener listener;
    kctl::Link kernel;
    std::unique_ptr<kctltest::OptionServer> server;
    std::unique_ptr<KextInterface> link;
};

TEST_F(KextWireTest, AnswersAreTheirRequestsWithResultAndNetworkActionFilledIn)
{
    const std::vector<kctl::RequestRecord> sent = send(3, 100, 1);
    ASSERT_TRUE(sink.waitRequests(3));
    std::vector<ScanRequest> got = sink.requests();
    ASSERT_EQ(3u, got.size()); // the 100-byte tail is dropped
    EXPECT_EQ(1024u, requestPath(got[0]).size()); // a path without NUL: all 1,024 bytes
    EXPECT_EQ("/usr/bin/true", requestPath(got[1]));
    for (ScanRequest& r : got) {
        r.result = static_cast<int16_t>(1 + r.cookie % 2);
        r.networkAction = 100 + r.cookie;
        sink.answer(r);
    }
    ASSERT_TRUE(proc::waitFor(
        [&] {
            size_t n = 0;
            for (const auto& o : server->seen())
                n += o.option == kctl::KEXT_OPT_RESPONSE;
            return n == 3;
        },
        5));
    size_t i = 0;
    for (const auto& o : server->seen()) {
        if (o.option != kctl::KEXT_OPT_RESPONSE)
            continue;
        SCOPED_TRACE(i);
        ASSERT_EQ(1076u, o.payload.size());
        EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0}), std::vector<uint8_t>(o.payload.begin(), o.payload.begin() + 4));
        uint8_t want[kctl::record::kSize];
        kctl::RequestRecord expected = sent[i];
        expected.result = static_cast<int16_t>(1 + expected.cookie % 2);
        expected.networkAction = 100 + expected.cookie;
        expected.encode(want);
        EXPECT_EQ(0, std::memcmp(want, o.payload.data() + 4, sizeof want));
        ++i;
    }
}

TEST_F(KextWireTest, OneReceiveTakesAtMostTenRecords)
{
    send(12, 0, 100);
    ASSERT_TRUE(sink.waitRequests(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<ScanRequest> got = sink.requests();
    ASSERT_EQ(10u, got.size());
    EXPECT_EQ(100, got.front().cookie);
    EXPECT_EQ(109, got.back().cookie);
}

} // namespace
