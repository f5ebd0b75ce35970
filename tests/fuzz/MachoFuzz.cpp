// The Mach-O scanner's two entry points on a file holding the input: no
// crash, no leak, and both answer from the same reading of the file.
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = fuzzcheck::writeInputFile(data, size);
    fuzzcheck::guard([&] {
        dependant_libraries libs{0, nullptr};
        const int read = getDependantLibraries(path.c_str(), &libs);
        fuzzcheck::check(read == 0 || read == 1, "getDependantLibraries answered " + std::to_string(read));
        fuzzcheck::check(libs.count >= 0, "negative library count");
        fuzzcheck::check(libs.count == 0 || libs.names != nullptr, "a count without names");
        for (int32_t i = 0; i < libs.count; ++i) {
            fuzzcheck::check(libs.names[i] != nullptr, "library name " + std::to_string(i) + " is null");
            std::free(libs.names[i]);
        }
        std::free(libs.names);

        const int exec = isFileMachOExecutable(path.c_str());
        fuzzcheck::check(exec == 0 || exec == 1, "isFileMachOExecutable answered " + std::to_string(exec));
        // An executable is a file the scanner can read.
        fuzzcheck::check(exec == 0 || read == 1, "an executable whose libraries cannot be read");
    });
    return 0;
}
