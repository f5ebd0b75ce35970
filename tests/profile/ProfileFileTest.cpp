// The profile file: exact bytes, round trips, an independent reader, and the
// inputs that are refused.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/text_wiarchive.hpp>
#include <boost/serialization/list.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "ApplicationStore.h"
#include "DependentStore.h"
#include "ProfileFile.h"
#include "ProfileRecordIO.h"
#include "TestFiles.h"

using namespace AppProtection;
using testfiles::TempDir;
using testfiles::ucs4be;
using Paths = std::vector<std::string>;

namespace {

const char kExample[] =
    "22 serialization::archive 3 0 0 0 0 1 0 0 6 /bin/a 32 d41d8cd98f00b204e9800998ecf8427e 6 /bin/a 0 0 0 0 0 1 0 "
    "0 0 1 1 0 0 0 0 1 0 0 19 /usr/lib/libx.dylib 32 0cc175b9c0f1b6a831c399e269772661 1 1 6 /bin/a";

const char kEmpty[] = "22 serialization::archive 3 0 0 0 0 0 0 0 0 0 0";

// Two applications, the first with a custom rule, then no libraries: the
// second record, its vectors and its rule list carry no preamble.
const char kTwoApps[] = "22 serialization::archive 3 0 0 0 0 2 0 0 2 /a 1 h 1 g 1 0 0 1 2 /l 0 0 0 0 1 0 0 "
                        "1 167838208 11 10.1.2.3/24 80 90 24 1 2 103 5 80-90 1 3 "
                        "2 /b 0  1 g 0 0 1 2 /l 1 0 0 2 0 0 0 0 0";

// No applications: the vector-of-texts preamble comes with the first
// application list.
const char kLibrariesOnly[] = "22 serialization::archive 3 0 0 0 0 0 0 0 0 0 1 0 0 2 /l 1 h 1 0 0 1 2 /a";

NetworkRule customRule()
{
    NetworkRule r;
    r.setOrder(1);
    r.setIpRange("10.1.2.3/24");
    r.setPortRange("80-90");
    r.setAction(ACTION_BLOCK);
    return r;
}

void fillExample(ApplicationStore& apps, DependentStore& deps)
{
    DetailedAppRecord a;
    a.setAppPath("/bin/a");
    a.setApplicationHash("d41d8cd98f00b204e9800998ecf8427e");
    a.setAppGroup("/bin/a");
    a.setExecAllowed(true);
    ASSERT_TRUE(apps.addApp(a));
    DependentRecord l;
    l.setFileName("/usr/lib/libx.dylib");
    l.setFileHash("0cc175b9c0f1b6a831c399e269772661");
    l.setAppList({"/bin/a"});
    deps.addDependent(l);
}

void fillTwoApps(ApplicationStore& apps)
{
    DetailedAppRecord a, b;
    a.setAppPath("/a");
    a.setApplicationHash("h");
    a.setAppGroup("g");
    a.setAppModified(true);
    a.setDependencies({"/l"});
    a.setNwRules({customRule()});
    a.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
    b.setAppPath("/b");
    b.setAppGroup("g");
    b.setChangedDeps({"/l"});
    b.setExecAllowed(true);
    b.setEnabled(false);
    b.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL);
    ASSERT_TRUE(apps.addApp(b));
    ASSERT_TRUE(apps.addApp(a));
}

std::string written(const ApplicationStore& apps, const DependentStore& deps)
{
    std::ostringstream out;
    writeProfile(out, apps, deps);
    return out.str();
}

void read(const std::string& bytes, ApplicationStore& apps, DependentStore& deps)
{
    std::istringstream in(bytes);
    readProfile(in, apps, deps);
}

TEST(ProfileLayout, ExampleIsExactlyItsTokens)
{
    ApplicationStore apps;
    DependentStore deps;
    fillExample(apps, deps);
    std::string bytes = written(apps, deps);
    EXPECT_EQ(std::strlen(kExample), 203u);
    EXPECT_EQ(bytes.size(), 812u);
    EXPECT_EQ(bytes, ucs4be(kExample));

    // iconv reads it as UCS-4 big-endian text.
    TempDir dir;
    testfiles::writeFile(dir / "profile.data", bytes);
    EXPECT_EQ(wardtest::shellOutput("iconv -f UCS-4BE -t UTF-8 " + dir / "profile.data"), kExample);
}

TEST(ProfileLayout, EmptyProfileIs188Bytes)
{
    ApplicationStore apps;
    DependentStore deps;
    std::string bytes = written(apps, deps);
    EXPECT_EQ(bytes.size(), 188u);
    EXPECT_EQ(bytes, ucs4be(kEmpty));

    fillExample(apps, deps);
    read(bytes, apps, deps);
    EXPECT_TRUE(apps.getAllProfileRules().empty());
    DependentRecord r;
    EXPECT_FALSE(deps.findByName("/usr/lib/libx.dylib", r));
}

TEST(ProfileLayout, PreamblesOncePerType)
{
    ApplicationStore apps;
    DependentStore deps;
    fillTwoApps(apps);
    EXPECT_EQ(written(apps, deps), ucs4be(kTwoApps));

    ApplicationStore none;
    DependentStore libs;
    DependentRecord l;
    l.setFileName("/l");
    l.setFileHash("h");
    l.setAppList({"/a"});
    libs.addDependent(l);
    EXPECT_EQ(written(none, libs), ucs4be(kLibrariesOnly));
}

TEST(ProfileLayout, WriterFailsWhenTheStreamFails)
{
    ApplicationStore apps;
    DependentStore deps;
    fillExample(apps, deps);
    std::ofstream full("/dev/full", std::ios::binary);
    ASSERT_TRUE(full.is_open());
    EXPECT_THROW(writeProfile(full, apps, deps), boost::archive::archive_exception);
}

TEST(ProfileRoundTrip, ExampleReadsBackEqual)
{
    ApplicationStore apps;
    DependentStore deps;
    fillExample(apps, deps);
    ApplicationStore apps2;
    DependentStore deps2;
    read(ucs4be(kExample), apps2, deps2);

    DetailedAppRecord a;
    ASSERT_TRUE(apps2.findAppByName("/bin/a", a));
    EXPECT_EQ(a.getApplicationHash(), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(a.getAppGroup(), "/bin/a");
    EXPECT_TRUE(a.getExecAllowed());
    EXPECT_TRUE(a.getEnabled());
    EXPECT_FALSE(a.getAppModified());
    EXPECT_EQ(a.getNwAction(), BasicAppRecord::NW_ACTION_ALLOW_ALL);
    std::vector<DetailedAppRecord> byHash;
    EXPECT_TRUE(apps2.findAppByHash("d41d8cd98f00b204e9800998ecf8427e", byHash));
    DependentRecord l;
    ASSERT_TRUE(deps2.findByName("/usr/lib/libx.dylib", l));
    EXPECT_EQ(l.getFileHash(), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(l.getAppList(), Paths{"/bin/a"});
    EXPECT_FALSE(l.getHashVerified());
    EXPECT_EQ(written(apps2, deps2), written(apps, deps));
}

TEST(ProfileRoundTrip, RecordsWithEveryFieldSet)
{
    ApplicationStore apps;
    DependentStore deps;
    fillTwoApps(apps);
    ApplicationStore apps2;
    DependentStore deps2;
    read(ucs4be(kTwoApps), apps2, deps2);
    DetailedAppRecord a, b;
    ASSERT_TRUE(apps2.findAppByName("/a", a));
    ASSERT_TRUE(apps2.findAppByName("/b", b));
    EXPECT_TRUE(a.getAppModified());
    EXPECT_EQ(a.getDependencies(), Paths{"/l"});
    ASSERT_EQ(a.getNwRules().size(), 1u);
    EXPECT_EQ(a.getNwRules().front(), customRule());
    EXPECT_EQ(a.getNwRules().front().getPortRange(), "80-90");
    EXPECT_EQ(b.getApplicationHash(), "");
    EXPECT_EQ(b.getChangedDeps(), Paths{"/l"});
    EXPECT_FALSE(b.getEnabled());
    EXPECT_EQ(b.getNwAction(), BasicAppRecord::NW_ACTION_BLOCK_ALL);
    EXPECT_EQ(written(apps2, deps2), ucs4be(kTwoApps));
}

TEST(ProfileRoundTrip, BlanksAndHighBytesInTexts)
{
    const std::string path = "/Applications/Caf\xe9 Au Lait.app/Contents/MacOS/Caf\xe9  x";
    ApplicationStore apps;
    DependentStore deps;
    DetailedAppRecord a;
    a.setAppPath(path);
    a.setAppGroup("/Applications/Caf\xe9 Au Lait.app");
    a.setDependencies({"/lib/\xff\x80 \x01"});
    ASSERT_TRUE(apps.addApp(a));
    std::string bytes = written(apps, deps);
    // The byte 0xE9 is the character U+00E9.
    EXPECT_NE(bytes.find(std::string("\0\0\0\xe9", 4)), std::string::npos);
    // An empty fingerprint: "0" and two blanks before the next token.
    std::string group = a.getAppGroup();
    EXPECT_NE(bytes.find(ucs4be(std::to_string(path.size()) + " " + path + " 0  " + std::to_string(group.size())
                                + " " + group + " 0")),
              std::string::npos);

    ApplicationStore apps2;
    DependentStore deps2;
    read(bytes, apps2, deps2);
    DetailedAppRecord got;
    ASSERT_TRUE(apps2.findAppByName(path, got));
    EXPECT_EQ(got.getAppGroup(), "/Applications/Caf\xe9 Au Lait.app");
    EXPECT_EQ(got.getApplicationHash(), "");
    EXPECT_EQ(got.getDependencies(), Paths{"/lib/\xff\x80 \x01"});
}

TEST(ProfileRead, RepeatedPathKeepsTheFirst)
{
    std::string text = "22 serialization::archive 3 0 0 0 0 2 0 0 2 /a 1 h 1 g 0 0 0 0 0 1 0 0 0 1 1 "
                       "2 /a 1 i 1 k 1 0 0 0 0 0 2 0 0 0 0 0";
    ApplicationStore apps;
    DependentStore deps;
    read(ucs4be(text), apps, deps);
    DetailedAppRecord a;
    ASSERT_TRUE(apps.findAppByName("/a", a));
    EXPECT_EQ(a.getApplicationHash(), "h");
    EXPECT_TRUE(a.getExecAllowed());
    EXPECT_EQ(apps.getAllProfileRules().size(), 1u);
}

TEST(ProfileRead, CountsTheRecordsPutInPlaceWithoutLibraries)
{
    ApplicationStore apps;
    DependentStore deps;
    EXPECT_EQ(apps.loadedWithoutDependencies(), 0u);
    ApplicationStore two;
    fillTwoApps(two); // "/a" with a library, "/b" without
    ApplicationStore linked;
    DetailedAppRecord c;
    c.setAppPath("/c");
    c.setDependencies({"/l"});
    ASSERT_TRUE(linked.addApp(c));
    struct Case {
        const char* what;
        std::string bytes;
        size_t without;
    } cases[] = {
        {"one of two", written(two, deps), 1},
        {"a dropped repeat does not count",
         ucs4be("22 serialization::archive 3 0 0 0 0 2 0 0 2 /a 1 h 1 g 0 0 0 0 0 1 0 0 0 1 1 "
                "2 /a 1 i 1 k 1 0 0 0 0 0 2 0 0 0 0 0"),
         1},
        {"every one with a library", written(linked, deps), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        read(c.bytes, apps, deps);
        EXPECT_EQ(apps.loadedWithoutDependencies(), c.without);
    }
}

TEST(ProfileRead, RecordsOutOfPathOrderAllLoad)
{
    std::string text = "22 serialization::archive 3 0 0 0 0 2 0 0 2 /b 1 h 1 g 0 0 0 0 0 1 0 0 0 1 1 "
                       "2 /a 1 i 1 k 0 0 0 0 0 1 2 0 0 0 0 0";
    ApplicationStore apps;
    DependentStore deps;
    read(ucs4be(text), apps, deps);
    DetailedAppRecord a, b;
    ASSERT_TRUE(apps.findAppByName("/a", a));
    ASSERT_TRUE(apps.findAppByName("/b", b));
    EXPECT_EQ(a.getAppGroup(), "k");
    EXPECT_EQ(b.getAppGroup(), "g");
    EXPECT_EQ(written(apps, deps), ucs4be("22 serialization::archive 3 0 0 0 0 2 0 0 2 /a 1 i 1 k 0 0 0 0 0 0 0 0 0 1 2 "
                                          "2 /b 1 h 1 g 0 0 0 1 0 1 1 0 0 0 0 0"));
}

TEST(ProfileRead, RuleListIsTakenAsRead)
{
    // One record with rules of orders 2, 1, 2 read straight from the file.
    std::string text = "22 serialization::archive 3 0 0 2 /a 0  0  0 0 0 0 0 1 0 0 3 0 0"
                       " 2 0 6 ANY_IP 0 0 0 3 2 104 8 ANY_PORT"
                       " 1 0 6 ANY_IP 0 0 0 3 1 104 8 ANY_PORT"
                       " 2 0 6 ANY_IP 0 0 0 3 1 104 8 ANY_PORT"
                       " 1 3";
    std::istringstream in(ucs4be(text));
    ProfileIArchive ar(in);
    DetailedAppRecord r;
    ProfileRecordIO::load(ar, r);
    std::list<NetworkRule> rules = r.getNwRules();
    ASSERT_EQ(rules.size(), 3u);
    std::vector<int> orders;
    for (const auto& n : rules)
        orders.push_back(n.getOrder());
    EXPECT_EQ(orders, (std::vector<int>{2, 1, 2}));
    EXPECT_EQ(rules.front().getAction(), ACTION_BLOCK);
}

// ------------------------------------------------------------ refusals

struct Refusal {
    const char* name;
    std::string bytes;
    bool inDependentPart = false; // the application part was read whole
};

std::string withChar(const std::string& text, size_t at, uint32_t ch)
{
    std::string bytes = ucs4be(text);
    const char c[4] = {char(ch >> 24), char(ch >> 16), char(ch >> 8), char(ch)};
    bytes.replace(4 * at, 4, c, 4);
    return bytes;
}

TEST(ProfileRead, RefusedInputs)
{
    const std::string head = "22 serialization::archive 3";
    const std::string example = ucs4be(kExample);
    Refusal cases[] = {
        {"empty file", ""},
        {"library version 4", ucs4be("22 serialization::archive 4 0 0 0 0 0 0 0 0 0 0")},
        {"wrong signature", ucs4be("22 serialization::archivf 3 0 0 0 0 0 0 0 0 0 0")},
        {"short signature", ucs4be("21 serialization::archiv 3 0 0 0 0 0 0 0 0 0 0")},
        {"store class version 1", ucs4be(head + " 0 1 0 0 0 0 0 0 0 0")},
        {"record class version 1", ucs4be(head + " 0 0 0 0 1 0 1 2 /a 0  0  0 0 0 0 0 0 1 0 0 0 1 1 0 0 0 0 0")},
        {"dependent store class version 1", ucs4be(head + " 0 0 0 0 0 0 1 0 0 0"), true},
        {"tracked object", ucs4be(head + " 1 0 0 0 0 0 0 0 0 0")},
        {"truncated signature", ucs4be("22 serialization::arch")},
        {"truncated number", example.substr(0, 4 * 80)},
        {"truncated text", example.substr(0, 4 * 50)},
        {"last token missing", ucs4be(head + " 0 0 0 0 0 0 0 0 0"), true},
        {"character cut short", example.substr(0, example.size() - 1)},
        {"trailing half character", ucs4be(kEmpty) + std::string(2, '\0'), true},
        {"text longer than the file", ucs4be(head + " 0 0 0 0 1 0 0 99 /a")},
        {"huge text length", ucs4be(head + " 0 0 0 0 1 0 0 4294967295 /a")},
        {"text length beyond 32 bits", ucs4be(head + " 0 0 0 0 1 0 0 99999999999999999999 /a")},
        {"count beyond the file", ucs4be(head + " 0 0 0 0 40 0 0 0")},
        {"huge count", ucs4be(head + " 0 0 0 0 4000000000 0 0 0 0 0")},
        {"huge dependency count", ucs4be(head + " 0 0 0 0 1 0 0 2 /a 0  0  0 0 0 3000000000")},
        {"negative count", ucs4be(head + " 0 0 0 0 -1 0 0 0 0 0")},
        {"no digits", ucs4be(head + " 0 0 0 0 x 0 0 0 0 0")},
        {"bool 2", ucs4be(head + " 0 0 0 0 1 0 0 2 /a 0  0  2 0 0 0 0 0 0 0 0 1 1 0 0 0 0 0")},
        {"int32 overflow", ucs4be(head + " 0 0 0 0 1 0 0 2 /a 0  0  0 0 0 0 0 0 1 0 0 0 1 2147483648 0 0 0 0 0")},
        {"character above 0xFF in a text", withChar(kExample, 39, 0x100 + '/')},
        {"digit above 0xFF", withChar(kEmpty, 0, 0x100 + '2')},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        ApplicationStore apps;
        DependentStore deps;
        DetailedAppRecord keep;
        keep.setAppPath("/kept");
        ASSERT_TRUE(apps.addApp(keep));
        auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(read(c.bytes, apps, deps), boost::archive::archive_exception);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        // A refused application part leaves the store as it was.
        EXPECT_EQ(apps.getAllProfileRules().size(), c.inDependentPart ? 0u : 1u);
    }
}

TEST(ProfileRead, RefusalCodes)
{
    struct Case {
        const char* name;
        std::string text;
        boost::archive::archive_exception::exception_code code;
    } cases[] = {
        {"signature", "22 serialization::archivf 3", boost::archive::archive_exception::invalid_signature},
        {"library version", "22 serialization::archive 4", boost::archive::archive_exception::unsupported_version},
        {"class version", "22 serialization::archive 3 0 1",
         boost::archive::archive_exception::unsupported_class_version},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ApplicationStore apps;
        DependentStore deps;
        try {
            read(ucs4be(c.text), apps, deps);
            ADD_FAILURE() << "not refused";
        } catch (const boost::archive::archive_exception& e) {
            EXPECT_EQ(e.code, c.code);
        }
    }
}

TEST(ProfileRead, TextsOfEveryLengthTakeEveryByteAndNoWiderCharacter)
{
    // Lengths around the reader's steps of four and sixteen characters.
    for (size_t length = 1; length <= 40; ++length) {
        SCOPED_TRACE(length);
        std::string path(length, '\0');
        for (size_t i = 0; i < length; ++i)
            path[i] = static_cast<char>(0x80 + 37 * i + length); // high bytes, blanks and NULs among them
        ApplicationStore apps;
        DependentStore deps;
        DetailedAppRecord r;
        r.setAppPath(path);
        ASSERT_TRUE(apps.addApp(r));
        const std::string bytes = written(apps, deps);
        ApplicationStore apps2;
        DependentStore deps2;
        read(bytes, apps2, deps2);
        DetailedAppRecord got;
        EXPECT_TRUE(apps2.findAppByName(path, got));

        // Each character in turn, with each of its three upper bytes set.
        const size_t at = bytes.find(ucs4be(path));
        ASSERT_NE(at, std::string::npos);
        for (size_t i = 0; i < length; ++i) {
            for (size_t upper = 0; upper < 3; ++upper) {
                std::string wide = bytes;
                wide[at + 4 * i + upper] = 1;
                ApplicationStore apps3;
                DependentStore deps3;
                EXPECT_THROW(read(wide, apps3, deps3), boost::archive::archive_exception)
                    << "character " << i << ", byte " << upper;
            }
        }
    }
}

TEST(ProfileRead, OlderLibraryVersionsAndBlanksBetweenNumbers)
{
    ApplicationStore apps;
    DependentStore deps;
    read(ucs4be("22 serialization::archive 2 0 0\n0  0\t0 0 0 0 0 0"), apps, deps);
    EXPECT_TRUE(apps.getAllProfileRules().empty());
}

// ------------------------------------------------ independent reader

struct RuleM {
    int32_t order = 0;
    uint32_t ip = 0;
    std::string ipRange, portRange;
    int32_t start = 0, end = 0, protocol = 0, action = 0, direction = 0;
    int16_t bits = 0;
    template <class A> void serialize(A& ar, unsigned)
    {
        ar& order& ip& ipRange& start& end& bits& protocol& action& direction& portRange;
    }
};
struct AppM {
    std::string path, hash, group;
    bool modified = false, exec = false, enabled = false;
    std::vector<std::string> deps, changed;
    std::list<RuleM> rules;
    int32_t nwAction = 0;
    template <class A> void serialize(A& ar, unsigned)
    {
        ar& path& hash& group& modified& deps& changed& exec& rules& enabled& nwAction;
    }
};
struct AppStoreM {
    std::vector<AppM> apps;
    template <class A> void serialize(A& ar, unsigned) { ar& apps; }
};
struct DepM {
    std::string name, hash;
    unsigned long numApps = 0;
    std::vector<std::string> apps;
    template <class A> void serialize(A& ar, unsigned) { ar& name& hash& numApps& apps; }
};
struct DepStoreM {
    std::vector<DepM> deps;
    template <class A> void serialize(A& ar, unsigned) { ar& deps; }
};

/// Our bytes, turned little-endian by iconv, read by boost's own wide text
/// archive into `objects`, in order.
template <class... Objects> void readWithBoost(const std::string& bytes, Objects&... objects)
{
    TempDir dir;
    testfiles::writeFile(dir / "be", bytes);
    std::string le = wardtest::shellOutput("iconv -f UCS-4BE -t UCS-4LE " + dir / "be");
    ASSERT_EQ(le.size(), bytes.size());
    std::wstring text(le.size() / 4, L'\0');
    std::memcpy(&text[0], le.data(), le.size());
    std::wistringstream in(text);
    boost::archive::text_wiarchive ar(in, boost::archive::no_codecvt);
    (ar >> ... >> objects);
}

TEST(ProfileOracle, BoostReadsTheExample)
{
    ApplicationStore apps;
    DependentStore deps;
    fillExample(apps, deps);
    AppStoreM a;
    DepStoreM d;
    readWithBoost(written(apps, deps), a, d);
    ASSERT_EQ(a.apps.size(), 1u);
    EXPECT_EQ(a.apps[0].path, "/bin/a");
    EXPECT_EQ(a.apps[0].hash, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(a.apps[0].group, "/bin/a");
    EXPECT_TRUE(a.apps[0].exec);
    EXPECT_TRUE(a.apps[0].enabled);
    EXPECT_EQ(a.apps[0].nwAction, 1);
    ASSERT_EQ(d.deps.size(), 1u);
    EXPECT_EQ(d.deps[0].name, "/usr/lib/libx.dylib");
    EXPECT_EQ(d.deps[0].hash, "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(d.deps[0].numApps, 1u);
    EXPECT_EQ(d.deps[0].apps, Paths{"/bin/a"});
}

TEST(ProfileOracle, BoostReadsRecordsWithRules)
{
    ApplicationStore apps;
    DependentStore deps;
    fillTwoApps(apps);
    DependentRecord l;
    l.setFileName("/l");
    l.setFileHash("");
    l.setAppList({"/a", "/b", "/a"});
    deps.addDependent(l);
    AppStoreM a;
    DepStoreM d;
    readWithBoost(written(apps, deps), a, d);
    ASSERT_EQ(a.apps.size(), 2u);
    EXPECT_EQ(a.apps[0].deps, Paths{"/l"});
    ASSERT_EQ(a.apps[0].rules.size(), 1u);
    const RuleM& r = a.apps[0].rules.front();
    EXPECT_EQ(r.ip, 0x0A010200u);
    EXPECT_EQ(r.ipRange, "10.1.2.3/24");
    EXPECT_EQ(r.start, 80);
    EXPECT_EQ(r.end, 90);
    EXPECT_EQ(r.bits, 24);
    EXPECT_EQ(r.action, 2);
    EXPECT_EQ(r.direction, 103);
    EXPECT_EQ(r.portRange, "80-90");
    EXPECT_EQ(a.apps[0].nwAction, 3);
    EXPECT_EQ(a.apps[1].hash, "");
    EXPECT_EQ(a.apps[1].changed, Paths{"/l"});
    EXPECT_FALSE(a.apps[1].enabled);
    ASSERT_EQ(d.deps.size(), 1u);
    EXPECT_EQ(d.deps[0].numApps, 3u);
    EXPECT_EQ(d.deps[0].apps, (Paths{"/a", "/b", "/a"}));
}

// ------------------------------------------------------------ many records

/// More applications and libraries than the reader reads on one thread:
/// fingerprints and groups repeat, every fifth application has a rule.
const int kMany = 600;
static_assert(kMany > 512 + 1, "the application records are handed to a helper thread past 512");

std::string manyPath(int i) { return "/Applications/App" + std::to_string(1000 + i) + ".app/Contents/MacOS/App"; }
std::string manyLibrary(int i) { return "/usr/lib/lib" + std::to_string(1000 + i) + ".dylib"; }
std::string manyHash(int i) { return std::string(32, "0123456789abcdef"[i % 7]); }

void fillMany(ApplicationStore& apps, DependentStore& deps, int count = kMany)
{
    for (int i = 0; i < count; ++i) {
        DetailedAppRecord a;
        a.setAppPath(manyPath(i));
        a.setApplicationHash(manyHash(i));
        a.setAppGroup("/Applications/Group" + std::to_string(i % 5));
        a.setExecAllowed(i % 2 == 0);
        a.setEnabled(i % 11 != 0);
        a.setAppModified(i % 13 == 0);
        a.setDependencies({manyLibrary(i), manyLibrary((i + 1) % count)});
        if (i % 5 == 0) {
            a.setNwRules({customRule()});
            a.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
        }
        ASSERT_TRUE(apps.addApp(a));
    }
    for (int i = 0; i < count; ++i) {
        DependentRecord l;
        l.setFileName(manyLibrary(i));
        l.setFileHash(manyHash(i + 3));
        l.setAppList({manyPath(i), manyPath((count + i - 1) % count)});
        deps.addDependent(l);
    }
}

/// The two ways a store's application records are read.
struct AppsReader {
    const char* name;
    void (*read)(ProfileIArchive& ar, const std::function<void(DetailedAppRecord&&)>& take);
};
const AppsReader kAppsReaders[] = {
    {"on this thread",
     [](ProfileIArchive& ar, const std::function<void(DetailedAppRecord&&)>& take) {
         ProfileRecordIO::loadAll<DetailedAppRecord>(ar, ProfileClass::AppRecordVector, take);
     }},
    {"handed off",
     [](ProfileIArchive& ar, const std::function<void(DetailedAppRecord&&)>& take) {
         ProfileRecordIO::loadAppsHandedOff(ar, ProfileClass::AppRecordVector, take, [](size_t) {});
     }},
};

TEST(ProfileManyRecords, ReadBackWholeAndInOrder)
{
    ApplicationStore apps;
    DependentStore deps;
    fillMany(apps, deps);
    const std::string bytes = written(apps, deps);
    ApplicationStore apps2;
    DependentStore deps2;
    read(bytes, apps2, deps2);
    EXPECT_EQ(written(apps2, deps2), bytes);
    // Records with one fingerprint keep the order they were read in.
    std::vector<std::string> byHash;
    apps2.readAppsByHash(manyHash(3), [&](const DetailedAppRecord& r) { byHash.push_back(r.getAppPath()); });
    std::vector<std::string> want;
    for (int i = 3; i < kMany; i += 7)
        want.push_back(manyPath(i));
    EXPECT_EQ(byHash, want);

    // The taker gets whole records in file order, on this thread or handed
    // to the helper.
    std::vector<std::string> paths;
    for (int i = 0; i < kMany; ++i)
        paths.push_back(manyPath(i));
    for (const AppsReader& reader : kAppsReaders) {
        SCOPED_TRACE(reader.name);
        std::istringstream in(bytes);
        ProfileIArchive ar(in);
        ar.beginClass(ProfileClass::ApplicationStore);
        std::vector<std::string> taken;
        reader.read(ar, [&](DetailedAppRecord&& r) {
            taken.push_back(r.getAppPath());
            DetailedAppRecord::PathKey pathKey;
            DetailedAppRecord::HashKey hashKey;
            if (r.getApplicationHash() != hashKey(r) || r.getAppPath() != pathKey(r))
                taken.push_back("rule fields and keys differ");
        });
        EXPECT_EQ(taken, paths);
    }
}

TEST(ProfileManyRecords, RefusalPartWayLeavesTheStoreAsItWas)
{
    ApplicationStore apps;
    DependentStore deps;
    fillMany(apps, deps);
    const std::string bytes = written(apps, deps);
    // An application's path first occurs in its own record, a library's
    // name last.
    const size_t app = bytes.find(ucs4be(manyPath(450))) + 4 * 20;
    const size_t library = bytes.rfind(ucs4be(manyLibrary(450))) + 4 * 20;
    std::string wide = bytes;
    wide[app + 2] = 1; // a character above 0xFF
    Refusal cases[] = {
        {"cut in an application", bytes.substr(0, app)},
        {"wide character in an application", wide},
        {"cut in a library", bytes.substr(0, library), true},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        ApplicationStore apps2;
        DependentStore deps2;
        DetailedAppRecord keep;
        keep.setAppPath("/kept");
        ASSERT_TRUE(apps2.addApp(keep));
        DependentRecord kept;
        kept.setFileName("/kept.dylib");
        deps2.addDependent(kept);
        EXPECT_THROW(read(c.bytes, apps2, deps2), boost::archive::archive_exception);
        DetailedAppRecord r;
        EXPECT_EQ(apps2.findAppByName("/kept", r), !c.inDependentPart);
        EXPECT_EQ(apps2.findAppByName(manyPath(0), r), c.inDependentPart);
        DependentRecord l;
        EXPECT_TRUE(deps2.findByName("/kept.dylib", l));
    }
}

TEST(ProfileManyRecords, FailureOfTheTakerEndsTheRead)
{
    ApplicationStore apps;
    DependentStore deps;
    fillMany(apps, deps);
    const std::string bytes = written(apps, deps);
    // In the first batch handed over and in a later one.
    for (size_t failAt : {100u, 590u}) {
        for (const AppsReader& reader : kAppsReaders) {
            SCOPED_TRACE(std::string(reader.name) + " " + std::to_string(failAt));
            std::istringstream in(bytes);
            ProfileIArchive ar(in);
            ar.beginClass(ProfileClass::ApplicationStore);
            std::vector<std::string> taken;
            EXPECT_THROW(reader.read(ar,
                                     [&](DetailedAppRecord&& r) {
                                         taken.push_back(r.getAppPath());
                                         if (taken.size() == failAt)
                                             throw std::runtime_error("taker");
                                     }),
                         std::runtime_error);
            ASSERT_EQ(taken.size(), failAt);
            EXPECT_EQ(taken.back(), manyPath(static_cast<int>(failAt) - 1));
        }
    }
}

// ------------------------------------------------------------ blocks

/// One application whose path and group are long enough that a block
/// boundary (character 262144, byte 1 MiB) falls near the path's end.
std::string longRecordText(const std::string& path, const std::string& group)
{
    std::string text = "22 serialization::archive 3 0 0 0 0 1 0 0 " + std::to_string(path.size()) + " " + path + " 0  "
                       + std::to_string(group.size()) + " " + group;
    for (int i = 0; i < 9; ++i)
        text += " 0";
    text += " 1 1";
    for (int i = 0; i < 5; ++i)
        text += " 0";
    return text;
}

TEST(ProfileBlocks, TokensAcrossTheBlockBoundaryWriteAndReadWhole)
{
    TempDir dir;
    const std::string group(100000, 'g');
    // The path starts at character 49: these lengths put the boundary inside
    // the path, on the blanks and digits after it and inside the group's
    // six-digit length.
    for (size_t length = 262144 - 49 - 12; length <= 262144 - 49 + 6; ++length) {
        SCOPED_TRACE(length);
        std::string path(length, 'p');
        path[0] = '/';
        path[length - 1] = '\xe9';
        ApplicationStore apps;
        DependentStore deps;
        DetailedAppRecord r;
        r.setAppPath(path);
        r.setAppGroup(group);
        r.setEnabled(true);
        ASSERT_TRUE(apps.addApp(r));
        const std::string want = ucs4be(longRecordText(path, group));
        ASSERT_GT(want.size(), 1u << 20);
        EXPECT_EQ(written(apps, deps), want);

        const std::string file = dir / "profile";
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        writeProfile(fd, apps, deps);
        ::close(fd);
        ASSERT_EQ(testfiles::readFile(file), want);

        ApplicationStore apps2;
        DependentStore deps2;
        fd = ::open(file.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        readProfile(fd, want.size(), apps2, deps2);
        ::close(fd);
        DetailedAppRecord got;
        ASSERT_TRUE(apps2.findAppByName(path, got));
        EXPECT_EQ(got.getAppGroup(), group);
        EXPECT_TRUE(got.getEnabled());
    }
    // Boost's own reader agrees across the boundary.
    std::string path(262144 - 49 - 3, 'q');
    ApplicationStore apps;
    DependentStore deps;
    DetailedAppRecord r;
    r.setAppPath(path);
    r.setAppGroup(group);
    ASSERT_TRUE(apps.addApp(r));
    AppStoreM a;
    DepStoreM d;
    readWithBoost(written(apps, deps), a, d);
    ASSERT_EQ(a.apps.size(), 1u);
    EXPECT_EQ(a.apps[0].path, path);
    EXPECT_EQ(a.apps[0].group, group);
}

TEST(ProfileBlocks, ManyBlocksReadBackWhole)
{
    // Past four blocks of 256 KiB the file is read on a thread of its own.
    ApplicationStore apps;
    DependentStore deps;
    fillMany(apps, deps, 3000);
    TempDir dir;
    const std::string file = dir / "profile";
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    writeProfile(fd, apps, deps);
    ::close(fd);
    const std::string bytes = testfiles::readFile(file);
    ASSERT_GT(bytes.size(), 4u * 256 * 1024);

    ApplicationStore apps2;
    DependentStore deps2;
    fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    readProfile(fd, bytes.size(), apps2, deps2);
    ::close(fd);
    EXPECT_EQ(written(apps2, deps2), bytes);
    EXPECT_EQ(apps2.getAllProfileRules().size(), 3000u);
}

TEST(ProfileBlocks, FileShorterThanAnnouncedIsRefused)
{
    ApplicationStore apps;
    DependentStore deps;
    fillMany(apps, deps, 3000);
    const std::string many = written(apps, deps);
    const size_t block = 256 * 1024;
    struct Case {
        const char* name;
        std::string bytes;
        size_t announced;
    } cases[] = {
        {"one block", ucs4be(kExample), ucs4be(kExample).size() + 400},
        {"ends at a block's end", many.substr(0, 6 * block), many.size()},
        {"ends inside a block", many.substr(0, 9 * block + 1000), many.size()},
        {"ends inside a character", many.substr(0, 9 * block + 1001), many.size()},
        {"longer than the file by a block", many, many.size() + block},
    };
    TempDir dir;
    const std::string file = dir / "profile";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testfiles::writeFile(file, c.bytes);
        int fd = ::open(file.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ApplicationStore apps2;
        DependentStore deps2;
        EXPECT_THROW(readProfile(fd, c.announced, apps2, deps2), boost::archive::archive_exception);
        ::close(fd);
    }
}

TEST(ProfileBlocks, FailedWriteThrowsItsErrno)
{
    // Every write to /dev/full fails with ENOSPC: a profile of one block is
    // written on this thread, a larger one by the write-behind thread.
    for (int count : {1, 3000}) {
        SCOPED_TRACE(count);
        ApplicationStore apps;
        DependentStore deps;
        fillMany(apps, deps, count);
        int fd = ::open("/dev/full", O_WRONLY);
        ASSERT_GE(fd, 0);
        try {
            writeProfile(fd, apps, deps);
            ADD_FAILURE() << "written";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), ENOSPC);
        }
        ::close(fd);
    }
}

TEST(ProfileBlocks, FailedReadThrowsItsErrno)
{
    // A folder opens but does not read.
    TempDir dir;
    int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (uint64_t announced : {uint64_t(4000), uint64_t(8) << 20}) {
        SCOPED_TRACE(announced);
        ApplicationStore apps;
        DependentStore deps;
        try {
            readProfile(fd, announced, apps, deps);
            ADD_FAILURE() << "read";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), EISDIR);
        }
    }
    ::close(fd);
}

// ------------------------------------------------ the temporary profile

std::string tempWritten(const std::list<BasicAppRecord>& records)
{
    std::ostringstream out(std::ios::binary);
    writeTempProfile(out, records);
    return out.str();
}

BasicAppRecord fullRecord()
{
    BasicAppRecord r;
    r.setAppPath("/bin/a");
    r.setApplicationHash("d41d8cd98f00b204e9800998ecf8427e");
    r.setAppGroup("/bin/a");
    r.setExecAllowed(true);
    NetworkRule rule;
    rule.setOrder(1);
    rule.setIpRange("10.1.2.0/24");
    rule.setPortRange("80");
    r.setNwRules({rule});
    r.setAppModified(true);
    r.setChangedDeps({"/usr/lib/a.dylib"});
    r.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
    return r;
}

BasicAppRecord groupOnly(const std::string& group)
{
    BasicAppRecord r;
    r.setAppGroup(group);
    return r;
}

std::string md5Of(const std::string& bytes)
{
    TempDir dir;
    testfiles::writeFile(dir / "f", bytes);
    return wardtest::shellOutput("md5sum < " + dir / "f").substr(0, 32);
}

TEST(TempProfile, ExactBytes)
{
    struct Case {
        const char* name;
        std::list<BasicAppRecord> records;
        std::string text;
        size_t bytes;
        const char* md5;
    } cases[] = {
        {"empty", {}, "22 serialization::archive 3 0 0 0", 132, "9da33e882f524ccd031f3776a0f7116c"},
        {"scanned",
         {groupOnly("/Applications/A.app")},
         "22 serialization::archive 3 0 0 1 0 0 0  0  19 /Applications/A.app 0 0 0 0 0 0 0 0 1 1",
         344,
         "5d356665936cb833ee1b35615c64c831"},
        {"every field",
         {fullRecord()},
         "22 serialization::archive 3 0 0 1 0 0 6 /bin/a 32 d41d8cd98f00b204e9800998ecf8427e 6 /bin/a 1 0 0 1 0 0 1 "
         "167838208 11 10.1.2.0/24 80 80 24 1 1 103 2 80 1 0 0 1 16 /usr/lib/a.dylib 1 3",
         736,
         "221acdb750d6e251733749afe2794279"},
        // The second record, its rule list and its vector carry no preamble.
        {"second record",
         {groupOnly("/X"), fullRecord()},
         "22 serialization::archive 3 0 0 2 0 0 0  0  2 /X 0 0 0 0 0 0 0 0 1 1 6 /bin/a 32 "
         "d41d8cd98f00b204e9800998ecf8427e 6 /bin/a 1 1 0 0 1 167838208 11 10.1.2.0/24 80 80 24 1 1 103 2 80 1 1 16 "
         "/usr/lib/a.dylib 1 3",
         0,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = tempWritten(c.records);
        EXPECT_EQ(bytes, ucs4be(c.text));
        if (c.md5 != nullptr) {
            EXPECT_EQ(bytes.size(), c.bytes);
            EXPECT_EQ(md5Of(bytes), c.md5);
        }
        // Written straight into a file, the same bytes.
        TempDir dir;
        int fd = ::open((dir / "t").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        writeTempProfile(fd, c.records);
        ::close(fd);
        EXPECT_EQ(testfiles::readFile(dir / "t"), bytes);
    }
}

TEST(TempProfile, HighBytesAreCharactersOfTheSameValue)
{
    const std::string group = "/Applications/Caf\xc3\xa9.app";
    const std::string bytes = tempWritten({groupOnly(group)});
    TempDir dir;
    testfiles::writeFile(dir / "t", bytes);
    // python3 decodes it as the UTF-32 text it is; Latin-1 gives the bytes back.
    const std::string got = wardtest::shellOutput("python3 -c \"import sys; t = open(sys.argv[1], 'rb').read()"
                                           ".decode('utf-32-be'); sys.stdout.buffer.write(t.encode('latin-1'))\" " +
                                           dir / "t");
    EXPECT_EQ(got, "22 serialization::archive 3 0 0 1 0 0 0  0  23 " + group + " 0 0 0 0 0 0 0 0 1 1");
    const std::string text = wardtest::shellOutput("python3 -c \"import sys; t = open(sys.argv[1], 'rb').read()"
                                            ".decode('utf-32-be'); print(' '.join('%04X' % ord(c) for c in t[t.index('Caf') + 3:t.index('.app')]))\" " +
                                            dir / "t");
    EXPECT_EQ(text, "00C3 00A9\n");
}

struct BasicM {
    std::string path, hash, group;
    bool exec = false, modified = false, enabled = false;
    std::list<RuleM> rules;
    std::vector<std::string> changed;
    int32_t nwAction = 0;
    template <class A> void serialize(A& ar, unsigned)
    {
        ar& path& hash& group& exec& rules& modified& changed& enabled& nwAction;
    }
};

TEST(TempProfileOracle, BoostReadsTheList)
{
    std::list<BasicM> list;
    readWithBoost(tempWritten({groupOnly("/X"), fullRecord()}), list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front().group, "/X");
    EXPECT_TRUE(list.front().enabled);
    EXPECT_EQ(list.front().nwAction, 1);
    const BasicM& b = list.back();
    EXPECT_EQ(b.path, "/bin/a");
    EXPECT_EQ(b.hash, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_TRUE(b.exec);
    EXPECT_TRUE(b.modified);
    EXPECT_EQ(b.changed, Paths{"/usr/lib/a.dylib"});
    ASSERT_EQ(b.rules.size(), 1u);
    EXPECT_EQ(b.rules.front().ip, 0x0A010200u);
    EXPECT_EQ(b.rules.front().portRange, "80");
    EXPECT_EQ(b.nwAction, 3);
}

} // namespace
