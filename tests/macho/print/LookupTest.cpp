// The lookups called directly: sections and symbols against
// llvm-readobj-14 on every tool-made fixture, and the name finders on tables
// built in the test.
#include "DriverRun.h"

#include "libstuff/ofile.h"
#include "print/display.h"
#include "print/lookup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using machotest::fixture;
using namespace macho;

namespace {

// A fixture mapped as the display dispatch sees it.
struct Mapped {
    ofile of{};
    load_commands_view lc{};
    object_bytes object{};
    uint32_t ncmds = 0;
    uint32_t sizeofcmds = 0;
    uint32_t filetype = 0;
    int32_t cputype = 0;

    explicit Mapped(const std::string& path)
    {
        if (!ofile_map(path.c_str(), nullptr, nullptr, &of, 0) || (of.mh == nullptr && of.mh64 == nullptr))
            throw std::runtime_error("cannot map " + path);
        const bool swapped = of.object_byte_sex != get_host_byte_sex();
        uint64_t header;
        if (of.mh != nullptr) {
            mach_header h = *of.mh;
            if (swapped)
                swap_mach_header(&h, get_host_byte_sex());
            ncmds = h.ncmds;
            sizeofcmds = h.sizeofcmds;
            filetype = h.filetype;
            cputype = h.cputype;
            header = sizeof h;
        } else {
            mach_header_64 h = *of.mh64;
            if (swapped)
                swap_mach_header_64(&h, get_host_byte_sex());
            ncmds = h.ncmds;
            sizeofcmds = h.sizeofcmds;
            filetype = h.filetype;
            cputype = h.cputype;
            header = sizeof h;
        }
        object = {&of.reader, of.object_offset, of.object_size};
        lc = {&of.reader, of.object_offset + header, std::min<uint64_t>(sizeofcmds, of.object_size - header),
              sizeofcmds};
    }
    ~Mapped() { ofile_unmap(&of); }
    Mapped(const Mapped&) = delete;
    Mapped& operator=(const Mapped&) = delete;
};

std::string field(const std::string& line, const char* key)
{
    const size_t at = line.find(key);
    if (at == std::string::npos)
        return "";
    std::string v = line.substr(at + strlen(key));
    const size_t paren = v.find(" (");
    return paren == std::string::npos ? v : v.substr(0, paren);
}

uint64_t hexOf(const std::string& line)
{
    // "Type: Section (0xE)" and "Address: 0x10" alike.
    const size_t at = line.rfind("0x");
    return strtoull(line.c_str() + at + 2, nullptr, 16);
}

struct ReadobjSection {
    std::string name, segment;
    uint64_t address = 0, size = 0, offset = 0, type = 0, nreloc = 0;
};

struct ReadobjSymbol {
    std::string name;
    uint64_t type = 0, value = 0;
};

void readobj(const std::string& path, std::vector<ReadobjSection>* sections, std::vector<ReadobjSymbol>* symbols)
{
    const std::string text =
        machotest::runProgram({"/usr/bin/llvm-readobj-14", "--sections", "--symbols", path});
    std::istringstream in(text);
    std::string l;
    enum { NONE, SECTION, SYMBOL } in_block = NONE;
    while (std::getline(in, l)) {
        const size_t first = l.find_first_not_of(' ');
        const std::string t = first == std::string::npos ? "" : l.substr(first);
        if (t == "Section {") {
            in_block = SECTION;
            sections->emplace_back();
        } else if (t == "Symbol {") {
            in_block = SYMBOL;
            symbols->emplace_back();
        } else if (in_block == SECTION) {
            ReadobjSection& s = sections->back();
            if (t.rfind("Name: ", 0) == 0)
                s.name = field(t, "Name: ");
            else if (t.rfind("Segment: ", 0) == 0)
                s.segment = field(t, "Segment: ");
            else if (t.rfind("Address: ", 0) == 0)
                s.address = hexOf(t);
            else if (t.rfind("Size: ", 0) == 0)
                s.size = hexOf(t);
            else if (t.rfind("Offset: ", 0) == 0)
                s.offset = strtoull(t.c_str() + 8, nullptr, 10);
            else if (t.rfind("RelocationCount: ", 0) == 0)
                s.nreloc = strtoull(t.c_str() + 17, nullptr, 10);
            else if (t.rfind("Type: ", 0) == 0)
                s.type = hexOf(t);
        } else if (in_block == SYMBOL) {
            ReadobjSymbol& s = symbols->back();
            if (t.rfind("Name: ", 0) == 0)
                s.name = field(t, "Name: ");
            else if (t.rfind("Type: ", 0) == 0)
                s.type = hexOf(t);
            else if (t.rfind("Value: ", 0) == 0)
                s.value = hexOf(t);
        }
    }
}

TEST(Lookups, EqualToLlvmReadobj)
{
    for (const char* name : {"a_i386.o", "a_x64.o", "a_x64m.o", "lib_i386.o", "lib_x64.o", "lit_i386.o", "t20.o",
                             "sys.o", "a_x64.exe", "libfoo.A.dylib", "libSystem.B.dylib", "ppc_yaml.o"}) {
        const std::string path = fixture(std::string("print/") + name);
        SCOPED_TRACE(path);
        std::vector<ReadobjSection> sections;
        std::vector<ReadobjSymbol> symbols;
        readobj(path, &sections, &symbols);
        ASSERT_FALSE(sections.empty());
        Mapped m(path);
        const std::string bytes = machotest::readFile(path);
        for (const ReadobjSection& s : sections) {
            SCOPED_TRACE(s.segment + "," + s.name);
            char* contents;
            uint64_t size, addr;
            relocation_info* relocs;
            uint32_t nrelocs, flags;
            testing::internal::CaptureStdout();
            const int found = get_sect_info(s.segment.c_str(), s.name.c_str(), m.lc, m.ncmds, m.sizeofcmds,
                                            m.filetype, m.of.object_byte_sex, m.object, &contents, &size, &addr,
                                            &relocs, &nrelocs, &flags);
            EXPECT_EQ("", testing::internal::GetCapturedStdout());
            ASSERT_EQ(1, found);
            EXPECT_EQ(s.address, addr);
            EXPECT_EQ(s.size, size);
            EXPECT_EQ(s.type, flags & SECTION_TYPE);
            EXPECT_EQ(s.nreloc, nrelocs);
            if (contents != nullptr)
                EXPECT_EQ(bytes.substr(s.offset, size), std::string(contents, size));
            else
                EXPECT_EQ(S_ZEROFILL, flags & SECTION_TYPE);
            free(contents);
            free(relocs);
        }
        nlist* syms;
        nlist_64* syms64;
        uint32_t nsyms;
        char* strings;
        uint64_t strsize;
        get_symbol_table_info(m.lc, m.ncmds, m.sizeofcmds, m.cputype, m.of.object_byte_sex, m.object, &syms,
                              &syms64, &nsyms, &strings, &strsize);
        ASSERT_EQ(symbols.size(), nsyms);
        EXPECT_EQ((m.cputype & CPU_ARCH_ABI64) != 0, syms64 != nullptr);
        for (uint32_t i = 0; i < nsyms; ++i) {
            const uint32_t strx = syms != nullptr ? syms[i].n_strx : syms64[i].n_strx;
            const uint8_t type = syms != nullptr ? syms[i].n_type : syms64[i].n_type;
            const uint64_t value = syms != nullptr ? syms[i].n_value : syms64[i].n_value;
            EXPECT_EQ(symbols[i].name, string_at(strings, strsize, strx));
            EXPECT_EQ(symbols[i].type, type & N_TYPE);
            EXPECT_EQ(symbols[i].value, value);
        }
        free(syms);
        free(syms64);
        free(strings);
    }
}

TEST(Lookups, IndirectSymbolNames)
{
    // stub_size_zero: stubs at 0 (10 bytes, stub size 0), lazy pointers at 10
    // (entries 2, 3, 4 of the indirect table: LOCAL, _f2, _f3).
    Mapped m(fixture("print/stub_size_zero"));
    nlist* syms;
    nlist_64* syms64;
    uint32_t nsyms;
    char* strings;
    uint64_t strsize;
    get_symbol_table_info(m.lc, m.ncmds, m.sizeofcmds, m.cputype, m.of.object_byte_sex, m.object, &syms, &syms64,
                          &nsyms, &strings, &strsize);
    const uint32_t indirect[] = {0, 1, 0x80000000, 1, 2};
    struct Case {
        uint64_t address;
        const char* want; // none: nullptr
    } cases[] = {
        {0, nullptr},  // a stub whose size is 0: no entry, and no division by it
        {4, nullptr},  // the same section
        {10, nullptr}, // the local marker
        {14, "_f2"},
        {18, "_f3"},
        {22, nullptr}, // past every section
        {0x100000000 + 14, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const char* got = guess_indirect_symbol(c.address, m.ncmds, m.sizeofcmds, m.lc, m.of.object_byte_sex, indirect,
                                                5, syms, syms64, nsyms, strings, strsize);
        if (c.want == nullptr)
            EXPECT_EQ(nullptr, got);
        else
            EXPECT_STREQ(c.want, got);
    }
    free(syms);
    free(strings);
}

TEST(Lookups, ShortNames)
{
    struct Case {
        const char* name;
        const char* want; // nullptr: none
        bool framework;
        const char* suffix;
    } cases[] = {
        {"/System/Library/Frameworks/Foo.framework/Versions/A/Foo", "Foo", true, nullptr},
        {"/System/Library/Frameworks/Foo.framework/Foo", "Foo", true, nullptr},
        {"Foo.framework/Foo_debug", "Foo", true, "_debug"},
        {"/usr/lib/libfoo.A.dylib", "libfoo", false, nullptr},
        {"/usr/lib/libfoo_debug.dylib", "libfoo", false, "_debug"},
        {"/usr/lib/libFoo.A_profile.dylib", "libFoo", false, "_profile"},
        {"libbar.dylib", "libbar", false, nullptr},
        {"/x/Foo.A.qtx", "Foo", false, nullptr},
        {"/x/libfoo.so", nullptr, false, nullptr},
        {"/libfoo.dylib", nullptr, false, nullptr},
        {".dylib", nullptr, false, nullptr},
        {"noextension", nullptr, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool framework = true;
        char* suffix = nullptr;
        char* got = guess_short_name(c.name, &framework, &suffix);
        if (c.want == nullptr)
            EXPECT_EQ(nullptr, got);
        else
            EXPECT_STREQ(c.want, got);
        EXPECT_EQ(c.framework, framework);
        if (c.suffix == nullptr)
            EXPECT_EQ(nullptr, suffix);
        else
            EXPECT_STREQ(c.suffix, suffix);
        free(got);
        free(suffix);
    }
    // The backward scan stops at the name's first character.
    const char name[] = "abc";
    EXPECT_EQ(nullptr, look_back_for_slash(name, name + 3));
}

relocation_info scattered(uint32_t address, uint32_t type, uint32_t value)
{
    return {static_cast<int32_t>(R_SCATTERED | (2u << 28) | (type << 24) | address), value};
}

relocation_info plain(uint32_t address, uint32_t symbolnum, bool external)
{
    return {static_cast<int32_t>(address), symbolnum | (2u << 25) | (external ? 1u << 27 : 0)};
}

TEST(Lookups, SymbolicOperands)
{
    const sorted_symbol sorted[] = {{"_a", 0x10}, {"_b", 0x20}, {"_c", 0x30}};
    const nlist syms[] = {{1, 1, 0, 0, 0}, {0, 1, 0, 0, 0}};
    const char strings[] = "\0_ext";
    struct Case {
        const char* name;
        std::vector<relocation_info> relocs;
        uint32_t value, r_address, dot;
        bool printed;
        std::string out, err;
    } cases[] = {
        {"difference_to_dot", {scattered(4, 2, 0x20), scattered(0, 1, 0x8)}, 0x18, 4, 0x8, true, "_b-.", ""},
        {"difference_with_addend", {scattered(4, 4, 0x20), scattered(0, 1, 0x10)}, 0x14, 4, 0x0, true, "_b-_a+0x4", ""},
        // The difference is the last entry: no pair is read past the array.
        {"difference_last", {scattered(4, 2, 0x20)}, 0x30, 4, 0, true, "_c",
         "No GENERIC_RELOC_PAIR relocation entry after entry 0\n"},
        {"stray_pair", {scattered(0, 1, 0)}, 0x10, 4, 0, true, "_a", "Stray GENERIC_RELOC_PAIR relocation entry 0\n"},
        {"external", {plain(4, 0, true)}, 8, 4, 0, true, "_ext+0x8", ""},
        {"external_no_name", {plain(4, 1, true)}, 0x10, 4, 0, false, "", ""},
        // A local entry at the operand ends the scan: the name is a label's.
        {"local_stops_scan", {plain(4, 1, false), plain(4, 0, true)}, 0x20, 4, 0, true, "_b", ""},
        {"vanilla_scattered", {scattered(4, 0, 0x10)}, 0x18, 4, 0, true, "_a+0x8", ""},
        {"nothing", {}, 0x11, 4, 0, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool printed = print_symbol(c.value, c.r_address, c.dot, c.relocs.data(),
                                          static_cast<uint32_t>(c.relocs.size()), syms, nullptr, 2, sorted, 3,
                                          strings, sizeof strings, 1);
        fflush(stdout);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.printed, printed);
        EXPECT_EQ(c.out, out);
        EXPECT_EQ(c.err, err);
    }
}

TEST(Lookups, SortOrdersAndPairs)
{
    sorted_symbol s[] = {{"c", 0x100000000}, {"a", 1}, {"b", 0xffffffff}};
    qsort(s, 3, sizeof *s, sym_compare);
    EXPECT_STREQ("a", s[0].name);
    EXPECT_STREQ("b", s[1].name);
    EXPECT_STREQ("c", s[2].name);
    // Scattered entries by the low 24 bits of their first word.
    relocation_info r[] = {plain(0x30, 0, false), scattered(0x10, 2, 0), plain(0x20, 0, false)};
    qsort(r, 3, sizeof *r, rel_compare);
    const uint32_t key = 0x10;
    EXPECT_EQ(&r[0], bsearch(&key, r, 3, sizeof *r, rel_bsearch));
    EXPECT_EQ(0x20, r[1].r_address);

    EXPECT_TRUE(reloc_has_pair(7, GENERIC_RELOC_SECTDIFF));
    EXPECT_FALSE(reloc_has_pair(0x01000007, 5));
    EXPECT_TRUE(reloc_has_pair(18, 13));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reloc_has_pair(99, 2));
    EXPECT_EQ("(null): internal error: reloc_has_pair() called with unknown cputype (99)\n",
              testing::internal::GetCapturedStderr());
}

} // namespace
