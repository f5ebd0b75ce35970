// Selecting an archive member by name: one driver process per case.
#include "DriverRun.h"

#include <gtest/gtest.h>

#include <sstream>

using machotest::fixture;
using machotest::runDriver;
using machotest::withPath;

namespace {

struct MemberCase {
    const char* name;
    const char* file;
    std::string member;
    std::string answers; // the driver's answers
    std::string err;     // "PATH" stands for the path
};

void PrintTo(const MemberCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string found(int type, uint64_t offset, uint64_t size, const std::string& name, bool object)
{
    std::ostringstream s;
    s << "result=1\nmember_type=" << type << "\nmember_offset=" << offset << "\nmember_size=" << size
      << "\nmember_name=" << name << "\nobject=" << (object ? 1 : 0) << "\n";
    return s.str();
}

const std::string kNotFound = "result=0\n";
const std::string kFirstMember =
    "(null): archive: PATH truncated or malformed (archive header of first member extends past the end of the "
    "file)\n";

std::vector<MemberCase> memberCases()
{
    return {
        {"only_magic", "ar_8", "foo.o", kNotFound, "(null): archive: PATH does not contain a member named: foo.o\n"},
        {"nine_bytes", "ar_9", "foo.o", kNotFound, kFirstMember},
        {"forty_bytes", "ar_40", "foo.o", kNotFound, kFirstMember},
        {"sixty_seven_bytes", "ar_67", "foo.o", kNotFound, kFirstMember},
        // ar_plain: "__.SYMDEF" (#1/12, 8 bytes), "odd.o" (3 bytes and a pad byte), "foo.o" (28 bytes).
        {"plain_name", "ar_plain", "foo.o", found(3, 212, 28, "foo.o", true), ""},
        {"odd_size_member", "ar_plain", "odd.o", found(0, 148, 3, "odd.o", false), ""},
        {"padded_extended_name", "ar_plain", "__.SYMDEF", found(0, 80, 8, std::string("__.SYMDEF\0\0\0", 12), false),
         ""},
        {"prefix_matches", "ar_plain", "foo.o.bak", found(3, 212, 28, "foo.o", true), ""},
        {"missing_member", "ar_plain", "bar.o", kNotFound,
         "(null): archive: PATH does not contain a member named: bar.o\n"},
        {"ext_non_digit", "ar_ext_x", "#1/x", found(3, 68, 28, "#1/x", true),
         "(null): archive: PATH malformed (ar_name: #1/x             for archive extend format #1 starts with "
         "non-digit)\n"},
        {"ext_overflow", "ar_ext_overflow", "#1/99999999999", found(3, 68, 28, "#1/99999999999", true),
         "(null): archive: PATH malformed (size in ar_name: #1/99999999999   for archive extend format #1 "
         "overflows unsigned long)\n"},
        {"ext_trailing_letters", "ar_ext_12ab", "#1/12ab", found(3, 68, 28, "#1/12ab", true),
         "(null): archive: PATH malformed (size in ar_name: #1/12ab          for archive extend format #1 contains "
         "non-digit and non-space characters)\n"},
        {"ext_name_past_end", "ar_ext_name_past_end", "x", kNotFound,
         "(null): archive: PATH truncated or malformed (archive name of member extends past the end of the file)\n"
         "(null): archive: PATH does not contain a member named: x\n"},
        {"ext_name_longer_than_member", "ar_ext_longer_than_member", "abcdefgh",
         found(0, 72, 0, "abcdefgh", false), ""},
        {"size_past_end_clipped", "ar_size_past_end", "big.o", found(3, 68, 28, "big.o", true), ""},
        {"header_past_end_ends_walk", "ar_header_past_end", "zzz", kNotFound,
         "(null): archive: PATH does not contain a member named: zzz\n"},
        {"member_before_partial_header", "ar_header_past_end", "foo.o", found(3, 68, 28, "foo.o", true), ""},
        {"fat_member_good", "ar_fat_good", "fat.o", found(1, 68, 104, "fat.o", false), ""},
        {"fat_member_same_arch", "ar_fat_same", "fat.o", kNotFound,
         "(null): archive member: PATH(fat.o) fat file contains two of the same architecture (cputype (7) "
         "cpusubtype (3))\n"},
        {"fat_member_zero_slices", "ar_fat_zero", "fat.o", kNotFound,
         "(null): archive member: PATH(fat.o) fat file malformed (contains zero architecture types)\n"},
        {"fat_member_align_16", "ar_fat_align16", "fat.o", kNotFound,
         "(null): archive member: PATH(fat.o) fat file's align (2^16) too large for cputype (7) cpusubtype (3) "
         "(maximum 2^15)\n"},
        {"fat_member_misaligned", "ar_fat_misaligned", "fat.o", kNotFound,
         "(null): archive member: PATH(fat.o) fat file's offset: 30 for cputype (7) cpusubtype (3) not aligned on "
         "it's alignment (2^2)\n"},
        {"fat_member_short_slice", "ar_fat_short", "fat.o", kNotFound,
         "(null): archive member: PATH(fat.o) fat file for cputype (7) cpusubtype (3) is not an object file (size "
         "too small to be an object file)\n"},
        {"fat_member_bad_magic", "ar_fat_bad_magic", "fat.o", kNotFound,
         "(null): archive member: PATH(fat.o) fat file for cputype (7) cpusubtype (3) is not an object file (bad "
         "magic number)\n"},
        {"fat_member_slice_past_member", "ar_fat_past_member", "fat.o", kNotFound,
         "(null): archive member: PATH(fat.o) fat file truncated or malformed (offset plus size of cputype (7) "
         "cpusubtype (3) extends past the end of the file)\n"},
        {"fat_member_table_past_member", "ar_fat_table_past_member", "fat.o", kNotFound,
         "(null): archive member: PATH(fat.o) fat file truncated or malformed (fat_arch structs would extend past "
         "the end of the archive member)\n"},
        {"thin_object_is_no_archive", "i386_exe", "foo.o", kNotFound,
         "(null): file: PATH is not an archive (object_name to ofile_map() can't be specified to be other than "
         "NULL)\n"},
        {"unknown_file_is_no_archive", "script", "foo.o", kNotFound,
         "(null): file: PATH is not an archive (object_name to ofile_map() can't be specified to be other than "
         "NULL)\n"},
        {"universal_archive_slice_of_host", "fat_archive_slice", "hello.txt", found(0, 4096 + 68, 6, "hello.txt", false),
         ""},
        {"universal_object_slice_of_host", "fat_ppc_i386", "foo.o", kNotFound,
         "(null): fat file: PATH architecture i386 is not an archive (object_name to ofile_map() can't be "
         "specified to be other than NULL)\n"},
    };
}

class ArchiveMembers : public testing::TestWithParam<MemberCase> {};

TEST_P(ArchiveMembers, Selection)
{
    const MemberCase& c = GetParam();
    const std::string path = fixture(c.file);
    const auto r = runDriver("member:" + c.member, path);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(c.answers, r.answers);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(withPath(c.err, path), r.err);
}

INSTANTIATE_TEST_SUITE_P(Table, ArchiveMembers, testing::ValuesIn(memberCases()),
                         [](const testing::TestParamInfo<MemberCase>& i) { return std::string(i.param.name); });

// llvm-ar's "#1/12" member "a-i386.o" (name NUL-padded): found by its name,
// contents right after the 12 name bytes, size less those bytes; offsets as
// llvm-objdump reports them.
TEST(ArchiveMembersLlvm, ExtendedNameFromLlvmAr)
{
    const std::string path = fixture("lld_lib_i386.a");
    const std::string listing = machotest::runProgram(
        {"/usr/bin/llvm-objdump", "--macho", "--archive-headers", "--archive-member-offsets", path});
    std::istringstream lines(listing);
    std::string line;
    uint64_t header = 0;
    uint64_t size = 0;
    while (std::getline(lines, line)) {
        if (line.size() > 9 && line.compare(line.size() - 9, 9, " a-i386.o") == 0) {
            std::istringstream fields(line);
            std::string mode, owner;
            fields >> header >> mode >> owner >> size;
        }
    }
    ASSERT_NE(0u, header) << listing;
    const std::string bytes = machotest::readFile(path);
    ASSERT_EQ("#1/12", bytes.substr(header, 5));

    const auto r = runDriver("member:a-i386.o", path);
    EXPECT_EQ(found(3, header + 60 + 12, size - 12, std::string("a-i386.o\0\0\0\0", 12), true), r.answers);
    EXPECT_EQ("", r.err);
}

} // namespace
