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

const std::string& writeInputFile(const uint8_t* data, size_t size)
{
    struct InputFile {
        int fd = -1;
        std::string path;
    };
    static const InputFile file = [] {
        // In memory where the machine has it: the file is rewritten at every input.
        const char* dir = std::getenv("TMPDIR");
        if (dir == nullptr || *dir == '\0')
            dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string p = std::string(dir) + "/ward-fuzz-input.XXXXXX";
        InputFile f;
        f.fd = mkstemp(&p[0]);
        check(f.fd >= 0, "cannot make the input file");
        unlink(p.c_str());
        f.path = "/proc/self/fd/" + std::to_string(f.fd);
        return f;
    }();
    check(ftruncate(file.fd, 0) == 0, "cannot empty the input file");
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(file.fd, data + done, size - done, static_cast<off_t>(done));
        check(n > 0, "cannot write the input file");
        done += static_cast<size_t>(n);
    }
    return file.path;
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
