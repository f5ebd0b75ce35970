// The address and port texts of a network rule.
#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "NetworkRule.h"
#include "TestFiles.h"

using namespace AppProtection;

namespace {

struct Fields {
    uint32_t address;
    int bits;
};

/// Address and width have no getters: read them from the rule's dump.
Fields addressOf(const NetworkRule& r)
{
    std::ostringstream out;
    r.print(out);
    std::string s = out.str();
    size_t a = s.find(" IP Address : "), b = s.find(" SubnetMask : ");
    EXPECT_TRUE(a != std::string::npos && b != std::string::npos) << s;
    return {static_cast<uint32_t>(std::stoul(s.substr(a + 14))), std::stoi(s.substr(b + 14))};
}

NetworkRule preset()
{
    NetworkRule r;
    EXPECT_TRUE(r.setIpRange("9.9.9.0/24"));
    EXPECT_TRUE(r.setPortRange("80-90"));
    return r;
}

TEST(SetIpRange, Table)
{
    struct Case {
        std::string text;
        bool ok;
        uint32_t address;
        int bits;
        std::string ipRange; // what the rule holds afterwards
    } cases[] = {
        {"192.168.1.77/24", true, 0xC0A80100, 24, "192.168.1.77/24"},
        {"10.1.2.3", true, 0x0A010203, 0, "10.1.2.3"},
        {"ANY_IP", true, 0, 0, "ANY_IP"},
        {"10.1.2.3/1", true, 0x00000000, 1, "10.1.2.3/1"},
        {"200.1.2.3/1", true, 0x80000000, 1, "200.1.2.3/1"},
        {"10.1.2.3/31", true, 0x0A010202, 31, "10.1.2.3/31"},
        {"10.1.2.3//24", true, 0x0A010200, 24, "10.1.2.3//24"},
        {"10.1.2.3/24/8", true, 0x0A010200, 24, "10.1.2.3/24/8"},
        {"10.1.2.3/0", false, 0, 0, "9.9.9.0/24"},
        {"10.1.2.3/32", false, 0, 0, "9.9.9.0/24"},
        {"10.1.2.3/-8", false, 0, 0, "9.9.9.0/24"},
        {"10.1.2.3/x", false, 0, 0, "9.9.9.0/24"},
        // 65560 narrowed to 16 bits would be 24.
        {"10.1.2.3/65560", false, 0, 0, "9.9.9.0/24"},
        {"10.1.2.3/99999999999999999999", false, 0, 0, "9.9.9.0/24"},
        // Refused addresses change nothing.
        {"300.1.1.1", false, 0x09090900, 24, "9.9.9.0/24"},
        {"300.1.1.1/8", false, 0x09090900, 24, "9.9.9.0/24"},
        {"", false, 0x09090900, 24, "9.9.9.0/24"},
        {"/", false, 0x09090900, 24, "9.9.9.0/24"},
        {"////", false, 0x09090900, 24, "9.9.9.0/24"},
        {"any_ip", false, 0x09090900, 24, "9.9.9.0/24"},
        // inet_aton's forms.
        {"10", true, 0x0000000A, 0, "10"},
        {"10.1", true, 0x0A000001, 0, "10.1"},
        {"0x0a.1.2.3", true, 0x0A010203, 0, "0x0a.1.2.3"},
        {"010.1.2.3", true, 0x08010203, 0, "010.1.2.3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.text + "\"");
        NetworkRule r = preset();
        EXPECT_EQ(r.setIpRange(c.text), c.ok);
        Fields f = addressOf(r);
        EXPECT_EQ(f.address, c.address);
        EXPECT_EQ(f.bits, c.bits);
        EXPECT_EQ(r.getIpRange(), c.ipRange);
        EXPECT_EQ(r.getPortRangeStart(), 80);
        EXPECT_EQ(r.getPortRangeEnd(), 90);
    }
}

TEST(SetIpRange, AgreesWithPythonInetAton)
{
    const char* texts[] = {"10", "10.1", "10.1.2", "0x0a.1.2.3", "010.1.2.3", "0xffffffff", "4294967295",
                           "1.2.3.256", "08.1.1.1", "1..2.3", "1.2.3.4 x", "0x100000000"};
    std::string script = "import socket,struct,sys\nfor t in sys.argv[1:]:\n"
                         "  try: print(struct.unpack('!I', socket.inet_aton(t))[0])\n"
                         "  except OSError: print('refused')\n";
    std::string command = "python3 -c \"" + script + "\"";
    for (const char* t : texts)
        command += std::string(" '") + t + "'";
    std::istringstream answers(wardtest::shellOutput(command));
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        std::string want;
        ASSERT_TRUE(std::getline(answers, want));
        NetworkRule r;
        bool ok = r.setIpRange(t);
        EXPECT_EQ(ok ? std::to_string(addressOf(r).address) : "refused", want);
    }
}

TEST(SetPortRange, Table)
{
    struct Case {
        std::string text;
        bool ok;
        int start;
        int end;
    } cases[] = {
        {"1000-2000", true, 1000, 2000},
        {"80", true, 80, 80},
        {"65535", true, 65535, 65535},
        {" 443", true, 443, 443},
        {"443abc", true, 443, 443},
        {"--80--90--", true, 80, 90},
        {"-80", true, 80, 80},
        // kept as designed: a single port is written "80"
        {"80-80", false, 0, 0},
        {"2000-1000", false, 0, 0},
        {"80-90-100", false, 0, 0},
        {"80-x", false, 0, 0},
        {"80-70000", false, 0, 0},
        // 4294967376 narrowed to 32 bits would be 80.
        {"80-4294967376", false, 0, 0},
        {"FTP", true, 20, 21},
        {"DHCP Server", true, 67, 67},
        {"SSH", true, 22, 22},
        {"HTTPS", true, 443, 443},
        {"ANY_PORT", true, 5, 6},
        // Refusals of the first number leave the ports.
        {"ftp", false, 5, 6},
        {"0", false, 5, 6},
        {"70000", false, 5, 6},
        {"4294967376", false, 5, 6},
        {"99999999999999999999", false, 5, 6},
        {"-", false, 5, 6},
        {"----", false, 5, 6},
        {"", false, 5, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.text + "\"");
        NetworkRule r;
        ASSERT_TRUE(r.setPortRange("5-6"));
        EXPECT_EQ(r.setPortRange(c.text), c.ok);
        EXPECT_EQ(r.getPortRangeStart(), c.start);
        EXPECT_EQ(r.getPortRangeEnd(), c.end);
        // The text is kept whatever follows, except an empty one.
        EXPECT_EQ(r.getPortRange(), c.text.empty() ? "5-6" : c.text);
    }
}

TEST(SetPortRange, SeparatorsOnlyStayInsideTheText)
{
    // A heap text with no first piece: the sanitizer build catches a read
    // past its end.
    std::string* text = new std::string(1, '-');
    NetworkRule r;
    EXPECT_FALSE(r.setPortRange(*text));
    delete text;
}

TEST(PortSetters, Bounds)
{
    struct Case {
        int start;
        int end;
        bool startOk;
        bool endOk;
        int wantStart;
        int wantEnd;
    } cases[] = {
        {1, 65535, true, true, 1, 65535},
        {0, 10, false, true, 0, 10},
        {-5, 10, false, true, 0, 10},
        {65536, 10, false, true, 0, 10},
        {80, 80, true, false, 80, 80},
        {80, 79, true, false, 80, 80},
        {80, 65536, true, false, 80, 80},
        {80, -1, true, false, 80, 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " " + std::to_string(c.end));
        NetworkRule r;
        EXPECT_EQ(r.setPortRangeStart(c.start), c.startOk);
        EXPECT_EQ(r.setPortRangeEnd(c.end), c.endOk);
        EXPECT_EQ(r.getPortRangeStart(), c.wantStart);
        EXPECT_EQ(r.getPortRangeEnd(), c.wantEnd);
    }
}

} // namespace
