// The outer structure of a file: the universal header and its slices, an
// archive member's header, an archive's table of contents, a Mach header.
#include "print/printers.h"

#include "libstuff/arch.h"
#include "libstuff/arutil.h"
#include "libstuff/errors.h"
#include "libstuff/timetext.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace macho {

namespace {

uint32_t capability(int32_t cpusubtype)
{
    return (static_cast<uint32_t>(cpusubtype) & static_cast<uint32_t>(CPU_SUBTYPE_MASK)) >> 24;
}

struct subtype_name {
    int32_t cputype;
    int32_t cpusubtype;
    const char* name;         // the slice's name line
    const char* type_word;    // "    cputype " ...
    const char* subtype_word; // "    cpusubtype " ...
};

const subtype_name kSliceNames[] = {
    {6, 1, "m68k", "CPU_TYPE_MC680x0", "CPU_SUBTYPE_MC680x0_ALL"},
    {6, 2, "m68040", "CPU_TYPE_MC680x0", "CPU_SUBTYPE_MC68040"},
    {6, 3, "m68030", "CPU_TYPE_MC680x0", "CPU_SUBTYPE_MC68030_ONLY"},
    {7, 3, "i386", "CPU_TYPE_I386", "CPU_SUBTYPE_I386_ALL"},
    {7, 4, "i486", "CPU_TYPE_I386", "CPU_SUBTYPE_486"},
    {7, 5, "pentium", "CPU_TYPE_I386", "CPU_SUBTYPE_PENT"},
    {7, 22, "pentpro", "CPU_TYPE_I386", "CPU_SUBTYPE_PENTPRO"},
    {7, 54, "pentIIm3", "CPU_TYPE_I386", "CPU_SUBTYPE_PENTII_M3"},
    {7, 86, "pentIIm5", "CPU_TYPE_I386", "CPU_SUBTYPE_PENTII_M5"},
    {7, 132, "i486SX", "CPU_TYPE_I386", "CPU_SUBTYPE_486SX"},
    {11, 0, "hppa", "CPU_TYPE_HPPA", "CPU_SUBTYPE_HPPA_ALL"},
    {11, 1, "hppa", "CPU_TYPE_HPPA", "CPU_SUBTYPE_HPPA_7100LC"},
    {13, 0, "m88k", "CPU_TYPE_MC88000", "CPU_SUBTYPE_MC88000_ALL"},
    {13, 2, "m88k", "CPU_TYPE_MC88000", "CPU_SUBTYPE_MC88110"},
    {14, 0, "sparc", "CPU_TYPE_SPARC", "CPU_SUBTYPE_SPARC_ALL"},
    {15, 0, "i860", "CPU_TYPE_I860", "CPU_SUBTYPE_I860_ALL"},
    {15, 1, "i860", "CPU_TYPE_I860", "CPU_SUBTYPE_I860_860"},
    {18, 0, "ppc", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_ALL"},
    {18, 1, "ppc601", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_601"},
    {18, 2, "ppc602", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_602"},
    {18, 3, "ppc603", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_603"},
    {18, 4, "ppc603e", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_603e"},
    {18, 5, "ppc603ev", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_603ev"},
    {18, 6, "ppc604", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_604"},
    {18, 7, "ppc604e", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_604e"},
    {18, 8, "ppc620", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_620"},
    {18, 9, "ppc750", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_750"},
    {18, 10, "ppc7400", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_7400"},
    {18, 11, "ppc7450", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_7450"},
    {18, 100, "ppc970", "CPU_TYPE_POWERPC", "CPU_SUBTYPE_POWERPC_970"},
    {255, 1, "veo1", "CPU_TYPE_VEO", "CPU_SUBTYPE_VEO_1"},
    {255, 2, "veo2", "CPU_TYPE_VEO", "CPU_SUBTYPE_VEO_2"},
    {255, 3, "veo3", "CPU_TYPE_VEO", "CPU_SUBTYPE_VEO_3"},
    {255, 4, "veo4", "CPU_TYPE_VEO", "CPU_SUBTYPE_VEO_4"},
    {0x01000007, 3, "x86_64", "CPU_TYPE_X86_64", "CPU_SUBTYPE_X86_64_ALL"},
    {0x01000012, 0, "ppc64", "CPU_TYPE_POWERPC64", "CPU_SUBTYPE_POWERPC64_ALL"},
    {0x01000012, 100, "ppc970-64", "CPU_TYPE_POWERPC64", "CPU_SUBTYPE_POWERPC_970"},
    {-1, 0, "little", "CPU_TYPE_ANY", "CPU_SUBTYPE_LITTLE_ENDIAN"},
    {-1, 1, "big", "CPU_TYPE_ANY", "CPU_SUBTYPE_BIG_ENDIAN"},
};

const subtype_name* find_slice_name(int32_t cputype, int32_t model)
{
    for (const subtype_name& n : kSliceNames)
        if (n.cputype == cputype && n.cpusubtype == model)
            return &n;
    return nullptr;
}

void print_slice_names(int32_t cputype, int32_t cpusubtype)
{
    const int32_t model = subtype_model(cpusubtype);
    const subtype_name* n = find_slice_name(cputype, model);
    if (n != nullptr)
        puts(n->name);
    else if (cputype == 7)
        printf("intel x86 family %d model %d\n", model & 0xf, (model >> 4) & 0xfffff);
    else
        printf("cputype (%d) cpusubtype (%d)\n", cputype, model);
    if (n != nullptr)
        printf("    cputype %s\n    cpusubtype %s\n", n->type_word, n->subtype_word);
    else
        printf("    cputype (%d)\n    cpusubtype (%d)\n", cputype, model);
}

// Mach header words: cputype word and its subtypes' words.
struct cpu_words {
    int32_t cputype;
    const char* word;
    struct {
        int32_t subtype;
        const char* word;
    } subs[14];
};

const cpu_words kCpuWords[] = {
    {1,
     "     VAX",
     {{1, "     VAX780"},
      {2, "     VAX785"},
      {3, "     VAX750"},
      {4, "     VAX730"},
      {5, "     UVAXI"},
      {6, "     UVAXII"},
      {7, "    VAX8200"},
      {8, "    VAX8500"},
      {9, "    VAX8600"},
      {10, "    VAX8650"},
      {11, "    VAX8800"},
      {12, "    UVAXIII"}}},
    {2, "    ROMP", {{1, "      RT_PC"}, {2, "     RT_APC"}, {3, "     RT_135"}}},
    {4,
     " NS32032",
     {{1, "   MMAX_DPC"}, {2, "        SQT"}, {3, " MMAX_APC_FPC"}, {4, " MMAX_APC_FPA"}, {5, "   MMAX_XPC"}}},
    {5,
     " NS32332",
     {{1, "   MMAX_DPC"}, {2, "        SQT"}, {3, " MMAX_APC_FPC"}, {4, " MMAX_APC_FPA"}, {5, "   MMAX_XPC"}}},
    {6, " MC680x0", {{1, "        ALL"}, {2, "    MC68040"}, {3, "    MC68030"}}},
    {7,
     "    I386",
     {{3, "        ALL"},
      {4, "        486"},
      {5, "       PENT"},
      {22, "    PENTPRO"},
      {54, "  PENTII_M3"},
      {86, "  PENTII_M5"},
      {132, "      486SX"}}},
    {11, "    HPPA", {{0, "        ALL"}, {1, "  HPPA_7100LC"}}},
    {13, " MC88000", {{0, "        ALL"}, {1, "    MC88100"}, {2, "    MC88110"}}},
    {14, "   SPARC", {{0, "        ALL"}}},
    {15, "    I860", {{0, "        ALL"}, {1, "        860"}}},
    {18,
     "     PPC",
     {{0, "        ALL"},
      {1, "     ppc601"},
      {2, "     ppc602"},
      {3, "     ppc603"},
      {4, "    ppc603e"},
      {5, "   ppc603ev"},
      {6, "     ppc604"},
      {7, "    ppc604e"},
      {8, "     ppc620"},
      {9, "     ppc750"},
      {10, "    ppc7400"},
      {11, "    ppc7450"},
      {100, "     ppc970"}}},
    {255, "     VEO", {{1, "       veo1"}, {2, "       veo2"}, {3, "       veo3"}, {4, "       veo4"}}},
    {0x01000007, "  X86_64", {{3, "        ALL"}}},
    {0x01000012, "   PPC64", {{0, "        ALL"}, {100, "     ppc970"}}},
};

// A header field copied without its trailing blanks (the first character is
// always kept).
void field_text(char* out, const char* field, size_t n)
{
    memcpy(out, field, n);
    out[n] = '\0';
    for (size_t i = n; i > 1 && out[i - 1] == ' '; --i)
        out[i - 1] = '\0';
}

uint32_t toc_word(const char* p, byte_sex toc_byte_sex)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return toc_byte_sex != get_host_byte_sex() ? SWAP_INT(v) : v;
}

} // namespace

void print_fat_headers(const fat_header* header, const fat_arch* archs, uint32_t narchs, uint64_t size,
                       int verbose)
{
    if (verbose && header->magic == FAT_MAGIC)
        printf("fat_magic FAT_MAGIC\n");
    else
        printf("fat_magic 0x%x\n", header->magic);
    const uint32_t n = header->nfat_arch;
    printf("nfat_arch %u", n);
    if (n == 0) {
        printf(" (malformed, contains zero architecture types)\n");
        return;
    }
    if (n > 214748364 || sizeof(fat_header) + uint64_t(n) * sizeof(fat_arch) > size)
        printf(" (malformed, architectures past end of file)\n");
    else
        printf("\n");

    for (uint32_t i = 0; i < n && i < narchs; ++i) {
        if (i > 0 && sizeof(fat_header) + uint64_t(i) * sizeof(fat_arch) > size)
            break;
        const fat_arch& a = archs[i];
        printf("architecture ");
        for (uint32_t j = 0; j < i; ++j) {
            if (a.cputype != 0 && a.cpusubtype != 0 && archs[j].cputype == a.cputype
                && subtype_model(archs[j].cpusubtype) == subtype_model(a.cpusubtype)) {
                printf("(illegal duplicate architecture) ");
                break;
            }
        }
        if (verbose) {
            print_slice_names(a.cputype, a.cpusubtype);
            if (capability(a.cpusubtype) == 0x80)
                printf("    capabilities CPU_SUBTYPE_LIB64\n");
            else
                printf("    capabilities 0x%x\n", capability(a.cpusubtype));
        } else {
            printf("%ld\n", static_cast<long>(i));
            printf("    cputype %d\n", a.cputype);
            printf("    cpusubtype %d\n", subtype_model(a.cpusubtype));
            printf("    capabilities 0x%x\n", capability(a.cpusubtype));
        }
        printf("    offset %u", a.offset);
        if (a.offset > size)
            printf(" (past end of file)");
        // An alignment of 32 or more would shift out of the word.
        if (a.align >= 32 || a.offset % (1u << a.align) != 0)
            printf(" (not aligned on it's alignment (2^%u))\n", a.align);
        else
            printf("\n");
        printf("    size %u", a.size);
        if (uint64_t(a.offset) + a.size > size)
            printf(" (past end of file)\n");
        else
            printf("\n");
        printf("    align 2^%u (%d)", a.align, a.align < 31 ? 1 << a.align : 0);
        if (a.align < 16)
            printf("\n");
        else
            printf("( too large, maximum 2^%d)\n", 15);
    }
}

void print_ar_hdr(const ar_hdr* hdr, const char* member_name, uint32_t member_name_size, int verbose)
{
    char date[sizeof hdr->ar_date + 1];
    char uid[sizeof hdr->ar_uid + 1];
    char gid[sizeof hdr->ar_gid + 1];
    char mode[sizeof hdr->ar_mode + 1];
    char size[sizeof hdr->ar_size + 1];
    field_text(date, hdr->ar_date, sizeof hdr->ar_date);
    field_text(uid, hdr->ar_uid, sizeof hdr->ar_uid);
    field_text(gid, hdr->ar_gid, sizeof hdr->ar_gid);
    field_text(mode, hdr->ar_mode, sizeof hdr->ar_mode);
    field_text(size, hdr->ar_size, sizeof hdr->ar_size);

    if (verbose) {
        char* end = nullptr;
        const unsigned long m = strtoul(mode, &end, 8);
        if (*end != '\0')
            printf("(mode: \"%s\" contains non-octal chars) ", mode);
        switch (m & 0170000) {
        case 0060000:
            printf("b");
            break;
        case 0120000:
            printf("l");
            break;
        case 0140000:
            printf("s");
            break;
        case 0100000:
            printf("-");
            break;
        case 0020000:
            printf("c");
            break;
        case 0040000:
            printf("d");
            break;
        default:
            printf("?");
            break;
        }
        printf("%c%c%c", (m & 0400) ? 'r' : '-', (m & 0200) ? 'w' : '-',
               (m & 04000) ? 's' : (m & 0100) ? 'x' : '-');
        printf("%c%c%c", (m & 0040) ? 'r' : '-', (m & 0020) ? 'w' : '-',
               (m & 02000) ? 's' : (m & 0010) ? 'x' : '-');
        printf("%c%c%c", (m & 0004) ? 'r' : '-', (m & 0002) ? 'w' : '-',
               (m & 01000) ? 't' : (m & 0001) ? 'x' : '-');
    } else {
        printf("0%s ", mode);
    }
    printf("%3s/%-3s %5s ", uid, gid, size);
    if (verbose) {
        char* end = nullptr;
        const long d = strtol(date, &end, 10);
        if (*end != '\0')
            printf("(date: \"%s\" contains non-decimal chars) ", date);
        const time_t t = static_cast<time_t>(d);
        char text[64];
        const char* c = time_text(t);
        snprintf(text, sizeof text, "%s", nulltext(c));
        const size_t len = strlen(text);
        if (len > 0 && text[len - 1] == '\n')
            text[len - 1] = '\0';
        printf("%s ", text);
        printf("%.*s", static_cast<int>(member_name_size), nulltext(member_name));
    } else {
        printf("%s ", date);
        printf("%.*s", size_ar_name(hdr), hdr->ar_name);
    }
    if (hdr->ar_fmag[0] != '`' || hdr->ar_fmag[1] != '\n')
        printf(" (ar_fmag not ARFMAG)\n");
    else
        printf("\n");
}

void print_library_toc(ofile* ofile, const ar_hdr*, const char* toc_name, uint32_t toc_name_size,
                       uint64_t toc_offset, uint64_t toc_size, byte_sex toc_byte_sex, const char* library_name,
                       uint64_t library_offset, uint64_t library_size, const char* arch_name, int verbose)
{
    byte_reader* reader = &ofile->reader;
    const uint64_t toc_end = toc_offset + toc_size;
    const int name_size = static_cast<int>(toc_name_size);
    const char* name = nulltext(toc_name);
    if (toc_size < sizeof(uint32_t)) {
        error_with_arch(arch_name,
                        "truncated table of contents in: %s(%.*s) (size of ranlib structs extends past the end of "
                        "the table of contents member)",
                        library_name, name_size, name);
        return;
    }
    char word[4];
    read_bytes(reader, toc_offset, toc_end, word, sizeof word);
    const uint64_t ranlib_bytes = toc_word(word, toc_byte_sex);
    if (sizeof(uint32_t) + ranlib_bytes > toc_size) {
        error_with_arch(arch_name,
                        "truncated table of contents in: %s(%.*s) (ranlib structures extends past the end of the "
                        "table of contents member)",
                        library_name, name_size, name);
        return;
    }
    const uint64_t strings_word = sizeof(uint32_t) + ranlib_bytes;
    uint64_t strsize = 0;
    if (verbose) {
        if (strings_word + sizeof(uint32_t) > toc_size) {
            error_with_arch(arch_name,
                            "truncated table of contents in: %s(%.*s) (size of ranlib strings extends past the end "
                            "of the table of contents member)",
                            library_name, name_size, name);
            return;
        }
        read_bytes(reader, toc_offset + strings_word, toc_end, word, sizeof word);
        strsize = toc_word(word, toc_byte_sex);
        if (strings_word + sizeof(uint32_t) + strsize > toc_size) {
            error_with_arch(arch_name,
                            "truncated table of contents in: %s(%.*s) (ranlib strings extends past the end of the "
                            "table of contents member)",
                            library_name, name_size, name);
            return;
        }
    }

    printf("Table of contents from: %s(%.*s)", library_name, name_size, name);
    if (arch_name != nullptr)
        printf(" (for architecture %s)\n", arch_name);
    else
        printf("\n");
    const uint64_t nranlibs = ranlib_bytes / sizeof(ranlib);
    printf("size of ranlib structures: %lu (number %lu)\n", static_cast<unsigned long>(ranlib_bytes),
           static_cast<unsigned long>(nranlibs));
    char* strings = nullptr;
    if (verbose) {
        printf("size of strings: %lu", static_cast<unsigned long>(strsize));
        if (strsize % sizeof(int32_t) != 0)
            printf(" (not multiple of sizeof(long))");
        printf("\n");
        printf("object           symbol name\n");
        // Both counts lie inside the member, so memory follows the member.
        strings = static_cast<char*>(allocate(strsize + 1));
        read_bytes(reader, toc_offset + strings_word + sizeof(uint32_t), toc_end, strings, strsize);
        strings[strsize] = '\0';
    } else {
        printf("object offset  string index\n");
    }

    const uint64_t library_end = library_offset + library_size;
    for (uint64_t i = 0; i < nranlibs; ++i) {
        ranlib r;
        read_bytes(reader, toc_offset + sizeof(uint32_t) + i * sizeof(ranlib), toc_end, &r, sizeof r);
        if (toc_byte_sex != get_host_byte_sex())
            swap_ranlib(&r, 1, get_host_byte_sex());
        if (!verbose) {
            printf("%-14ld %ld\n", static_cast<long>(r.ran_off), static_cast<long>(r.ran_strx));
            continue;
        }
        if (uint64_t(r.ran_off) + sizeof(ar_hdr) > library_size) {
            int n = printf("?(%ld) ", static_cast<long>(r.ran_off));
            for (; n < 17; ++n)
                putchar(' ');
        } else {
            ar_hdr hdr;
            read_bytes(reader, library_offset + r.ran_off, library_end, &hdr, sizeof hdr);
            uint64_t len = 0;
            if (extended_name_length(hdr, &len)) {
                // The name follows the header, inside the library.
                const uint64_t at = uint64_t(r.ran_off) + sizeof(ar_hdr);
                const uint64_t room = library_size - at;
                if (len > room)
                    len = room;
                char* ext = static_cast<char*>(allocate(len + 1));
                read_bytes(reader, library_offset + at, library_end, ext, len);
                ext[len] = '\0';
                while (len > 0 && ext[len - 1] == '\0')
                    --len;
                printf("%-.*s ", static_cast<int>(len), ext);
                for (uint64_t k = len; k < 16; ++k)
                    putchar(' ');
                free(ext);
            } else {
                printf("%-.16s ", hdr.ar_name);
            }
        }
        if (r.ran_strx < strsize)
            printf("%s\n", strings + r.ran_strx);
        else
            printf("?(%ld)\n", static_cast<long>(r.ran_strx));
    }
    free(strings);
}

void print_mach_header(uint32_t magic, int32_t cputype, int32_t cpusubtype, uint32_t filetype, uint32_t ncmds,
                       uint32_t sizeofcmds, uint32_t flags, int verbose)
{
    printf("Mach header\n");
    printf("      magic cputype cpusubtype  caps    filetype ncmds sizeofcmds      flags\n");
    const int32_t model = subtype_model(cpusubtype);
    const uint32_t caps = capability(cpusubtype);
    if (!verbose) {
        printf(" 0x%08x %7d %10d  0x%02x  %10u %5u %10u 0x%08x\n", magic, cputype, model, caps, filetype, ncmds,
               sizeofcmds, flags);
        return;
    }
    if (magic == MH_MAGIC)
        printf("%11s", "MH_MAGIC");
    else if (magic == MH_MAGIC_64)
        printf("%11s", "MH_MAGIC_64");
    else
        printf(" 0x%08x", magic);
    const cpu_words* cw = nullptr;
    for (const cpu_words& w : kCpuWords)
        if (w.cputype == cputype)
            cw = &w;
    if (cw == nullptr) {
        printf(" %7d %10d", cputype, model);
    } else {
        printf("%s", cw->word);
        const char* sub = nullptr;
        for (const auto& s : cw->subs)
            if (s.word != nullptr && s.subtype == model)
                sub = s.word;
        if (sub != nullptr)
            printf("%s", sub);
        else
            printf(" %10d", model);
    }
    if (caps == 0x80)
        printf(" LIB64 ");
    else
        printf("  0x%02x ", caps);
    static const char* const kFileTypes[] = {nullptr,       "     OBJECT", "    EXECUTE", "     FVMLIB",
                                             "       CORE", "    PRELOAD", "      DYLIB", "   DYLINKER",
                                             "     BUNDLE", " DYLIB_STUB", "       DSYM"};
    if (filetype >= 1 && filetype <= 10)
        printf("%s", kFileTypes[filetype]);
    else
        printf(" %10u", filetype);
    printf(" %5u %10u", ncmds, sizeofcmds);
    static const struct {
        uint32_t bit;
        const char* word;
    } kFlags[] = {
        {0x1, "   NOUNDEFS"},
        {0x2, " INCRLINK"},
        {0x4, " DYLDLINK"},
        {0x8, " BINDATLOAD"},
        {0x10, " PREBOUND"},
        {0x20, " SPLIT_SEGS"},
        {0x40, " LAZY_INIT"},
        {0x80, " TWOLEVEL"},
        {0x100, " FORCE_FLAT"},
        {0x200, " NOMULTIDEFS"},
        {0x400, " NOFIXPREBINDING"},
        {0x800, " PREBINDABLE"},
        {0x1000, " ALLMODSBOUND"},
        {0x2000, " SUBSECTIONS_VIA_SYMBOLS"},
        {0x4000, " CANONICAL"},
        {0x8000, " WEAK_DEFINES"},
        {0x10000, " BINDS_TO_WEAK"},
        {0x20000, " ALLOW_STACK_EXECUTION"},
        {0x200000, " PIE"},
        {0x100000, " NO_REEXPORTED_DYLIBS"},
    };
    uint32_t left = flags;
    for (const auto& f : kFlags) {
        if (flags & f.bit) {
            printf("%s", f.word);
            left &= ~f.bit;
        }
    }
    if (left != 0 || flags == 0)
        printf(" 0x%08x", left);
    printf("\n");
}

} // namespace macho
