// codesign_probe TOOL PATH: runs the code-signature check of PATH with TOOL
// as the codesign tool, for a test that watches it under strace. Prints 1
// for Apple-signed, 0 otherwise.
#include <cstdio>

#include "CodeSignChecker.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: codesign_probe TOOL PATH\n");
        return 2;
    }
    AppProtection::CodesignToolChecker checker(argv[1]);
    std::printf("%d\n", checker.isAppleSigned(argv[2]) ? 1 : 0);
    return 0;
}
