// The dynamic symbol table's tables (table of contents, modules, references),
// the indirect symbols by section, and the two-level namespace hints.
#include "print/display.h"

#include "libstuff/errors.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace macho {

namespace {

byte_sex host()
{
    return get_host_byte_sex();
}

struct symbol_view {
    const nlist* symbols;
    const nlist_64* symbols64;
    uint32_t nsymbols;

    uint32_t strx(uint32_t i) const { return symbols != nullptr ? symbols[i].n_strx : symbols64[i].n_strx; }
    uint8_t type(uint32_t i) const { return symbols != nullptr ? symbols[i].n_type : symbols64[i].n_type; }
    uint16_t desc(uint32_t i) const
    {
        return symbols != nullptr ? static_cast<uint16_t>(symbols[i].n_desc) : symbols64[i].n_desc;
    }
    bool has(uint32_t i) const { return i < nsymbols && (symbols != nullptr || symbols64 != nullptr); }
};

uint32_t module_name(const dylib_module* mods, const dylib_module_64* mods64, uint32_t i)
{
    return mods != nullptr ? mods[i].module_name : mods64[i].module_name;
}

template <typename M>
void print_modules(const M* mods, uint32_t nmodtab, const char* strings, uint64_t strings_size, int verbose,
                   bool wide)
{
    printf("Module table (%lu entries)\n", static_cast<unsigned long>(nmodtab));
    for (uint32_t i = 0; i < nmodtab; ++i) {
        const M& m = mods[i];
        printf("module %lu\n", static_cast<unsigned long>(i));
        const char* name = string_at(strings, strings_size, m.module_name);
        if (name == nullptr)
            printf("    module_name = %u (past end of string table)\n", m.module_name);
        else if (verbose)
            printf("    module_name = %s\n", name);
        else
            printf("    module_name = %u\n", m.module_name);
        printf("     iextdefsym = %u\n", m.iextdefsym);
        printf("     nextdefsym = %u\n", m.nextdefsym);
        printf("        irefsym = %u\n", m.irefsym);
        printf("        nrefsym = %u\n", m.nrefsym);
        printf("      ilocalsym = %u\n", m.ilocalsym);
        printf("      nlocalsym = %u\n", m.nlocalsym);
        printf("        iextrel = %u\n", m.iextrel);
        printf("        nextrel = %u\n", m.nextrel);
        printf("    iinit_iterm = %u %u\n", m.iinit_iterm & 0xffff, m.iinit_iterm >> 16);
        printf("    ninit_nterm = %u %u\n", m.ninit_nterm & 0xffff, m.ninit_nterm >> 16);
        if (wide)
            printf("      objc_addr = 0x%016llx\n", static_cast<unsigned long long>(m.objc_module_info_addr));
        else
            printf("      objc_addr = 0x%x\n", static_cast<uint32_t>(m.objc_module_info_addr));
        printf("      objc_size = %u\n", m.objc_module_info_size);
    }
}

struct section_entry {
    char segname[16];
    char sectname[16];
    uint64_t size;
    uint64_t addr;
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t flags;
};

} // namespace

void print_toc(const load_commands_view&, uint32_t, uint32_t, byte_sex, const object_bytes&,
               const dylib_table_of_contents* tocs, uint32_t ntocs, const dylib_module* mods,
               const dylib_module_64* mods64, uint32_t nmodtab, const nlist* symbols, const nlist_64* symbols64,
               uint32_t nsymbols, const char* strings, uint64_t strings_size, int verbose)
{
    const symbol_view sv{symbols, symbols64, nsymbols};
    printf("Table of contents (%lu entries)\n", static_cast<unsigned long>(ntocs));
    printf(verbose ? "module name      symbol name\n" : "module index symbol index\n");
    for (uint32_t i = 0; i < ntocs; ++i) {
        const dylib_table_of_contents& t = tocs[i];
        if (!verbose) {
            printf("%-12u %u\n", t.module_index, t.symbol_index);
            continue;
        }
        if (t.module_index < nmodtab && (mods != nullptr || mods64 != nullptr)) {
            const char* name = string_at(strings, strings_size, module_name(mods, mods64, t.module_index));
            if (name != nullptr)
                printf("%-16s ", name);
            else
                printf("%-16u (string index past the end of string table) ", t.module_index);
        } else {
            printf("%-16u (past the end of the module table) ", t.module_index);
        }
        if (!sv.has(t.symbol_index)) {
            printf("%u (past the end of the symbol table)\n", t.symbol_index);
            continue;
        }
        const char* name = string_at(strings, strings_size, sv.strx(t.symbol_index));
        if (name == nullptr) {
            printf("%u (string index past the end of the string table)\n", t.symbol_index);
            continue;
        }
        printf("%s", name);
        printf((sv.type(t.symbol_index) & N_EXT) ? "\n" : " [private]\n");
    }
}

void print_module_table(const dylib_module* mods, uint32_t nmodtab, const char* strings, uint64_t strings_size,
                        int verbose)
{
    print_modules(mods, nmodtab, strings, strings_size, verbose, false);
}

void print_module_table_64(const dylib_module_64* mods64, uint32_t nmodtab, const char* strings,
                           uint64_t strings_size, int verbose)
{
    print_modules(mods64, nmodtab, strings, strings_size, verbose, true);
}

void print_refs(const dylib_reference* refs, uint32_t nrefs, const dylib_module* mods,
                const dylib_module_64* mods64, uint32_t nmodtab, const nlist* symbols, const nlist_64* symbols64,
                uint32_t nsymbols, const char* strings, uint64_t strings_size, int verbose)
{
    const symbol_view sv{symbols, symbols64, nsymbols};
    printf("Reference table (%lu entries)\n", static_cast<unsigned long>(nrefs));
    for (uint32_t i = 0; i < nmodtab; ++i) {
        const uint32_t name_index = module_name(mods, mods64, i);
        const uint32_t irefsym = mods != nullptr ? mods[i].irefsym : mods64[i].irefsym;
        const uint32_t nrefsym = mods != nullptr ? mods[i].nrefsym : mods64[i].nrefsym;
        const char* name = string_at(strings, strings_size, name_index);
        if (name == nullptr)
            printf("    module %u (past end of string table)", name_index);
        else if (verbose)
            printf("    module %s", name);
        else
            printf("    module %u", name_index);
        if (irefsym > nrefs)
            printf(" %u entries, at index %u (past end of reference table)\n", nrefsym, irefsym);
        else if (uint64_t(irefsym) + nrefsym > nrefs)
            printf(" %u entries (extends past the end of the reference table), at index %u\n", nrefsym, irefsym);
        else
            printf(" %u entries, at index %u\n", nrefsym, irefsym);
        for (uint64_t j = irefsym; j < uint64_t(irefsym) + nrefsym && j < nrefs; ++j) {
            const uint32_t isym = refs[j].word & 0xffffff;
            const uint32_t flags = refs[j].word >> 24;
            if (!sv.has(isym)) {
                printf("\t%u (past the end of the symbol table) ", isym);
            } else if (verbose) {
                const char* sname = string_at(strings, strings_size, sv.strx(isym));
                if (sname != nullptr)
                    printf("\t%s ", sname);
                else
                    printf("\t%u (string index past the end of the string table) ", isym);
            } else {
                printf("\tisym %u ", isym);
            }
            if (!verbose) {
                printf("flags %u\n", flags);
                continue;
            }
            static const char* const kFlags[] = {"undefined [non-lazy]",         "undefined [lazy]",
                                                 "defined",                      "private defined",
                                                 "private undefined [non-lazy]", "private undefined [lazy]"};
            if (flags < 6)
                printf("%s\n", kFlags[flags]);
            else
                printf("%u\n", flags);
        }
    }
}

void print_indirect_symbols(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, int32_t cputype,
                            byte_sex object_byte_sex, const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                            const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols, const char* strings,
                            uint64_t strings_size, int verbose)
{
    section_entry* sections = nullptr;
    uint32_t nsections = 0;
    uint32_t capacity = 0;
    const bool at_end = walk_load_commands(
        lc, ncmds, sizeofcmds, object_byte_sex, LC_WALK_NOTES, [&](uint32_t, uint64_t off, const load_command& l) {
            if (!is_segment_command(l.cmd))
                return true;
            const segment_info sg = read_segment(lc, off, l.cmd, object_byte_sex);
            for (uint32_t j = 0; j < sg.nsects; ++j) {
                section_info s;
                if (!read_section(lc, off, l.cmd, j, object_byte_sex, &s))
                    break;
                if (nsections == capacity) {
                    capacity = capacity == 0 ? 16 : capacity * 2;
                    sections = static_cast<section_entry*>(reallocate(sections, sizeof *sections * capacity));
                }
                section_entry& e = sections[nsections++];
                memcpy(e.segname, s.segname, 16);
                memcpy(e.sectname, s.sectname, 16);
                e.size = s.size;
                e.addr = s.addr;
                e.reserved1 = s.reserved1;
                e.reserved2 = s.reserved2;
                e.flags = s.flags;
            }
            return true;
        });
    if (!at_end)
        printf("Inconsistent sizeofcmds\n");

    const bool is64 = (cputype & CPU_ARCH_ABI64) != 0;
    const symbol_view sv{symbols, symbols64, nsymbols};
    for (uint32_t i = 0; i < nsections; ++i) {
        const section_entry& s = sections[i];
        const uint32_t type = s.flags & SECTION_TYPE;
        if (type != S_SYMBOL_STUBS && type != S_LAZY_SYMBOL_POINTERS && type != S_NON_LAZY_SYMBOL_POINTERS)
            continue;
        uint64_t stride;
        if (type == S_SYMBOL_STUBS) {
            stride = s.reserved2;
            if (stride == 0) {
                printf("Can't print indirect symbols for (%.16s,%.16s) (size of stubs in reserved2 field is zero)\n",
                       s.segname, s.sectname);
                continue;
            }
        } else {
            stride = is64 ? 8 : 4;
        }
        const uint64_t count = s.size / stride;
        printf("Indirect symbols for (%.16s,%.16s) %lu entries", s.segname, s.sectname,
               static_cast<unsigned long>(count));
        if (s.reserved1 > nindirect_symbols)
            printf(" (entries start past the end of the indirect symbol table) (reserved1 field greater than the "
                   "table size)");
        else if (s.reserved1 + count > nindirect_symbols)
            printf(" (entries extends past the end of the indirect symbol table)");
        printf(is64 ? "\naddress            index" : "\naddress    index");
        printf(verbose ? " name\n" : "\n");
        for (uint64_t j = s.reserved1; j < s.reserved1 + count && j < nindirect_symbols; ++j) {
            const uint64_t addr = s.addr + (j - s.reserved1) * stride;
            if (is64)
                printf("0x%016llx ", static_cast<unsigned long long>(addr));
            else
                printf("0x%08x ", static_cast<uint32_t>(addr));
            const uint32_t entry = indirect_symbols[j];
            if (entry == INDIRECT_SYMBOL_LOCAL) {
                printf("LOCAL\n");
                continue;
            }
            if (entry == (INDIRECT_SYMBOL_LOCAL | INDIRECT_SYMBOL_ABS)) {
                printf("LOCAL ABSOLUTE\n");
                continue;
            }
            printf("%5u ", entry);
            if (!verbose) {
                printf("\n");
                continue;
            }
            const char* name = sv.has(entry) ? string_at(strings, strings_size, sv.strx(entry)) : nullptr;
            printf("%s\n", name != nullptr ? name : "?");
        }
    }
    free(sections);
}

void print_hints(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
                 const twolevel_hint* hints, uint32_t nhints, const nlist* symbols, const nlist_64* symbols64,
                 uint32_t nsymbols, const char* strings, uint64_t strings_size, int verbose)
{
    char** libs = nullptr;
    uint32_t nlibs = 0;
    uint32_t capacity = 0;
    dysymtab_command dyst;
    bool have_dyst = false;
    uint32_t dyst_index = 0;
    const bool swapped = object_byte_sex != host();
    if (verbose) {
        const bool at_end = walk_load_commands(
            lc, ncmds, sizeofcmds, object_byte_sex, LC_WALK_NOTES, [&](uint32_t i, uint64_t off, const load_command& l) {
                if (l.cmd == LC_DYSYMTAB) {
                    if (have_dyst) {
                        printf("more than one LC_DYSYMTAB command (using command %lu)\n",
                               static_cast<unsigned long>(dyst_index));
                        return true;
                    }
                    dyst_index = i;
                    lc.read(off, &dyst, sizeof dyst);
                    if (swapped)
                        swap_dysymtab_command(&dyst, host());
                    have_dyst = true;
                } else if (l.cmd == LC_LOAD_DYLIB || l.cmd == LC_LOAD_WEAK_DYLIB || l.cmd == LC_REEXPORT_DYLIB) {
                    dylib_command d;
                    lc.read(off, &d, sizeof d);
                    if (swapped)
                        swap_dylib_command(&d, host());
                    char* short_name;
                    if (d.name.offset < l.cmdsize) {
                        // The install name, inside its command.
                        std::string name;
                        for (uint64_t at = off + d.name.offset; at < off + l.cmdsize && at < lc.present; ++at) {
                            const char c = lc.at(at);
                            if (c == '\0')
                                break;
                            name.push_back(c);
                        }
                        bool is_framework;
                        char* suffix;
                        short_name = guess_short_name(name.c_str(), &is_framework, &suffix);
                        free(suffix);
                        if (short_name == nullptr)
                            short_name = savestr(name.c_str());
                    } else {
                        short_name = savestr("bad dylib.name.offset");
                    }
                    if (nlibs == capacity) {
                        capacity = capacity == 0 ? 16 : capacity * 2;
                        libs = static_cast<char**>(reallocate(libs, sizeof *libs * capacity));
                    }
                    libs[nlibs++] = short_name;
                }
                return true;
            });
        if (!at_end)
            printf("Inconsistent sizeofcmds\n");
    }

    const symbol_view sv{symbols, symbols64, nsymbols};
    printf("Two-level namespace hints table (%lu hints)\n", static_cast<unsigned long>(nhints));
    printf("index  isub  itoc\n");
    for (uint32_t i = 0; i < nhints; ++i) {
        const uint32_t isub = hints[i].word & 0xff;
        const uint32_t itoc = hints[i].word >> 8;
        printf("%5lu %5d %5u", static_cast<unsigned long>(i), static_cast<int>(isub), itoc);
        const uint64_t sym = uint64_t(dyst.iundefsym) + i;
        if (verbose && have_dyst && sym < nsymbols && sv.has(static_cast<uint32_t>(sym))) {
            const uint32_t s = static_cast<uint32_t>(sym);
            const char* name = string_at(strings, strings_size, sv.strx(s));
            if (name == nullptr) {
                printf(" (bad string index in symbol %lu)\n", static_cast<unsigned long>(s));
                continue;
            }
            printf(" %s", name);
            const uint32_t ordinal = (sv.desc(s) >> 8) & 0xff;
            if (ordinal >= 1 && ordinal <= nlibs)
                printf(" (from %s)\n", libs[ordinal - 1]);
            else
                printf("\n");
        } else {
            printf("\n");
        }
    }
    for (uint32_t i = 0; i < nlibs; ++i)
        free(libs[i]);
    free(libs);
}

const char* look_back_for_slash(const char* start, const char* p)
{
    // Never before the name's first character.
    while (p > start) {
        --p;
        if (*p == '/')
            return p;
    }
    return nullptr;
}

namespace {

char* copy_n(const char* p, size_t n)
{
    char* s = static_cast<char*>(allocate(n + 1));
    memcpy(s, p, n);
    s[n] = '\0';
    return s;
}

// Whether `candidate` (n characters) followed by ".framework/" starts at
// `at`.
bool framework_at(const char* at, const char* candidate, size_t n)
{
    return strncmp(at, candidate, n) == 0 && strncmp(at + n, ".framework/", 11) == 0;
}

} // namespace

char* guess_short_name(const char* name, bool* is_framework, char** suffix)
{
    *is_framework = false;
    *suffix = nullptr;
    const char* a = strrchr(name, '/');
    if (a != nullptr && a != name) {
        const char* foo = a + 1;
        size_t l = strlen(foo);
        const char* us = strrchr(foo, '_');
        char* fw_suffix = nullptr;
        if (us != nullptr && us != foo && strlen(us) >= 2) {
            fw_suffix = savestr(us);
            l -= strlen(us);
        }
        // Foo.framework/Foo
        const char* b = look_back_for_slash(name, a);
        if (framework_at(b == nullptr ? name : b + 1, foo, l)) {
            *is_framework = true;
            *suffix = fw_suffix;
            return copy_n(foo, l);
        }
        // Foo.framework/Versions/A/Foo
        if (b != nullptr && b != name) {
            const char* c = look_back_for_slash(name, b);
            if (c != nullptr && c != name && strncmp(c + 1, "Versions/", 9) == 0) {
                const char* d = look_back_for_slash(name, c);
                if (framework_at(d == nullptr ? name : d + 1, foo, l)) {
                    *is_framework = true;
                    *suffix = fw_suffix;
                    return copy_n(foo, l);
                }
            }
        }
        free(fw_suffix);
    }

    // Library forms.
    const char* dot = strrchr(name, '.');
    if (dot == nullptr || dot == name)
        return nullptr;
    if (strcmp(dot, ".dylib") == 0) {
        if (dot - name > 2 && dot[-2] == '.')
            dot -= 2;
        const char* b = look_back_for_slash(name, dot);
        if (b == name)
            return nullptr;
        const char* start = b == nullptr ? name : b + 1;
        size_t l = static_cast<size_t>(dot - start);
        const char* us = static_cast<const char*>(memchr(start, '_', l));
        if (us != nullptr && us != start) {
            l = static_cast<size_t>(us - start);
            const char* e = strchr(us, '.');
            *suffix = copy_n(us, e != nullptr ? static_cast<size_t>(e - us) : strlen(us));
        }
        if (l > 2 && start[l - 2] == '.')
            l -= 2;
        return copy_n(start, l);
    }
    if (strcmp(dot, ".qtx") == 0) {
        const char* b = look_back_for_slash(name, dot);
        if (b == name)
            return nullptr;
        const char* start = b == nullptr ? name : b + 1;
        size_t l = static_cast<size_t>(dot - start);
        if (l > 2 && dot[-2] == '.')
            l -= 2;
        return copy_n(start, l);
    }
    return nullptr;
}

} // namespace macho
