// The Mach-O scanner's two entry points on a file holding the input: no
// crash, no leak, and both answer from the same reading of the file.
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "FuzzCheck.h"
#include "scanner.h"

namespace {

/// One file per process, rewritten for every input. It is unlinked at once
/// and named through /proc/self/fd, so that no end of the process (a time-out
/// or a crash included) leaves it behind.
struct InputFile {
    int fd = -1;
    std::string path;
};

const InputFile& inputFile()
{
    static const InputFile file = [] {
        // In memory where the machine has it: the file is rewritten at every input.
        const char* dir = std::getenv("TMPDIR");
        if (dir == nullptr || *dir == '\0')
            dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string p = std::string(dir) + "/ward-fuzz-macho.XXXXXX";
        InputFile f;
        f.fd = mkstemp(&p[0]);
        fuzzcheck::check(f.fd >= 0, "cannot make the input file");
        unlink(p.c_str());
        f.path = "/proc/self/fd/" + std::to_string(f.fd);
        return f;
    }();
    return file;
}

void writeInput(const uint8_t* data, size_t size)
{
    const int fd = inputFile().fd;
    fuzzcheck::check(ftruncate(fd, 0) == 0, "cannot empty the input file");
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        fuzzcheck::check(n > 0, "cannot write the input file");
        done += static_cast<size_t>(n);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeInput(data, size);
    fuzzcheck::guard([&] {
        dependant_libraries libs{0, nullptr};
        const int read = getDependantLibraries(inputFile().path.c_str(), &libs);
        fuzzcheck::check(read == 0 || read == 1, "getDependantLibraries answered " + std::to_string(read));
        fuzzcheck::check(libs.count >= 0, "negative library count");
        fuzzcheck::check(libs.count == 0 || libs.names != nullptr, "a count without names");
        for (int32_t i = 0; i < libs.count; ++i) {
            fuzzcheck::check(libs.names[i] != nullptr, "library name " + std::to_string(i) + " is null");
            std::free(libs.names[i]);
        }
        std::free(libs.names);

        const int exec = isFileMachOExecutable(inputFile().path.c_str());
        fuzzcheck::check(exec == 0 || exec == 1, "isFileMachOExecutable answered " + std::to_string(exec));
        // An executable is a file the scanner can read.
        fuzzcheck::check(exec == 0 || read == 1, "an executable whose libraries cannot be read");
    });
    return 0;
}
