// Reading and classifying files, selecting slices, and the driver over a
// record, in process.
#include "DriverRun.h"

#include "libstuff/arch.h"
#include "libstuff/ofile.h"
#include "options.h"
#include "processor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

using namespace macho;
using machotest::fixture;
using machotest::readFile;

namespace {

template <typename F>
std::string stderrOf(F f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

std::string copyToTemp(const std::string& from)
{
    std::string path = testing::TempDir() + "macho-ofile-XXXXXX";
    const int fd = mkstemp(&path[0]);
    close(fd);
    std::ofstream(path, std::ios::binary) << readFile(from);
    return path;
}

std::vector<std::string> names(const dependant_libraries& libs)
{
    std::vector<std::string> v;
    for (int32_t i = 0; i < libs.count; ++i)
        v.push_back(libs.names[i]);
    return v;
}

void release(dependant_libraries* libs)
{
    for (int32_t i = 0; i < libs->count; ++i)
        free(libs->names[i]);
    free(libs->names);
    *libs = {0, nullptr};
}

char* heapCopy(const std::string& bytes)
{
    char* p = static_cast<char*>(malloc(bytes.size()));
    memcpy(p, bytes.data(), bytes.size());
    return p;
}

std::string be32(uint32_t v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return std::string(b, 4);
}

// A universal file of one slice (cputype, cpusubtype) holding `object`.
std::string universal(int32_t cputype, int32_t cpusubtype, const std::string& object)
{
    std::string s = be32(0xcafebabe) + be32(1) + be32(cputype) + be32(cpusubtype) + be32(32) +
                    be32(static_cast<uint32_t>(object.size())) + be32(2);
    s.resize(32, '\0');
    return s + object;
}

// A file that shrinks while it is examined is examined as read: the ranges
// read before it shrank keep their bytes, those read after find none.
TEST(Ofile, FileTruncatedWhileExaminedIsExaminedAsRead)
{
    struct Case {
        const char* name;
        const char* file;
        bool afterSlice; // truncated after selecting slice 0, else after opening
        off_t size;      // truncated to
        std::vector<std::string> names;
        std::string out;
        bool header; // a Mach header selected
    };
    const std::vector<std::string> ppc{"/usr/lib/libSystem.B.dylib", "/usr/lib/libobjc.A.dylib"};
    const Case cases[] = {
        // The slice's header read brought its load commands along.
        {"after_slice_header", "fat_ppc_i386", true, 0, ppc, "", true},
        {"before_slice_header", "fat_ppc_i386", false, 0, {}, "", false},
        // Opening read the header and the commands in the first window; the
        // rest of the 12,000 bytes of commands are gone: command 84's name is
        // cut at the window's end, command 85 reads as zeros.
        {"within_load_commands", "loads_250", false, static_cast<off_t>(kReadWindow), {},
         "load command 85 size zero (can't advance to other load commands)\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = copyToTemp(fixture(c.file));
        ofile of;
        ASSERT_EQ(1, ofile_map(path.c_str(), nullptr, nullptr, &of, 0));
        if (!c.afterSlice) {
            ASSERT_EQ(0, truncate(path.c_str(), c.size));
        }
        if (of.file_type == OFILE_FAT) {
            ASSERT_EQ(1, ofile_first_arch(&of));
        }
        if (c.afterSlice) {
            ASSERT_EQ(0, truncate(path.c_str(), c.size));
        }
        dependant_libraries libs{0, nullptr};
        testing::internal::CaptureStdout();
        processor(&of, nullptr, &libs, PROCESSOR_COLLECT);
        fflush(stdout);
        EXPECT_EQ(c.out, testing::internal::GetCapturedStdout());
        EXPECT_EQ(c.names, names(libs));
        EXPECT_EQ(c.header, of.mh != nullptr);
        if (of.mh != nullptr) {
            EXPECT_EQ(MH_EXECUTE, of.mh->filetype);
        }
        release(&libs);
        ofile_unmap(&of);
        unlink(path.c_str());
    }
}

TEST(Ofile, UniversalHeaderInHostOrderFileUntouched)
{
    const std::string path = fixture("fat_ppc_i386");
    const std::string before = readFile(path);
    ofile of;
    ASSERT_EQ(1, ofile_map(path.c_str(), nullptr, nullptr, &of, 0));
    EXPECT_EQ(OFILE_FAT, of.file_type);
    ASSERT_NE(nullptr, of.fat_header);
    EXPECT_EQ(0xcafebabeu, of.fat_header->magic);
    EXPECT_EQ(2u, of.fat_header->nfat_arch);
    EXPECT_EQ(18, of.fat_archs[0].cputype);
    EXPECT_EQ(7, of.fat_archs[1].cputype);
    EXPECT_EQ(4096u, of.fat_archs[0].offset);
    EXPECT_EQ(before.size(), of.file_size);

    ASSERT_EQ(1, ofile_specific_arch(&of, 1));
    EXPECT_STREQ("i386", of.arch_flag.name);
    EXPECT_EQ(OFILE_Mach_O, of.arch_type);
    EXPECT_EQ(LITTLE_ENDIAN_BYTE_SEX, of.object_byte_sex);
    ASSERT_EQ(1, ofile_specific_arch(&of, 0));
    EXPECT_STREQ("ppc", of.arch_flag.name);
    EXPECT_EQ(BIG_ENDIAN_BYTE_SEX, of.object_byte_sex);
    EXPECT_EQ(0, ofile_specific_arch(&of, 2));
    ofile_unmap(&of);
    ofile_unmap(&of); // a released record releases again harmlessly
    EXPECT_EQ(before, readFile(path));
}

TEST(Ofile, FirstArchOfThinFile)
{
    const std::string path = fixture("i386_exe");
    ofile of;
    ASSERT_EQ(1, ofile_map(path.c_str(), nullptr, nullptr, &of, 0));
    EXPECT_EQ("(null): ofile_first_arch() called and file type of: " + path + " is not a fat file\n\n",
              stderrOf([&] { EXPECT_EQ(0, ofile_first_arch(&of)); }));
    ofile_unmap(&of);
}

TEST(Ofile, RequestedArchitecture)
{
    struct Case {
        const char* name;
        const char* file;
        arch_flag want;
        int result;
        std::string err; // "PATH" stands for the path
        int32_t cputype; // of the selected object
    };
    char ppc[] = "ppc", ppc750[] = "ppc750", i386[] = "i386";
    const Case cases[] = {
        {"universal_exact", "fat_ppc_i386", {ppc, 18, 0}, 1, "", 18},
        {"universal_second", "fat_ppc_i386", {i386, 7, 3}, 1, "", 7},
        {"universal_missing", "fat_ppc_i386", {ppc750, 18, 9}, 0,
         "(null): fat file: PATH does not contain architecture ppc750\n", 0},
        {"thin_match", "ppc_exe", {ppc, 18, 0}, 1, "", 18},
        {"thin_mismatch", "ppc_exe", {i386, 7, 3}, 0,
         "(null): object file: PATH does not match specified arch_flag: i386 passed to ofile_map()\n", 0},
        {"unknown_file", "script", {i386, 7, 3}, 0,
         "(null): file: PATH is unknown type (arch_flag to ofile_map() can't be specified to be other than NULL)\n",
         0},
        {"archive_of_i386", "lld_lib_i386.a", {i386, 7, 3}, 1, "", 0},
        {"archive_of_i386_for_ppc", "lld_lib_i386.a", {ppc, 18, 0}, 0,
         "(null): archive file: PATH objects do not match specified arch_flag: ppc passed to ofile_map()\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = fixture(c.file);
        ofile of;
        int r = -1;
        const std::string err = stderrOf([&] { r = ofile_map(path.c_str(), &c.want, nullptr, &of, 0); });
        EXPECT_EQ(c.result, r);
        EXPECT_EQ(machotest::withPath(c.err, path), err);
        if (r == 1 && c.cputype != 0) {
            EXPECT_EQ(c.cputype, of.mh_cputype);
        }
        if (r == 0) {
            EXPECT_EQ(nullptr, of.file_name); // released
        }
        ofile_unmap(&of);
    }
}

TEST(Ofile, FamilyFallbackTakesTheSlicesSubtype)
{
    const std::string exe = readFile(fixture("i386_exe"));
    std::string object = exe;
    object[8] = 5; // cpusubtype 5: a pentium object
    const std::string bytes = universal(7, 5, object);
    char i386[] = "i386";
    const arch_flag want{i386, 7, 3};
    ofile of;
    ASSERT_EQ(1, ofile_map_from_memory(heapCopy(bytes), bytes.size(), "mem", &want, nullptr, &of, 0));
    EXPECT_EQ(0, of.narch);
    EXPECT_EQ(5, of.arch_flag.cpusubtype);
    EXPECT_STREQ("i386", of.arch_flag.name);
    EXPECT_EQ(OFILE_Mach_O, of.arch_type);
    ofile_unmap(&of);
}

int unknownHost(int32_t*, int32_t*)
{
    return 0;
}

TEST(Ofile, MemberOfUniversalWithoutKnownHost)
{
    set_host_query(&unknownHost);
    const std::string path = fixture("fat_archive_slice");
    ofile of;
    const std::string err = stderrOf([&] { EXPECT_EQ(0, ofile_map(path.c_str(), nullptr, "hello.txt", &of, 0)); });
    set_host_query(nullptr);
    EXPECT_EQ("(null): can't determine the host architecture (specify an arch_flag or fix get_arch_from_host() )\n",
              err);
    ofile_unmap(&of);
}

TEST(Ofile, UniversalMemberSlices)
{
    const std::string path = fixture("ar_fat_good");
    ofile of;
    ASSERT_EQ(1, ofile_map(path.c_str(), nullptr, "fat.o", &of, 0));
    EXPECT_EQ(OFILE_FAT, of.member_type);
    ASSERT_EQ(1, ofile_first_arch(&of));
    EXPECT_STREQ("i386", of.arch_flag.name);
    EXPECT_EQ(OFILE_Mach_O, of.arch_type);
    ASSERT_EQ(1, ofile_specific_arch(&of, 1));
    EXPECT_STREQ("ppc", of.arch_flag.name);
    EXPECT_EQ(BIG_ENDIAN_BYTE_SEX, of.object_byte_sex);
    dependant_libraries libs{0, nullptr};
    processor(&of, nullptr, &libs, PROCESSOR_COLLECT);
    ASSERT_NE(nullptr, of.mh);
    EXPECT_EQ(MH_MAGIC, of.mh->magic); // normalised to host order
    EXPECT_EQ(18, of.mh->cputype);
    EXPECT_EQ(0, libs.count);
    release(&libs);
    ofile_unmap(&of);
}

TEST(Ofile, MisalignedNoteFollowsXflag)
{
    const std::string path = fixture("fat_slice_at_29");
    ofile of;
    ASSERT_EQ(1, ofile_map(path.c_str(), nullptr, nullptr, &of, 0));
    ASSERT_EQ(1, ofile_first_arch(&of));
    Xflag = 1;
    testing::internal::CaptureStdout();
    dependant_libraries libs{0, nullptr};
    processor(&of, nullptr, &libs, PROCESSOR_HEADER_ONLY);
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    Xflag = 0;
    EXPECT_EQ("", out);
    EXPECT_EQ(nullptr, libs.names);
    ofile_unmap(&of);
}

TEST(Ofile, EmptyFileMapsWithNothing)
{
    ofile of;
    ASSERT_EQ(1, ofile_map(fixture("empty").c_str(), nullptr, nullptr, &of, 0));
    EXPECT_EQ(OFILE_UNKNOWN, of.file_type);
    EXPECT_EQ(nullptr, of.reader.window); // nothing was read
    EXPECT_EQ(0u, of.file_size);
    ofile_unmap(&of);
}

size_t openDescriptors()
{
    size_t n = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr)
        ++n;
    closedir(dir);
    return n;
}

// A record holds its file open while it is examined, and no longer: every
// fixture through both entry points and a member search, failures included.
TEST(Ofile, NoDescriptorOutlivesARecord)
{
    std::vector<std::string> paths;
    DIR* dir = opendir(machotest::fixtureDir().c_str());
    ASSERT_NE(nullptr, dir);
    while (const dirent* e = readdir(dir))
        paths.push_back(fixture(e->d_name));
    closedir(dir);
    ASSERT_GT(paths.size(), 50u);

    const size_t before = openDescriptors();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (const std::string& path : paths) {
        dependant_libraries libs{0, nullptr};
        if (getDependantLibraries(path.c_str(), &libs) == 1)
            release(&libs);
        isFileMachOExecutable(path.c_str());
        ofile of;
        if (ofile_map(path.c_str(), nullptr, "foo.o", &of, 0) == 1)
            ofile_unmap(&of);
    }
    fflush(stdout);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(before, openDescriptors());
}

// Every range reads as the file holds it, whatever the reader's window held
// before: walks across many windows, jumps back and forth, ranges cut by the
// end of their structure or of the file, and a shorter file read after a
// longer one (its reader reuses the window the first one left).
TEST(Reader, RangesReadAsTheFileHoldsThem)
{
    auto patterned = [](size_t n, unsigned seed) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i)
            s[i] = static_cast<char>(i * seed + i / 251);
        return s;
    };
    const std::string big = patterned(200000, 7);
    const std::string small = patterned(1000, 13);
    struct Read {
        uint64_t offset, end, n;
    };
    std::vector<Read> walk, cut, smallWalk;
    for (uint64_t off = 0; off < big.size(); off += 24)
        walk.push_back({off, big.size(), 24});
    cut.push_back({148000, big.size(), 8}); // the window reaches past the cut
    for (uint64_t off = 149000; off < 151000; off += 40)
        cut.push_back({off, 150000, 64});
    for (uint64_t off = 0; off < 1100; off += 28)
        smallWalk.push_back({off, 200000, 28});
    struct Case {
        const char* name;
        const std::string* file;
        std::vector<Read> reads;
    };
    const Case cases[] = {
        {"walk", &big, walk},
        {"cut_by_end", &big, cut},
        {"jumps", &big,
         {{190000, 200000, 16}, {10, 200000, 8}, {4090, 200000, 12}, {199990, 200000, 20}, {0, 200000, 4096},
          {5000, 200000, 70000}, {100, 50, 8}, {300000, 400000, 8}, {4000, 200000, 0}}},
        {"shorter_file_after", &small, {{0, 1000, 24}, {990, 2000, 24}, {4000, 200000, 8}}},
        {"shorter_file_walk", &small, smallWalk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = testing::TempDir() + "macho-reader-XXXXXX";
        const int tmp = mkstemp(&path[0]);
        ASSERT_GE(tmp, 0);
        close(tmp);
        std::ofstream(path, std::ios::binary) << *c.file;
        byte_reader reader;
        reader_open_fd(&reader, open(path.c_str(), O_RDONLY), c.file->size());
        for (const Read& r : c.reads) {
            SCOPED_TRACE(r.offset);
            std::string want(r.n, '\0');
            const uint64_t end = std::min<uint64_t>(r.end, c.file->size());
            const uint64_t present = r.offset < end ? std::min(r.n, end - r.offset) : 0;
            if (present != 0)
                want.replace(0, present, *c.file, r.offset, present);
            std::string got(r.n, 'x');
            EXPECT_EQ(present, read_bytes(&reader, r.offset, r.end, &got[0], r.n));
            EXPECT_EQ(want, got);
        }
        reader_close(&reader);
        unlink(path.c_str());
    }
}

} // namespace
