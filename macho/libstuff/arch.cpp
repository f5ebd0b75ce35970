#include "arch.h"

#include "errors.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace macho {

namespace {

char* constname(const char* s)
{
    return const_cast<char*>(s);
}

// The order decides which row a lookup finds first.
const arch_flag kArchFlags[] = {
    {constname("any"), -1, -1},
    {constname("little"), -1, 0},
    {constname("big"), -1, 1},
    {constname("ppc64"), 0x1000012, 0},
    {constname("x86_64"), 0x1000007, 3},
    {constname("ppc970-64"), 0x1000012, 100},
    {constname("ppc"), 18, 0},
    {constname("i386"), 7, 3},
    {constname("m68k"), 6, 1},
    {constname("hppa"), 11, 0},
    {constname("sparc"), 14, 0},
    {constname("m88k"), 13, 0},
    {constname("i860"), 15, 0},
    {constname("veo"), 255, 2},
    {constname("ppc601"), 18, 1},
    {constname("ppc603"), 18, 3},
    {constname("ppc603e"), 18, 4},
    {constname("ppc603ev"), 18, 5},
    {constname("ppc604"), 18, 6},
    {constname("ppc604e"), 18, 7},
    {constname("ppc750"), 18, 9},
    {constname("ppc7400"), 18, 10},
    {constname("ppc7450"), 18, 11},
    {constname("ppc970"), 18, 100},
    {constname("i486"), 7, 4},
    {constname("i486SX"), 7, 132},
    {constname("pentium"), 7, 5},
    {constname("i586"), 7, 5},
    {constname("pentpro"), 7, 22},
    {constname("i686"), 7, 22},
    {constname("pentIIm3"), 7, 54},
    {constname("pentIIm5"), 7, 86},
    {constname("pentium4"), 7, 10},
    {constname("m68030"), 6, 3},
    {constname("m68040"), 6, 2},
    {constname("hppa7100LC"), 11, 1},
    {constname("veo1"), 255, 1},
    {constname("veo2"), 255, 2},
    {constname("veo3"), 255, 3},
    {constname("veo4"), 255, 4},
    {nullptr, 0, 0},
};
static_assert(sizeof kArchFlags / sizeof kArchFlags[0] == 41, "40 rows and the end row");

// x86 hosts (i386 to x86_64) answer as an i386; others cannot tell.
int builtin_host_query(int32_t* cputype, int32_t* cpusubtype)
{
#if defined(__i386__) || defined(__x86_64__)
    *cputype = 7;
    *cpusubtype = 3;
    return 1;
#else
    (void)cputype;
    (void)cpusubtype;
    return 0;
#endif
}

HostQuery g_host_query = builtin_host_query;

std::string format(const char* fmt, unsigned a, unsigned b)
{
    char buf[64];
    snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

void name_both(arch_flag* family, const char* family_name, int32_t family_subtype,
               arch_flag* specific, const char* specific_name)
{
    if (family != nullptr) {
        family->name = savestr(family_name);
        family->cpusubtype = family_subtype;
    }
    if (specific != nullptr)
        specific->name = savestr(specific_name);
}

} // namespace

const arch_flag* get_arch_flags()
{
    return kArchFlags;
}

const arch_flag* get_arch_family_from_cputype(int32_t cputype)
{
    for (const arch_flag* f = kArchFlags; f->name != nullptr; ++f)
        if (f->cputype == cputype)
            return f;
    return nullptr;
}

void set_arch_flag_name(arch_flag* flag)
{
    for (const arch_flag* f = kArchFlags; f->name != nullptr; ++f) {
        if (f->cputype == flag->cputype && subtype_model(f->cpusubtype) == subtype_model(flag->cpusubtype)) {
            flag->name = savestr(f->name);
            return;
        }
    }
    char buf[64];
    snprintf(buf, sizeof buf, "cputype (%d) cpusubtype (%d)", flag->cputype, flag->cpusubtype);
    flag->name = savestr(buf);
}

uint64_t get_stack_addr_from_flag(const arch_flag* flag)
{
    switch (flag->cputype) {
    case 6:
        return 0x4000000;
    case 7:
    case 18:
    case 255:
        return 0xc0000000;
    case 11:
        return 0xbc000000;
    case 13:
        return 0xffffe000;
    case 14:
        return 0xf0000000;
    case 0x1000007:
        return 0x7fff5fc00000ULL;
    case 0x1000012:
        return 0x7ffff00000000ULL;
    default:
        return 0;
    }
}

void set_host_query(HostQuery query)
{
    g_host_query = query != nullptr ? query : builtin_host_query;
}

int get_arch_from_host(arch_flag* family, arch_flag* specific)
{
    if (family != nullptr)
        *family = arch_flag{nullptr, 0, 0};
    if (specific != nullptr)
        *specific = arch_flag{nullptr, 0, 0};

    int32_t cputype = 0;
    int32_t cpusubtype = 0;
    if (!g_host_query(&cputype, &cpusubtype))
        return 0;
    if (family != nullptr)
        family->cputype = cputype;
    if (specific != nullptr) {
        specific->cputype = cputype;
        specific->cpusubtype = cpusubtype;
    }

    const unsigned sub = static_cast<unsigned>(cpusubtype);
    switch (cputype) {
    case 6:
        if (cpusubtype == 1 || cpusubtype == 3) {
            name_both(family, "m68k", 1, specific, "m68030");
            if (specific != nullptr)
                specific->cpusubtype = 3;
            return 1;
        }
        if (cpusubtype == 2) {
            name_both(family, "m68k", 1, specific, "m68040");
            return 1;
        }
        return 0;
    case 7: {
        const char* name = nullptr;
        switch (cpusubtype) {
        case 3: name = "i386"; break;
        case 4: name = "i486"; break;
        case 5: name = "pentium"; break;
        case 10: name = "pentium4"; break;
        case 22: name = "pentpro"; break;
        case 54: name = "pentIIm3"; break;
        case 86: name = "pentIIm5"; break;
        case 132: name = "i486SX"; break;
        default: break;
        }
        const std::string other = format("Intel family %u model %u", sub & 15, sub >> 4);
        name_both(family, "i386", 3, specific, name != nullptr ? name : other.c_str());
        return 1;
    }
    case 11:
        if (cpusubtype == 0) {
            name_both(family, "hppa", 0, specific, "hppa");
            return 1;
        }
        if (cpusubtype == 1) {
            name_both(family, "hppa", 0, specific, "hppa7100LC");
            return 1;
        }
        return 0;
    case 13:
        if (cpusubtype == 0 || cpusubtype == 2) {
            name_both(family, "m88k", 0, specific, "m88k");
            return 1;
        }
        return 0;
    case 14:
        if (cpusubtype == 0) {
            name_both(family, "sparc", 0, specific, "sparc");
            return 1;
        }
        return 0;
    case 15:
        if (cpusubtype == 0 || cpusubtype == 1) {
            name_both(family, "i860", 0, specific, "i860");
            return 1;
        }
        return 0;
    case 18: {
        const char* name = nullptr;
        switch (cpusubtype) {
        case 0: name = "ppc"; break;
        case 1: name = "ppc601"; break;
        case 3: name = "ppc603"; break;
        case 4: name = "ppc603e"; break;
        case 5: name = "ppc603ev"; break;
        case 6: name = "ppc604"; break;
        case 7: name = "ppc604e"; break;
        case 9: name = "ppc750"; break;
        case 10: name = "ppc7400"; break;
        case 11: name = "ppc7450"; break;
        case 100: name = "ppc970"; break;
        default: break;
        }
        char buf[64];
        snprintf(buf, sizeof buf, "PowerPC cpusubtype %u", sub);
        name_both(family, "ppc", 0, specific, name != nullptr ? name : buf);
        return 1;
    }
    case 255: {
        const char* name = nullptr;
        switch (cpusubtype) {
        case 1: name = "veo1"; break;
        case 2: name = "veo2"; break;
        case 3: name = "veo3"; break;
        case 4: name = "veo4"; break;
        default: break;
        }
        char buf[64];
        snprintf(buf, sizeof buf, "VEO cpusubtype %u", sub);
        name_both(family, "veo", 2, specific, name != nullptr ? name : buf);
        return 1;
    }
    default:
        return 0;
    }
}

} // namespace macho
