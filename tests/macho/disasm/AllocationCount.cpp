// Counts the heap allocations of the process while counting is on: malloc
// and its relatives wrap glibc's own entry points. Not built with the
// sanitizers, which bring their own allocator.
#include "BigEndianCases.h"

#include <atomic>
#include <cstddef>

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<unsigned long> allocations{0};
void note()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" {
void* malloc(size_t n)
{
    note();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t m)
{
    note();
    return __libc_calloc(n, m);
}
void* realloc(void* p, size_t n)
{
    note();
    return __libc_realloc(p, n);
}
void* memalign(size_t a, size_t n)
{
    note();
    return __libc_memalign(a, n);
}
}

namespace disasm_test {
bool allocation_counting_available()
{
    return true;
}
void start_counting_allocations()
{
    allocations = 0;
    counting = true;
}
unsigned long stop_counting_allocations()
{
    counting = false;
    return allocations;
}
} // namespace disasm_test
#else
namespace disasm_test {
bool allocation_counting_available()
{
    return false;
}
void start_counting_allocations() {}
unsigned long stop_counting_allocations()
{
    return 0;
}
} // namespace disasm_test
#endif
