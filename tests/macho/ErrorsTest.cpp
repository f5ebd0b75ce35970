// Reports on standard error and the allocation helpers.
#include "libstuff/errors.h"
#include "libstuff/ofile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

#include "LimitedChild.h"

using namespace macho;

namespace {

using wardtest::kSanitized;

template <typename F>
std::string stderrOf(F f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

TEST(Errors, ReportLines)
{
    EXPECT_EQ("(null): fat file: /tmp/x offset to architecture i386 extends past end of file\n", stderrOf([] {
                  error("fat file: %s offset to architecture %s extends past end of file", "/tmp/x", "i386");
              }));
    EXPECT_EQ("(null): bad\n", stderrOf([] { error_with_arch(nullptr, "bad"); }));
    EXPECT_EQ("(null): for architecture: ppc bad 3\n", stderrOf([] { error_with_arch("ppc", "bad %d", 3); }));
    EXPECT_EQ("(null): no entry (No such file or directory)\n",
              stderrOf([] { my_mach_error(ENOENT, "no %s", "entry"); }));
    EXPECT_EQ("plain 7", stderrOf([] { print("plain %d", 7); }));
}

TEST(Errors, ArchiveReporters)
{
    ofile of{};
    char name[] = "/tmp/lib.a";
    char member[] = "foo.o   ";
    char arch[] = "ppc";
    of.file_name = name;
    of.member_name = member;
    of.member_name_size = 5;
    of.file_type = OFILE_ARCHIVE;
    EXPECT_EQ("(null): archive: /tmp/lib.a gone\n", stderrOf([&] { archive_error(&of, "gone"); }));
    EXPECT_EQ("(null): archive member: /tmp/lib.a(foo.o) gone\n",
              stderrOf([&] { archive_member_error(&of, "gone"); }));
    of.file_type = OFILE_FAT;
    of.arch_flag.name = arch;
    EXPECT_EQ("(null): for architecture ppc archive: /tmp/lib.a gone\n", stderrOf([&] { archive_error(&of, "gone"); }));
    EXPECT_EQ("(null): for architecture ppc archive member: /tmp/lib.a(foo.o) gone\n",
              stderrOf([&] { archive_member_error(&of, "gone"); }));
}

TEST(Errors, Allocation)
{
    EXPECT_EQ(nullptr, allocate(0));
    void* p = reallocate(nullptr, 16);
    ASSERT_NE(nullptr, p);
    memset(p, 1, 16);
    p = reallocate(p, 32);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(1, static_cast<char*>(p)[15]);
    free(p);
    char* s = savestr("text");
    EXPECT_STREQ("text", s);
    free(s);
}

using ErrorsDeathTest = testing::Test;

TEST_F(ErrorsDeathTest, AllocationRefusedEndsTheProcess)
{
    if (kSanitized)
        GTEST_SKIP() << "the sanitizers cannot run under an address-space limit";
    EXPECT_EXIT(
        {
            wardtest::limitAddressSpace(rlim_t(1) << 30);
            allocate(size_t(2) << 30);
        },
        testing::ExitedWithCode(1), "^\\(null\\): virtual memory exhausted \\(malloc failed\\) \\(Cannot allocate memory\\)\n$");
    EXPECT_EXIT(
        {
            wardtest::limitAddressSpace(rlim_t(1) << 30);
            void* p = allocate(16);
            reallocate(p, size_t(2) << 30);
        },
        testing::ExitedWithCode(1), "^\\(null\\): virtual memory exhausted \\(realloc failed\\) \\(Cannot allocate memory\\)\n$");
    EXPECT_EXIT(fatal("stop %d", 5), testing::ExitedWithCode(1), "^\\(null\\): stop 5\n$");
}

} // namespace
