// Architecture names, families, stack addresses and the host's processor.
#include "libstuff/arch.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

using namespace macho;

namespace {

std::string nameOf(int32_t cputype, int32_t cpusubtype)
{
    arch_flag f{nullptr, cputype, cpusubtype};
    set_arch_flag_name(&f);
    std::string s = f.name;
    free(f.name);
    return s;
}

TEST(Arch, TableOrderAndSize)
{
    const arch_flag* t = get_arch_flags();
    int n = 0;
    while (t[n].name != nullptr)
        ++n;
    EXPECT_EQ(40, n);
    EXPECT_STREQ("any", t[0].name);
    EXPECT_STREQ("ppc603e", t[16].name);
    EXPECT_STREQ("veo4", t[39].name);
}

TEST(Arch, Names)
{
    struct Case {
        int32_t cputype;
        int32_t cpusubtype;
        const char* want;
    };
    const Case cases[] = {
        {7, 3, "i386"},
        {7, static_cast<int32_t>(3 | 0x80000000u), "i386"},
        {7, 5, "pentium"},
        {7, 22, "pentpro"},
        {255, 2, "veo"},
        {0x1000007, 3, "x86_64"},
        {0x1000012, 100, "ppc970-64"},
        {18, 100, "ppc970"},
        {12, 9, "cputype (12) cpusubtype (9)"},
        {INT_MIN, INT_MIN, "cputype (-2147483648) cpusubtype (-2147483648)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(c.want, nameOf(c.cputype, c.cpusubtype));
    }
}

TEST(Arch, Families)
{
    ASSERT_NE(nullptr, get_arch_family_from_cputype(18));
    EXPECT_STREQ("ppc", get_arch_family_from_cputype(18)->name);
    EXPECT_STREQ("ppc64", get_arch_family_from_cputype(0x1000012)->name);
    EXPECT_STREQ("i386", get_arch_family_from_cputype(7)->name);
    EXPECT_STREQ("any", get_arch_family_from_cputype(-1)->name);
    EXPECT_EQ(nullptr, get_arch_family_from_cputype(12));
}

TEST(Arch, StackAddresses)
{
    struct Case {
        int32_t cputype;
        uint64_t want;
    };
    const Case cases[] = {
        {6, 0x4000000},   {7, 0xc0000000},         {18, 0xc0000000},          {255, 0xc0000000},
        {11, 0xbc000000}, {13, 0xffffe000},        {14, 0xf0000000},          {0x1000007, 0x7fff5fc00000ULL},
        {15, 0},          {0x1000012, 0x7ffff00000000ULL}, {12, 0},
    };
    for (const Case& c : cases) {
        arch_flag f{nullptr, c.cputype, 0};
        EXPECT_EQ(c.want, get_stack_addr_from_flag(&f)) << c.cputype;
    }
}

int32_t g_type;
int32_t g_subtype;
int g_known;

int fakeHost(int32_t* cputype, int32_t* cpusubtype)
{
    *cputype = g_type;
    *cpusubtype = g_subtype;
    return g_known;
}

class HostArch : public testing::Test {
protected:
    void SetUp() override { set_host_query(&fakeHost); }
    void TearDown() override { set_host_query(nullptr); }
};

TEST_F(HostArch, ThroughTheSeam)
{
    struct Case {
        int32_t type;
        int32_t subtype;
        int known;
        int result;
        const char* family;
        int32_t familySubtype;
        const char* specific;
        int32_t specificSubtype;
    };
    const Case cases[] = {
        {7, 86, 1, 1, "i386", 3, "pentIIm5", 86},
        {7, 23, 1, 1, "i386", 3, "Intel family 7 model 1", 23},
        {7, 3, 1, 1, "i386", 3, "i386", 3},
        {6, 1, 1, 1, "m68k", 1, "m68030", 3},
        {18, 9, 1, 1, "ppc", 0, "ppc750", 9},
        {18, 42, 1, 1, "ppc", 0, "PowerPC cpusubtype 42", 42},
        {255, 9, 1, 1, "veo", 2, "VEO cpusubtype 9", 9},
        {11, 1, 1, 1, "hppa", 0, "hppa7100LC", 1},
        {11, 2, 1, 0, nullptr, 0, nullptr, 2},
        {12, 0, 1, 0, nullptr, 0, nullptr, 0},
        {7, 3, 0, 0, nullptr, 0, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.subtype));
        g_type = c.type;
        g_subtype = c.subtype;
        g_known = c.known;
        arch_flag family{};
        arch_flag specific{};
        EXPECT_EQ(c.result, get_arch_from_host(&family, &specific));
        if (c.family != nullptr) {
            ASSERT_NE(nullptr, family.name);
            EXPECT_STREQ(c.family, family.name);
            EXPECT_EQ(c.familySubtype, family.cpusubtype);
            EXPECT_EQ(c.type, family.cputype);
            ASSERT_NE(nullptr, specific.name);
            EXPECT_STREQ(c.specific, specific.name);
        } else {
            EXPECT_EQ(nullptr, family.name);
            EXPECT_EQ(nullptr, specific.name);
        }
        if (c.known) {
            EXPECT_EQ(c.specificSubtype, specific.cpusubtype);
        }
        free(family.name);
        free(specific.name);
    }
}

TEST(Arch, BuiltInHostIsI386OnX86)
{
    arch_flag family{};
    arch_flag specific{};
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(1, get_arch_from_host(&family, nullptr));
    EXPECT_STREQ("i386", family.name);
    EXPECT_EQ(1, get_arch_from_host(nullptr, &specific));
    EXPECT_STREQ("i386", specific.name);
#else
    EXPECT_EQ(0, get_arch_from_host(&family, &specific));
#endif
    free(family.name);
    free(specific.name);
}

} // namespace
