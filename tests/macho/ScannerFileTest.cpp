// The entry points over whole files: one driver process per case, answers,
// names and each standard stream compared exactly.
#include "DriverRun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>
#include <vector>

using machotest::fixture;
using machotest::runDriver;
using machotest::withPath;

namespace {

struct FileCase {
    const char* name;
    std::string path; // a fixture name, or an absolute path
    int deps;         // getDependantLibraries
    bool untouched;   // the record stays {0, NULL}
    std::vector<std::string> names;
    int exec;             // isFileMachOExecutable
    std::string out;      // stdout of getDependantLibraries
    std::string err;      // stderr of both calls ("PATH" stands for the path)
    std::string execOut;  // stdout of isFileMachOExecutable
    std::vector<std::string> extra = {};
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string resolve(const std::string& p)
{
    return p.empty() || p[0] == '/' ? p : fixture(p);
}

std::string depsAnswers(const FileCase& c)
{
    std::ostringstream s;
    s << "result=" << c.deps << "\ncount=" << (c.untouched ? 0 : c.names.size()) << "\nnames="
      << (c.untouched ? "NULL" : "array") << "\n";
    if (!c.untouched)
        for (const std::string& n : c.names)
            s << "name=" << n << "\n";
    return s.str();
}

std::vector<std::string> numbered(int n)
{
    std::vector<std::string> v;
    char buf[64];
    for (int i = 0; i < n; ++i) {
        snprintf(buf, sizeof buf, "/usr/lib/lib%03d.dylib", i);
        v.push_back(buf);
    }
    return v;
}

const std::string kSystem = "/usr/lib/libSystem.B.dylib";
const std::string kFoo = "/usr/lib/libfoo.dylib";
const std::string kA = "/usr/lib/libA.dylib";
const std::string kTruncated = " is a truncated object file\n";
const std::string kMisaligned = "(object file offset is not a multiple of sizeof(unsigned long))";
const std::string kFatTable =
    "(null): fat file: PATH truncated or malformed (fat_arch structs would extend past the end of the file)\n";

std::vector<FileCase> fileCases()
{
    const std::vector<std::string> ppcNames{kSystem, "/usr/lib/libobjc.A.dylib"};
    return {
        // Thin and universal objects.
        {"i386", "i386_exe", 1, false, {kSystem, "/usr/lib/libweak.dylib", "/usr/lib/libre.dylib"}, 1, "", "", ""},
        {"ppc_big_endian", "ppc_exe", 1, false, ppcNames, 1, "", "", ""},
        {"universal_ppc_first", "fat_ppc_i386", 1, false, ppcNames, 1, "", "", ""},
        {"universal_dylib_first", "fat_dylib_exe", 1, false, {"/usr/lib/libppc.dylib", kSystem}, 0, "", "", ""},
        {"lipo_dylib_then_exe", "lld_fat_dylib_exe", 1, false, {kFoo}, 0, "", "", ""},
        {"lld_dylib_lists_own_id", "lld_libfoo.dylib", 1, false, {kFoo}, 0, "", "", ""},
        {"lld_exe_no_dylinker", "lld_exe", 1, false, {kFoo}, 1, "", "", ""},
        {"lld_exe_weak", "lld_exe_weak", 1, false, {kFoo, "/usr/lib/libweakfoo.dylib"}, 1, "", "", ""},
        {"dylib_id_in_order", "dylib_own_id", 1, false, {kSystem, "/usr/lib/libme.dylib"}, 0, "", "", ""},
        {"upward_lazy_left_out", "upward_lazy", 1, false, {kSystem}, 1, "", "", ""},
        {"only_upward_lazy", "only_upward_lazy", 1, false, {}, 1, "", "", ""},
        {"no_commands", "no_commands", 1, false, {}, 1, "", "", ""},
        {"x86_64_thin", "x86_64_be_free_exe64", 1, false, {"/usr/lib/lib64.dylib"}, 1, "", "", ""},
        // Walk notes.
        {"sizeofcmds_too_large", "sizeofcmds_too_large", 1, false, {}, 1, "Inconsistent sizeofcmds\n", "", ""},
        {"cmdsize_46", "cmdsize_46", 1, false, {kA}, 1, "load command 0 size not a multiple of sizeof(long)\n", "",
         ""},
        {"name_offset_is_cmdsize", "bad_offset_load", 1, false, {kA}, 1,
         "\tBad offset (44) for name of LC_LOAD_DYLIB command 1\n", "", ""},
        {"reexport_named_weak", "bad_offset_reexport", 1, false, {kA}, 1,
         "\tBad offset (44) for name of LC_LOAD_WEAK_DYLIB command 1\n", "", ""},
        {"size_zero_drops_names", "size_zero_middle", 1, false, {}, 1,
         "\tBad offset (12) for name of LC_LOAD_DYLIB command 1\n"
         "load command 1 size zero (can't advance to other load commands)\n",
         "", ""},
        {"fvmlib_printed_not_collected", "fvmlib", 1, false, {kA}, 1, "\t/usr/lib/libfvm.A (minor version 1)\n", "",
         ""},
        {"loads_250", "loads_250", 1, false, numbered(250), 1, "", "", ""},
        {"name_cut_at_1023", "long_name", 1, false, {"/" + std::string(1022, 'n')}, 1, "", "", ""},
        {"unterminated_name_ends_at_area", "unterminated_name", 1, false, {kA, "/usr/lib/libtail"}, 1, "", "", ""},
        {"commands_cut_by_file_end", "cut_commands", 1, false, {}, 1,
         "load command 1 size zero (can't advance to other load commands)\n", "", ""},
        {"command_past_area", "past_end_command", 1, false, {}, 1,
         "load command 1 extends past end of load commands\n", "", ""},
        {"hostile_sizeofcmds", "hostile_sizeofcmds", 1, false, {}, 1, "Inconsistent sizeofcmds\n", "", "",
         {"--limit-as", "268435456"}},
        {"ncmds_huge", "ncmds_huge", 1, false, {}, 1,
         "load command 1 size zero (can't advance to other load commands)\n", "", ""},
        // 512 MiB under a 256 MiB address-space limit: answered by the header
        // and load commands, the only bytes read (the ppc slice at 384 MiB).
        {"large_file", "sparse_512mib", 1, false, {kSystem, "/usr/lib/libweak.dylib", "/usr/lib/libre.dylib"}, 1,
         "", "", "", {"--limit-as", "268435456"}},
        {"large_universal", "sparse_fat_512mib", 1, false, ppcNames, 1, "", "", "",
         {"--limit-as", "268435456"}},
        // No Mach header.
        {"empty", "empty", 1, true, {}, 0, "", "", ""},
        {"magic_1", "magic_1", 1, true, {}, 0, "", "", ""},
        {"magic_2", "magic_2", 1, true, {}, 0, "", "", ""},
        {"magic_3", "magic_3", 1, true, {}, 0, "", "", ""},
        {"magic_4", "magic_4", 1, true, {}, 0, "", "", ""},
        {"elf", "/bin/ls", 1, true, {}, 0, "", "", ""},
        {"archive", "plain_archive", 1, true, {}, 0, "", "", ""},
        {"archive_of_objects", "lld_lib_i386.a", 1, true, {}, 0, "", "", ""},
        {"script", "script", 1, true, {}, 0, "", "", ""},
        {"truncated_27", "magic_27", 1, true, {}, 0, kTruncated, "", kTruncated},
        {"truncated_be_27", "magic_be_27", 1, true, {}, 0, kTruncated, "", kTruncated},
        {"truncated_64_31", "magic64_31", 1, true, {}, 0, kTruncated, "", kTruncated},
        {"java_class", "java_class", 0, true, {}, 0, "", kFatTable, ""},
        // Universal files.
        {"slice_at_file_size", "fat_slice_at_end", 1, true, {}, 0, "", "", ""},
        {"slice_past_end", "fat_slice_past_end", 0, true, {}, 0, "",
         "(null): fat file: PATH offset to architecture i386 extends past end of file\n", ""},
        {"slice_top_bit", "fat_slice_top_bit", 0, true, {}, 0, "",
         "(null): fat file: PATH offset to architecture i386 extends past end of file\n", ""},
        {"slice_unnamed_arch", "fat_slice_unnamed", 0, true, {}, 0, "",
         "(null): fat file: PATH offset to architecture cputype (12) cpusubtype (9) extends past end of file\n",
         ""},
        {"slice_at_29", "fat_slice_at_29", 1, false, {kSystem, "/usr/lib/libweak.dylib", "/usr/lib/libre.dylib"}, 1, kMisaligned, "", kMisaligned},
        {"zero_slices", "fat_zero_slices", 0, true, {}, 0, "",
         "(null): fat file: PATH malformed (contains zero architecture types)\n", ""},
        {"slice_table_cut", "fat_truncated_table", 0, true, {}, 0, "", kFatTable, ""},
        {"archive_slice", "fat_archive_slice", 1, true, {}, 0, "", "", ""},
        {"short_macho_slice", "fat_short_macho_slice", 1, true, {}, 0, kTruncated, "", kTruncated},
        // Not regular files, missing files.
        {"fifo", "a_fifo", 0, true, {}, 0, "", "", ""},
        {"directory", "a_directory", 0, true, {}, 0, "", "", ""},
        {"dev_zero", "/dev/zero", 0, true, {}, 0, "", "", ""},
        {"missing", "no_such_file", 0, true, {}, 0, "", "", ""},
    };
}

class ScannerFiles : public testing::TestWithParam<FileCase> {
protected:
    static void SetUpTestSuite()
    {
        const std::string fifo = fixture("a_fifo");
        if (mkfifo(fifo.c_str(), 0600) != 0 && errno != EEXIST)
            FAIL() << "mkfifo " << fifo;
    }
};

TEST_P(ScannerFiles, AnswersAndStreams)
{
    const FileCase& c = GetParam();
    const std::string path = resolve(c.path);
    SCOPED_TRACE(path);

    const auto deps = runDriver("deps", path, c.extra);
    EXPECT_EQ(0, deps.status);
    EXPECT_EQ(depsAnswers(c), deps.answers);
    EXPECT_EQ(c.out, deps.out);
    EXPECT_EQ(withPath(c.err, path), deps.err);

    const auto exec = runDriver("exec", path, c.extra);
    EXPECT_EQ(0, exec.status);
    EXPECT_EQ("exec=" + std::to_string(c.exec) + "\n", exec.answers);
    EXPECT_EQ(c.execOut, exec.out);
    EXPECT_EQ(withPath(c.err, path), exec.err);
}

INSTANTIATE_TEST_SUITE_P(Table, ScannerFiles, testing::ValuesIn(fileCases()),
                         [](const testing::TestParamInfo<FileCase>& i) { return std::string(i.param.name); });

} // namespace

namespace {

std::vector<std::string> answerNames(const std::string& answers)
{
    std::vector<std::string> v;
    std::istringstream in(answers);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 5, "name=") == 0)
            v.push_back(line.substr(5));
    return v;
}

// The libraries llvm-objdump lists, less the upward and lazy loads the
// scanner leaves out, names cut at 1,023 characters.
std::vector<std::string> objdumpNames(const std::string& path)
{
    int status = -1;
    const std::string listing =
        machotest::runProgram({"/usr/bin/llvm-objdump", "--macho", "--dylibs-used", path}, &status);
    EXPECT_EQ(0, status) << listing;
    std::vector<std::string> v;
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '\t')
            continue;
        if (line.find(", upward)") != std::string::npos || line.find(", lazy)") != std::string::npos)
            continue;
        const size_t end = line.rfind(" (compatibility version");
        v.push_back(line.substr(1, std::min<size_t>(end - 1, 1023)));
    }
    return v;
}

TEST(ScannerOracle, NamesEqualLlvmObjdump)
{
    const char* files[] = {"i386_exe",         "ppc_exe",      "ppc_dylib",     "upward_lazy",
                           "only_upward_lazy", "loads_250",    "long_name",     "dylib_own_id",
                           "x86_64_be_free_exe64", "no_commands", "lld_libfoo.dylib", "lld_exe",
                           "lld_exe_weak",     "lld_exe_arm64"};
    for (const char* f : files) {
        SCOPED_TRACE(f);
        const std::string path = fixture(f);
        const auto r = runDriver("deps", path);
        EXPECT_EQ(objdumpNames(path), answerNames(r.answers));
        EXPECT_EQ("", r.out);
        EXPECT_EQ("", r.err);
    }
}

TEST(ScannerOracle, UpwardAndLazyListedByLlvmOnly)
{
    int status = -1;
    const std::string listing = machotest::runProgram(
        {"/usr/bin/llvm-objdump", "--macho", "--dylibs-used", fixture("only_upward_lazy")}, &status);
    EXPECT_NE(std::string::npos, listing.find("\t/usr/lib/libup.dylib (")) << listing;
    EXPECT_NE(std::string::npos, listing.find("\t/usr/lib/liblazy.dylib (")) << listing;
    EXPECT_EQ("result=1\ncount=0\nnames=array\n", runDriver("deps", fixture("only_upward_lazy")).answers);
}

// The executable test against the file type llvm-readobj reads (slice 0 of
// a universal file comes first in its listing).
TEST(ScannerOracle, ExecutableAsLlvmReadobjSeesIt)
{
    const char* files[] = {"i386_exe", "ppc_exe", "ppc_dylib", "dylib_own_id", "fat_ppc_i386", "fat_dylib_exe",
                           "lld_libfoo.dylib", "lld_exe", "lld_exe_arm64", "lld_fat_dylib_exe", "lld_a-i386.o"};
    for (const char* f : files) {
        SCOPED_TRACE(f);
        const std::string listing =
            machotest::runProgram({"/usr/bin/llvm-readobj", "--file-headers", "--needed-libs", fixture(f)});
        const size_t at = listing.find("FileType: ");
        ASSERT_NE(std::string::npos, at) << listing;
        const bool exe = listing.compare(at, 20, "FileType: Executable") == 0;
        EXPECT_EQ(std::string("exec=") + (exe ? "1" : "0") + "\n", runDriver("exec", fixture(f)).answers);
    }
}

// Reading never writes: every fixture keeps its md5sum.
TEST(ScannerFilesUnchanged, Md5sumBeforeAndAfter)
{
    std::vector<std::string> files;
    DIR* dir = opendir(machotest::fixtureDir().c_str());
    ASSERT_NE(nullptr, dir);
    while (const dirent* e = readdir(dir)) {
        struct stat st;
        const std::string name = e->d_name;
        if (stat(fixture(name).c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size < (1 << 20))
            files.push_back(name);
    }
    closedir(dir);
    ASSERT_GT(files.size(), 50u);
    std::vector<std::string> argv{"/usr/bin/md5sum"};
    for (const std::string& f : files)
        argv.push_back(fixture(f));
    const std::string before = machotest::runProgram(argv);
    ASSERT_NE("", before);
    // The driver runs side by side: each is its own process, and only what
    // the files hold at the end is checked.
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < files.size();) {
                runDriver("deps", fixture(files[i]));
                runDriver("exec", fixture(files[i]));
            }
        });
    for (std::thread& t : workers)
        t.join();
    runDriver("member:fat.o", fixture("ar_fat_good"));
    EXPECT_EQ(before, machotest::runProgram(argv));
}

// The option variables that print while reading, set by the driver.
TEST(ScannerOptions, VerboseFatAndModificationTime)
{
    setenv("TZ", "UTC", 1);
    const std::string stamp = "\ttime stamp 2 Thu Jan  1 00:00:02 1970\n";
    auto r = runDriver("deps", fixture("i386_exe"), {"--vflag"});
    EXPECT_EQ(stamp + stamp + stamp, r.out);
    EXPECT_EQ(3u, answerNames(r.answers).size());

    // The mapping prints the heading, then the fat-header printer's
    // non-verbose form (the driver leaves vflag off).
    r = runDriver("deps", fixture("fat_ppc_i386"), {"--fflag"});
    EXPECT_EQ("Fat headers\nfat_magic 0xcafebabe\nnfat_arch 2\n"
              "architecture 0\n    cputype 18\n    cpusubtype 0\n    capabilities 0x0\n"
              "    offset 4096\n    size 132\n    align 2^12 (4096)\n"
              "architecture 1\n    cputype 7\n    cpusubtype 3\n    capabilities 0x0\n"
              "    offset 8192\n    size 176\n    align 2^12 (4096)\n",
              r.out);
    EXPECT_EQ(2u, answerNames(r.answers).size());

    // A cut slice table is printed from a zero-filled copy of what is there.
    const std::string cut = fixture("fat_truncated_table");
    r = runDriver("exec", cut, {"--fflag"});
    EXPECT_EQ("Fat headers\nfat_magic 0xcafebabe\nnfat_arch 2 (malformed, architectures past end of file)\n"
              "architecture 0\n    cputype 7\n    cpusubtype 3\n    capabilities 0x0\n"
              "    offset 48 (past end of file) (not aligned on it's alignment (2^12))\n"
              "    size 176 (past end of file)\n    align 2^12 (4096)\n"
              "architecture 1\n    cputype 18\n    cpusubtype 0\n    capabilities 0x0\n"
              "    offset 224 (past end of file)\n    size 132 (past end of file)\n    align 2^0 (1)\n",
              r.out);
    EXPECT_EQ(withPath(kFatTable, cut), r.err);

    struct stat st;
    ASSERT_EQ(0, stat(fixture("ppc_exe").c_str(), &st));
    r = runDriver("exec", fixture("ppc_exe"), {"--Wflag"});
    EXPECT_EQ("Modification time = " + std::to_string(st.st_mtime) + "\n", r.out);
    EXPECT_EQ("exec=1\n", r.answers);
}

} // namespace
