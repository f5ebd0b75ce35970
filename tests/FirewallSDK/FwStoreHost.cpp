// A host program of libportward for the rule-store tests: one subcommand per
// operation, run in the namespace script. It defines the trace variables the
// library binds to (linked -rdynamic) and prints one result line:
//   ok [numbers...]    the operation returned; numbers of the rules it gave
//   status N           an operation that returned a non-zero status
//   error CODE         a FirewallException
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "FWCommands.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

using namespace FirewallSDK;

namespace {

FWCommands& store() { return *FWCommands::getInstance(); }

/// A rule as the firewall pane builds it.
FWExtDetailedData paneRule(int number, const std::string& src, uint32_t category)
{
    FWExtDetailedData r;
    r.setRuleNo(number);
    r.setRuleCategory(category);
    r.setAction(FW_ACTION_ALLOW);
    r.setTrafficDirection(FW_DIRECTION_BOTH);
    r.isLogging(false);
    r.setSrcIp(src);
    r.setDestIp("any");
    r.setSrcPort(FWDetailedData::FIELD_PLAIN, "");
    r.setDestPort(FWDetailedData::FIELD_PLAIN, "");
    return r;
}

std::string numbers(const std::vector<FWExtDetailedData>& rules)
{
    std::string out;
    for (const auto& r : rules)
        out += " " + std::to_string(r.getRuleNo());
    return out;
}

void say(const std::string& line)
{
    std::cout << line << std::endl;
}

unsigned long arg(char** argv, int argc, int i, unsigned long fallback)
{
    return i < argc ? std::strtoul(argv[i], nullptr, 0) : fallback;
}

int run(int argc, char** argv)
{
    const std::string cmd = argc > 1 ? argv[1] : "";
    std::vector<FWExtDetailedData> rules;
    if (cmd == "get-stored") {
        store().getStoredRules(rules);
        say("ok" + numbers(rules));
    } else if (cmd == "add") { // add [NUMBER [CATEGORY [SOURCE]]]
        int n = static_cast<int>(arg(argv, argc, 2, 5122));
        uint32_t c = static_cast<uint32_t>(arg(argv, argc, 3, 0x10000000u));
        int st = store().addRule(paneRule(n, argc > 4 ? argv[4] : "any", c), rules, c & 0xFFFF0000u);
        say(st == 0 ? "ok" + numbers(rules) : "status " + std::to_string(st));
    } else if (cmd == "add-many") { // add-many COUNT TAG: distinct sources 10.TAG.x.y
        unsigned long count = arg(argv, argc, 2, 1);
        unsigned long tag = arg(argv, argc, 3, 1);
        for (unsigned long i = 0; i < count; ++i) {
            std::string src = "10." + std::to_string(tag) + "." + std::to_string(i / 250) + "." +
                              std::to_string(i % 250 + 1);
            int st = store().addRule(paneRule(5122, src, 0x10000000u), rules, 0x10000000u);
            rules.clear();
            if (st != 0) {
                say("status " + std::to_string(st));
                return 0;
            }
        }
        say("ok");
    } else if (cmd == "update") { // update NUMBER SOURCE
        int st = store().updateRule(paneRule(static_cast<int>(arg(argv, argc, 2, 5122)), argc > 3 ? argv[3] : "any",
                                             0x10000000u),
                                    rules, 0x10000000u);
        say(st == 0 ? "ok" + numbers(rules) : "status " + std::to_string(st));
    } else if (cmd == "swap") {
        int st = store().swapRules({static_cast<int>(arg(argv, argc, 2, 0)), static_cast<int>(arg(argv, argc, 3, 0))},
                                   rules, 0x10000000u);
        say(st == 0 ? "ok" + numbers(rules) : "status " + std::to_string(st));
    } else if (cmd == "delete-category") {
        say("ok " + std::to_string(store().deleteRule(static_cast<unsigned>(arg(argv, argc, 2, 0)))));
    } else if (cmd == "delete") {
        std::vector<int> nos;
        for (int i = 2; i < argc; ++i)
            nos.push_back(std::atoi(argv[i]));
        store().deleteRule(nos);
        say("ok");
    } else if (cmd == "resequence") {
        store().reSequenceRulenumbers();
        say("ok");
    } else if (cmd == "stored-category") {
        int r = store().getStoredRulesBasedOnCategory(static_cast<unsigned>(arg(argv, argc, 2, 0)), rules);
        say("ok " + std::to_string(r) + numbers(rules));
    } else if (cmd == "count") {
        say("ok " + std::to_string(store().ruleCountInStore(static_cast<unsigned>(arg(argv, argc, 2, 0)))));
    } else if (cmd == "in-store") {
        say(std::string("ok ") + (store().isRuleInStore(std::atoi(argc > 2 ? argv[2] : "0")) ? "1" : "0"));
    } else if (cmd == "ipfw-rules") {
        store().getIpfwRule(rules);
        say("ok" + numbers(rules));
    } else if (cmd == "realtime") {
        store().getRealTimeRule(rules);
        say("ok" + numbers(rules));
    } else if (cmd == "realtime-category") {
        int r = store().getRealTimeRulesBasedOnCategory(static_cast<unsigned>(arg(argv, argc, 2, 0)), rules);
        say("ok " + std::to_string(r) + numbers(rules));
    } else if (cmd == "delete-from-ipfw") {
        say("ok " + std::to_string(store().deleteRulesFromIpfw()));
    } else if (cmd == "apply") {
        say("ok " + std::to_string(store().applyAllStoredRules()));
    } else if (cmd == "health") {
        say("ok " + std::to_string(store().ruleHealthCheck()));
    } else if (cmd == "status") {
        bool on = false;
        store().getIpfwStatus(on);
        say(std::string("ok ") + (on ? "1" : "0"));
    } else if (cmd == "enable") {
        say("ok " + std::to_string(store().setIpfwStatus(arg(argv, argc, 2, 1) != 0)));
    } else if (cmd == "log-level") {
        int level = 0;
        store().getLogLevel(level);
        say("ok " + std::to_string(level));
    } else if (cmd == "set-log-level") {
        say("ok " + std::to_string(store().setLogLevel(static_cast<int>(arg(argv, argc, 2, 0)))));
    } else if (cmd == "load-wait-release") {
        // Loads, waits for a line on stdin, then releases the store.
        store().getStoredRules(rules);
        say("loaded" + numbers(rules));
        std::string line;
        std::getline(std::cin, line);
        FWCommands::releaseInstance();
        say("released");
    } else if (cmd == "loop-readd") { // loop-readd NUMBER: delete and re-add it forever
        int n = static_cast<int>(arg(argv, argc, 2, 100));
        for (unsigned long i = 0;; ++i) {
            store().deleteRule(std::vector<int>{n});
            if (store().addRule(paneRule(n, "any", 0x10000000u), rules, 0x10000000u) != 0)
                return 1;
            rules.clear();
            if (i == 0)
                say("looping");
        }
    } else {
        std::cerr << "usage: fwstore_host SUBCOMMAND [ARGS]\n";
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    int rc = 0;
    try {
        rc = run(argc, argv);
    } catch (const FirewallException& e) {
        say("error " + std::to_string(e.code));
    }
    FWCommands::releaseInstance();
    return rc;
}
