// A host program for FWWrapper checks that need a process of their own
// (another user, strace). Prints one line: "ok N" or "code C MESSAGE".
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "FWWrapper.h"
#include "RuleListSource.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

using namespace FirewallSDK;

namespace {
struct RawRule : FWExtDetailedData {
    explicit RawRule(int number) { ruleNo = number; }
};
} // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    try {
        FWWrapper w;
        if (mode == "check") {
            std::printf("ok\n");
            return 0;
        }
        if (mode == "rules-as-nobody") {
            // Drop to 65534 in-process: leaving uid 0 clears every capability.
            if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                ::setresuid(65534, 65534, 65534) != 0) {
                std::perror("drop privileges");
                return 2;
            }
            mode = "rules";
        }
        if (mode == "rules") {
            // The default rule alone, without touching any state folder.
            std::vector<uint8_t> list = ipfw::defaultRuleRecord();
            ipfw::setRuleListSource([&list](int, void* buf, socklen_t* len) {
                size_t n = list.size() < *len ? list.size() : *len;
                std::memcpy(buf, list.data(), n);
                *len = static_cast<socklen_t>(n);
                return 0;
            });
            std::vector<FWExtDetailedData> rules;
            w.getFirewallRules(rules);
            std::printf("ok %zu\n", rules.size());
        } else if (mode == "add" || mode == "unreach") {
            RawRule r(65532);
            r.setAction(std::string(mode == "add" ? "deny" : "unreach"));
            r.isLogging(true);
            r.setProtocol(FWDetailedData::FIELD_PLAIN, "ip");
            r.setTrafficDirection(FW_DIRECTION_IN);
            std::vector<std::string> lines;
            std::printf("ok %d\n", w.execCommand(r, lines));
        } else {
            std::fprintf(stderr, "usage: %s check|rules|rules-as-nobody|add|unreach\n", argv[0]);
            return 2;
        }
    } catch (const FirewallException& e) {
        std::printf("code %d %s\n", static_cast<int>(e.code), e.getErrorMsg().c_str());
    }
    return 0;
}
