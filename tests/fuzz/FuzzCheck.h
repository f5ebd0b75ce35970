// What every fuzz target shares: its checks, and a guard that turns an
// exception of an undocumented type into a finding with its text.
//
// scripts/run-fuzz closes the targets' standard output and error (the readers
// report on them at every input); libFuzzer and the sanitizers keep a copy of
// standard error, and so do these checks (saved in LLVMFuzzerInitialize).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>

namespace fuzzcheck {

/// With WARD_FUZZ_SEEDS set to a folder, a target writes its seed inputs
/// there (made with the project's own writers) and exits. A target without
/// seeds of its own leaves this undefined.
void writeSeeds(const std::string& dir) __attribute__((weak));
/// Writes one seed file `dir`/`name`.
void writeSeed(const std::string& dir, const std::string& name, const std::string& bytes);

/// Writes the input to this process's one input file, rewritten for every
/// input, and returns its path. The file is unlinked at once and named
/// through /proc/self/fd, so that no end of the process (a time-out or a
/// crash included) leaves it behind.
const std::string& writeInputFile(const uint8_t* data, size_t size);

/// Reports `what` on the saved standard error and aborts (a crash finding).
[[noreturn]] void fail(const std::string& what);

inline void check(bool ok, const std::string& what)
{
    if (!ok)
        fail(what);
}

/// Runs `fn`; an exception that escapes it is a finding.
template <class Fn> void guard(Fn&& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        fail(std::string("exception of an undocumented type: ") + typeid(e).name() + ": " + e.what());
    } catch (...) {
        fail("exception of an undocumented type (not a std::exception)");
    }
}

} // namespace fuzzcheck
