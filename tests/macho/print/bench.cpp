// Benchmark: wardmacho against llvm-objdump-14 on the same thin Mach-O files.
//
//   bench [COUNT] [--check]
//
// Writes COUNT files (default 20,000) into a temporary folder: copies of the
// ld64.lld executables and dylibs the fixture generator made, and generated
// i386, x86-64 and big-endian PowerPC files with 2 to 200 library commands.
// Then, on the same chunks of files, times five runs each of
// `wardmacho -L` and `llvm-objdump-14 --macho --dylibs-used`, and of
// `wardmacho -hlv` and `llvm-objdump-14 --macho --private-headers`, and
// prints both medians and their ratio; the library lists also for each kind
// of file alone. With --check it first checks the
// answers: the library lists equal llvm's (less its version tails) and both
// tools list as many load commands per file.
#include "DriverRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Files a process: about what xargs puts on one command line, so that each
// tool's start-up is paid as a user would pay it.
constexpr size_t kChunk = 4000;
const char* const kLlvm = "/usr/bin/llvm-objdump-14";

void put32(std::string& out, uint32_t v, bool big)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(big ? v >> (24 - 8 * i) : v >> (8 * i)));
}

// A thin executable of the processor given, loading `n` libraries.
std::string generated(int32_t cputype, bool big, int n, int seed)
{
    const bool wide = (cputype & 0x01000000) != 0;
    std::string cmds;
    for (int i = 0; i < n; ++i) {
        char name[64];
        snprintf(name, sizeof name, "/usr/lib/lib%03d_%d.dylib", i, seed % 97);
        const size_t align = wide ? 8 : 4;
        size_t size = 24 + strlen(name) + 1;
        size = (size + align - 1) / align * align;
        std::string c;
        put32(c, 12, big); // LC_LOAD_DYLIB
        put32(c, static_cast<uint32_t>(size), big);
        put32(c, 24, big);
        put32(c, 2, big);
        put32(c, 0x10000, big);
        put32(c, 0x10000, big);
        c += name;
        c.resize(size, '\0');
        cmds += c;
    }
    std::string out;
    put32(out, wide ? 0xfeedfacf : 0xfeedface, big);
    put32(out, static_cast<uint32_t>(cputype), big);
    put32(out, cputype == 18 ? 0 : 3, big);
    put32(out, 2, big);
    put32(out, static_cast<uint32_t>(n), big);
    put32(out, static_cast<uint32_t>(cmds.size()), big);
    put32(out, 0, big);
    if (wide)
        put32(out, 0, big);
    return out + cmds;
}

std::vector<std::string> writeFiles(const std::string& dir, size_t count)
{
    std::vector<std::string> lld;
    for (const char* f : {"print/a_x64.exe", "print/libfoo.A.dylib", "print/libSystem.B.dylib", "lld_exe",
                          "lld_exe_weak", "lld_libfoo.dylib", "lld_exe_arm64"})
        lld.push_back(machotest::readFile(machotest::fixture(f)));
    std::vector<std::string> paths;
    for (size_t i = 0; i < count; ++i) {
        std::string bytes;
        const int n = 2 + static_cast<int>(i * 37 % 199);
        switch (i % 4) {
        case 0:
            bytes = lld[i / 4 % lld.size()];
            break;
        case 1:
            bytes = generated(7, false, n, static_cast<int>(i));
            break;
        case 2:
            bytes = generated(0x01000007, false, n, static_cast<int>(i));
            break;
        default:
            bytes = generated(18, true, n, static_cast<int>(i));
            break;
        }
        const std::string p = dir + "/f" + std::to_string(i);
        std::ofstream(p, std::ios::binary) << bytes;
        paths.push_back(p);
    }
    return paths;
}

std::vector<std::vector<std::string>> commands(const std::vector<std::string>& head,
                                               const std::vector<std::string>& files)
{
    std::vector<std::vector<std::string>> out;
    for (size_t i = 0; i < files.size(); i += kChunk) {
        std::vector<std::string> argv = head;
        argv.insert(argv.end(), files.begin() + i, files.begin() + std::min(files.size(), i + kChunk));
        out.push_back(argv);
    }
    return out;
}

double medianSeconds(const std::vector<std::vector<std::string>>& cmds)
{
    std::vector<double> runs;
    for (int r = 0; r < 5; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (const auto& argv : cmds)
            if (machotest::runQuiet(argv) != 0) {
                fprintf(stderr, "bench: %s failed\n", argv[0].c_str());
                exit(1);
            }
        runs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

std::string withoutTails(const std::string& text)
{
    std::istringstream in(text);
    std::string out, l;
    while (std::getline(in, l)) {
        const size_t tail = l.find(" (compatibility version ");
        if (tail != std::string::npos)
            l.erase(tail);
        out += l + "\n";
    }
    return out;
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

bool check(const std::vector<std::string>& files)
{
    for (size_t i = 0; i < files.size(); i += kChunk) {
        std::vector<std::string> chunk(files.begin() + i, files.begin() + std::min(files.size(), i + kChunk));
        std::vector<std::string> ours{WARDMACHO, "-L"}, llvm{kLlvm, "--macho", "--dylibs-used"};
        ours.insert(ours.end(), chunk.begin(), chunk.end());
        llvm.insert(llvm.end(), chunk.begin(), chunk.end());
        if (machotest::runProgram(ours) != withoutTails(machotest::runProgram(llvm))) {
            fprintf(stderr, "bench: library lists differ from llvm-objdump's in files %zu..\n", i);
            return false;
        }
        ours[1] = "-hlv";
        llvm[2] = "--private-headers";
        const std::string a = machotest::runProgram(ours);
        const std::string b = machotest::runProgram(llvm);
        if (count(a, "\nLoad command ") + (a.rfind("Load command ", 0) == 0) != count(b, "\nLoad command ")
            || count(a, "Mach header\n") != chunk.size()) {
            fprintf(stderr, "bench: load commands listed differ from llvm-objdump's in files %zu..\n", i);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    size_t n = 20000;
    bool checking = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--check") == 0)
            checking = true;
        else
            n = strtoull(argv[i], nullptr, 10);
    }
    if (n == 0) {
        fprintf(stderr, "usage: bench [COUNT] [--check]\n");
        return 2;
    }
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C", 1);
    char dir[] = "/tmp/wardmacho-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    const std::vector<std::string> files = writeFiles(dir, n);
    int status = 0;
    if (checking && !check(files))
        status = 1;
    if (status == 0) {
        struct Pair {
            const char* what;
            std::vector<std::string> ours, llvm;
        } pairs[] = {
            {"library lists", {WARDMACHO, "-L"}, {kLlvm, "--macho", "--dylibs-used"}},
            {"headers and load commands", {WARDMACHO, "-hlv"}, {kLlvm, "--macho", "--private-headers"}},
        };
        printf("%zu files, %zu per process, median of 5 runs\n", n, kChunk);
        for (const Pair& p : pairs) {
            const double ours = medianSeconds(commands(p.ours, files));
            const double llvm = medianSeconds(commands(p.llvm, files));
            printf("%-26s wardmacho %.3f s  llvm-objdump-14 %.3f s  ratio %.3f\n", p.what, ours, llvm, ours / llvm);
        }
        // The library lists again, each kind of file on its own: llvm-objdump
        // reads the small generated files much faster than linked ones.
        std::vector<std::string> linked, made;
        for (size_t i = 0; i < files.size(); ++i)
            (i % 4 == 0 ? linked : made).push_back(files[i]);
        for (const auto& kind : {std::make_pair("  ld64.lld files", &linked), std::make_pair("  generated files", &made)}) {
            const double ours = medianSeconds(commands(pairs[0].ours, *kind.second));
            const double llvm = medianSeconds(commands(pairs[0].llvm, *kind.second));
            printf("%-26s wardmacho %.3f s  llvm-objdump-14 %.3f s  ratio %.3f\n", kind.first, ours, llvm,
                   ours / llvm);
        }
    }
    for (const std::string& f : files)
        unlink(f.c_str());
    rmdir(dir);
    return status;
}
