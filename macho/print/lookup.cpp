#include "print/lookup.h"

#include "libstuff/errors.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace macho {

namespace {

byte_sex host()
{
    return get_host_byte_sex();
}

// Whole entries of `entry` bytes from `off` to the object's end.
uint64_t entries_to_end(const object_bytes& object, uint64_t off, uint64_t entry)
{
    return off >= object.size ? 0 : (object.size - off) / entry;
}

} // namespace

char* object_copy(const object_bytes& object, uint64_t off, uint64_t n)
{
    if (n == 0)
        return nullptr;
    char* block = static_cast<char*>(allocate(n));
    const uint64_t end = object.offset + object.size;
    if (off >= object.size) {
        memset(block, 0, n);
        return block;
    }
    read_bytes(object.reader, object.offset + off, end, block, n);
    return block;
}

relocation_info* read_relocs(const object_bytes& object, uint64_t reloff, uint32_t* nrelocs,
                             byte_sex object_byte_sex)
{
    const uint64_t fit = entries_to_end(object, reloff, sizeof(relocation_info));
    if (*nrelocs > fit)
        *nrelocs = static_cast<uint32_t>(fit);
    if (*nrelocs == 0)
        return nullptr;
    relocation_info* relocs = reinterpret_cast<relocation_info*>(
        object_copy(object, reloff, uint64_t(*nrelocs) * sizeof(relocation_info)));
    if (object_byte_sex != host())
        swap_relocation_info(relocs, *nrelocs, host());
    return relocs;
}

bool is_segment_command(uint32_t cmd)
{
    return cmd == LC_SEGMENT || cmd == LC_SEGMENT_64;
}

segment_info read_segment(const load_commands_view& lc, uint64_t off, uint32_t cmd, byte_sex object_byte_sex)
{
    const bool swapped = object_byte_sex != host();
    segment_info s;
    if (cmd == LC_SEGMENT_64) {
        segment_command_64 sg;
        lc.read(off, &sg, sizeof sg);
        if (swapped)
            swap_segment_command_64(&sg, host());
        s.cmd = sg.cmd;
        s.cmdsize = sg.cmdsize;
        memcpy(s.segname, sg.segname, sizeof s.segname);
        s.vmaddr = sg.vmaddr;
        s.vmsize = sg.vmsize;
        s.fileoff = sg.fileoff;
        s.filesize = sg.filesize;
        s.maxprot = sg.maxprot;
        s.initprot = sg.initprot;
        s.nsects = sg.nsects;
        s.flags = sg.flags;
    } else {
        segment_command sg;
        lc.read(off, &sg, sizeof sg);
        if (swapped)
            swap_segment_command(&sg, host());
        s.cmd = sg.cmd;
        s.cmdsize = sg.cmdsize;
        memcpy(s.segname, sg.segname, sizeof s.segname);
        s.vmaddr = sg.vmaddr;
        s.vmsize = sg.vmsize;
        s.fileoff = sg.fileoff;
        s.filesize = sg.filesize;
        s.maxprot = sg.maxprot;
        s.initprot = sg.initprot;
        s.nsects = sg.nsects;
        s.flags = sg.flags;
    }
    return s;
}

namespace {

/// Reads section record j of a segment command of either width, swapped to
/// host order, and widens it; false when it lies past the load commands.
template <class Segment, class Section>
bool read_section_as(const load_commands_view& lc, uint64_t off, uint32_t j, bool swapped,
                     void (*swap)(Section*, uint32_t, byte_sex), section_info* out)
{
    const uint64_t at = off + sizeof(Segment) + uint64_t(j) * sizeof(Section);
    Section s;
    lc.read(at, &s, sizeof s);
    if (swapped)
        swap(&s, 1, host());
    memcpy(out->sectname, s.sectname, 16);
    memcpy(out->segname, s.segname, 16);
    out->addr = s.addr;
    out->size = s.size;
    out->offset = s.offset;
    out->align = s.align;
    out->reloff = s.reloff;
    out->nreloc = s.nreloc;
    out->flags = s.flags;
    out->reserved1 = s.reserved1;
    out->reserved2 = s.reserved2;
    return at + sizeof s <= lc.sizeofcmds;
}

} // namespace

bool read_section(const load_commands_view& lc, uint64_t off, uint32_t cmd, uint32_t j, byte_sex object_byte_sex,
                  section_info* out)
{
    const bool swapped = object_byte_sex != host();
    if (cmd == LC_SEGMENT_64)
        return read_section_as<segment_command_64, section_64>(lc, off, j, swapped, swap_section_64, out);
    return read_section_as<segment_command, section>(lc, off, j, swapped, swap_section, out);
}

uint32_t find_load_command(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds,
                           byte_sex object_byte_sex, uint32_t cmd, const char* name, void* out, size_t size)
{
    uint32_t found = 0;
    const bool at_end = walk_load_commands(lc, ncmds, sizeofcmds, object_byte_sex, LC_WALK_NOTES,
                                           [&](uint32_t i, uint64_t off, const load_command& l) {
                                               if (l.cmd != cmd)
                                                   return true;
                                               if (found != 0) {
                                                   printf("more than one %s command (using command %lu)\n", name,
                                                          static_cast<unsigned long>(found - 1));
                                                   return true;
                                               }
                                               found = i + 1;
                                               // Zeros past the area's end.
                                               lc.read(off, out, size);
                                               return true;
                                           });
    if (!at_end)
        printf("Inconsistent sizeofcmds\n");
    return found;
}

void get_symbol_table_info(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, int32_t cputype,
                           byte_sex object_byte_sex, const object_bytes& object, nlist** symbols,
                           nlist_64** symbols64, uint32_t* nsymbols, char** strings, uint64_t* strings_size)
{
    *symbols = nullptr;
    *symbols64 = nullptr;
    *nsymbols = 0;
    *strings = nullptr;
    *strings_size = 0;
    symtab_command st;
    if (find_load_command(lc, ncmds, sizeofcmds, object_byte_sex, LC_SYMTAB, "LC_SYMTAB", &st, sizeof st) == 0)
        return;
    const bool swapped = object_byte_sex != host();
    if (swapped)
        swap_symtab_command(&st, host());

    const bool is64 = (cputype & CPU_ARCH_ABI64) != 0;
    const uint64_t entry = is64 ? sizeof(nlist_64) : sizeof(nlist);
    if (st.symoff >= object.size) {
        printf("symbol table offset is past end of file\n");
    } else {
        uint64_t n = st.nsyms;
        if (st.symoff + n * entry > object.size) {
            printf("symbol table extends past end of file\n");
            n = entries_to_end(object, st.symoff, entry);
        }
        *nsymbols = static_cast<uint32_t>(n);
        // malloc's blocks are aligned for nlist_64: the copy is, the file's
        // bytes need not be.
        char* block = object_copy(object, st.symoff, n * entry);
        if (is64) {
            *symbols64 = reinterpret_cast<nlist_64*>(block);
            if (swapped)
                swap_nlist_64(*symbols64, *nsymbols, host());
        } else {
            *symbols = reinterpret_cast<nlist*>(block);
            if (swapped)
                swap_nlist(*symbols, *nsymbols, host());
        }
    }
    if (st.stroff >= object.size) {
        printf("string table offset is past end of file\n");
    } else {
        uint64_t n = st.strsize;
        if (uint64_t(st.stroff) + n > object.size) {
            printf("string table extends past end of file\n");
            n = object.size - st.stroff;
        }
        // One NUL more, so a name at the table's end ends there.
        char* block = static_cast<char*>(allocate(n + 1));
        read_bytes(object.reader, object.offset + st.stroff, object.offset + object.size, block, n);
        block[n] = '\0';
        *strings = block;
        *strings_size = n;
    }
}

bool get_dyst(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
              dysymtab_command* dyst)
{
    if (find_load_command(lc, ncmds, sizeofcmds, object_byte_sex, LC_DYSYMTAB, "LC_DYSYMTAB", dyst, sizeof *dyst)
        == 0)
        return false;
    if (object_byte_sex != host())
        swap_dysymtab_command(dyst, host());
    return true;
}

int get_sect_info(const char* segname, const char* sectname, const load_commands_view& lc, uint32_t ncmds,
                  uint32_t sizeofcmds, uint32_t filetype, byte_sex object_byte_sex, const object_bytes& object,
                  char** contents, uint64_t* size, uint64_t* addr, relocation_info** relocs, uint32_t* nrelocs,
                  uint32_t* flags)
{
    *contents = nullptr;
    *size = 0;
    *addr = 0;
    *relocs = nullptr;
    *nrelocs = 0;
    *flags = 0;
    if (ncmds == 0)
        return 0;
    bool found = false;
    bool gave_up = false;
    section_info s;
    walk_load_commands(lc, ncmds, sizeofcmds, object_byte_sex, LC_WALK_NOTES,
                       [&](uint32_t, uint64_t off, const load_command& l) {
                           if (!is_segment_command(l.cmd))
                               return true;
                           const segment_info sg = read_segment(lc, off, l.cmd, object_byte_sex);
                           if (strncmp(sg.segname, segname, 16) != 0
                               && !(filetype == MH_OBJECT && sg.segname[0] == '\0'))
                               return true;
                           for (uint32_t j = 0; j < sg.nsects; ++j) {
                               const bool inside = read_section(lc, off, l.cmd, j, object_byte_sex, &s);
                               if (!inside)
                                   printf("section structure command extends past end of load commands\n");
                               if (strncmp(s.sectname, sectname, 16) == 0 && strncmp(s.segname, segname, 16) == 0) {
                                   found = true;
                                   return false;
                               }
                               if (!inside) {
                                   gave_up = true;
                                   return false;
                               }
                           }
                           return true;
                       });
    if (!found || gave_up)
        return 0;

    *addr = s.addr;
    *flags = s.flags;
    if ((s.flags & SECTION_TYPE) == S_ZEROFILL) {
        *size = s.size;
    } else if (s.offset >= object.size) {
        printf("section offset for section (%.16s,%.16s) is past end of file\n", s.segname, s.sectname);
    } else {
        uint64_t n = s.size;
        // Compared without the sum: a 64-bit size may wrap it.
        if (n > object.size - s.offset) {
            printf("section (%.16s,%.16s) extends past end of file\n", s.segname, s.sectname);
            n = object.size - s.offset;
        }
        *size = n;
        *contents = object_copy(object, s.offset, n);
    }
    if (s.reloff >= object.size) {
        printf("relocation entries offset for (%.16s,%.16s): is past end of file\n", s.segname, s.sectname);
    } else {
        uint64_t n = s.nreloc;
        if (s.reloff + n * sizeof(relocation_info) > object.size) {
            printf("relocation entries for section (%.16s,%.16s) extends past end of file\n", s.segname,
                   s.sectname);
            n = entries_to_end(object, s.reloff, sizeof(relocation_info));
        }
        *nrelocs = static_cast<uint32_t>(n);
        *relocs = reinterpret_cast<relocation_info*>(object_copy(object, s.reloff, n * sizeof(relocation_info)));
    }
    return 1;
}

int sym_compare(const void* a, const void* b)
{
    const uint64_t x = static_cast<const sorted_symbol*>(a)->n_value;
    const uint64_t y = static_cast<const sorted_symbol*>(b)->n_value;
    return x < y ? -1 : x > y ? 1 : 0;
}

namespace {

int32_t rel_address(const relocation_info& r)
{
    if (reloc_scattered(r))
        return static_cast<int32_t>(sreloc_address(r));
    return r.r_address;
}

} // namespace

int rel_compare(const void* a, const void* b)
{
    const int32_t x = rel_address(*static_cast<const relocation_info*>(a));
    const int32_t y = rel_address(*static_cast<const relocation_info*>(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

int rel_bsearch(const void* key, const void* entry)
{
    const uint32_t k = *static_cast<const uint32_t*>(key);
    const relocation_info& r = *static_cast<const relocation_info*>(entry);
    const uint32_t a = reloc_scattered(r) ? sreloc_address(r) : static_cast<uint32_t>(r.r_address);
    return k < a ? -1 : k > a ? 1 : 0;
}

namespace {

const sorted_symbol* find_sorted(uint64_t value, const sorted_symbol* sorted, uint32_t n)
{
    uint32_t lo = 0;
    uint32_t hi = n;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (sorted[mid].n_value == value)
            return &sorted[mid];
        if (sorted[mid].n_value < value)
            lo = mid + 1;
        else
            hi = mid;
    }
    return nullptr;
}

} // namespace

void print_label(uint64_t addr, int colon_and_newline, const sorted_symbol* sorted_symbols,
                 uint32_t nsorted_symbols)
{
    const sorted_symbol* s = find_sorted(addr, sorted_symbols, nsorted_symbols);
    if (s == nullptr)
        return;
    printf("%s", s->name);
    if (colon_and_newline == 1)
        printf(":\n");
}

const char* guess_symbol(uint64_t value, const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols,
                         int verbose)
{
    if (!verbose)
        return nullptr;
    const sorted_symbol* s = find_sorted(value, sorted_symbols, nsorted_symbols);
    return s != nullptr ? s->name : nullptr;
}

const char* guess_indirect_symbol(uint64_t value, uint32_t ncmds, uint32_t sizeofcmds,
                                  const load_commands_view& lc, byte_sex object_byte_sex,
                                  const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                                  const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                                  const char* strings, uint64_t strings_size)
{
    if (ncmds == 0)
        return nullptr;
    bool decided = false;
    bool have_index = false;
    bool is64 = false;
    uint64_t index = 0;
    walk_load_commands(lc, ncmds, sizeofcmds, object_byte_sex, LC_WALK_QUIET,
                       [&](uint32_t, uint64_t off, const load_command& l) {
                           if (!is_segment_command(l.cmd))
                               return true;
                           const segment_info sg = read_segment(lc, off, l.cmd, object_byte_sex);
                           for (uint32_t j = 0; j < sg.nsects; ++j) {
                               section_info s;
                               if (!read_section(lc, off, l.cmd, j, object_byte_sex, &s))
                                   break;
                               const uint32_t type = s.flags & SECTION_TYPE;
                               if (type != S_NON_LAZY_SYMBOL_POINTERS && type != S_LAZY_SYMBOL_POINTERS
                                   && type != S_SYMBOL_STUBS)
                                   continue;
                               const uint64_t addr = l.cmd == LC_SEGMENT ? uint32_t(s.addr) : s.addr;
                               const uint64_t size = l.cmd == LC_SEGMENT ? uint32_t(s.size) : s.size;
                               if (value < addr || value - addr >= size)
                                   continue;
                               decided = true;
                               is64 = l.cmd == LC_SEGMENT_64;
                               uint64_t stride = type == S_SYMBOL_STUBS ? s.reserved2 : is64 ? 8 : 4;
                               // A stub size of 0 names no entry.
                               if (stride != 0) {
                                   have_index = true;
                                   index = (value - addr) / stride + s.reserved1;
                               }
                               return false;
                           }
                           return true;
                       });
    if (!decided || !have_index)
        return nullptr;
    if ((is64 ? symbols64 == nullptr : symbols == nullptr) || strings == nullptr)
        return nullptr;
    if (index >= nindirect_symbols)
        return nullptr;
    const uint32_t sym = indirect_symbols[index];
    if (sym >= nsymbols)
        return nullptr;
    const uint32_t strx = is64 ? symbols64[sym].n_strx : symbols[sym].n_strx;
    return string_at(strings, strings_size, strx);
}

bool print_symbol(uint32_t value, uint32_t r_address, uint32_t dot_value, const relocation_info* relocs,
                  uint32_t nrelocs, const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                  const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const char* strings,
                  uint64_t strings_size, int verbose)
{
    if (!verbose)
        return false;
    auto widened = [](uint32_t v) { return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v))); };
    for (uint32_t i = 0; i < nrelocs; ++i) {
        const relocation_info& r = relocs[i];
        const unsigned long index = i;
        if (reloc_scattered(r)) {
            const uint32_t type = sreloc_type(r);
            if (type == GENERIC_RELOC_PAIR) {
                fprintf(stderr, "Stray GENERIC_RELOC_PAIR relocation entry %lu\n", index);
                continue;
            }
            if (type == GENERIC_RELOC_SECTDIFF || type == GENERIC_RELOC_LOCAL_SECTDIFF) {
                // The pair is read only when it is there.
                if (i + 1 >= nrelocs) {
                    fprintf(stderr, "No GENERIC_RELOC_PAIR relocation entry after entry %lu\n", index);
                    break;
                }
                const relocation_info& pair = relocs[i + 1];
                if ((static_cast<uint32_t>(pair.r_address) & 0x8f000000) != 0x81000000) {
                    fprintf(stderr, "No GENERIC_RELOC_PAIR relocation entry after entry %lu\n", index);
                    continue;
                }
                if (sreloc_address(r) == r_address) {
                    const uint32_t rv = sreloc_value(r);
                    const uint32_t pv = sreloc_value(pair);
                    const char* first = guess_symbol(widened(rv), sorted_symbols, nsorted_symbols, verbose);
                    const char* second = guess_symbol(widened(pv), sorted_symbols, nsorted_symbols, verbose);
                    if (first != nullptr)
                        printf("%s", first);
                    else
                        printf("0x%x", rv);
                    if (second != nullptr)
                        printf("-%s", second);
                    else if (pv == dot_value)
                        printf("-.");
                    else
                        printf("-0x%x", pv);
                    if (value + pv != rv)
                        printf("+0x%x", value + pv - rv);
                    return true;
                }
                ++i; // the pair
                continue;
            }
            if (type == GENERIC_RELOC_VANILLA) {
                if (sreloc_address(r) == r_address) {
                    const char* name = guess_symbol(widened(sreloc_value(r)), sorted_symbols, nsorted_symbols,
                                                    verbose);
                    if (name != nullptr) {
                        printf("%s+0x%x", name, value - sreloc_value(r));
                        return true;
                    }
                }
                continue;
            }
            fprintf(stderr, "Unknown relocation r_type for entry %lu\n", index);
            continue;
        }
        if (static_cast<uint32_t>(r.r_address) != r_address)
            continue;
        if (!reloc_extern(r))
            break;
        const uint32_t sym = reloc_symbolnum(r);
        if (sym >= nsymbols)
            return false;
        uint32_t strx;
        if (symbols != nullptr)
            strx = symbols[sym].n_strx;
        else if (symbols64 != nullptr)
            strx = symbols64[sym].n_strx;
        else
            return false;
        if (strx == 0 || strx >= strings_size || strings == nullptr)
            return false;
        if (value != 0)
            printf("%s+0x%x", strings + strx, value);
        else
            printf("%s", strings + strx);
        return true;
    }
    const char* name = guess_symbol(value, sorted_symbols, nsorted_symbols, verbose);
    if (name == nullptr)
        return false;
    printf("%s", name);
    return true;
}

bool reloc_has_pair(int32_t cputype, uint32_t r_type)
{
    switch (cputype) {
    case 6:
    case 7:
        return r_type == 2 || r_type == 4;
    case 11:
        return r_type == 2 || r_type == 3 || r_type == 4 || r_type == 6 || r_type == 7 || r_type == 8
               || r_type == 9;
    case 13:
        return r_type == 4 || r_type == 5 || r_type == 6;
    case 14:
        return r_type == 2 || r_type == 3 || r_type == 6 || r_type == 7 || r_type == 8;
    case 15:
        return r_type == 2 || r_type == 11 || r_type == 13;
    case 18:
    case 255:
    case 0x01000012:
        return r_type == 4 || r_type == 5 || r_type == 6 || r_type == 7 || r_type == 8 || r_type == 10
               || r_type == 11 || r_type == 12 || r_type == 13 || r_type == 14 || r_type == 15;
    case 0x01000007:
        return false;
    default:
        // The library lives in a daemon: report and go on.
        error("internal error: reloc_has_pair() called with unknown cputype (%u)", static_cast<unsigned>(cputype));
        return false;
    }
}

} // namespace macho
