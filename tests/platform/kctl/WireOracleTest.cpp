// Both ends of the link against python3's struct reading of the wire
// ('<iiiihhii1024s16si', 1,072 bytes): the daemon's end, written here from
// the shared record offsets as the daemon writes its answers, against a
// python kernel side; and kextsim against a python daemon. A wrong offset in
// the shared layout, or in kextsim's encoder, shows as a byte out of place.
#include <sstream>

#include "KctlTestSupport.h"
#include "ProcessSupport.h"

using namespace kctl;
using kctltest::hexOf;
using proc::Child;

namespace {

const std::string kSocket = controlSocketPath(kControlDirectory, kAppProtectionControlName);

template <class T> T at(const uint8_t* record, size_t offset)
{
    T v;
    std::memcpy(&v, record + offset, sizeof v);
    return v;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

TEST(WireOracleTest, TheDaemonsEndAgainstAPythonKernelSide)
{
    kctltest::TempDir dir;
    const std::string out = dir.path() + "/kernel.out";
    Child kernel({"/usr/bin/python3", WIRE_PY, "kernel", kSocket}, out);
    ASSERT_TRUE(proc::waitFor([&] { return proc::readFile(out).find("listening") != std::string::npos; }, 10));

    SocketKernelControl ctl;
    ASSERT_EQ(0, ctl.open(kAppProtectionControlName)) << std::strerror(errno);
    ASSERT_EQ(1, ctl.waitReadable(5000000));
    std::vector<uint8_t> buf(10 * record::kSize);
    const ssize_t n = ctl.receive(buf.data(), buf.size());
    ASSERT_EQ(static_cast<ssize_t>(3 * record::kSize + 100), n);
    // Answered as the daemon answers: the record copied whole, two fields
    // written at their offsets, the word 1 in front.
    for (size_t off = 0; off + record::kSize <= static_cast<size_t>(n); off += record::kSize) {
        const uint8_t* rec = buf.data() + off;
        const int32_t pid = at<int32_t>(rec, record::kPid);
        const int32_t type = at<int32_t>(rec, record::kRequestType);
        const size_t pathLength = ::strnlen(reinterpret_cast<const char*>(rec + record::kPath), record::kPathSize);
        std::vector<uint8_t> a(answer::kSize);
        std::memcpy(a.data(), &answer::kWord, 4);
        std::memcpy(a.data() + answer::kRecord, rec, record::kSize);
        const int16_t result = static_cast<int16_t>(1 + pid % 2);
        const int32_t networkAction = type * 10000 + static_cast<int32_t>(pathLength);
        std::memcpy(a.data() + answer::kRecord + record::kResult, &result, 2);
        std::memcpy(a.data() + answer::kRecord + record::kNetworkAction, &networkAction, 4);
        EXPECT_EQ(0, ctl.setOption(KEXT_OPT_RESPONSE, a.data(), static_cast<socklen_t>(a.size())));
    }
    const int32_t timeout = 60;
    EXPECT_EQ(-1, ctl.setOption(KEXT_OPT_PROMPT_TIMEOUT, &timeout, 4));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(0, ctl.setOption(KEXT_OPT_ADD_EXCLUSION, "/opt/ex", 7));
    ctl.close();
    EXPECT_EQ(0, kernel.wait(10));
    EXPECT_EQ((std::vector<std::string>{"listening", "ok"}), lines(proc::readFile(out)));
}

TEST(WireOracleTest, KextsimAgainstAPythonDaemon)
{
    kctltest::TempDir dir;
    const std::string log = dir.path() + "/kextsim.jsonl";
    Child server({KEXTSIM, "serve", "--log", log});
    ASSERT_TRUE(proc::waitFor([&] { return proc::readFile(log).find("listening") != std::string::npos; }, 5));
    const std::string daemonOut = dir.path() + "/daemon.out";
    Child daemon({"/usr/bin/python3", WIRE_PY, "daemon", kSocket}, daemonOut);
    ASSERT_TRUE(proc::waitFor([&] { return proc::readFile(log).find("\"link\"") != std::string::npos; }, 10));

    const std::string longPath(1024, 'x');
    const std::string utf8Path = "/tmp/e x\xc3\xa9";
    const std::string sendOut = dir.path() + "/send.out";
    Child send({KEXTSIM, "send", "--wait", "5", "pid=4242", "reserved1=287454020", "reserved2=-7", "type=100",
                "result=23130", "padding=61166", "cookie=1001", "path=/usr/bin/true", "addr=1.2.3.4", "port=1",
                "networkAction=7", "+", "pid=17", "type=103", "protocol=1", "cookie=-5", "path=" + longPath,
                "addr=10.1.2.3", "port=8080", "+", "pid=99", "type=102", "protocol=2", "cookie=2147483647",
                "path=" + utf8Path, "family=0"},
               sendOut);
    EXPECT_EQ(0, send.wait(10));
    EXPECT_EQ(0, daemon.wait(10));

    // The records as python unpacked them: pid, reserved, type, result,
    // padding, protocol, cookie, the path field, the address, networkAction.
    const std::string zeros(1024, '\0');
    auto pathField = [&](const std::string& p) { return hexOf(p + zeros.substr(p.size())); };
    const std::vector<std::string> want = {
        "linked",
        "4242 287454020 -7 100 23130 -4370 0 1001 " + pathField("/usr/bin/true") +
            " 0200010001020304" "0000000000000000 7",
        "17 0 0 103 0 0 1 -5 " + hexOf(longPath) + " 0200901f0a010203" "0000000000000000 0",
        "99 0 0 102 0 0 2 2147483647 " + pathField(utf8Path) + " 0000000000000000" "0000000000000000 0",
        "ok",
    };
    EXPECT_EQ(want, lines(proc::readFile(daemonOut)));

    // The answers python packed, as kextsim reads them back.
    int rc = -1;
    const std::vector<std::string> printed =
        lines(proc::run({"/usr/bin/python3", JSONL_PY, sendOut}, &rc));
    EXPECT_EQ(0, rc);
    ASSERT_EQ(3u, printed.size());
    const std::vector<std::vector<std::string>> wantWords = {
        {"cookie=1001", "result=1", "networkAction=1000013", "record.pid=4242", "record.reserved1=287454020",
         "record.reserved2=-7", "record.padding=61166", "record.path=" + hexOf("/usr/bin/true"),
         "record.peer.family=2", "record.peer.port=1", "record.peer.addr=" + hexOf("1.2.3.4")},
        {"cookie=-5", "result=2", "networkAction=1031024", "record.requestType=103", "record.protocol=1",
         "record.path=" + hexOf(longPath), "record.peer.port=8080", "record.peer.addr=" + hexOf("10.1.2.3")},
        {"cookie=2147483647", "result=2", "networkAction=1020010", "record.path=" + hexOf(utf8Path),
         "record.peer.family=0"},
    };
    for (size_t i = 0; i < printed.size(); ++i)
        for (const std::string& w : wantWords[i])
            EXPECT_NE(std::string::npos, (" " + printed[i] + " ").find(" " + w + " ")) << w << " in " << printed[i];
}

} // namespace
