// Reports on standard error and the scanner's allocation helpers.
//
// Every report begins with the program-name prefix "%s: " of `progname`,
// which nothing sets, so it reads "(null): ". The reporters never change the
// caller's flow; `fatal`, `system_fatal` and an allocation the heap refuses
// end the process with status 1.
#pragma once

#include <cstdarg>
#include <cstddef>

#define MACHO_PRINTF(f, a) __attribute__((format(printf, f, a)))

namespace macho {

struct ofile;

/// The program-name prefix of every report; never set.
extern const char* progname;

void print(const char* format, ...) MACHO_PRINTF(1, 2);
void vprint(const char* format, va_list ap) MACHO_PRINTF(1, 0);
void error(const char* format, ...) MACHO_PRINTF(1, 2);
void error_with_arch(const char* arch_name, const char* format, ...) MACHO_PRINTF(2, 3);
void archive_error(const ofile* ofile, const char* format, ...) MACHO_PRINTF(2, 3);
void archive_member_error(const ofile* ofile, const char* format, ...) MACHO_PRINTF(2, 3);
void my_mach_error(int code, const char* format, ...) MACHO_PRINTF(2, 3);
[[noreturn]] void fatal(const char* format, ...) MACHO_PRINTF(1, 2);
[[noreturn]] void system_fatal(const char* format, ...) MACHO_PRINTF(1, 2);

/// A heap block of `size` bytes; none (NULL) for 0. Ends the process when
/// the heap refuses. Released with free().
void* allocate(size_t size);
/// Resizes `p` (allocates when NULL); ends the process when the heap refuses.
void* reallocate(void* p, size_t size);
/// A heap copy of `s`.
char* savestr(const char* s);

/// `s`, or "(null)" for a null text: what glibc prints for a null "%s", made
/// explicit because gcc turns some such calls into fputs(NULL).
inline const char* nulltext(const char* s)
{
    return s != nullptr ? s : "(null)";
}

} // namespace macho
