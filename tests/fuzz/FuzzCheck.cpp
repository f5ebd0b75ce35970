#include "FuzzCheck.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
int reportFd = 2;
}

// libFuzzer calls this before it closes standard error (-close_fd_mask).
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::setlocale(LC_CTYPE, "C.UTF-8"); // as the system's programs start
    const int fd = dup(2);
    if (fd >= 0)
        reportFd = fd;
    if (const char* dir = std::getenv("WARD_FUZZ_SEEDS")) {
        if (fuzzcheck::writeSeeds != nullptr)
            fuzzcheck::writeSeeds(dir);
        std::exit(0);
    }
    return 0;
}

namespace fuzzcheck {

void fail(const std::string& what)
{
    const std::string line = "fuzz check failed: " + what + "\n";
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = write(reportFd, line.data() + done, line.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    std::abort();
}

void writeSeed(const std::string& dir, const std::string& name, const std::string& bytes)
{
    const std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    check(f != nullptr, "cannot write the seed " + path);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    check(std::fclose(f) == 0 && ok, "cannot write the seed " + path);
}

} // namespace fuzzcheck
