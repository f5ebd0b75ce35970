// mkprofile PROFILE PATH:EXEC:NWACTION...
//
// Writes a profile holding one rule per executable PATH: EXEC 1 (may
// launch) or 0, NWACTION 1 (all network), 2 (none) or 3 (custom rules,
// none given). Exit 1 when a rule is refused, 2 on a usage error.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "MakeProfile.h"

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (argc < 2) {
        std::fprintf(stderr, "usage: mkprofile PROFILE PATH:EXEC:NWACTION...\n");
        return 2;
    }
    std::vector<daemontest::Rule> rules;
    for (int i = 2; i < argc; ++i) {
        // From the right: the path may hold colons.
        const std::string arg = argv[i];
        const size_t second = arg.rfind(':');
        const size_t first = second == std::string::npos || second == 0 ? std::string::npos : arg.rfind(':', second - 1);
        const std::string exec = first == std::string::npos ? "" : arg.substr(first + 1, second - first - 1);
        const std::string nw = second == std::string::npos ? "" : arg.substr(second + 1);
        if (first == std::string::npos || first == 0 || (exec != "0" && exec != "1") ||
            (nw != "1" && nw != "2" && nw != "3")) {
            std::fprintf(stderr, "mkprofile: bad rule %s (PATH:EXEC:NWACTION, EXEC 0 or 1, NWACTION 1 to 3)\n",
                         argv[i]);
            return 2;
        }
        rules.push_back(daemontest::Rule{arg.substr(0, first), exec == "1",
                                         static_cast<AppProtection::BasicAppRecord::NetworkAction>(nw[0] - '0')});
    }
    const std::vector<int> results = daemontest::makeProfile(argv[1], rules);
    int rc = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        if (results[i] != AppProtection::SUCCESS) {
            std::fprintf(stderr, "mkprofile: %s refused: %d\n", rules[i].path.c_str(), results[i]);
            rc = 1;
        }
    }
    return rc;
}
