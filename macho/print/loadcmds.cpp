// Every load command of one object, numbered from 0, each by a printer of
// its own kind. Commands are read from the area as they are walked, into
// zero-filled copies of their fixed parts; names are read inside their
// command and the bytes the file holds.
#include "print/display.h"
#include "print/printers.h"

#include "libstuff/errors.h"
#include "libstuff/timetext.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace macho {

namespace {

byte_sex host()
{
    return get_host_byte_sex();
}

// The end of a command's bytes inside the area that the file holds.
uint64_t command_end(const load_commands_view& lc, uint64_t cur, uint32_t cmdsize)
{
    uint64_t end = cur + cmdsize;
    if (end > lc.sizeofcmds)
        end = lc.sizeofcmds;
    if (end > lc.present)
        end = lc.present;
    return end < cur ? cur : end;
}

// The string at `off` of the command at `cur`: up to its NUL, the
// command's end or the end of the bytes there.
std::string command_string(const load_commands_view& lc, uint64_t cur, uint32_t cmdsize, uint32_t off)
{
    const uint64_t end = command_end(lc, cur, cmdsize);
    std::string s;
    char chunk[256];
    for (uint64_t at = cur + off; at < end;) {
        const uint64_t n = end - at < sizeof chunk ? end - at : sizeof chunk;
        lc.read(at, chunk, n);
        const void* nul = memchr(chunk, '\0', n);
        if (nul != nullptr) {
            s.append(chunk, static_cast<const char*>(nul) - chunk);
            return s;
        }
        s.append(chunk, n);
        at += n;
    }
    return s;
}

void size_check(const char* label, uint32_t cmdsize, bool ok)
{
    printf("%s%u", label, cmdsize);
    printf(ok ? "\n" : " Incorrect size\n");
}

void past_end(bool past)
{
    printf(past ? " (past end of file)\n" : "\n");
}

void name_line(const char* label, const load_commands_view& lc, uint64_t cur, uint32_t cmdsize, uint32_t off)
{
    if (off < cmdsize)
        printf("%s%s (offset %u)\n", label, command_string(lc, cur, cmdsize, off).c_str(), off);
    else
        printf("%s?(bad offset %u)\n", label, off);
}

void print_version(const char* label, uint32_t v)
{
    printf("%s%u.%u.%u\n", label, v >> 16, (v >> 8) & 0xff, v & 0xff);
}

void print_segment_command(const segment_info& sg, uint64_t object_size, int verbose)
{
    const bool is64 = sg.cmd == LC_SEGMENT_64;
    printf(is64 ? "      cmd LC_SEGMENT_64\n" : "      cmd LC_SEGMENT\n");
    const uint64_t expected = is64 ? sizeof(segment_command_64) + uint64_t(sg.nsects) * sizeof(section_64)
                                   : sizeof(segment_command) + uint64_t(sg.nsects) * sizeof(section);
    printf("  cmdsize %u", sg.cmdsize);
    printf(sg.cmdsize != expected ? " Inconsistent size\n" : "\n");
    printf("  segname %.16s\n", sg.segname);
    if (is64) {
        printf("   vmaddr 0x%016llx\n", static_cast<unsigned long long>(sg.vmaddr));
        printf("   vmsize 0x%016llx\n", static_cast<unsigned long long>(sg.vmsize));
    } else {
        printf("   vmaddr 0x%08x\n", static_cast<uint32_t>(sg.vmaddr));
        printf("   vmsize 0x%08x\n", static_cast<uint32_t>(sg.vmsize));
    }
    printf("  fileoff %llu", static_cast<unsigned long long>(sg.fileoff));
    past_end(sg.fileoff > object_size);
    printf(" filesize %llu", static_cast<unsigned long long>(sg.filesize));
    past_end(sg.fileoff + sg.filesize < sg.fileoff || sg.fileoff + sg.filesize > object_size);
    if (verbose) {
        auto prot = [](const char* label, int32_t p) {
            if (static_cast<uint32_t>(p) > 7) {
                printf("%s?(0x%08x)\n", label, static_cast<uint32_t>(p));
                return;
            }
            printf("%s%c%c%c\n", label, (p & 1) ? 'r' : '-', (p & 2) ? 'w' : '-', (p & 4) ? 'x' : '-');
        };
        prot("  maxprot ", sg.maxprot);
        prot(" initprot ", sg.initprot);
    } else {
        printf("  maxprot 0x%08x\n", static_cast<uint32_t>(sg.maxprot));
        printf(" initprot 0x%08x\n", static_cast<uint32_t>(sg.initprot));
    }
    printf("   nsects %u\n", sg.nsects);
    if (verbose) {
        printf("    flags");
        if (sg.flags == 0) {
            printf(" (none)\n");
        } else {
            uint32_t left = sg.flags;
            static const struct {
                uint32_t bit;
                const char* word;
            } kFlags[] = {{0x1, " HIGHVM"}, {0x2, " FVMLIB"}, {0x4, " NORELOC"}, {0x8, " PROTECTED_VERSION_1"}};
            for (const auto& f : kFlags) {
                if (sg.flags & f.bit) {
                    printf("%s", f.word);
                    left &= ~f.bit;
                }
            }
            if (left != 0)
                printf(" 0x%x (unknown flags)\n", left);
            else
                printf("\n");
        }
    } else {
        printf("    flags 0x%x\n", sg.flags);
    }
}

void print_section(const section_info& s, uint32_t cmd, const char* segment_name, uint32_t filetype,
                   uint64_t object_size, int verbose)
{
    printf("Section\n");
    printf("  sectname %.16s\n", s.sectname);
    printf("   segname %.16s", s.segname);
    printf(filetype != MH_OBJECT && strncmp(s.segname, segment_name, 16) != 0 ? " (does not match segment)\n" : "\n");
    const uint32_t type = s.flags & SECTION_TYPE;
    bool size_past;
    if (cmd == LC_SEGMENT_64) {
        printf("      addr 0x%016llx\n", static_cast<unsigned long long>(s.addr));
        printf("      size 0x%016llx", static_cast<unsigned long long>(s.size));
        size_past = s.offset + s.size < s.size || s.offset + s.size > object_size;
    } else {
        printf("      addr 0x%08x\n", static_cast<uint32_t>(s.addr));
        printf("      size 0x%08x", static_cast<uint32_t>(s.size));
        size_past = uint64_t(s.offset) + static_cast<uint32_t>(s.size) > object_size;
    }
    past_end(type != S_ZEROFILL && size_past);
    printf("    offset %u", s.offset);
    past_end(s.offset > object_size);
    printf("     align 2^%u (%d)\n", s.align, s.align < 32 ? static_cast<int>(1u << s.align) : 0);
    printf("    reloff %u", s.reloff);
    past_end(s.reloff > object_size);
    printf("    nreloc %u", s.nreloc);
    past_end(s.reloff + uint64_t(s.nreloc) * sizeof(relocation_info) > object_size);
    if (verbose) {
        static const char* const kTypes[] = {" S_REGULAR",
                                             " S_ZEROFILL",
                                             " S_CSTRING_LITERALS",
                                             " S_4BYTE_LITERALS",
                                             " S_8BYTE_LITERALS",
                                             " S_LITERAL_POINTERS",
                                             " S_NON_LAZY_SYMBOL_POINTERS",
                                             " S_LAZY_SYMBOL_POINTERS",
                                             " S_SYMBOL_STUBS",
                                             " S_MOD_INIT_FUNC_POINTERS",
                                             " S_MOD_TERM_FUNC_POINTERS",
                                             " S_COALESCED",
                                             nullptr,
                                             " S_INTERPOSING"};
        printf("      type");
        if (type < sizeof kTypes / sizeof kTypes[0] && kTypes[type] != nullptr)
            printf("%s\n", kTypes[type]);
        else
            printf(" 0x%08x\n", type);
        printf("attributes");
        static const struct {
            uint32_t bit;
            const char* word;
        } kAttrs[] = {{S_ATTR_PURE_INSTRUCTIONS, " PURE_INSTRUCTIONS"},
                      {S_ATTR_NO_TOC, " NO_TOC"},
                      {S_ATTR_STRIP_STATIC_SYMS, " STRIP_STATIC_SYMS"},
                      {S_ATTR_NO_DEAD_STRIP, " NO_DEAD_STRIP"},
                      {S_ATTR_LIVE_SUPPORT, " LIVE_SUPPORT"},
                      {S_ATTR_SELF_MODIFYING_CODE, " SELF_MODIFYING_CODE"},
                      {S_ATTR_DEBUG, " DEBUG"},
                      {S_ATTR_SOME_INSTRUCTIONS, " SOME_INSTRUCTIONS"},
                      {S_ATTR_EXT_RELOC, " EXT_RELOC"},
                      {S_ATTR_LOC_RELOC, " LOC_RELOC"}};
        for (const auto& a : kAttrs)
            if (s.flags & a.bit)
                printf("%s", a.word);
        if ((s.flags & SECTION_ATTRIBUTES) == 0)
            printf(" (none)");
        printf("\n");
    } else {
        printf("     flags 0x%08x\n", s.flags);
    }
    printf(" reserved1 %u", s.reserved1);
    printf(type == S_NON_LAZY_SYMBOL_POINTERS || type == S_LAZY_SYMBOL_POINTERS || type == S_SYMBOL_STUBS
               ? " (index into indirect symbol table)\n"
               : "\n");
    printf(" reserved2 %u", s.reserved2);
    printf(type == S_SYMBOL_STUBS ? " (size of stubs)\n" : "\n");
}

void print_dysymtab_command(const dysymtab_command& d, uint32_t nsyms, bool is64, uint64_t object_size)
{
    printf("            cmd LC_DYSYMTAB\n");
    size_check("        cmdsize ", d.cmdsize, d.cmdsize == sizeof(dysymtab_command));
    auto index = [&](const char* label, uint32_t v) {
        printf("%s%u", label, v);
        printf(v > nsyms ? " (greater than the number of symbols)\n" : "\n");
    };
    auto count = [&](const char* label, uint32_t i, uint32_t n) {
        printf("%s%u", label, n);
        printf(uint64_t(i) + n > nsyms ? " (past the end of the symbol table)\n" : "\n");
    };
    index("      ilocalsym ", d.ilocalsym);
    count("      nlocalsym ", d.ilocalsym, d.nlocalsym);
    index("     iextdefsym ", d.iextdefsym);
    count("     nextdefsym ", d.iextdefsym, d.nextdefsym);
    index("      iundefsym ", d.iundefsym);
    count("      nundefsym ", d.iundefsym, d.nundefsym);
    auto table = [&](const char* off_label, uint32_t off, const char* n_label, uint32_t n, uint64_t entry) {
        printf("%s%u", off_label, off);
        past_end(off > object_size);
        printf("%s%u", n_label, n);
        past_end(off + uint64_t(n) * entry > object_size);
    };
    table("         tocoff ", d.tocoff, "           ntoc ", d.ntoc, sizeof(dylib_table_of_contents));
    table("      modtaboff ", d.modtaboff, "        nmodtab ", d.nmodtab,
          is64 ? sizeof(dylib_module_64) : sizeof(dylib_module));
    table("   extrefsymoff ", d.extrefsymoff, "    nextrefsyms ", d.nextrefsyms, sizeof(dylib_reference));
    table(" indirectsymoff ", d.indirectsymoff, "  nindirectsyms ", d.nindirectsyms, sizeof(uint32_t));
    table("      extreloff ", d.extreloff, "        nextrel ", d.nextrel, sizeof(relocation_info));
    table("      locreloff ", d.locreloff, "        nlocrel ", d.nlocrel, sizeof(relocation_info));
}

void print_prebound_dylib_command(const load_commands_view& lc, uint64_t cur, const prebound_dylib_command& p,
                                  int verbose)
{
    printf("            cmd LC_PREBOUND_DYLIB\n");
    size_check("        cmdsize ", p.cmdsize, p.cmdsize >= sizeof(prebound_dylib_command));
    name_line("           name ", lc, cur, p.cmdsize, p.name.offset);
    printf("       nmodules %u\n", p.nmodules);
    const uint32_t off = p.linked_modules.offset;
    if (off >= p.cmdsize) {
        printf(" linked_modules ?(bad offset %u)\n", off);
        return;
    }
    // The bit vector is read within the command only.
    const uint64_t end = command_end(lc, cur, p.cmdsize);
    auto bit = [&](uint64_t i, bool* inside) {
        const uint64_t at = cur + off + i / 8;
        *inside = at < cur + p.cmdsize;
        if (!*inside || at >= end)
            return 0;
        return (static_cast<unsigned char>(lc.at(at)) >> (i % 8)) & 1;
    };
    if (verbose) {
        printf(" linked_modules (offset %u)\n", off);
        for (uint64_t i = 0; i < p.nmodules; ++i) {
            bool inside;
            const int b = bit(i, &inside);
            if (!inside)
                break;
            if (b)
                printf("%lu\n", static_cast<unsigned long>(i));
        }
    } else {
        printf(" linked_modules ");
        for (uint64_t i = 0; i < p.nmodules && i < 8; ++i) {
            bool inside;
            const int b = bit(i, &inside);
            if (!inside)
                break;
            printf(b ? "1" : "0");
        }
        printf("... (offset %u)\n", off);
    }
}

} // namespace

void print_loadcmds(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, int32_t cputype,
                    uint32_t filetype, byte_sex sex, uint64_t object_size, int verbose, int)
{
    const bool swapped = sex != host();
    const bool is64 = (cputype & CPU_ARCH_ABI64) != 0;
    uint32_t nsyms = UINT32_MAX;
    uint64_t cur = 0;
    for (uint32_t i = 0; i < ncmds; ++i) {
        const unsigned long index = i;
        printf("Load command %lu\n", index);
        load_command l;
        lc.read(cur, &l, sizeof l);
        if (swapped)
            swap_load_command(&l, host());
        if (l.cmdsize % sizeof(uint32_t) != 0)
            printf("load command %lu size not a multiple of sizeof(long)\n", index);
        if (cur + l.cmdsize > sizeofcmds)
            printf("load command %lu extends past end of load commands\n", index);

        switch (l.cmd) {
        case LC_SEGMENT:
        case LC_SEGMENT_64: {
            const segment_info sg = read_segment(lc, cur, l.cmd, sex);
            print_segment_command(sg, object_size, verbose);
            for (uint32_t j = 0; j < sg.nsects; ++j) {
                section_info s;
                const bool inside = read_section(lc, cur, l.cmd, j, sex, &s);
                if (!inside)
                    printf("section structure command extends past end of load commands\n");
                print_section(s, l.cmd, sg.segname, filetype, object_size, verbose);
                if (!inside)
                    return;
            }
            break;
        }
        case LC_SYMTAB: {
            symtab_command st;
            lc.read(cur, &st, sizeof st);
            if (swapped)
                swap_symtab_command(&st, host());
            printf("     cmd LC_SYMTAB\n");
            size_check(" cmdsize ", st.cmdsize, st.cmdsize == sizeof st);
            printf("  symoff %u", st.symoff);
            past_end(st.symoff > object_size);
            printf("   nsyms %u", st.nsyms);
            past_end(st.symoff + uint64_t(st.nsyms) * (is64 ? sizeof(nlist_64) : sizeof(nlist)) > object_size);
            printf("  stroff %u", st.stroff);
            past_end(st.stroff > object_size);
            printf(" strsize %u", st.strsize);
            past_end(uint64_t(st.stroff) + st.strsize > object_size);
            nsyms = st.nsyms;
            break;
        }
        case LC_SYMSEG: {
            symseg_command ss;
            lc.read(cur, &ss, sizeof ss);
            if (swapped)
                swap_symseg_command(&ss, host());
            printf("     cmd LC_SYMSEG (obsolete)\n");
            size_check(" cmdsize ", ss.cmdsize, ss.cmdsize == sizeof ss);
            printf("  offset %u", ss.offset);
            past_end(ss.offset > object_size);
            printf("    size %u", ss.size);
            past_end(uint64_t(ss.offset) + ss.size > object_size);
            break;
        }
        case LC_THREAD:
        case LC_UNIXTHREAD: {
            printf(l.cmd == LC_THREAD ? "        cmd LC_THREAD\n" : "        cmd LC_UNIXTHREAD\n");
            printf("    cmdsize %u\n", l.cmdsize);
            if (sizeofcmds - cur > 8) {
                // The states the file holds: zeros past them are not read
                // into memory, however large cmdsize says the command is.
                const uint64_t end = command_end(lc, cur, l.cmdsize);
                const uint64_t n = end > cur + 8 ? end - (cur + 8) : 0;
                std::string states(n, '\0');
                lc.read(cur + 8, &states[0], n);
                print_thread_states(states.data(), states.data() + n, cputype, sex);
            }
            break;
        }
        case LC_LOADFVMLIB:
        case LC_IDFVMLIB: {
            fvmlib_command f;
            lc.read(cur, &f, sizeof f);
            if (swapped)
                swap_fvmlib_command(&f, host());
            printf(l.cmd == LC_LOADFVMLIB ? "           cmd LC_LOADFVMLIB\n" : "           cmd LC_IDFVMLIB\n");
            size_check("       cmdsize ", f.cmdsize, f.cmdsize >= sizeof f);
            name_line("          name ", lc, cur, f.cmdsize, f.name.offset);
            printf(" minor version %u\n", f.minor_version);
            printf("   header addr 0x%08x\n", f.header_addr);
            break;
        }
        case LC_IDENT: {
            printf("          cmd LC_IDENT\n");
            size_check("      cmdsize ", l.cmdsize, l.cmdsize >= sizeof l);
            const uint64_t end = command_end(lc, cur, l.cmdsize);
            std::string run;
            for (uint64_t at = cur + 8; at <= end; ++at) {
                const char c = at < end ? lc.at(at) : '\0';
                if (c != '\0') {
                    run.push_back(c);
                } else if (!run.empty()) {
                    printf(" ident string %.*s\n", static_cast<int>(run.size()), run.data());
                    run.clear();
                }
            }
            break;
        }
        case LC_FVMFILE: {
            fvmfile_command f;
            lc.read(cur, &f, sizeof f);
            if (swapped)
                swap_fvmfile_command(&f, host());
            printf("           cmd LC_FVMFILE\n");
            size_check("       cmdsize ", f.cmdsize, f.cmdsize >= sizeof f);
            name_line("          name ", lc, cur, f.cmdsize, f.name.offset);
            printf("   header addr 0x%08x\n", f.header_addr);
            break;
        }
        case LC_DYSYMTAB: {
            dysymtab_command d;
            lc.read(cur, &d, sizeof d);
            if (swapped)
                swap_dysymtab_command(&d, host());
            print_dysymtab_command(d, nsyms, is64, object_size);
            break;
        }
        case LC_LOAD_DYLIB:
        case LC_ID_DYLIB:
        case LC_LOAD_WEAK_DYLIB:
        case LC_REEXPORT_DYLIB: {
            dylib_command d;
            lc.read(cur, &d, sizeof d);
            if (swapped)
                swap_dylib_command(&d, host());
            printf("%s\n", l.cmd == LC_LOAD_DYLIB        ? "          cmd LC_LOAD_DYLIB"
                           : l.cmd == LC_ID_DYLIB        ? "          cmd LC_ID_DYLIB"
                           : l.cmd == LC_LOAD_WEAK_DYLIB ? "          cmd LC_LOAD_WEAK_DYLIB"
                                                         : "          cmd LC_REEXPORT_DYLIB");
            size_check("      cmdsize ", d.cmdsize, d.cmdsize >= sizeof d);
            name_line("         name ", lc, cur, d.cmdsize, d.name.offset);
            printf("   time stamp %u ", d.timestamp);
            const time_t t = static_cast<time_t>(d.timestamp);
            printf("%s", nulltext(time_text(t)));
            print_version("      current version ", d.current_version);
            print_version("compatibility version ", d.compatibility_version);
            break;
        }
        case LC_LOAD_DYLINKER:
        case LC_ID_DYLINKER: {
            dylinker_command d;
            lc.read(cur, &d, sizeof d);
            if (swapped)
                swap_dylinker_command(&d, host());
            printf(l.cmd == LC_LOAD_DYLINKER ? "          cmd LC_LOAD_DYLINKER\n" : "          cmd LC_ID_DYLINKER\n");
            size_check("      cmdsize ", d.cmdsize, d.cmdsize >= sizeof d);
            name_line("         name ", lc, cur, d.cmdsize, d.name.offset);
            break;
        }
        case LC_PREBOUND_DYLIB: {
            prebound_dylib_command p;
            lc.read(cur, &p, sizeof p);
            if (swapped)
                swap_prebound_dylib_command(&p, host());
            print_prebound_dylib_command(lc, cur, p, verbose);
            break;
        }
        case LC_ROUTINES: {
            routines_command r;
            lc.read(cur, &r, sizeof r);
            if (swapped)
                swap_routines_command(&r, host());
            printf("          cmd LC_ROUTINES\n");
            size_check("      cmdsize ", r.cmdsize, r.cmdsize == sizeof r);
            printf(" init_address 0x%08x\n", r.init_address);
            printf("  init_module %u\n", r.init_module);
            const uint32_t res[] = {r.reserved1, r.reserved2, r.reserved3, r.reserved4, r.reserved5, r.reserved6};
            for (int k = 0; k < 6; ++k)
                printf("    reserved%d %u\n", k + 1, res[k]);
            break;
        }
        case LC_ROUTINES_64: {
            routines_command_64 r;
            lc.read(cur, &r, sizeof r);
            if (swapped)
                swap_routines_command_64(&r, host());
            printf("          cmd LC_ROUTINES_64\n");
            size_check("      cmdsize ", r.cmdsize, r.cmdsize == sizeof r);
            printf(" init_address 0x%016llx\n", static_cast<unsigned long long>(r.init_address));
            printf("  init_module %llu\n", static_cast<unsigned long long>(r.init_module));
            const uint64_t res[] = {r.reserved1, r.reserved2, r.reserved3, r.reserved4, r.reserved5, r.reserved6};
            for (int k = 0; k < 6; ++k)
                printf("    reserved%d %llu\n", k + 1, static_cast<unsigned long long>(res[k]));
            break;
        }
        case LC_SUB_FRAMEWORK:
        case LC_SUB_UMBRELLA:
        case LC_SUB_CLIENT:
        case LC_SUB_LIBRARY:
        case LC_RPATH: {
            // All five are a header and one name offset.
            sub_framework_command s;
            lc.read(cur, &s, sizeof s);
            if (swapped)
                swap_sub_framework_command(&s, host());
            const char* cmd_line;
            const char* label;
            switch (l.cmd) {
            case LC_SUB_FRAMEWORK:
                cmd_line = "          cmd LC_SUB_FRAMEWORK";
                label = "         umbrella ";
                break;
            case LC_SUB_UMBRELLA:
                cmd_line = "          cmd LC_SUB_UMBRELLA";
                label = "         sub_umbrella ";
                break;
            case LC_SUB_CLIENT:
                cmd_line = "          cmd LC_SUB_CLIENT";
                label = "         client ";
                break;
            case LC_SUB_LIBRARY:
                cmd_line = "          cmd LC_SUB_LIBRARY";
                label = "         sub_library ";
                break;
            default:
                cmd_line = "          cmd LC_RPATH";
                label = "         path ";
                break;
            }
            printf("%s\n", cmd_line);
            size_check("      cmdsize ", s.cmdsize, s.cmdsize >= sizeof s);
            name_line(label, lc, cur, s.cmdsize, s.umbrella.offset);
            break;
        }
        case LC_TWOLEVEL_HINTS: {
            twolevel_hints_command h;
            lc.read(cur, &h, sizeof h);
            if (swapped)
                swap_twolevel_hints_command(&h, host());
            printf("     cmd LC_TWOLEVEL_HINTS\n");
            size_check(" cmdsize ", h.cmdsize, h.cmdsize == sizeof h);
            printf("  offset %u", h.offset);
            past_end(h.offset > object_size);
            printf("  nhints %u", h.nhints);
            past_end(h.offset + uint64_t(h.nhints) * sizeof(twolevel_hint) > object_size);
            break;
        }
        case LC_PREBIND_CKSUM: {
            prebind_cksum_command c;
            lc.read(cur, &c, sizeof c);
            if (swapped)
                swap_prebind_cksum_command(&c, host());
            printf("     cmd LC_PREBIND_CKSUM\n");
            size_check(" cmdsize ", c.cmdsize, c.cmdsize == sizeof c);
            printf("   cksum 0x%08x\n", c.cksum);
            break;
        }
        case LC_UUID: {
            uuid_command u;
            lc.read(cur, &u, sizeof u);
            if (swapped)
                swap_uuid_command(&u, host());
            printf("     cmd LC_UUID\n");
            size_check(" cmdsize ", u.cmdsize, u.cmdsize == sizeof u);
            printf("   uuid 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x\n", u.uuid[0], u.uuid[1],
                   u.uuid[2], u.uuid[3], u.uuid[4], u.uuid[5], u.uuid[6], u.uuid[7]);
            printf("        0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x\n", u.uuid[8], u.uuid[9],
                   u.uuid[10], u.uuid[11], u.uuid[12], u.uuid[13], u.uuid[14], u.uuid[15]);
            break;
        }
        case LC_CODE_SIGNATURE:
        case LC_SEGMENT_SPLIT_INFO: {
            linkedit_data_command d;
            lc.read(cur, &d, sizeof d);
            if (swapped)
                swap_linkedit_data_command(&d, host());
            printf(l.cmd == LC_CODE_SIGNATURE ? "      cmd LC_CODE_SIGNATURE\n" : "      cmd LC_SEGMENT_SPLIT_INFO\n");
            size_check("  cmdsize ", d.cmdsize, d.cmdsize == sizeof d);
            printf(" dataoff  %u", d.dataoff);
            past_end(d.dataoff > object_size);
            printf(" datasize %u", d.datasize);
            past_end(uint64_t(d.dataoff) + d.datasize > object_size);
            break;
        }
        default: {
            if (sizeofcmds - cur < sizeof(load_command) && cur <= sizeofcmds)
                return;
            printf("      cmd ?(0x%08x) Unknown load command\n", l.cmd);
            printf("  cmdsize %u\n", l.cmdsize);
            // The words the file holds of it, eight to a line.
            const uint64_t end = command_end(lc, cur, l.cmdsize);
            uint64_t k = 0;
            for (uint64_t at = cur + 8; at + 4 <= end; at += 4, ++k) {
                uint32_t w;
                lc.read(at, &w, sizeof w);
                if (swapped)
                    w = SWAP_INT(w);
                printf("%08x ", w);
                if (k % 8 == 7)
                    printf("\n");
            }
            if (k % 8 != 0)
                printf("\n");
            break;
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
    if (cur != sizeofcmds)
        printf("Inconsistent sizeofcmds\n");
}

} // namespace macho
