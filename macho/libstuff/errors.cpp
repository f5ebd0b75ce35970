#include "errors.h"

#include "ofile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace macho {

const char* progname = nullptr;

namespace {

// Holds stderr for one report so that threads do not interleave one line.
class StderrLock {
public:
    StderrLock() { flockfile(stderr); }
    ~StderrLock() { funlockfile(stderr); }
    StderrLock(const StderrLock&) = delete;
    StderrLock& operator=(const StderrLock&) = delete;
};

void prefix()
{
    fprintf(stderr, "%s: ", nulltext(progname));
}

} // namespace

void vprint(const char* format, va_list ap)
{
    vfprintf(stderr, format, ap);
}

void print(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    vprint(format, ap);
    va_end(ap);
}

void error(const char* format, ...)
{
    StderrLock lock;
    prefix();
    va_list ap;
    va_start(ap, format);
    vprint(format, ap);
    va_end(ap);
    fputc('\n', stderr);
}

void error_with_arch(const char* arch_name, const char* format, ...)
{
    StderrLock lock;
    prefix();
    if (arch_name != nullptr)
        fprintf(stderr, "for architecture: %s ", arch_name);
    va_list ap;
    va_start(ap, format);
    vprint(format, ap);
    va_end(ap);
    fputc('\n', stderr);
}

void archive_error(const ofile* ofile, const char* format, ...)
{
    StderrLock lock;
    if (ofile->file_type == OFILE_FAT)
        print("%s: for architecture %s archive: %s ", nulltext(progname),
              nulltext(ofile->arch_flag.name), nulltext(ofile->file_name));
    else
        print("%s: archive: %s ", nulltext(progname), nulltext(ofile->file_name));
    va_list ap;
    va_start(ap, format);
    vprint(format, ap);
    va_end(ap);
    print("\n");
}

void archive_member_error(const ofile* ofile, const char* format, ...)
{
    StderrLock lock;
    const int namelen = static_cast<int>(ofile->member_name_size);
    const char* name = ofile->member_name != nullptr ? ofile->member_name : "";
    if (ofile->file_type == OFILE_FAT)
        print("%s: for architecture %s archive member: %s(%.*s) ", nulltext(progname),
              nulltext(ofile->arch_flag.name), nulltext(ofile->file_name), namelen, name);
    else
        print("%s: archive member: %s(%.*s) ", nulltext(progname),
              nulltext(ofile->file_name), namelen, name);
    va_list ap;
    va_start(ap, format);
    vprint(format, ap);
    va_end(ap);
    print("\n");
}

void my_mach_error(int code, const char* format, ...)
{
    StderrLock lock;
    prefix();
    va_list ap;
    va_start(ap, format);
    vprint(format, ap);
    va_end(ap);
    fprintf(stderr, " (%s)\n", strerror(code));
}

void fatal(const char* format, ...)
{
    {
        StderrLock lock;
        prefix();
        va_list ap;
        va_start(ap, format);
        vprint(format, ap);
        va_end(ap);
        fputc('\n', stderr);
    }
    exit(1);
}

void system_fatal(const char* format, ...)
{
    const int saved = errno;
    {
        StderrLock lock;
        prefix();
        va_list ap;
        va_start(ap, format);
        vprint(format, ap);
        va_end(ap);
        fprintf(stderr, " (%s)\n", strerror(saved));
    }
    exit(1);
}

void* allocate(size_t size)
{
    if (size == 0)
        return nullptr;
    void* p = malloc(size);
    if (p == nullptr)
        system_fatal("virtual memory exhausted (malloc failed)");
    return p;
}

void* reallocate(void* p, size_t size)
{
    if (p == nullptr)
        return allocate(size);
    void* q = realloc(p, size);
    if (q == nullptr && size != 0)
        system_fatal("virtual memory exhausted (realloc failed)");
    return q;
}

char* savestr(const char* s)
{
    const size_t n = strlen(s) + 1;
    char* copy = static_cast<char*>(allocate(n));
    memcpy(copy, s, n);
    return copy;
}

} // namespace macho
