// The preferences store, its file and prefsctl, run inside a private
// /usr/local/Vantrel (tests/ns-run.sh).
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Files.h"
#include "Preferences.h"
#include "Shell.h"

namespace {

const std::string kFolder = "/usr/local/Vantrel/preferences";

using Outcome = wardtest::ShellResult;
using wardtest::readFile;
using wardtest::runShell;

std::string prefsctl(const std::string& args) { return std::string(PREFSCTL) + " " + args; }

class Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The machine's own /usr/local is never written: only inside ns-run.sh.
        ASSERT_STREQ(getenv("WARD_NS_INSIDE"), "1") << "run through tests/ns-run.sh";
        runShell("rm -rf " + kFolder);
        static const char* const keys[] = {"Count", "Flag", "Name", "List"};
        auto list = PreferencesHelper::getInstance()->CreateCFMutableArray();
        list->append(PrefString::createWithUTF8("/usr/sbin"));
        list->append(PrefString::createWithUTF8("/bin"));
        const PrefValueRef defaults[] = {
            PreferencesHelper::getInstance()->CreateCFIntNumber(6),
            PreferencesHelper::getInstance()->CreateCFBoolean(true),
            PrefString::createWithUTF8("/usr/local/Vantrel/x"),
            list,
        };
        store_.initialize("test.domain", keys, defaults, 4);
        // The caller's array goes away: the store kept its own reference.
        list.reset();
    }
    std::string file() const { return kFolder + "/test.domain.plist"; }
    void writeFile(const std::string& text)
    {
        runShell("mkdir -p " + kFolder);
        std::ofstream(file(), std::ios::binary) << text;
    }
    static std::string plist(const std::string& body)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
               "</dict>\n</plist>\n";
    }
    static std::vector<std::string> texts(const PrefArrayRef& a)
    {
        std::vector<std::string> out;
        for (size_t i = 0; a && i < a->count(); ++i)
            out.push_back(a->at(i)->utf8());
        return out;
    }
    std::string getString(const char* key)
    {
        char* s = store_.GetCStringValue(key);
        std::string out = s ? s : "(null)";
        delete[] s;
        return out;
    }
    PreferencesBase store_;
};

TEST_F(Store, DefaultsWithoutFileAndFileHoldsStoredKeysOnly)
{
    EXPECT_EQ(store_.GetIntegerValue("Count"), 6);
    EXPECT_TRUE(store_.GetBooleanValue("Flag"));
    EXPECT_EQ(getString("Name"), "/usr/local/Vantrel/x");
    EXPECT_EQ(texts(store_.GetCFArrayValue("List")), (std::vector<std::string>{"/usr/sbin", "/bin"}));
    EXPECT_EQ(store_.GetCStringValue("Unknown"), nullptr);
    EXPECT_EQ(store_.GetCFArrayValue("Unknown"), nullptr);
    EXPECT_THROW(store_.GetIntegerValue("Unknown"), PreferencesException);

    ASSERT_TRUE(store_.SetIntegerValue("Count", 30));
    EXPECT_EQ(store_.GetIntegerValue("Count"), 30);
    EXPECT_EQ(runShell(prefsctl("get test.domain Count")).out, "30\n");
    // Defaults never reach the file.
    Outcome flag = runShell(prefsctl("get test.domain Flag"));
    EXPECT_EQ(flag.status, 1);
    EXPECT_EQ(flag.out, "");
    EXPECT_EQ(readFile(file()), plist("\t<key>Count</key>\n\t<integer>30</integer>\n"));
}

TEST_F(Store, EveryKindRoundTripsThroughFileXmllintAndPrefsctl)
{
    auto list = PreferencesHelper::getInstance()->CreateCFMutableArray();
    for (const char* s : {"/opt/caf\xc3\xa9", "a&b<c>", "", "tab\there"})
        list->append(PrefString::createWithUTF8(s));
    ASSERT_TRUE(store_.SetCFArrayValue("List", list));
    ASSERT_TRUE(store_.SetBooleanValue("Flag", false));
    ASSERT_TRUE(store_.SetIntegerValue("Count", -2147483647 - 1));
    ASSERT_TRUE(store_.SetCFArrayValue("Empty", PreferencesHelper::getInstance()->CreateCFMutableArray()));
    ASSERT_TRUE(store_.SetValue("Name", PrefString::createWithUTF8("line\r\nend")));
    list->append(PrefString::createWithUTF8("later")); // the store copied the array

    EXPECT_EQ(runShell("xmllint --noout " + file()).status, 0);
    PreferencesBase other; // a fresh reader of the same file
    other.initialize("test.domain", nullptr, nullptr, 0);
    EXPECT_EQ(texts(other.GetCFArrayValue("List")), (std::vector<std::string>{"/opt/caf\xc3\xa9", "a&b<c>", "", "tab\there"}));
    EXPECT_FALSE(other.GetBooleanValue("Flag"));
    EXPECT_EQ(other.GetIntegerValue("Count"), -2147483647 - 1);
    EXPECT_EQ(other.GetCFArrayValue("Empty")->count(), 0u);
    char* name = other.GetCStringValue("Name");
    EXPECT_STREQ(name, "line\r\nend");
    delete[] name;

    struct Case {
        const char* key;
        std::string out;
    } cases[] = {
        {"List", "/opt/caf\xc3\xa9\na&b<c>\n\ntab\there\n"},
        {"Flag", "false\n"},
        {"Count", "-2147483648\n"},
        {"Empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        Outcome r = runShell(prefsctl(std::string("get test.domain ") + c.key));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_EQ(runShell("xmllint --xpath 'name(/plist/dict/key[.=\"Flag\"]/following-sibling::*[1])' " + file()).out,
              "false\n");
}

TEST_F(Store, WrongTypesOutOfRangeAndUnparseableFiles)
{
    writeFile(plist("\t<key>Count</key>\n\t<string>30</string>\n"
                    "\t<key>Big</key>\n\t<integer>99999999999</integer>\n"
                    "\t<key>Flag</key>\n\t<integer>1</integer>\n"
                    "\t<key>Real</key>\n\t<real>1.5</real>\n"));
    EXPECT_THROW(store_.GetIntegerValue("Count"), PreferencesException);
    EXPECT_THROW(store_.GetIntegerValue("Big"), PreferencesException);
    EXPECT_THROW(store_.GetBooleanValue("Flag"), PreferencesException);
    EXPECT_THROW(store_.GetCFArrayValue("Count"), PreferencesException);
    EXPECT_EQ(runShell(prefsctl("get test.domain Big")).out, "99999999999\n");
    EXPECT_EQ(runShell(prefsctl("get test.domain Real")).status, 2);
    // A value of another kind survives a rewrite.
    ASSERT_TRUE(store_.SetIntegerValue("Other", 1));
    EXPECT_EQ(runShell("xmllint --xpath 'string(/plist/dict/key[.=\"Real\"]/following-sibling::*[1])' " + file()).out,
              "1.5\n");

    const std::string bad[] = {
        "<plist version=\"1.0\"><dict><key>Count</key>",
        "",
        "<plist><dict><key>A</key></dict></plist>",
        "<plist><dict><key>A</key><integer>x</integer></dict></plist>",
        "<plist><dict><key>A</key><integer>1</integer><key>A</key><integer>2</integer></dict></plist>",
        "<plist><array/></plist>",
        "<plist><dict>text<key>A</key><true/></dict></plist>",
        // Entities would be written back without their declarations.
        "<!DOCTYPE plist [<!ENTITY e \"1.5\">]>\n"
        "<plist><dict><key>Name</key><string>kept</string><key>R</key><real>&e;</real></dict></plist>",
        "<!DOCTYPE plist [<!ENTITY e \"kept\">]>\n<plist><dict><key>Name</key><string>&e;</string></dict></plist>",
        "<!DOCTYPE plist [<!ENTITY e \"1\">]>\n<plist><dict><key>R</key><data a=\"&e;\"/></dict></plist>",
        "<!DOCTYPE plist SYSTEM \"plist.dtd\">\n<plist><dict><key>R</key><real>&e;</real></dict></plist>",
    };
    for (const auto& text : bad) {
        SCOPED_TRACE(text);
        writeFile(text);
        EXPECT_THROW(store_.GetIntegerValue("Count"), PreferencesException);
        EXPECT_THROW(store_.GetCStringValue("Name"), PreferencesException);
        EXPECT_FALSE(store_.SetIntegerValue("Count", 5));
        EXPECT_EQ(readFile(file()), text);
        EXPECT_EQ(runShell(prefsctl("get test.domain Count") + " 2>/dev/null").status, 2);
        EXPECT_EQ(runShell(prefsctl("set test.domain Count -int 5") + " 2>/dev/null").status, 2);
        EXPECT_EQ(readFile(file()), text);
    }
}

TEST_F(Store, RefusedDomainsAndTexts)
{
    for (const char* domain : {"a/b", ".hidden", ""}) {
        SCOPED_TRACE(domain);
        PreferencesBase s;
        s.initialize(domain, nullptr, nullptr, 0);
        EXPECT_THROW(s.GetStoredValue("K"), PreferencesException);
        EXPECT_FALSE(s.SetIntegerValue("K", 1));
        EXPECT_EQ(runShell(prefsctl(std::string("set '") + domain + "' K -int 1 2>/dev/null")).status, 2);
    }
    EXPECT_EQ(PrefString::createWithUTF8("caf\xe9"), nullptr);
    EXPECT_EQ(PrefString::createWithUTF8("bell\x07"), nullptr);
    EXPECT_EQ(PreferencesHelper::getInstance()->CreateCFString("\xed\xa0\x80"), nullptr);
    EXPECT_NE(PrefString::createWithUTF8("caf\xc3\xa9"), nullptr);
    char small[4] = "xyz";
    EXPECT_FALSE(PrefString::createWithUTF8("abcd")->getCString(small, sizeof small));
    EXPECT_STREQ(small, "xyz");
    EXPECT_TRUE(PrefString::createWithUTF8("abc")->getCString(small, sizeof small));
    EXPECT_STREQ(small, "abc");
}

// A value of a kind the store does not read is kept as XML text; written
// out and read again, that text stays the same, however the first file
// spelled its characters.
TEST(PlistText, KeptValuesReadBackUnchanged)
{
    const std::string cases[] = {
        "<plist><dict><key>R</key><data a=\".e;&#x10FFFF;\"/></dict></plist>",
        "<!DOCTYPE plist [<!ENTITY e \"1\">]>\n<plist><dict><key>R</key><data a=\"&#xE9;\">&#x263A;</data></dict></plist>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><dict><key>R</key><real>caf\xe9</real></dict></plist>",
        "<plist><dict><key>R</key><real>a&#13;b &amp; &lt;</real></dict></plist>",
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        PrefEntries first, second;
        ASSERT_TRUE(settingstore::parsePlist(text, first));
        ASSERT_EQ(first.size(), 1u);
        const std::string kept = static_cast<const PrefOther&>(*first[0].second).xml();
        ASSERT_TRUE(settingstore::parsePlist(settingstore::writePlist(first), second));
        ASSERT_EQ(second.size(), 1u);
        EXPECT_EQ(static_cast<const PrefOther&>(*second[0].second).xml(), kept);
    }
}

// The store's idea of UTF-8 agrees with python3's strict decoder (glibc lets
// some of these through).
TEST(PrefText, Utf8AgreesWithPython)
{
    const std::string cases[] = {
        "caf\xc3\xa9", "caf\xe9", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x8f\xbf\xbf", "\xf4\x90\x80\x80",
        "\xf0\x9f\x98\x80", "\xe2\x82", "\xf8\x88\x80\x80\x80", "plain",
    };
    // One python run answers every case, a line each: 1 when it decodes.
    std::string script = "import sys\n"
                         "for h in sys.argv[1:]:\n"
                         "    try:\n"
                         "        bytes.fromhex(h).decode('utf-8'); print(1)\n"
                         "    except UnicodeDecodeError:\n"
                         "        print(0)\n";
    std::string command = "python3 -c \"" + script + "\"";
    std::vector<std::string> hexes;
    for (const auto& c : cases) {
        std::string hex;
        for (unsigned char b : c) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", b);
            hex += two;
        }
        hexes.push_back(hex);
        command += " " + hex;
    }
    auto run = runShell(command);
    ASSERT_EQ(0, run.status);
    std::istringstream answers(run.out);
    for (size_t i = 0; i < hexes.size(); ++i) {
        SCOPED_TRACE(hexes[i]);
        std::string line;
        ASSERT_TRUE(std::getline(answers, line));
        EXPECT_EQ(PrefString::createWithUTF8(cases[i]) != nullptr, line == "1");
    }
}

TEST_F(Store, PrefsctlArguments)
{
    struct Case {
        std::string args;
        int status;
        std::string get; // what "get test.domain K" prints afterwards
    } cases[] = {
        {"set test.domain K -int 2147483647", 0, "2147483647\n"},
        {"set test.domain K -int 2147483648", 2, "2147483647\n"},
        {"set test.domain K -int 12abc", 2, "2147483647\n"},
        {"set test.domain K -int ' 7'", 2, "2147483647\n"},
        {"set test.domain K -int ''", 2, "2147483647\n"},
        {"set test.domain K -bool true", 0, "true\n"},
        {"set test.domain K -bool yes", 2, "true\n"},
        {"set test.domain K -string 'caf\xc3\xa9'", 0, "caf\xc3\xa9\n"},
        {"set test.domain K -string \"$(printf 'caf\\351')\"", 2, "caf\xc3\xa9\n"},
        {"set test.domain K -array a b", 0, "a\nb\n"},
        {"set test.domain K -array", 0, ""},
        {"delete test.domain K", 0, ""},
        {"delete test.domain K", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(runShell(prefsctl(c.args) + " 2>/dev/null").status, c.status);
        EXPECT_EQ(runShell(prefsctl("get test.domain K")).out, c.get);
    }
    EXPECT_EQ(runShell(prefsctl("get test.domain K")).status, 1);
}

TEST_F(Store, OtherProcessWritesAreSeenWithoutCallback)
{
    struct Counting : PreferencesBase {
        int calls = 0;
        bool PreferenceCallback() override { return ++calls, true; }
    } watched;
    watched.initialize("test.domain", nullptr, nullptr, 0);
    // Equal sizes, same second: the inode and nanosecond time tell them apart.
    ASSERT_EQ(runShell(prefsctl("set test.domain PromptTimeout -int 30")).status, 0);
    EXPECT_EQ(watched.GetIntegerValue("PromptTimeout"), 30);
    ASSERT_EQ(runShell(prefsctl("set test.domain PromptTimeout -int 40")).status, 0);
    EXPECT_EQ(watched.GetIntegerValue("PromptTimeout"), 40);
    ASSERT_TRUE(watched.SetIntegerValue("PromptTimeout", 50));
    EXPECT_EQ(watched.GetIntegerValue("PromptTimeout"), 50);
    EXPECT_EQ(runShell(prefsctl("delete test.domain PromptTimeout")).status, 0);
    EXPECT_THROW(watched.GetIntegerValue("PromptTimeout"), PreferencesException);
    EXPECT_EQ(watched.calls, 0);
}

TEST_F(Store, EveryReadSeesTheFileAsItIsNow)
{
    // Each step changes the file behind the store's back; the next read must
    // see it, also when size and modification time stay the same.
    struct Step {
        const char* what;
        const char* text; // null: the file is removed
        bool keepTimes;   // size and modification time as before the write
        int count;        // -1: reading throws
    };
    const Step steps[] = {
        {"first written", "<integer>11</integer>", false, 11},
        {"same size, times put back", "<integer>12</integer>", true, 12},
        {"removed", nullptr, false, 6},
        {"written again", "<integer>13</integer>", false, 13},
        {"unparseable, times put back", "<integer>1x</integer>", true, -1},
        {"repaired in place", "<integer>14</integer>", true, 14},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        struct stat before {};
        const bool existed = stat(file().c_str(), &before) == 0;
        if (step.text == nullptr) {
            ASSERT_EQ(unlink(file().c_str()), 0);
        } else {
            writeFile(plist(std::string("\t<key>Count</key>\n\t") + step.text + "\n"));
            if (step.keepTimes && existed) {
                const timespec times[2] = {before.st_atim, before.st_mtim};
                ASSERT_EQ(utimensat(AT_FDCWD, file().c_str(), times, 0), 0);
            }
        }
        // A second read of the unchanged file answers the same.
        for (int read = 0; read < 2; ++read) {
            if (step.count < 0) {
                EXPECT_THROW(store_.GetIntegerValue("Count"), PreferencesException);
            } else {
                EXPECT_EQ(store_.GetIntegerValue("Count"), step.count);
            }
        }
    }
}

TEST_F(Store, WriterWaitsForLockHeldByAnotherProcess)
{
    ASSERT_TRUE(store_.SetIntegerValue("Count", 1));
    // python3 holds the lock file with lockf (the same record locks).
    std::string holder = "python3 -c 'import fcntl,sys,time\n"
                         "f=open(\"" + file() + ".lock\",\"r+\")\n"
                         "fcntl.lockf(f,fcntl.LOCK_EX)\n"
                         "print(\"held\",flush=True)\n"
                         "time.sleep(1.5)\n'";
    FILE* p = popen(holder.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[16] = {};
    ASSERT_NE(fgets(line, sizeof line, p), nullptr);
    ASSERT_STREQ(line, "held\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runShell(prefsctl("set test.domain Count -int 2")).status, 0);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(waited, 0.8);
    pclose(p);
    EXPECT_EQ(store_.GetIntegerValue("Count"), 2);
}

TEST_F(Store, ConcurrentWritersOfDifferentKeysLoseNothing)
{
    ASSERT_TRUE(store_.SetIntegerValue("Start", 0));
    // Another process loops over its key while threads here loop over theirs.
    FILE* other = popen(("for i in $(seq 1 60); do " + prefsctl("set test.domain Shell -int $i") +
                         " || echo fail; done").c_str(), "r");
    ASSERT_NE(other, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            PreferencesBase s;
            s.initialize("test.domain", nullptr, nullptr, 0);
            std::string key = "Thread" + std::to_string(t);
            for (int i = 1; i <= 60; ++i)
                if (!s.SetIntegerValue(key.c_str(), i) || s.GetIntegerValue(key.c_str()) != i)
                    ADD_FAILURE() << key << " " << i;
        });
    }
    for (auto& t : threads)
        t.join();
    char buf[256];
    std::string out;
    while (fgets(buf, sizeof buf, other))
        out += buf;
    EXPECT_EQ(pclose(other), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(runShell("xmllint --noout " + file()).status, 0);
    EXPECT_EQ(store_.GetIntegerValue("Shell"), 60);
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(store_.GetIntegerValue(("Thread" + std::to_string(t)).c_str()), 60);
}

TEST_F(Store, ReadOnlyStoreRefusesWrites)
{
    ASSERT_TRUE(store_.SetIntegerValue("Count", 7));
    const std::string before = readFile(file());
    // Root ignores modes: a read-only bind mount refuses it too.
    ASSERT_EQ(mount(kFolder.c_str(), kFolder.c_str(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(mount(nullptr, kFolder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    EXPECT_FALSE(store_.SetIntegerValue("Count", 8));
    EXPECT_FALSE(store_.SetBooleanValue("Flag", false));
    EXPECT_EQ(runShell(prefsctl("set test.domain Count -int 9 2>/dev/null")).status, 2);
    EXPECT_EQ(store_.GetIntegerValue("Count"), 7);
    EXPECT_TRUE(store_.GetBooleanValue("Flag"));
    EXPECT_EQ(readFile(file()), before);
    ASSERT_EQ(umount(kFolder.c_str()), 0);
    EXPECT_TRUE(store_.SetIntegerValue("Count", 8));
}

} // namespace
