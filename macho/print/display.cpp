// The display dispatch: after the scanner has normalised an object's header
// and listed its load commands, runs the display steps whose options are
// set, in their fixed order, on tables and sections read from the object by
// range.
#include "print/display.h"

#include "disasm/disasm.h"
#include "libstuff/arch.h"
#include "libstuff/errors.h"
#include "options.h"
#include "print/objc.h"
#include "print/printers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace macho {

namespace {

byte_sex host()
{
    return get_host_byte_sex();
}

bool has_instructions(uint32_t flags)
{
    return (flags & (S_ATTR_PURE_INSTRUCTIONS | S_ATTR_SOME_INSTRUCTIONS)) != 0;
}

// One of the dynamic symbol table's tables, located by the bounds rule: an
// offset past the object is reported and leaves it empty; a table running
// past the object (or past 32 bits) is reported and cut to the whole entries
// that fit. The copy is a new block in file order; `*count` is updated.
char* locate_table(const object_bytes& object, uint32_t off, uint32_t* count, uint64_t entry, const char* off_msg,
                   const char* size_msg)
{
    if (off >= object.size) {
        printf("%s\n", off_msg);
        *count = 0;
        return nullptr;
    }
    const uint64_t end = uint64_t(off) + uint64_t(*count) * entry;
    if (end > UINT32_MAX || end > object.size) {
        printf("%s\n", size_msg);
        *count = static_cast<uint32_t>((object.size - off) / entry);
    }
    return object_copy(object, off, uint64_t(*count) * entry);
}

// The table of defined symbols sorted by address that labels use.
sorted_symbol* build_sorted_symbols(const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                                    const char* strings, uint64_t strings_size, uint32_t* nsorted)
{
    *nsorted = 0;
    if (nsymbols == 0)
        return nullptr;
    sorted_symbol* sorted = static_cast<sorted_symbol*>(allocate(sizeof(sorted_symbol) * nsymbols));
    uint32_t n = 0;
    for (uint32_t i = 0; i < nsymbols; ++i) {
        uint32_t strx;
        uint8_t type;
        uint64_t value;
        if (symbols != nullptr) {
            strx = symbols[i].n_strx;
            type = symbols[i].n_type;
            value = symbols[i].n_value;
        } else {
            strx = symbols64[i].n_strx;
            type = symbols64[i].n_type;
            value = symbols64[i].n_value;
        }
        const char* name = strx != 0 ? string_at(strings, strings_size, strx) : nullptr;
        if (name == nullptr)
            name = "symbol with bad string index";
        if ((type & N_STAB) != 0)
            continue;
        const uint8_t kind = type & N_TYPE;
        if (kind != N_SECT && kind != N_ABS)
            continue;
        const size_t len = strlen(name);
        if (len > 2 && name[len - 2] == '.' && name[len - 1] == 'o')
            continue;
        if (strcmp(name, "gcc_compiled.") == 0)
            continue;
        if (kind == N_ABS && value == 0 && name[0] == '.')
            continue;
        sorted[n].name = name;
        sorted[n].n_value = value;
        ++n;
    }
    if (n != 0)
        qsort(sorted, n, sizeof *sorted, sym_compare);
    *nsorted = n;
    return sorted;
}

struct symtab {
    nlist* symbols = nullptr;
    nlist_64* symbols64 = nullptr;
    uint32_t nsymbols = 0;
    char* strings = nullptr;
    uint64_t strings_size = 0;
};

// Everything the code-section step needs besides the section.
struct code_context {
    const load_commands_view* lc;
    uint32_t ncmds;
    uint32_t sizeofcmds;
    int32_t cputype;
    byte_sex object_byte_sex;
    const symtab* st;
    const sorted_symbol* sorted;
    uint32_t nsorted;
    const uint32_t* indirect;
    uint32_t nindirect;
};

// One instruction through the cputype's disassembler: its length, or -1
// for an unknown cputype (after its note).
int64_t disassemble_one(const code_context& c, const char* p, uint64_t left, uint64_t addr, uint64_t sect_addr,
                         const relocation_info* relocs, uint32_t nrelocs)
{
    const symtab& s = *c.st;
    switch (c.cputype) {
    case 7:
        return i386_disassemble(p, left, addr, sect_addr, c.object_byte_sex, relocs, nrelocs, s.symbols, nullptr,
                                s.nsymbols, c.sorted, c.nsorted, s.strings, s.strings_size, c.indirect, c.nindirect,
                                c.cputype, *c.lc, c.ncmds, c.sizeofcmds, Vflag);
    case 0x01000007:
        return i386_disassemble(p, left, addr, sect_addr, c.object_byte_sex, relocs, nrelocs, nullptr, s.symbols64,
                                s.nsymbols, c.sorted, c.nsorted, s.strings, s.strings_size, c.indirect, c.nindirect,
                                c.cputype, *c.lc, c.ncmds, c.sizeofcmds, Vflag);
    case 18:
    case 255:
    case 0x01000012:
        return ppc_disassemble(p, left, addr, sect_addr, c.object_byte_sex, relocs, nrelocs, s.symbols, s.symbols64,
                               s.nsymbols, c.sorted, c.nsorted, s.strings, s.strings_size, c.indirect, c.nindirect,
                               *c.lc, c.ncmds, c.sizeofcmds, Vflag);
    case 6:
        return m68k_disassemble(p, left, addr, sect_addr, c.object_byte_sex, relocs, nrelocs, s.symbols, s.nsymbols,
                                c.sorted, c.nsorted, s.strings, s.strings_size, c.indirect, c.nindirect, *c.lc,
                                c.ncmds, c.sizeofcmds, Vflag);
    case 14:
        return sparc_disassemble(p, left, addr, sect_addr, c.object_byte_sex, relocs, nrelocs, s.symbols,
                                 s.nsymbols, c.sorted, c.nsorted, s.strings, s.strings_size, c.indirect,
                                 c.nindirect, *c.lc, c.ncmds, c.sizeofcmds, Vflag);
    case 15:
        return i860_disassemble(p, left, addr, sect_addr, c.object_byte_sex, relocs, nrelocs, s.symbols, s.nsymbols,
                                c.sorted, c.nsorted, s.strings, s.strings_size, Vflag);
    case 13:
        return m88k_disassemble(p, left, addr, sect_addr, c.object_byte_sex, relocs, nrelocs, s.symbols, s.nsymbols,
                                c.sorted, c.nsorted, s.strings, s.strings_size, Vflag);
    case 11:
        return hppa_disassemble(p, left, addr, sect_addr, c.object_byte_sex, relocs, nrelocs, s.symbols, s.nsymbols,
                                c.sorted, c.nsorted, s.strings, s.strings_size, Vflag);
    default:
        printf("Can't disassemble unknown cputype %d\n", c.cputype);
        return -1;
    }
}

// A 32- or 16-bit word of `contents` at `off` in host order; the bytes past
// `size` read as zeros.
uint32_t word_at(const char* contents, uint64_t size, uint64_t off, unsigned width, bool swapped)
{
    unsigned char b[4] = {0, 0, 0, 0};
    for (unsigned k = 0; k < width && off + k < size; ++k)
        b[k] = static_cast<unsigned char>(contents[off + k]);
    if (width == 2) {
        uint16_t v;
        memcpy(&v, b, 2);
        return swapped ? SWAP_SHORT(v) : v;
    }
    uint32_t v;
    memcpy(&v, b, 4);
    return swapped ? SWAP_INT(v) : v;
}

// The code section without vflag: 16 bytes a line.
void dump_code(int32_t cputype, byte_sex object_byte_sex, const char* contents, uint64_t size, uint64_t addr)
{
    const bool swapped = object_byte_sex != host();
    const bool is64 = (cputype & CPU_ARCH_ABI64) != 0;
    for (uint64_t off = 0; off < size; off += 16, addr += 16) {
        // 64-bit images live above 4 GiB: their addresses keep every digit.
        if (is64)
            printf("%016llx ", static_cast<unsigned long long>(addr));
        else
            printf("%08x ", static_cast<uint32_t>(addr));
        const uint64_t line = size - off < 16 ? size - off : 16;
        if (cputype == 7 || cputype == 0x01000007) {
            for (uint64_t k = 0; k < line; ++k)
                printf("%02x ", static_cast<unsigned char>(contents[off + k]));
        } else if (cputype == 6) {
            for (uint64_t k = 0; k < line; k += 2)
                printf("%04x ", word_at(contents, size, off + k, 2, swapped));
        } else {
            for (uint64_t k = 0; k < line; k += 4)
                printf("%08x ", word_at(contents, size, off + k, 4, swapped));
        }
        printf("\n");
    }
}

void code_section(const code_context& c, const char* contents, uint64_t size, uint64_t addr,
                  relocation_info* relocs, uint32_t nrelocs, const char* seg, const char* sect)
{
    if (!Xflag) {
        if (tflag)
            printf("(%s,%s) section\n", seg, sect);
        else
            printf("Contents of (%.16s,%.16s) section\n", seg, sect);
    }
    // A section with no bytes in the file (zero-fill) has nothing to show.
    if (contents == nullptr)
        size = 0;
    if (vflag == 1) {
        uint64_t offset = 0;
        if (pflag != nullptr) {
            const sorted_symbol* start = nullptr;
            for (uint32_t i = 0; i < c.nsorted && start == nullptr; ++i)
                if (strcmp(c.sorted[i].name, pflag) == 0)
                    start = &c.sorted[i];
            if (start == nullptr) {
                printf("Can't find -p symbol: %s\n", pflag);
                return;
            }
            if (start->n_value < addr || start->n_value - addr >= size) {
                printf("-p symbol: %s not in text section\n", pflag);
                return;
            }
            offset = start->n_value - addr;
        }
        const bool is64 = (c.cputype & CPU_ARCH_ABI64) != 0;
        uint64_t cur = addr + offset;
        while (offset < size) {
            print_label(cur, 1, c.sorted, c.nsorted);
            if (Xflag)
                printf("\t");
            else if (is64)
                printf("%016llx\t", static_cast<unsigned long long>(cur));
            else
                printf("%08x\t", static_cast<uint32_t>(cur));
            const uint64_t left = size - offset;
            int64_t len = disassemble_one(c, contents + offset, left, cur, addr, relocs, nrelocs);
            if (len < 0)
                return;
            // A disassembler that used nothing would never get past here.
            if (len == 0)
                len = 1;
            offset += len;
            cur += len;
        }
    } else if (!vflag) {
        dump_code(c.cputype, c.object_byte_sex, contents, size, addr);
    }
}

// The argument strings at the top of a core file's stack segment.
void print_argstrings(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, uint32_t magic,
                      int32_t cputype, int32_t cpusubtype, byte_sex object_byte_sex, const object_bytes& object)
{
    arch_flag flag{nullptr, cputype, cpusubtype};
    if (magic == MH_MAGIC_64)
        flag.cputype |= CPU_ARCH_ABI64;
    const uint64_t stack = get_stack_addr_from_flag(&flag);
    if (stack == 0) {
        printf("Don't know the value of USRSTACK for unknown cputype (%d)\n", cputype);
        return;
    }
    const bool wide = magic == MH_MAGIC_64;
    printf("Argument strings on the stack at: ");
    if (wide)
        printf("%016llx\n", static_cast<unsigned long long>(stack));
    else
        printf("%08x\n", static_cast<uint32_t>(stack));
    const bool swapped = object_byte_sex != host();
    uint64_t cur = 0;
    for (uint32_t i = 0; i < ncmds; ++i) {
        const unsigned long index = i;
        load_command l;
        lc.read(cur, &l, sizeof l);
        if (swapped)
            swap_load_command(&l, host());
        if (l.cmdsize % (wide ? 8 : 4) != 0)
            printf("load command %lu size not a multiple of %d\n", index, wide ? 8 : 4);
        if (cur + l.cmdsize > sizeofcmds)
            printf("load command %lu extends past end of load commands\n", index);
        if (is_segment_command(l.cmd)) {
            const segment_info sg = read_segment(lc, cur, l.cmd, object_byte_sex);
            const bool inside = sg.fileoff <= object.size && sg.filesize <= object.size - sg.fileoff;
            if (inside && cputype == 11) {
                if (sg.vmaddr == stack && sg.filesize > 8) {
                    char* data = object_copy(object, sg.fileoff, sg.filesize);
                    uint64_t at = 8;
                    // The argument pointers, then after their zero word the
                    // environment pointers.
                    for (int list = 0; list < 2; ++list) {
                        while (at + 4 <= sg.filesize) {
                            uint32_t ptr;
                            memcpy(&ptr, data + at, 4);
                            if (swapped)
                                ptr = SWAP_INT(ptr);
                            at += 4;
                            if (ptr == 0 || ptr < sg.vmaddr || ptr - sg.vmaddr >= sg.vmsize)
                                break;
                            uint64_t s = ptr - sg.vmaddr;
                            printf("\t");
                            for (; s < sg.filesize && data[s] != '\0'; ++s)
                                putchar(data[s]);
                            printf("\n");
                        }
                    }
                    free(data);
                }
            } else if (inside) {
                const bool match = l.cmd == LC_SEGMENT ? (sg.vmaddr + sg.vmsize == stack && stack >> 32 == 0)
                                                       : sg.vmaddr + sg.vmsize == stack;
                if (match) {
                    const uint64_t w = l.cmd == LC_SEGMENT_64 ? 8 : 4;
                    char* data = object_copy(object, sg.fileoff, sg.filesize);
                    const uint64_t n = sg.filesize;
                    uint64_t e = n > w ? n - w : 0;
                    while (e > 0 && data[e - 1] == '\0')
                        --e;
                    // Back to the nearest run of w zero bytes, never before
                    // the segment's first byte.
                    uint64_t start = 0;
                    for (uint64_t j = e; j >= w; --j) {
                        bool zeros = true;
                        for (uint64_t k = j - w; k < j && zeros; ++k)
                            zeros = data[k] == '\0';
                        if (zeros) {
                            start = j;
                            break;
                        }
                    }
                    for (uint64_t p = start; p < e;) {
                        printf("\t");
                        for (; p < e && data[p] != '\0'; ++p)
                            putchar(data[p]);
                        printf("\n");
                        ++p;
                    }
                    free(data);
                    return;
                }
            }
        }
        if (l.cmdsize == 0) {
            printf("load command %lu size zero (can't advance to other load commands)\n", index);
            return;
        }
        cur += l.cmdsize;
        if (cur > sizeofcmds)
            return;
    }
}

} // namespace

void display_object(ofile* ofile, const char* arch_name, const load_commands_view& lc)
{
    (void)arch_name;
    const bool want_section = segname != nullptr && sectname != nullptr;
    if (!want_section && !Rflag && !Mflag && !Tflag && !rflag && !Iflag && !Hflag && !tflag && !iflag && !dflag
        && !oflag && !cflag)
        return;

    uint32_t magic, ncmds, sizeofcmds, filetype;
    int32_t cputype, cpusubtype;
    if (ofile->mh != nullptr) {
        magic = ofile->mh->magic;
        ncmds = ofile->mh->ncmds;
        sizeofcmds = ofile->mh->sizeofcmds;
        filetype = ofile->mh->filetype;
        cputype = ofile->mh->cputype;
        cpusubtype = ofile->mh->cpusubtype;
    } else if (ofile->mh64 != nullptr) {
        magic = ofile->mh64->magic;
        ncmds = ofile->mh64->ncmds;
        sizeofcmds = ofile->mh64->sizeofcmds;
        filetype = ofile->mh64->filetype;
        cputype = ofile->mh64->cputype;
        cpusubtype = ofile->mh64->cpusubtype;
    } else {
        return;
    }
    const bool is64_object = ofile->mh64 != nullptr;
    const byte_sex sex = ofile->object_byte_sex;
    const bool swapped = sex != host();
    object_bytes object{&ofile->reader, ofile->object_offset, ofile->object_size};
    const uint64_t to_end = ofile->file_size - ofile->object_offset;
    if (object.size > to_end)
        object.size = to_end;

    // The section named with -s, looked up once for the steps below.
    char* sect = nullptr;
    uint64_t sect_size = 0, sect_addr = 0;
    relocation_info* sect_relocs = nullptr;
    uint32_t sect_nrelocs = 0, sect_flags = 0;
    if (want_section) {
        get_sect_info(segname, sectname, lc, ncmds, sizeofcmds, filetype, sex, object, &sect, &sect_size,
                      &sect_addr, &sect_relocs, &sect_nrelocs, &sect_flags);
        const uint32_t type = sect_flags & SECTION_TYPE;
        if (filetype == MH_DYLIB_STUB
            && (type == S_NON_LAZY_SYMBOL_POINTERS || type == S_LAZY_SYMBOL_POINTERS || type == S_SYMBOL_STUBS))
            sect_size = 0;
    }
    const uint32_t sect_type = sect_flags & SECTION_TYPE;

    // The symbol and string tables.
    symtab st;
    const bool want_symbols =
        Rflag || Mflag
        || (vflag
            && (rflag || Tflag || Mflag || Rflag || Iflag || Hflag || tflag || iflag || oflag
                || sect_type == S_LITERAL_POINTERS || sect_type == S_MOD_INIT_FUNC_POINTERS
                || sect_type == S_MOD_TERM_FUNC_POINTERS || has_instructions(sect_flags) || segname != nullptr));
    if (want_symbols)
        get_symbol_table_info(lc, ncmds, sizeofcmds, cputype, sex, object, &st.symbols, &st.symbols64, &st.nsymbols,
                              &st.strings, &st.strings_size);

    // The defined symbols sorted by address, for labels.
    sorted_symbol* sorted = nullptr;
    uint32_t nsorted = 0;
    if (vflag
        && (tflag || iflag || oflag
            || ((sect_type == S_MOD_INIT_FUNC_POINTERS || sect_type == S_MOD_TERM_FUNC_POINTERS) && Vflag)
            || has_instructions(sect_flags)))
        sorted = build_sorted_symbols(st.symbols, st.symbols64, st.nsymbols, st.strings, st.strings_size, &nsorted);

    // The dynamic symbol table's tables.
    dysymtab_command dyst;
    memset(&dyst, 0, sizeof dyst);
    bool have_dyst = false;
    if (Mflag || Tflag || Rflag || Iflag || (tflag && vflag) || (oflag && is64_object))
        have_dyst = get_dyst(lc, ncmds, sizeofcmds, sex, &dyst);

    dylib_module* mods = nullptr;
    dylib_module_64* mods64 = nullptr;
    uint32_t nmodtab = 0;
    if ((Mflag || Tflag || Rflag) && have_dyst) {
        nmodtab = dyst.nmodtab;
        if (is64_object) {
            mods64 = reinterpret_cast<dylib_module_64*>(
                locate_table(object, dyst.modtaboff, &nmodtab, sizeof(dylib_module_64),
                             "module table offset is past end of file", "module table extends past end of file"));
            if (swapped)
                swap_dylib_module_64(mods64, nmodtab, host());
        } else {
            mods = reinterpret_cast<dylib_module*>(
                locate_table(object, dyst.modtaboff, &nmodtab, sizeof(dylib_module),
                             "module table offset is past end of file", "module table extends past end of file"));
            if (swapped)
                swap_dylib_module(mods, nmodtab, host());
        }
    }
    if (Tflag) {
        uint32_t ntocs = have_dyst ? dyst.ntoc : 0;
        dylib_table_of_contents* tocs = nullptr;
        if (have_dyst) {
            tocs = reinterpret_cast<dylib_table_of_contents*>(
                locate_table(object, dyst.tocoff, &ntocs, sizeof(dylib_table_of_contents),
                             "table of contents offset is past end of file",
                             "table of contents extends past end of file"));
            if (swapped)
                swap_dylib_table_of_contents(tocs, ntocs, host());
        }
        print_toc(lc, ncmds, sizeofcmds, sex, object, tocs, ntocs, mods, mods64, nmodtab, st.symbols, st.symbols64,
                  st.nsymbols, st.strings, st.strings_size, vflag);
        free(tocs);
    }
    if (Mflag) {
        if (mods != nullptr)
            print_module_table(mods, nmodtab, st.strings, st.strings_size, vflag);
        else
            print_module_table_64(mods64, nmodtab, st.strings, st.strings_size, vflag);
    }
    if (Rflag) {
        uint32_t nrefs = have_dyst ? dyst.nextrefsyms : 0;
        dylib_reference* refs = nullptr;
        if (have_dyst) {
            refs = reinterpret_cast<dylib_reference*>(locate_table(object, dyst.extrefsymoff, &nrefs,
                                                                   sizeof(dylib_reference),
                                                                   "reference table offset is past end of file",
                                                                   "reference table extends past end of file"));
            if (swapped)
                swap_dylib_reference(refs, nrefs, host());
        }
        print_refs(refs, nrefs, mods, mods64, nmodtab, st.symbols, st.symbols64, st.nsymbols, st.strings,
                   st.strings_size, vflag);
        free(refs);
    }
    uint32_t* indirect = nullptr;
    uint32_t nindirect = 0;
    if ((Iflag || (tflag && vflag)) && have_dyst) {
        nindirect = dyst.nindirectsyms;
        indirect = reinterpret_cast<uint32_t*>(locate_table(object, dyst.indirectsymoff, &nindirect,
                                                            sizeof(uint32_t),
                                                            "indirect symbol table offset is past end of file",
                                                            "indirect symbol table extends past end of file"));
        if (swapped)
            swap_indirect_symbols(indirect, nindirect, host());
    }
    if (Hflag) {
        twolevel_hints_command hc;
        twolevel_hint* hints = nullptr;
        uint32_t nhints = 0;
        if (find_load_command(lc, ncmds, sizeofcmds, sex, LC_TWOLEVEL_HINTS, "LC_TWOLEVEL_HINTS", &hc, sizeof hc)
            != 0) {
            if (swapped)
                swap_twolevel_hints_command(&hc, host());
            nhints = hc.nhints;
            hints = reinterpret_cast<twolevel_hint*>(locate_table(object, hc.offset, &nhints, sizeof(twolevel_hint),
                                                                  "two-level hints offset is past end of file",
                                                                  "two-level hints table extends past end of file"));
            if (swapped)
                swap_twolevel_hint(hints, nhints, host());
        }
        print_hints(lc, ncmds, sizeofcmds, sex, hints, nhints, st.symbols, st.symbols64, st.nsymbols, st.strings,
                    st.strings_size, vflag);
        free(hints);
    }
    if (Iflag)
        print_indirect_symbols(lc, ncmds, sizeofcmds, cputype, sex, indirect, nindirect, st.symbols, st.symbols64,
                               st.nsymbols, st.strings, st.strings_size, vflag);
    if (rflag)
        print_reloc(lc, ncmds, sizeofcmds, cputype, sex, object, st.symbols, st.symbols64, st.nsymbols, st.strings,
                    st.strings_size, vflag);

    // The code section.
    const code_context cc{&lc, ncmds, sizeofcmds, cputype, sex, &st, sorted, nsorted, indirect, nindirect};
    if (tflag) {
        char* text = nullptr;
        uint64_t size = 0, addr = 0;
        relocation_info* relocs = nullptr;
        uint32_t nrelocs = 0, flags = 0;
        get_sect_info("__TEXT", "__text", lc, ncmds, sizeofcmds, filetype, sex, object, &text, &size, &addr, &relocs,
                      &nrelocs, &flags);
        if (Vflag && swapped)
            swap_relocation_info(relocs, nrelocs, host());
        code_section(cc, text, size, addr, Vflag ? relocs : nullptr, Vflag ? nrelocs : 0, "__TEXT", "__text");
        free(text);
        free(relocs);
    } else if (want_section && has_instructions(sect_flags)) {
        if (Vflag && swapped)
            swap_relocation_info(sect_relocs, sect_nrelocs, host());
        code_section(cc, sect, sect_size, sect_addr, Vflag ? sect_relocs : nullptr, Vflag ? sect_nrelocs : 0,
                     segname, sectname);
    }

    // The fixed-VM shared library initialisation.
    if (iflag) {
        char* init = nullptr;
        uint64_t size = 0, addr = 0;
        relocation_info* relocs = nullptr;
        uint32_t nrelocs = 0, flags = 0;
        if (get_sect_info("__TEXT", "__fvmlib_init0", lc, ncmds, sizeofcmds, filetype, sex, object, &init, &size,
                          &addr, &relocs, &nrelocs, &flags)) {
            if (swapped)
                swap_relocation_info(relocs, nrelocs, host());
            if (nrelocs != 0)
                qsort(relocs, nrelocs, sizeof *relocs, rel_compare);
            if (!Xflag)
                printf("Shared library initialization (%s,%s) section\n", "__TEXT", "__fvmlib_init0");
            print_shlib_init(sex, init, init != nullptr ? size : 0, addr, sorted, nsorted, st.symbols, st.symbols64, st.nsymbols,
                             st.strings, st.strings_size, relocs, nrelocs, vflag);
        }
        free(init);
        free(relocs);
    }

    // (__DATA,__data).
    if (dflag) {
        char* data = nullptr;
        uint64_t size = 0, addr = 0;
        relocation_info* relocs = nullptr;
        uint32_t nrelocs = 0, flags = 0;
        if (get_sect_info("__DATA", "__data", lc, ncmds, sizeofcmds, filetype, sex, object, &data, &size, &addr,
                          &relocs, &nrelocs, &flags)) {
            if (!Xflag)
                printf("(%s,%s) section\n", "__DATA", "__data");
            print_sect(cputype, sex, data, data != nullptr ? size : 0, addr);
        }
        free(data);
        free(relocs);
    }

    // The named section, when it holds no instructions.
    if (want_section && !has_instructions(sect_flags)) {
        bool done = false;
        if (strcmp(segname, "__OBJC") == 0 && vflag == 1) {
            if (strcmp(sectname, "__protocol") == 0) {
                print_objc_protocol_section(lc, ncmds, sizeofcmds, sex, object, 1);
                done = true;
            } else if (strcmp(sectname, "__string_object") == 0 || strcmp(sectname, "__cstring_object") == 0) {
                if (is64_object)
                    print_objc_string_object_section_64(sectname, lc, ncmds, sizeofcmds, sex, object, cputype,
                                                        st.symbols64, st.nsymbols, st.strings, st.strings_size,
                                                        sorted, nsorted, 1);
                else
                    print_objc_string_object_section(sectname, lc, ncmds, sizeofcmds, sex, object, 1);
                done = true;
            } else if (strcmp(sectname, "__runtime_setup") == 0) {
                print_objc_runtime_setup_section(lc, ncmds, sizeofcmds, sex, object, 1);
                done = true;
            }
        }
        if (!done) {
            char* contents = nullptr;
            uint64_t size = 0, addr = 0;
            relocation_info* relocs = nullptr;
            uint32_t nrelocs = 0, flags = 0;
            if (get_sect_info(segname, sectname, lc, ncmds, sizeofcmds, filetype, sex, object, &contents, &size,
                              &addr, &relocs, &nrelocs, &flags)) {
                if (!Xflag)
                    printf("Contents of (%.16s,%.16s) section\n", segname, sectname);
                const int print_addresses = !Xflag;
                const uint32_t type = flags & SECTION_TYPE;
                // A zero-fill section's size is not bytes to read.
                if (contents == nullptr)
                    size = 0;
                if (vflag) {
                    switch (type) {
                    case S_REGULAR:
                        print_sect(cputype, sex, contents, size, addr);
                        break;
                    case S_ZEROFILL:
                        printf("zerofill section and has no contents in the file\n");
                        break;
                    case S_CSTRING_LITERALS:
                        print_cstring_section(contents, size, addr, print_addresses);
                        break;
                    case S_4BYTE_LITERALS:
                        print_literal4_section(contents, size, addr, sex, print_addresses);
                        break;
                    case S_8BYTE_LITERALS:
                        print_literal8_section(contents, size, addr, sex, print_addresses);
                        break;
                    case S_16BYTE_LITERALS:
                        print_literal16_section(contents, size, addr, sex, print_addresses);
                        break;
                    case S_LITERAL_POINTERS:
                        if (swapped)
                            swap_relocation_info(relocs, nrelocs, host());
                        if (nrelocs != 0)
                            qsort(relocs, nrelocs, sizeof *relocs, rel_compare);
                        print_literal_pointer_section(lc, ncmds, sizeofcmds, sex, object, contents, size, addr,
                                                      st.symbols, st.symbols64, st.nsymbols, st.strings,
                                                      st.strings_size, relocs, nrelocs, print_addresses);
                        break;
                    case S_MOD_INIT_FUNC_POINTERS:
                    case S_MOD_TERM_FUNC_POINTERS:
                        print_init_term_pointer_section(cputype, contents, size, addr, sex, sorted, nsorted, Vflag);
                        break;
                    default:
                        printf("Unknown section type (0x%x)\n", type);
                        print_sect(cputype, sex, contents, size, addr);
                        break;
                    }
                } else if (type == S_ZEROFILL) {
                    printf("zerofill section and has no contents in the file\n");
                } else {
                    print_sect(cputype, sex, contents, size, addr);
                }
            }
            free(contents);
            free(relocs);
        }
    }

    // A core file's argument strings.
    if (cflag)
        print_argstrings(lc, ncmds, sizeofcmds, magic, cputype, cpusubtype, sex, object);

    // Objective-C metadata.
    if (oflag) {
        if (is64_object) {
            relocation_info* ext = nullptr;
            relocation_info* loc = nullptr;
            uint32_t next = 0, nloc = 0;
            if (have_dyst) {
                next = dyst.nextrel;
                ext = reinterpret_cast<relocation_info*>(
                    locate_table(object, dyst.extreloff, &next, sizeof(relocation_info),
                                 "external relocation entries offset is past end of file",
                                 "external relocation entries extend past end of file"));
                nloc = dyst.nlocrel;
                loc = reinterpret_cast<relocation_info*>(
                    locate_table(object, dyst.locreloff, &nloc, sizeof(relocation_info),
                                 "local relocation entries offset is past end of file",
                                 "local relocation entries extend past end of file"));
                if (swapped) {
                    swap_relocation_info(ext, next, host());
                    swap_relocation_info(loc, nloc, host());
                }
            }
            print_objc2(cputype, lc, ncmds, sizeofcmds, sex, object, st.symbols64, st.nsymbols, st.strings,
                        st.strings_size, sorted, nsorted, ext, next, loc, nloc, vflag);
            free(ext);
            free(loc);
        } else {
            print_objc_segment(lc, ncmds, sizeofcmds, sex, object, sorted, nsorted, vflag);
        }
    }

    free(sect);
    free(sect_relocs);
    free(st.symbols);
    free(st.symbols64);
    free(st.strings);
    free(sorted);
    free(mods);
    free(mods64);
    free(indirect);
}

} // namespace macho
