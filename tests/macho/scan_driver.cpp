// Runs one scanner entry point on one file and writes its answers to a file
// of its own, so that the scanner's standard output and standard error stay
// exactly what the scanner wrote.
//
//   macho_scan_driver MODE PATH ANSWERS [--limit-as BYTES] [--vflag] [--fflag] [--Wflag]
//   MODE: deps | exec | member:NAME
#include "libstuff/ofile.h"
#include "options.h"
#include "scanner.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

#include "LimitedChild.h"

// Trace host variables that librulebook expects from its program.
FILE* logFilePtr = nullptr;
int traceInited = 0;

namespace {

int usage()
{
    fprintf(stderr, "usage: macho_scan_driver deps|exec|member:NAME PATH ANSWERS [options]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return usage();
    const std::string mode = argv[1];
    const char* path = argv[2];
    const char* answers = argv[3];
    for (int i = 4; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--limit-as" && i + 1 < argc) {
            // The sanitizers reserve their shadow memory up front and cannot
            // run under an address-space limit.
            const rlim_t limit = strtoull(argv[++i], nullptr, 10);
            if (!wardtest::kSanitized && !wardtest::limitAddressSpace(limit)) {
                perror("setrlimit");
                return 2;
            }
        } else if (opt == "--vflag") {
            vflag = 1;
        } else if (opt == "--fflag") {
            fflag = 1;
        } else if (opt == "--Wflag") {
            Wflag = 1;
        } else {
            return usage();
        }
    }

    std::string out;
    if (mode == "deps") {
        dependant_libraries libs{0, nullptr};
        const int r = getDependantLibraries(path, &libs);
        out += "result=" + std::to_string(r) + "\n";
        out += "count=" + std::to_string(libs.count) + "\n";
        out += std::string("names=") + (libs.names != nullptr ? "array" : "NULL") + "\n";
        for (int32_t i = 0; i < libs.count; ++i)
            out += std::string("name=") + libs.names[i] + "\n";
        if (libs.names != nullptr) {
            for (int32_t i = 0; i < libs.count; ++i)
                free(libs.names[i]);
            free(libs.names);
        }
    } else if (mode == "exec") {
        out += "exec=" + std::to_string(isFileMachOExecutable(path)) + "\n";
    } else if (mode.compare(0, 7, "member:") == 0) {
        const std::string name = mode.substr(7);
        macho::ofile of;
        const int r = macho::ofile_map(path, nullptr, name.c_str(), &of, 0);
        out += "result=" + std::to_string(r) + "\n";
        if (r) {
            out += "member_type=" + std::to_string(of.member_type) + "\n";
            out += "member_offset=" + std::to_string(of.member_file_offset) + "\n";
            out += "member_size=" + std::to_string(of.member_size) + "\n";
            // The record keeps the name up to its first NUL; the header's
            // length is padded out with NULs.
            std::string member_name(of.member_name);
            member_name.resize(of.member_name_size, '\0');
            out += "member_name=" + member_name + "\n";
            out += std::string("object=") + (of.mh != nullptr || of.mh64 != nullptr ? "1" : "0") + "\n";
        }
        macho::ofile_unmap(&of);
    } else {
        return usage();
    }

    FILE* f = fopen(answers, "w");
    if (f == nullptr) {
        perror(answers);
        return 2;
    }
    fwrite(out.data(), 1, out.size(), f);
    return fclose(f) == 0 ? 0 : 2;
}
