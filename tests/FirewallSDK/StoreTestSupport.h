// Helpers of the rule-store tests: the fixed paths, the scripted ipfw first
// on PATH, tables written and read through the records' own serialize
// members, and "unchanged" checks with md5sum and stat.
//
// Runs inside tests/ns-run.sh: /usr/local/Vantrel is a private tmpfs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/map.hpp>

#include "FWCommands.h"
#include "FWRecords.h"
#include "FWWrapper.h"
#include "Files.h"
#include "Shell.h"

namespace fwstore {

using FirewallSDK::FWCommands;
using FirewallSDK::FWExtDetailedData;
using Table = std::map<uint16_t, FWExtDetailedData>;

const std::string kVar = "/usr/local/Vantrel/Firewall/var";
const std::string kRuleFile = kVar + "/QyvRules";
const std::string kLockFile = kRuleFile + ".lock";
const std::string kCorruptFile = kRuleFile + ".corrupt";
const std::string kIpfwState = "/usr/local/Vantrel/ipfw";
const std::string kRulesBin = kIpfwState + "/rules.bin";

using wardtest::shellOutput;

inline bool exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

/// md5sum, inode and modification time: equal when the file was not touched.
inline std::string fileId(const std::string& path)
{
    return shellOutput("md5sum '" + path + "' 2>&1; stat -c '%i %Y' '" + path + "' 2>&1");
}

inline std::string md5(const std::string& path)
{
    std::string s = shellOutput("md5sum < '" + path + "'");
    return s.substr(0, 32);
}

/// The scripted ipfw (scripted_ipfw.sh) first on PATH, for this process and
/// its children. Each process may have its own folder (argv log, script).
class ScriptedIpfw {
public:
    static const std::string& dir()
    {
        static std::string d = setUp();
        return d;
    }
    /// A fresh folder for one child process's log and script, removed with
    /// the others when the test program ends.
    static std::string newFolder()
    {
        static wardtest::TempDir root("fwstore-run");
        std::string tmpl = root / "XXXXXX";
        return ::mkdtemp(&tmpl[0]);
    }
    static void reset()
    {
        std::ofstream(dir() + "/argv.log", std::ios::trunc).close();
        std::ofstream(dir() + "/script", std::ios::trunc).close();
    }
    static void script(const std::vector<std::string>& lines, const std::string& folder = dir())
    {
        std::ofstream out(folder + "/script", std::ios::app);
        for (const std::string& l : lines)
            out << l << "\n";
    }
    /// Every ipfw run so far, each its argv without argv[0].
    static std::vector<std::vector<std::string>> calls(const std::string& folder = dir())
    {
        std::vector<std::vector<std::string>> runs;
        std::ifstream in(folder + "/argv.log", std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> args;
            std::string arg;
            for (char c : line) {
                if (c == '\0') {
                    args.push_back(arg);
                    arg.clear();
                } else {
                    arg.push_back(c);
                }
            }
            runs.push_back(args);
        }
        return runs;
    }
    /// The runs as "add 5002 allow ..." lines.
    static std::vector<std::string> callLines(const std::string& folder = dir())
    {
        std::vector<std::string> out;
        for (const auto& args : calls(folder)) {
            std::string l;
            for (const std::string& a : args)
                l += (l.empty() ? "" : " ") + a;
            out.push_back(l);
        }
        return out;
    }

private:
    static std::string setUp()
    {
        std::string d = newFolder();
        std::string link = d + "/bin";
        ::mkdir(link.c_str(), 0755);
        ::symlink(FWSTORE_SCRIPTED_IPFW, (link + "/ipfw").c_str());
        std::string path = link + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
        ::setenv("PATH", path.c_str(), 1);
        ::setenv("FWTEST_DIR", d.c_str(), 1);
        ::setenv("FWTEST_IPFW", FWSTORE_IPFW_PROGRAM, 1);
        return d;
    }
};

/// The stand-in run directly (not logged): changes the kernel by hand.
inline int standIn(const std::string& args)
{
    return std::system((std::string(FWSTORE_IPFW_PROGRAM) + " " + args + " >/dev/null 2>&1").c_str());
}

/// No store instance, no rule file, empty kernel.
inline void resetState()
{
    FWCommands::releaseInstance();
    shellOutput("rm -rf '" + kVar + "' '" + kIpfwState + "'");
}

/// Empty machine with the scripted ipfw first on PATH and a fresh log.
inline void resetMachine()
{
    resetState();
    ScriptedIpfw::dir();
    ScriptedIpfw::reset();
}

/// Writes a table as the store would, through the records' serialize.
inline void writeTable(const Table& table)
{
    shellOutput("mkdir -p '" + kVar + "'");
    std::ofstream out(kRuleFile, std::ios::trunc);
    boost::archive::text_oarchive ar(out, 0);
    ar << table;
}

inline Table readTable(const std::string& path = kRuleFile)
{
    Table table;
    std::ifstream in(path);
    boost::archive::text_iarchive ar(in, 0);
    ar >> table;
    return table;
}

inline std::vector<int> keysOf(const Table& table)
{
    std::vector<int> keys;
    for (const auto& e : table)
        keys.push_back(e.first);
    return keys;
}

inline std::vector<int> numbersOf(const std::vector<FWExtDetailedData>& rules)
{
    std::vector<int> out;
    for (const auto& r : rules)
        out.push_back(r.getRuleNo());
    return out;
}

/// The kernel's rule numbers, 65535 included.
inline std::vector<int> kernelNumbers()
{
    std::vector<FWExtDetailedData> rules;
    FirewallSDK::FWWrapper().getFirewallRules(rules);
    return numbersOf(rules);
}

/// A rule as the firewall pane builds it: single address texts, one empty
/// port entry per side, direction both, logging off, no protocol entries.
inline FWExtDetailedData paneRule(int number = 5122, const std::string& src = "any",
                                  const std::string& dst = "any", uint32_t category = 0x10000000u)
{
    FWExtDetailedData r;
    r.setRuleNo(number);
    r.setRuleCategory(category);
    r.setAction(FirewallSDK::FW_ACTION_ALLOW);
    r.setTrafficDirection(FirewallSDK::FW_DIRECTION_BOTH);
    r.isLogging(false);
    r.setSrcIp(src);
    r.setDestIp(dst);
    r.setSrcPort(FirewallSDK::FWDetailedData::FIELD_PLAIN, "");
    r.setDestPort(FirewallSDK::FWDetailedData::FIELD_PLAIN, "");
    return r;
}

/// Categories setRuleCategory refuses (2, 4, 8 reach a table only through a
/// file written otherwise).
inline void forceCategory(FWExtDetailedData& rule, uint32_t category)
{
    struct Setter : FWExtDetailedData {
        void set(uint32_t c) { this->category = c; }
    };
    Setter s;
    static_cast<FWExtDetailedData&>(s) = rule;
    s.set(category);
    rule = s;
}

/// A stored rule as the store keeps it (lists filled, as after its checks).
inline FWExtDetailedData storedRule(int number, uint32_t category = 0x10000000u, const std::string& name = "")
{
    FWExtDetailedData r;
    r.setRuleNo(number);
    forceCategory(r, category);
    r.setRuleName(name.empty() ? "r" + std::to_string(number) : name);
    r.setAction(FirewallSDK::FW_ACTION_ALLOW);
    r.setProtocol(FirewallSDK::FW_PROTOCOL_IP);
    r.setSrcIp("any");
    r.setDestIp("any");
    r.setSrcIp(FirewallSDK::FWDetailedData::FIELD_PLAIN, "any");
    r.setDestIp(FirewallSDK::FWDetailedData::FIELD_PLAIN, "any");
    return r;
}

} // namespace fwstore
