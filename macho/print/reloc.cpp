// Relocation entries: the external and local lists of the dynamic symbol
// table, then each section's, one fixed-column row per entry. Entries are
// read one at a time, and only while they lie inside the object.
#include "print/display.h"

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

struct reloc_section {
    char segname[16];
    char sectname[16];
    uint32_t nreloc;
    uint32_t reloff;
};

bool is_ppc(int32_t cputype)
{
    return cputype == 18 || cputype == 255 || cputype == 0x01000012;
}

const char* const kGeneric[] = {"VANILLA ", "PAIR    ", "SECTDIF ", "PBLAPTR ", "LOCSDIF ", "  5 (?) ",
                                "  6 (?) ", "  7 (?) ", "  8 (?) ", "  9 (?) ", " 10 (?) ", " 11 (?) ",
                                " 12 (?) ", " 13 (?) ", " 14 (?) ", " 15 (?) "};
const char* const kHppa[] = {"VANILLA ", "PAIR    ", "HI21    ", "LO14    ", "BR17    ", "BL17    ",
                             "JBSR    ", "SECTDIF ", "HI21DIF ", "LO14DIF ", "PBLAPTR ", " 11 (?) ",
                             " 12 (?) ", " 13 (?) ", " 14 (?) ", " 15 (?) "};
const char* const kM88k[] = {"VANILLA ", "PAIR    ", "PC16    ", "PC26    ", "HI16    ", "LO16    ",
                             "SECTDIF ", "PBLAPTR ", "  8 (?) ", "  9 (?) ", " 10 (?) ", " 11 (?) ",
                             " 12 (?) ", " 13 (?) ", " 14 (?) ", " 15 (?) "};
const char* const kSparc[] = {"VANILLA ", "PAIR    ", "HI22    ", "LO10    ", "DISP22  ", "DISP30  ",
                              "SECTDIFF", "HI22DIFF", "LO10DIFF", "PBLAPTR ", " 10 (?) ", " 11 (?) ",
                              " 12 (?) ", " 13 (?) ", " 14 (?) ", " 15 (?) "};
const char* const kI860[] = {"VANILLA ", "PAIR    ", "HIGH    ", "LOW0    ", "LOW1    ", "LOW2    ",
                             "LOW3    ", "LOW4    ", "SPLIT0  ", "SPLIT1  ", "SPLIT2  ", "HIGHADJ ",
                             "BRADDR  ", "SECTDIF ", " 14 (?) ", " 15 (?) "};
const char* const kPpc[] = {"VANILLA ", "PAIR    ", "BR14", "BR24    ", "HI16    ", "LO16    ",
                            "HA16    ", "LO14    ", "SECTDIF ", "PBLAPTR ", "HI16DIF ", "LO16DIF ",
                            "HA16DIF ", "JBSR    ", "LO14DIF ", "LOCSDIF "};
const char* const kX86_64[] = {"UNSIGND ", "SIGNED  ", "BRANCH  ", "GOT_LD  ", "GOT     ", "SUB     ",
                               "SIGNED1 ", "SIGNED2 ", "SIGNED4 ", "  9 (?) ", " 10 (?) ", " 11 (?) ",
                               " 12 (?) ", " 13 (?) ", " 14 (?) ", " 15 (?) "};

// Whether a scattered entry of `type` begins a difference relocation.
bool begins_difference(int32_t cputype, uint32_t type)
{
    switch (cputype) {
    case 6:
    case 7:
        return type == 2 || type == 4;
    case 13:
        return type == 6;
    case 15:
        return type == 13;
    case 14:
        return type == 6 || type == 7 || type == 8;
    case 11:
        return type == 7 || type == 8 || type == 9;
    default:
        if (is_ppc(cputype))
            return type == 8 || type == 10 || type == 11 || type == 12 || type == 14 || type == 15;
        return false;
    }
}

// The length column; sets *predicted for PowerPC's length 3.
void print_length(int32_t cputype, uint32_t length, bool ppc64_quad, bool* predicted)
{
    switch (length) {
    case 0:
        printf("byte   ");
        break;
    case 1:
        printf("word   ");
        break;
    case 2:
        printf("long   ");
        break;
    default:
        if (cputype == 0x01000007 || (cputype == 0x01000012 && ppc64_quad)) {
            printf("quad   ");
        } else if (is_ppc(cputype)) {
            printf("long   ");
            *predicted = true;
        } else {
            printf("?(%2d)  ", length);
        }
        break;
    }
}

struct reloc_state {
    bool difference = false; // the previous entry began a difference relocation
    uint32_t difference_type = 0;
    bool jbsr = false; // PowerPC: the previous entry was a JBSR
};

void print_relocs(uint32_t reloff, uint32_t nreloc, const reloc_section* sections, uint32_t nsections, bool swapped,
                  int32_t cputype, const object_bytes& object, const nlist* symbols, const nlist_64* symbols64,
                  uint32_t nsymbols, const char* strings, uint64_t strings_size, int verbose)
{
    reloc_state state;
    const bool pair_blank_scattered = cputype == 6 || cputype == 7 || cputype == 13 || is_ppc(cputype)
                                      || cputype == 11 || cputype == 14 || cputype == 15;
    const bool pair_blank_plain = cputype == 13 || is_ppc(cputype) || cputype == 11 || cputype == 14 || cputype == 15;
    for (uint64_t i = 0; i < nreloc; ++i) {
        const uint64_t at = reloff + i * sizeof(relocation_info);
        if (at + sizeof(relocation_info) > object.size)
            break;
        relocation_info r;
        read_bytes(object.reader, object.offset + at, object.offset + object.size, &r, sizeof r);
        if (swapped)
            swap_relocation_info(&r, 1, host());
        if (reloc_scattered(r)) {
            const uint32_t type = sreloc_type(r);
            if (!verbose) {
                printf("%08x %1d     %-2d     n/a    %-7d 1         0x%08x\n", sreloc_address(r), sreloc_pcrel(r),
                       sreloc_length(r), type, sreloc_value(r));
                continue;
            }
            if (type == GENERIC_RELOC_PAIR && pair_blank_scattered)
                printf("         ");
            else
                printf("%08x ", sreloc_address(r));
            printf(sreloc_pcrel(r) ? "True  " : "False ");
            bool predicted = false;
            print_length(cputype, sreloc_length(r), (sreloc_value(r) >> 28) == 0, &predicted);
            printf("n/a    ");
            print_r_type(cputype, type, predicted);
            printf("True      0x%08x", sreloc_value(r));
            const uint32_t addr = sreloc_address(r);
            const uint32_t pt = state.difference_type;
            if (state.difference && cputype == 11 && (pt == 8 || pt == 9))
                printf(" other_part = 0x%06x ", addr);
            else if (state.difference && cputype == 14 && (pt == 7 || pt == 8))
                printf(" other_part = 0x%06x ", addr);
            else if (state.difference && is_ppc(cputype) && (pt == 10 || pt == 11 || pt == 12 || pt == 14))
                printf(" other_half = 0x%04x ", addr);
            else if (type == GENERIC_RELOC_PAIR) {
                if (cputype == 13 || cputype == 14 || cputype == 15)
                    printf(" half = 0x%04x ", addr);
                else if (cputype == 11)
                    printf(" other_part = 0x%06x ", addr);
                else if (is_ppc(cputype))
                    printf(state.jbsr ? " <- other_part " : " half = 0x%04x ", addr);
            }
            state.difference = begins_difference(cputype, type);
            state.difference_type = type;
            if (is_ppc(cputype))
                state.jbsr = type == PPC_RELOC_JBSR;
            printf("\n");
            continue;
        }

        const uint32_t type = reloc_type(r);
        if (!verbose) {
            printf("%08x %1d     %-2d     %1d      %-7d 0         %d\n", static_cast<uint32_t>(r.r_address),
                   reloc_pcrel(r), reloc_length(r), reloc_extern(r), type, reloc_symbolnum(r));
            continue;
        }
        if (type == GENERIC_RELOC_PAIR && pair_blank_plain)
            printf("         ");
        else
            printf("%08x ", static_cast<uint32_t>(r.r_address));
        printf(reloc_pcrel(r) ? "True  " : "False ");
        bool predicted = false;
        print_length(cputype, reloc_length(r), type == 0, &predicted);
        const uint32_t sym = reloc_symbolnum(r);
        if (reloc_extern(r)) {
            printf("True   ");
            print_r_type(cputype, type, predicted);
            printf("False     ");
            const char* name = nullptr;
            if (sym < nsymbols && (symbols != nullptr || symbols64 != nullptr))
                name = string_at(strings, strings_size, symbols != nullptr ? symbols[sym].n_strx : symbols64[sym].n_strx);
            if (name != nullptr)
                printf("%s\n", name);
            else
                printf("?(%d)\n", static_cast<int>(sym));
        } else {
            printf("False  ");
            print_r_type(cputype, type, predicted);
            printf("False     ");
            const uint32_t addr = static_cast<uint32_t>(r.r_address);
            if (type == GENERIC_RELOC_PAIR && (cputype == 15 || cputype == 13))
                printf("half = 0x%04x\n", addr);
            else if (type == GENERIC_RELOC_PAIR && (cputype == 11 || cputype == 14))
                printf(" other_part = 0x%06x\n", addr);
            else if (type == GENERIC_RELOC_PAIR && is_ppc(cputype))
                printf(state.jbsr ? "other_part = 0x%08x\n" : "half = 0x%04x\n", addr);
            else {
                printf("%d ", static_cast<int>(sym));
                if (sym == R_ABS)
                    printf("R_ABS\n");
                else if (sym <= nsections)
                    printf("(%.16s,%.16s)\n", sections[sym - 1].segname, sections[sym - 1].sectname);
                else
                    printf("(?,?)\n");
            }
        }
        if (is_ppc(cputype))
            state.jbsr = type == PPC_RELOC_JBSR;
    }
}

} // namespace

void print_r_type(int32_t cputype, uint32_t r_type, bool predicted)
{
    const char* const* names = nullptr;
    switch (cputype) {
    case 6:
    case 7:
        names = kGeneric;
        break;
    case 11:
        names = kHppa;
        break;
    case 13:
        names = kM88k;
        break;
    case 14:
        names = kSparc;
        break;
    case 15:
        names = kI860;
        break;
    case 0x01000007:
        names = kX86_64;
        break;
    default:
        if (is_ppc(cputype))
            names = kPpc;
        break;
    }
    if (names == nullptr) {
        printf("%-7lu ", static_cast<unsigned long>(r_type));
        return;
    }
    printf("%s", names[r_type & 0xf]);
    if (is_ppc(cputype) && r_type == PPC_RELOC_BR14)
        printf(predicted ? "+/- " : "    ");
}

void print_reloc(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, int32_t cputype,
                 byte_sex object_byte_sex, const object_bytes& object, const nlist* symbols,
                 const nlist_64* symbols64, uint32_t nsymbols, const char* strings, uint64_t strings_size,
                 int verbose)
{
    reloc_section* sections = nullptr;
    uint32_t nsections = 0;
    uint32_t capacity = 0;
    dysymtab_command dyst;
    bool have_dyst = false;
    const bool swapped = object_byte_sex != host();
    const bool at_end = walk_load_commands(
        lc, ncmds, sizeofcmds, object_byte_sex, LC_WALK_NOTES, [&](uint32_t, uint64_t off, const load_command& l) {
            if (l.cmd == LC_DYSYMTAB) {
                lc.read(off, &dyst, sizeof dyst);
                if (swapped)
                    swap_dysymtab_command(&dyst, host());
                have_dyst = true;
            } else if (is_segment_command(l.cmd)) {
                const segment_info sg = read_segment(lc, off, l.cmd, object_byte_sex);
                for (uint32_t j = 0; j < sg.nsects; ++j) {
                    section_info s;
                    if (!read_section(lc, off, l.cmd, j, object_byte_sex, &s))
                        break;
                    if (nsections == capacity) {
                        capacity = capacity == 0 ? 16 : capacity * 2;
                        sections = static_cast<reloc_section*>(reallocate(sections, sizeof *sections * capacity));
                    }
                    reloc_section& rs = sections[nsections++];
                    memcpy(rs.segname, s.segname, 16);
                    memcpy(rs.sectname, s.sectname, 16);
                    rs.nreloc = s.nreloc;
                    rs.reloff = s.reloff;
                }
            }
            return true;
        });
    if (!at_end)
        printf("Inconsistent sizeofcmds\n");

    auto list = [&](const char* title, uint32_t off, uint32_t n) {
        printf("%s %u entries", title, n);
        if (off > object.size) {
            printf(" (offset to relocation entries extends past the end of the file)\n");
            return;
        }
        printf("\naddress  pcrel length extern type    scattered symbolnum/value\n");
        print_relocs(off, n, sections, nsections, swapped, cputype, object, symbols, symbols64, nsymbols, strings,
                     strings_size, verbose);
    };
    if (have_dyst && dyst.nextrel != 0)
        list("External relocation information", dyst.extreloff, dyst.nextrel);
    if (have_dyst && dyst.nlocrel != 0)
        list("Local relocation information", dyst.locreloff, dyst.nlocrel);
    for (uint32_t i = 0; i < nsections; ++i) {
        const reloc_section& s = sections[i];
        if (s.nreloc == 0)
            continue;
        printf("Relocation information (%.16s,%.16s) %u entries", s.segname, s.sectname, s.nreloc);
        if (s.reloff > object.size) {
            printf(" (offset to relocation entries extends past the end of  the file)\n");
            continue;
        }
        printf("\naddress  pcrel length extern type    scattered symbolnum/value\n");
        print_relocs(s.reloff, s.nreloc, sections, nsections, swapped, cputype, object, symbols, symbols64, nsymbols,
                     strings, strings_size, verbose);
    }
    free(sections);
}

} // namespace macho
