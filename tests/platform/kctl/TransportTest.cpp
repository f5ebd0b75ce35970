// The Linux kernel-control link against a real kernel side on real
// SOCK_SEQPACKET sockets: hellos, root checks, options and their replies,
// time-outs, hang-ups and request datagrams; and the socket behaviour of this
// machine that the transport is built on.
#include <atomic>
#include <chrono>
#include <csignal>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "KctlTestSupport.h"

using namespace kctl;
using kctltest::OptionServer;
using kctltest::SeenOption;
using kctltest::TempDir;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

/// A kernel side listening where the daemon's link connects (the test runs
/// in its own /usr/local/Vantrel).
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(listener.listen(controlSocketPath(kControlDirectory, kAppProtectionControlName), error))
            << error;
    }
    void TearDown() override { link.close(); }

    void open(SocketKernelControl& ctl) { ASSERT_EQ(0, kctltest::openLink(ctl, listener, link)); }

    KernelListener listener;
    Link link;
};

// ---- opening ----

TEST_F(LinkTest, OpenSaysHelloOnADataThenAControlConnectionToARootFolder)
{
    SocketKernelControl ctl;
    int rc = -1;
    std::thread opener([&] { rc = ctl.open(kAppProtectionControlName); });
    // The kernel side by hand: two connections from this process, each
    // beginning with {magic, version, channel}.
    for (uint32_t channel : {kDataChannel, kControlChannel}) {
        pollfd p{listener.fd(), POLLIN, 0};
        ASSERT_EQ(1, ::poll(&p, 1, 3000));
        Peer peer = acceptPeer(listener.fd());
        ASSERT_GE(peer.fd, 0);
        EXPECT_EQ(getpid(), peer.pid);
        EXPECT_EQ(0u, peer.uid);
        pollfd q{peer.fd, POLLIN, 0};
        ASSERT_EQ(1, ::poll(&q, 1, 3000));
        uint32_t hello[4] = {};
        ASSERT_EQ(12, ::recv(peer.fd, hello, sizeof hello, 0));
        EXPECT_EQ(0x4c54434bu, hello[0]);
        EXPECT_EQ(1u, hello[1]);
        EXPECT_EQ(channel, hello[2]);
        ASSERT_TRUE(sendHello(peer.fd, channel));
        (channel == kDataChannel ? link.data : link.control) = peer.fd;
    }
    opener.join();
    EXPECT_EQ(0, rc);

    struct stat st;
    ASSERT_EQ(0, ::stat(kControlDirectory, &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);
    EXPECT_EQ(0u, st.st_uid);

    EXPECT_EQ(-1, ctl.open(kAppProtectionControlName));
    EXPECT_EQ(EISCONN, errno);
}

/// A kernel side that refuses in its own way: it accepts each connection
/// and then does `act` with it.
void playKernel(const KernelListener& listener, const std::function<void(int fd)>& act)
{
    pollfd p{listener.fd(), POLLIN, 0};
    if (::poll(&p, 1, 3000) == 1) {
        Peer peer = acceptPeer(listener.fd());
        if (peer.fd >= 0)
            act(peer.fd);
    }
}

TEST(TransportOpenTest, OpenFailsUnlessAKernelSideAnswersTheHello)
{
    struct Case {
        const char* name;
        const char* control;
        std::function<void(const std::string& dir, KernelListener&)> setUp; // before open
        std::function<void(KernelListener&)> kernel;                         // while open runs
        int wantErrno;
    };
    const std::string name = kAppProtectionControlName;
    const Case cases[] = {
        {"no socket", kAppProtectionControlName, [](const std::string&, KernelListener&) {}, nullptr, ENOENT},
        {"stale socket, nobody listening", kAppProtectionControlName,
         [&](const std::string& dir, KernelListener&) {
             int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             std::strcpy(addr.sun_path, (dir + "/" + name).c_str());
             ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
             ::close(fd);
         },
         nullptr, ECONNREFUSED},
        {"name holding a slash", "../kctl/x", [](const std::string&, KernelListener&) {}, nullptr, ENOENT},
        {"empty name", "", [](const std::string&, KernelListener&) {}, nullptr, ENOENT},
        {"listening, never accepting", kAppProtectionControlName,
         [&](const std::string& dir, KernelListener& l) {
             std::string error;
             ASSERT_TRUE(l.listen(dir + "/" + name, error)) << error;
         },
         nullptr, ETIMEDOUT},
        {"closes without a hello", kAppProtectionControlName,
         [&](const std::string& dir, KernelListener& l) {
             std::string error;
             ASSERT_TRUE(l.listen(dir + "/" + name, error)) << error;
         },
         [](KernelListener& l) { playKernel(l, [](int fd) { ::close(fd); }); }, ECONNREFUSED},
        {"answers with another version", kAppProtectionControlName,
         [&](const std::string& dir, KernelListener& l) {
             std::string error;
             ASSERT_TRUE(l.listen(dir + "/" + name, error)) << error;
         },
         [](KernelListener& l) {
             playKernel(l, [](int fd) {
                 const uint32_t hello[3] = {kHelloMagic, 2, kDataChannel};
                 ::send(fd, hello, sizeof hello, MSG_NOSIGNAL);
                 ::usleep(200000);
                 ::close(fd);
             });
         },
         EPROTO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        KernelListener listener;
        c.setUp(dir.path(), listener);
        SocketKernelControl ctl(dir.path(), 300);
        std::thread kernel;
        if (c.kernel)
            kernel = std::thread([&] { c.kernel(listener); });
        const auto t0 = Clock::now();
        EXPECT_EQ(-1, ctl.open(c.control));
        EXPECT_EQ(c.wantErrno, errno) << std::strerror(errno);
        EXPECT_LT(secondsSince(t0), 2.0);
        if (kernel.joinable())
            kernel.join();
        // Nothing is left open by a failed open.
        EXPECT_EQ(-1, ctl.close());
        EXPECT_EQ(EBADF, errno);
    }
}

/// Runs `fn` in a child as uid/gid 65534; the child's exit code is fn's.
int runAsNobody(const std::function<int()>& fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(100);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(TransportPeerTest, BothEndsRefuseAPeerThatIsNotRoot)
{
    TempDir dir;
    ASSERT_EQ(0, ::chmod(dir.path().c_str(), 0777));

    // A daemon that is not root: the kernel side closes its connection.
    {
        KernelListener listener;
        std::string error;
        ASSERT_TRUE(listener.listen(dir.path() + "/open/" + kAppProtectionControlName, error)) << error;
        ASSERT_EQ(0, ::chmod((dir.path() + "/open").c_str(), 0777));
        ASSERT_EQ(0, ::chmod((dir.path() + "/open/" + kAppProtectionControlName).c_str(), 0777));
        std::thread kernel([&] {
            Link link;
            EXPECT_FALSE(acceptLink(listener.fd(), link, 1500, error));
            link.close();
        });
        const int err = runAsNobody([&] {
            SocketKernelControl ctl(dir.path() + "/open", 1000);
            return ctl.open(kAppProtectionControlName) == 0 ? 0 : errno;
        });
        kernel.join();
        EXPECT_EQ(ECONNREFUSED, err);
    }
    // A kernel side that is not root: open refuses it before any hello.
    {
        int ready[2];
        ASSERT_EQ(0, ::pipe(ready));
        const pid_t kernel = ::fork();
        if (kernel == 0) {
            if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
                ::_exit(100);
            KernelListener listener;
            std::string error;
            if (!listener.listen(dir.path() + "/nobody/" + kAppProtectionControlName, error))
                ::_exit(101);
            (void)!::write(ready[1], "x", 1);
            Link link;
            ::_exit(acceptLink(listener.fd(), link, 2000, error) ? 1 : 0);
        }
        char c;
        ASSERT_EQ(1, ::read(ready[0], &c, 1));
        SocketKernelControl ctl(dir.path() + "/nobody", 1000);
        EXPECT_EQ(-1, ctl.open(kAppProtectionControlName));
        EXPECT_EQ(EPERM, errno);
        int status = 0;
        ::waitpid(kernel, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the kernel side made a link";
        ::close(ready[0]);
        ::close(ready[1]);
    }
}

TEST(TransportListenTest, ASecondKernelSideIsRefusedAndAStaleSocketReplaced)
{
    TempDir dir;
    const std::string path = dir.path() + "/kctl/" + kAppProtectionControlName;
    std::string error;
    {
        KernelListener first;
        ASSERT_TRUE(first.listen(path, error)) << error;
        KernelListener second;
        EXPECT_FALSE(second.listen(path, error));
        EXPECT_EQ("another kernel side answers on " + path, error);
    }
    // The first one removed its socket; a stale one left by a crash is
    // replaced.
    struct stat st;
    EXPECT_NE(0, ::lstat(path.c_str(), &st));
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ::close(fd);
    KernelListener third;
    EXPECT_TRUE(third.listen(path, error)) << error;
}

// ---- options ----

TEST_F(LinkTest, EachOptionGoesAsOneMessageAndReturnsTheKernelsAnswer)
{
    std::vector<uint8_t> answer(answer::kSize);
    for (size_t i = 0; i < answer.size(); ++i)
        answer[i] = static_cast<uint8_t>(i * 7);
    struct Case {
        const char* name;
        int option;
        std::vector<uint8_t> payload;
        int32_t rc, err;   // the kernel's answer
        int want, wantErrno;
    };
    const Case cases[] = {
        {"start hooking", KEXT_OPT_START_HOOKING, {}, 0, 0, 0, 0},
        {"prompt time-out 60", KEXT_OPT_PROMPT_TIMEOUT, {0x3c, 0, 0, 0}, 0, 0, 0, 0},
        {"exclusion without its NUL", KEXT_OPT_ADD_EXCLUSION, kctltest::bytesOf("/opt/ex"), 0, 0, 0, 0},
        {"an answer", KEXT_OPT_RESPONSE, answer, 0, 0, 0, 0},
        {"refused ping", KEXT_OPT_PING, {}, -1, EINVAL, -1, EINVAL},
        {"refused flush, its own errno", KEXT_OPT_FLUSH_EXCLUSIONS, {}, -1, ENOENT, -1, ENOENT},
        {"refused without an errno", KEXT_OPT_PURGE_CACHE, {}, -1, 0, -1, EIO},
    };
    SocketKernelControl ctl;
    open(ctl);
    size_t next = 0;
    OptionServer kernel(link.control, [&](const SeenOption&) {
        const Case& c = cases[next++];
        return std::make_pair(c.rc, c.err);
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errno = 0;
        EXPECT_EQ(c.want, ctl.setOption(c.option, c.payload.data(), static_cast<socklen_t>(c.payload.size())));
        if (c.want != 0) {
            EXPECT_EQ(c.wantErrno, errno);
        }
    }
    const auto seen = kernel.seen();
    ASSERT_EQ(std::size(cases), seen.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(cases[i].option, seen[i].option);
        EXPECT_EQ(cases[i].payload, seen[i].payload);
    }
    // Too long for any option: refused here, nothing sent.
    std::vector<uint8_t> huge(kMaxOptionLength + 1);
    EXPECT_EQ(-1, ctl.setOption(KEXT_OPT_ADD_EXCLUSION, huge.data(), static_cast<socklen_t>(huge.size())));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(std::size(cases), kernel.seen().size());
}

TEST_F(LinkTest, AnUnansweredOptionTimesOutAndItsLateAnswerIsNotTakenForTheNext)
{
    SocketKernelControl ctl(kControlDirectory, 300);
    open(ctl);
    OptionReader reader;
    const auto t0 = Clock::now();
    EXPECT_EQ(-1, ctl.setOption(KEXT_OPT_START_HOOKING, nullptr, 0));
    EXPECT_EQ(ETIMEDOUT, errno);
    EXPECT_GE(secondsSince(t0), 0.29);
    EXPECT_LT(secondsSince(t0), 2.0);
    // The kernel answers late, refusing; then answers the next option.
    ASSERT_EQ(ReadStatus::Message, reader.read(link.control));
    ASSERT_EQ(KEXT_OPT_START_HOOKING, reader.option());
    ASSERT_TRUE(replyOption(link.control, -1, ENOENT));
    OptionServer kernel(link.control, [](const SeenOption&) { return std::make_pair(0, 0); });
    EXPECT_EQ(0, ctl.setOption(KEXT_OPT_PING, nullptr, 0)) << std::strerror(errno);
}

TEST_F(LinkTest, TheReplyTimeOutBoundsTheWholeWaitNotEachRead)
{
    // Messages that answer nothing keep coming: the option still fails once
    // its own time-out has passed.
    SocketKernelControl ctl(kControlDirectory, 300);
    open(ctl);
    std::atomic<bool> done{false};
    std::thread chatter([&] {
        for (int i = 0; i < 40 && !done; ++i) {
            ::send(link.control, "", 0, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(-1, ctl.setOption(KEXT_OPT_PING, nullptr, 0));
    EXPECT_EQ(ETIMEDOUT, errno);
    EXPECT_GE(secondsSince(t0), 0.29);
    EXPECT_LT(secondsSince(t0), 1.5);
    done = true;
    chatter.join();
}

TEST_F(LinkTest, OptionsFromManyThreadsEachGetTheirOwnAnswer)
{
    SocketKernelControl ctl;
    open(ctl);
    // The kernel refuses each option with the number it carried as its errno.
    OptionServer kernel(link.control, [](const SeenOption& o) {
        int32_t tag = 0;
        std::memcpy(&tag, o.payload.data(), 4);
        return std::make_pair(-1, tag);
    });
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const int32_t tag = 1000 * (t + 1) + i;
                if (ctl.setOption(KEXT_OPT_PROMPT_TIMEOUT, &tag, 4) != -1 || errno != tag)
                    ++wrong;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(800u, kernel.seen().size());
}

// ---- hang-ups and close ----

TEST_F(LinkTest, AKernelSideThatHangsUpReadsAsEBADFWithoutSIGPIPE)
{
    // SIGPIPE keeps its default action here: a send to the closed peer that
    // raised it would end the test program.
    ASSERT_EQ(SIG_DFL, std::signal(SIGPIPE, SIG_DFL));
    SocketKernelControl ctl;
    open(ctl);
    link.close();
    kctltest::expectHungUp(ctl);
    EXPECT_EQ(0, ctl.close());
}

TEST_F(LinkTest, AnOptionWaitingForItsAnswerEndsAtOnceWhenTheLinkGoes)
{
    struct Case {
        const char* name;
        bool kernelCloses; // else the daemon's own close()
    };
    for (const Case c : {Case{"the kernel side hangs up", true}, Case{"close() from another thread", false}}) {
        SCOPED_TRACE(c.name);
        SocketKernelControl ctl;
        open(ctl);
        std::thread closer([&] {
            pollfd p{link.control, POLLIN, 0};
            ::poll(&p, 1, 2000); // the option has arrived
            if (c.kernelCloses)
                link.close();
            else
                ctl.close();
        });
        const auto t0 = Clock::now();
        EXPECT_EQ(-1, ctl.setOption(KEXT_OPT_START_HOOKING, nullptr, 0));
        EXPECT_EQ(EBADF, errno);
        EXPECT_LT(secondsSince(t0), 2.0);
        closer.join();
        link.close();
    }
}

TEST_F(LinkTest, CloseEndsBothConnectionsAndAFreshOpenWorks)
{
    SocketKernelControl ctl;
    open(ctl);
    EXPECT_EQ(0, ctl.close());
    for (int fd : {link.data, link.control}) {
        char b;
        EXPECT_EQ(0, ::recv(fd, &b, 1, MSG_DONTWAIT));
        EXPECT_TRUE(peerGone(fd));
    }
    link.close();
    char buf[8];
    EXPECT_EQ(-1, ctl.receive(buf, sizeof buf));
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(-1, ctl.waitReadable(0));
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(-1, ctl.setOption(KEXT_OPT_PING, nullptr, 0));
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(-1, ctl.close());
    EXPECT_EQ(EBADF, errno);
    open(ctl);
}

// ---- requests ----

TEST_F(LinkTest, RequestsComeAsWholeDatagramsReadWithoutBlocking)
{
    constexpr size_t kBuffer = 10 * record::kSize; // what the daemon reads at once
    struct Case {
        const char* name;
        std::vector<size_t> datagrams; // sizes the kernel side sends
        bool hangUp;                   // then closes
        std::vector<ssize_t> reads;    // receive() results, -errno for a failure
    };
    const Case cases[] = {
        {"three records and a tail", {3 * record::kSize + 100}, false, {3 * record::kSize + 100, -EAGAIN}},
        {"twelve records: ten read, the rest lost", {12 * record::kSize}, false, {kBuffer, -EAGAIN}},
        {"one datagram per receive", {record::kSize, 2 * record::kSize}, false,
         {record::kSize, 2 * record::kSize, -EAGAIN}},
        {"an empty datagram is no hang-up", {0, record::kSize}, false, {0, record::kSize, -EAGAIN}},
        {"records before a hang-up are read first", {record::kSize, 0, record::kSize}, true,
         {record::kSize, 0, record::kSize, -EBADF}},
        {"nothing", {}, false, {-EAGAIN}},
    };
    std::vector<uint8_t> out(12 * record::kSize + 100, 0xab);
    std::vector<uint8_t> in(kBuffer);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SocketKernelControl ctl;
        open(ctl);
        for (size_t size : c.datagrams)
            ASSERT_EQ(0, sendMessage(link.data, out.data(), size, monotonicMs() + 1000));
        if (c.hangUp)
            link.close();
        for (ssize_t want : c.reads) {
            errno = 0;
            const ssize_t n = ctl.receive(in.data(), in.size());
            EXPECT_EQ(want, n >= 0 ? n : -errno);
        }
        // Nothing else arrives, and waiting says so.
        if (!c.hangUp) {
            EXPECT_EQ(0, ctl.waitReadable(1000));
        }
        ctl.close();
        link.close();
    }
}

TEST_F(LinkTest, WaitReadableWaitsForRequestsOrTheirTimeOut)
{
    SocketKernelControl ctl;
    open(ctl);
    auto t0 = Clock::now();
    EXPECT_EQ(0, ctl.waitReadable(50000));
    EXPECT_GE(secondsSince(t0), 0.045);
    std::thread kernel([&] {
        ::usleep(100000);
        std::vector<uint8_t> rec(record::kSize);
        sendMessage(link.data, rec.data(), rec.size(), monotonicMs() + 1000);
    });
    t0 = Clock::now();
    EXPECT_EQ(1, ctl.waitReadable(-1));
    EXPECT_GE(secondsSince(t0), 0.09);
    kernel.join();
}

// ---- the kernel side's reading of options ----

TEST(OptionReaderTest, OnlyWholeOptionMessagesAreTaken)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> message;
        ReadStatus want;
    };
    auto message = [](int32_t option, uint32_t length, size_t actual) {
        std::vector<uint8_t> m(8 + actual, 0x5a);
        std::memcpy(m.data(), &option, 4);
        std::memcpy(m.data() + 4, &length, 4);
        return m;
    };
    const Case cases[] = {
        {"option 5 with 4 bytes", message(5, 4, 4), ReadStatus::Message},
        {"option 1 alone", message(1, 0, 0), ReadStatus::Message},
        {"the largest option", message(8, kMaxOptionLength, kMaxOptionLength), ReadStatus::Message},
        {"length above the bytes", message(8, 8, 7), ReadStatus::Malformed},
        {"length below the bytes", message(8, 6, 7), ReadStatus::Malformed},
        {"length near 4 GiB", message(8, 0xfffffff9u, 7), ReadStatus::Malformed},
        {"shorter than a header", {1, 0, 0, 0, 0}, ReadStatus::Malformed},
        {"empty", {}, ReadStatus::Malformed},
        {"larger than any option", message(8, kMaxOptionLength + 1, kMaxOptionLength + 1), ReadStatus::Malformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int sv[2];
        ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv));
        ASSERT_EQ(static_cast<ssize_t>(c.message.size()), ::send(sv[0], c.message.data(), c.message.size(), 0));
        OptionReader reader;
        EXPECT_EQ(c.want, reader.read(sv[1]));
        if (c.want == ReadStatus::Message) {
            EXPECT_EQ(c.message.size() - 8, reader.length());
            EXPECT_TRUE(std::equal(c.message.begin() + 8, c.message.end(), reader.payload()));
        }
        // Consumed either way; then nothing, then the close.
        EXPECT_EQ(ReadStatus::Again, reader.read(sv[1]));
        ::close(sv[0]);
        EXPECT_EQ(ReadStatus::HangUp, reader.read(sv[1]));
        ::close(sv[1]);
    }
}

// ---- what this machine's sockets do ----

TEST(SeqpacketFactsTest, TruncationEmptyMessagesAndClosedPeers)
{
    int sv[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv));
    // 12 records read into 10,720 bytes: cut, and MSG_TRUNC says so.
    std::vector<uint8_t> big(12 * record::kSize);
    ASSERT_EQ(static_cast<ssize_t>(big.size()), ::send(sv[0], big.data(), big.size(), 0));
    std::vector<uint8_t> buf(10 * record::kSize);
    iovec iov{buf.data(), buf.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    EXPECT_EQ(static_cast<ssize_t>(buf.size()), ::recvmsg(sv[1], &msg, 0));
    EXPECT_TRUE(msg.msg_flags & MSG_TRUNC);
    EXPECT_EQ(-1, ::recv(sv[1], buf.data(), buf.size(), MSG_DONTWAIT));

    // An empty message and a close both read 0; only the close sets
    // POLLHUP and POLLRDHUP.
    const short kHangUp = POLLIN | POLLHUP | POLLRDHUP; // 0x2011
    ASSERT_EQ(0x2011, kHangUp);
    ASSERT_EQ(0, ::send(sv[0], "", 0, 0));
    pollfd p{sv[1], static_cast<short>(POLLIN | POLLRDHUP), 0};
    ASSERT_EQ(1, ::poll(&p, 1, 0));
    EXPECT_EQ(POLLIN, p.revents & kHangUp);
    EXPECT_EQ(0, ::recv(sv[1], buf.data(), buf.size(), 0));
    ::close(sv[0]);
    ASSERT_EQ(1, ::poll(&p, 1, 0));
    EXPECT_EQ(kHangUp, p.revents & kHangUp);
    EXPECT_EQ(0, ::recv(sv[1], buf.data(), buf.size(), 0));

    // A send to the closed peer fails with EPIPE, which the transport reads
    // as EBADF. (On this kernel a SOCK_SEQPACKET send raises no SIGPIPE; a
    // SOCK_STREAM one would. The transport never lets it: this process keeps
    // SIGPIPE's default action, which would end it.)
    ASSERT_EQ(SIG_DFL, std::signal(SIGPIPE, SIG_DFL));
    EXPECT_EQ(-1, ::send(sv[1], "x", 1, MSG_NOSIGNAL));
    EXPECT_EQ(EPIPE, errno);
    EXPECT_EQ(EBADF, sendMessage(sv[1], "x", 1, monotonicMs() + 100));
    ::close(sv[1]);
}

} // namespace
