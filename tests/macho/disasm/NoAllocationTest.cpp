// The disassembler allocates nothing: a counting malloc and operator new
// watch a corpus being disassembled. (Under the sanitizers, whose runtime
// owns malloc, the count is not built and the test is skipped.)
#include "CaseRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DISASM_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DISASM_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef DISASM_COUNT_ALLOCATIONS
#define DISASM_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<long> allocations{0};
}

#if DISASM_COUNT_ALLOCATIONS
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

extern "C" void* malloc(size_t n)
{
    ++allocations;
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m)
{
    ++allocations;
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n)
{
    ++allocations;
    return __libc_realloc(p, n);
}
void* operator new(size_t n)
{
    ++allocations;
    void* p = __libc_malloc(n == 0 ? 1 : n);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n)
{
    return operator new(n);
}
#endif

namespace {

std::vector<char> read_fixture(const char* name)
{
    std::ifstream in(std::string(DISASM_FIXTURE_DIR) + "/" + name, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(X86Allocation, CorpusDisassembledWithoutAllocating)
{
    if (!DISASM_COUNT_ALLOCATIONS)
        GTEST_SKIP() << "the sanitizers' runtime owns malloc";
    // the counter sees what the process allocates
    const long start = allocations.load();
    free(malloc(16));
    delete new std::string(100, 'x');
    ASSERT_GE(allocations.load() - start, 2);

    const macho::load_commands_view no_commands{nullptr, 0, 0, 0};
    const macho::sorted_symbol sorted[] = {{"_a", 0x10}, {"_b", 0x100}, {"_c", 0x1000}};
    for (const char* name : {"corpus32.bin", "corpus64.bin"}) {
        SCOPED_TRACE(name);
        const std::vector<char> bytes = read_fixture(name);
        ASSERT_GT(bytes.size(), 1000u);
        const int32_t cputype = std::string(name) == "corpus64.bin" ? 0x01000007 : 7;
        long seen = -1;
        uint64_t count = 0;
        disasm_test::capture([&] {
            // the first line sets up the stream's buffer
            printf("start\n");
            fflush(stdout);
            const long before = allocations.load();
            for (int verbose = 0; verbose < 2; ++verbose) {
                for (uint64_t off = 0; off < bytes.size(); ++count) {
                    const uint32_t len = macho::i386_disassemble(
                        bytes.data() + off, bytes.size() - off, off, 0, macho::LITTLE_ENDIAN_BYTE_SEX, nullptr, 0,
                        nullptr, nullptr, 0, sorted, 3, nullptr, 0, nullptr, 0, cputype, no_commands, 0, 0, verbose);
                    off += len == 0 ? 1 : len;
                }
            }
            seen = allocations.load() - before;
        });
        EXPECT_GT(count, 1000u);
        EXPECT_EQ(seen, 0);
    }
}

} // namespace
