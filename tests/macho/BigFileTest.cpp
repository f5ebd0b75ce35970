// Files of exactly 4 GiB, holes after their first bytes. Sizes and offsets
// are 64-bit throughout, so the size is not cut to 0 on the way, and only
// the ranges the answers need are read: a few KiB, whatever the file's size
// or what its header claims. strace counts what the driver read.
#include "DriverRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace {

struct Traced {
    int64_t bytes = 0;  // returned by the read calls on the file
    bool mapped = false; // the file was mapped instead
};

// What `strace -y` shows the process did with `path`: every call on it is
// written "name(FD<path>, ...) = result".
Traced readsOf(const std::string& trace, const std::string& path)
{
    Traced t;
    std::istringstream in(trace);
    std::string line;
    const std::string tag = "<" + path + ">";
    while (std::getline(in, line)) {
        if (line.find(tag) == std::string::npos)
            continue;
        const size_t open = line.find('(');
        const size_t space = line.rfind(' ', open);
        const std::string call = line.substr(space + 1, open - space - 1);
        const size_t eq = line.rfind(" = ");
        if (call == "mmap") {
            t.mapped = true;
        } else if (eq != std::string::npos) {
            const long long n = atoll(line.c_str() + eq + 3);
            if (n > 0)
                t.bytes += n;
        }
    }
    return t;
}

std::string le32(std::initializer_list<uint32_t> words)
{
    std::string s;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>(w >> (8 * i));
    return s;
}

std::string tempFile(const char* what)
{
    std::string path = testing::TempDir() + "macho-" + what + "-XXXXXX";
    const int fd = mkstemp(&path[0]);
    close(fd);
    return path;
}

TEST(BigFile, FourGiBReadByRange)
{
    struct Case {
        const char* name;
        std::string bytes; // then holes up to 4 GiB
        std::string deps;  // answers and standard output
        std::string depsOut;
    };
    const std::string name = "/usr/lib/libA.dylib";
    // LC_LOAD_DYLIB, cmdsize 44, name at 24, time stamp, versions, the name.
    const std::string load = le32({0xc, 44, 24, 2, 0x10000, 0x10000}) + name + std::string(44 - 24 - name.size(), '\0');
    const Case cases[] = {
        // An i386 executable header with no load commands.
        {"no_commands", le32({0xfeedface, 7, 3, 2, 0, 0, 0}), "result=1\ncount=0\nnames=array\n", ""},
        // Its header claims 4 GiB of commands; the second is in the hole.
        {"sizeofcmds_4gib", le32({0xfeedface, 7, 3, 2, 2, 0xfffffff0, 0}) + load, "result=1\ncount=0\nnames=array\n",
         "load command 1 size zero (can't advance to other load commands)\n"},
    };
    const std::string path = machotest::fixture("sparse_4gib");
    const std::string traceFile = tempFile("trace");
    // LeakSanitizer cannot work under ptrace: the untraced runs of the other
    // tests look for leaks.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string asanOptions = std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":detect_leaks=0";
    const std::vector<std::string> strace{"/usr/bin/strace", "-f", "-qq", "-y", "-E", asanOptions, "-e",
                                          "trace=read,pread64,readv,preadv,preadv2,mmap", "-o", traceFile};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(static_cast<ssize_t>(c.bytes.size()), write(fd, c.bytes.data(), c.bytes.size()));
        ASSERT_EQ(0, ftruncate(fd, off_t(1) << 32));
        close(fd);

        const auto exec = machotest::runDriver("exec", path, {}, strace);
        EXPECT_EQ(0, exec.status);
        EXPECT_EQ("exec=1\n", exec.answers);
        EXPECT_EQ("", exec.out);
        EXPECT_EQ("", exec.err);
        Traced t = readsOf(machotest::readFile(traceFile), path);
        EXPECT_FALSE(t.mapped);
        EXPECT_GT(t.bytes, 0);
        EXPECT_LT(t.bytes, 1 << 20);

        const auto deps = machotest::runDriver("deps", path, {}, strace);
        EXPECT_EQ(0, deps.status);
        EXPECT_EQ(c.deps, deps.answers);
        EXPECT_EQ(c.depsOut, deps.out);
        EXPECT_EQ("", deps.err);
        t = readsOf(machotest::readFile(traceFile), path);
        EXPECT_FALSE(t.mapped);
        EXPECT_GT(t.bytes, 0);
        EXPECT_LT(t.bytes, 1 << 20);
    }
    unlink(path.c_str());
    unlink(traceFile.c_str());
}

} // namespace
