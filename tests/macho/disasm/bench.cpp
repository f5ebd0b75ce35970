// bench [FILE] [--64]
// Disassembles the raw bytes of FILE with our loop (address and
// instruction a line, as wardmacho prints them, stdout on /dev/null) and
// then with objdump -D -b binary -m i386 -M suffix FILE, best of three runs
// each, and prints both times and the ratio ours/objdump. Without FILE the
// 1 MiB i386 corpus is used, made in the build folder on first use.
#include "disasm/disasm.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Trace host variables that librulebook expects from its program.
FILE* logFilePtr = nullptr;
int traceInited = 0;

namespace {

using clock_type = std::chrono::steady_clock;

// Runs argv with stdout on /dev/null; its exit status (-1 when it could not run).
int run_quiet(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string file;
    bool is64 = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--64") == 0)
            is64 = true;
        else if (file.empty())
            file = argv[i];
        else {
            fprintf(stderr, "usage: bench [FILE] [--64]\n");
            return 2;
        }
    }
    if (file.empty()) {
        file = DISASM_BENCH_CORPUS;
        if (!exists(file)) {
            fprintf(stderr, "making the benchmark corpus %s (once)\n", file.c_str());
            if (run_quiet({DISASM_PYTHON3, DISASM_FIXTURE_SCRIPT, "--bench", file}) != 0) {
                fprintf(stderr, "bench: could not make %s\n", file.c_str());
                return 1;
            }
        }
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        perror(file.c_str());
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // Ours: stdout on /dev/null for the loop, back afterwards.
    fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    if (saved < 0 || null < 0)
        return 1;
    const macho::load_commands_view no_commands{nullptr, 0, 0, 0};
    double ours = 1e30;
    uint64_t instructions = 0;
    for (int run = 0; run < 3; ++run) {
        dup2(null, 1);
        const auto t0 = clock_type::now();
        uint64_t n = 0;
        for (uint64_t off = 0; off < bytes.size(); ++n) {
            if (is64)
                printf("%016llx\t", static_cast<unsigned long long>(off));
            else
                printf("%08x\t", static_cast<uint32_t>(off));
            const uint32_t len =
                macho::i386_disassemble(bytes.data() + off, bytes.size() - off, off, 0, macho::LITTLE_ENDIAN_BYTE_SEX,
                                        nullptr, 0, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                        is64 ? 0x01000007 : 7, no_commands, 0, 0, 0);
            off += len == 0 ? 1 : len;
        }
        fflush(stdout);
        const double s = std::chrono::duration<double>(clock_type::now() - t0).count();
        dup2(saved, 1);
        ours = s < ours ? s : ours;
        instructions = n;
    }

    double theirs = 1e30;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = clock_type::now();
        const int status = run_quiet({"objdump", "-D", "-b", "binary", "-m", is64 ? "i386:x86-64" : "i386", "-M",
                                      "suffix", file});
        const double s = std::chrono::duration<double>(clock_type::now() - t0).count();
        if (status != 0) {
            fprintf(stderr, "bench: objdump failed (%d)\n", status);
            return 1;
        }
        theirs = s < theirs ? s : theirs;
    }
    printf("file: %s (%zu bytes, %llu instructions, %s)\n", file.c_str(), bytes.size(),
           static_cast<unsigned long long>(instructions), is64 ? "x86-64" : "i386");
    printf("ours:    %.3f s (best of 3)\n", ours);
    printf("objdump: %.3f s (best of 3)\n", theirs);
    printf("ratio ours/objdump: %.2f (goal <= 1.0)\n", ours / theirs);
    return 0;
}
