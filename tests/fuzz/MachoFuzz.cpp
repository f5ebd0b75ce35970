// The Mach-O scanner's two entry points on a file holding the input: no
// crash, no leak, and both answer from the same reading of the file.
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "FuzzCheck.h"
#include "macho/scanner.h"

namespace {

/// One file per process, rewritten for every input.
const std::string& inputFile()
{
    static const std::string path = [] {
        // In memory where the machine has it: the file is rewritten at every input.
        const char* dir = std::getenv("TMPDIR");
        if (dir == nullptr || *dir == '\0')
            dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string p = std::string(dir) + "/ward-fuzz-macho.XXXXXX";
        const int fd = mkstemp(&p[0]);
        fuzzcheck::check(fd >= 0, "cannot make the input file");
        close(fd);
        std::atexit([] { unlink(inputFile().c_str()); });
        return p;
    }();
    return path;
}

void writeInput(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(inputFile().c_str(), "wb");
    fuzzcheck::check(f != nullptr, "cannot open the input file");
    const bool ok = std::fwrite(data, 1, size, f) == size;
    fuzzcheck::check(std::fclose(f) == 0 && ok, "cannot write the input file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeInput(data, size);
    fuzzcheck::guard([&] {
        dependant_libraries libs{0, nullptr};
        const int read = getDependantLibraries(inputFile().c_str(), &libs);
        fuzzcheck::check(read == 0 || read == 1, "getDependantLibraries answered " + std::to_string(read));
        fuzzcheck::check(libs.count >= 0, "negative library count");
        fuzzcheck::check(libs.count == 0 || libs.names != nullptr, "a count without names");
        for (int32_t i = 0; i < libs.count; ++i) {
            fuzzcheck::check(libs.names[i] != nullptr, "library name " + std::to_string(i) + " is null");
            std::free(libs.names[i]);
        }
        std::free(libs.names);

        const int exec = isFileMachOExecutable(inputFile().c_str());
        fuzzcheck::check(exec == 0 || exec == 1, "isFileMachOExecutable answered " + std::to_string(exec));
        // An executable is a file the scanner can read.
        fuzzcheck::check(exec == 0 || read == 1, "an executable whose libraries cannot be read");
    });
    return 0;
}
