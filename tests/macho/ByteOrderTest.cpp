// Byte-order conversion: bit-field words, scattered relocations, 64-bit
// units, round trips of every routine, and the archive's byte order.
#include "DriverRun.h"

#include "libstuff/bitfields.h"
#include "libstuff/bytesex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <vector>

using namespace macho;

namespace {

constexpr byte_sex kHost = LITTLE_ENDIAN_BYTE_SEX;
constexpr byte_sex kOther = BIG_ENDIAN_BYTE_SEX;

uint32_t relocSymbolnum(uint32_t w)
{
    return w & 0xffffff;
}

TEST(ByteOrder, HostIsLittleEndian)
{
    EXPECT_EQ(LITTLE_ENDIAN_BYTE_SEX, get_host_byte_sex());
}

TEST(ByteOrder, PlainRelocationFromBigEndian)
{
    // Second word as a big-endian file holds it: 12 34 56 AD.
    const unsigned char file[8] = {0x00, 0x00, 0x01, 0x00, 0x12, 0x34, 0x56, 0xAD};
    relocation_info r;
    memcpy(&r, file, sizeof r);
    swap_relocation_info(&r, 1, kHost);
    EXPECT_EQ(0x100, r.r_address);
    EXPECT_EQ(0xD3123456u, r.r_info);
    EXPECT_EQ(0x123456u, relocSymbolnum(r.r_info));
    EXPECT_EQ(1u, (r.r_info >> 24) & 1);  // pcrel
    EXPECT_EQ(1u, (r.r_info >> 25) & 3);  // length
    EXPECT_EQ(0u, (r.r_info >> 27) & 1);  // extern
    EXPECT_EQ(13u, (r.r_info >> 28) & 15); // type

    swap_relocation_info(&r, 1, kOther);
    EXPECT_EQ(0, memcmp(&r, file, sizeof r));
}

// The same entry in a PowerPC object, decoded independently by llvm-objdump.
TEST(ByteOrder, PlainRelocationAsLlvmObjdumpDecodesIt)
{
    const std::string path = machotest::fixture("ppc_reloc.o");
    const std::string bytes = machotest::readFile(path);
    ASSERT_GE(bytes.size(), 168u);
    relocation_info r;
    memcpy(&r, bytes.data() + 160, sizeof r);
    swap_relocation_info(&r, 1, kHost);

    const std::string listing = machotest::runProgram({"/usr/bin/llvm-objdump", "--macho", "-r", path});
    std::istringstream lines(listing);
    std::string line;
    std::string address, pcrel, length, ext, type, scattered;
    uint32_t symbolnum = 0;
    while (std::getline(lines, line))
        if (line.compare(0, 8, "00000004") == 0)
            std::istringstream(line) >> address >> pcrel >> length >> ext >> type >> scattered >> symbolnum;
    ASSERT_EQ("00000004", address) << listing;
    const char* lengths[] = {"byte", "word", "long", "quad"};
    EXPECT_EQ(4, r.r_address);
    EXPECT_EQ(pcrel == "True" ? 1u : 0u, (r.r_info >> 24) & 1);
    EXPECT_EQ(length, lengths[(r.r_info >> 25) & 3]);
    EXPECT_EQ(ext == "True" ? 1u : 0u, (r.r_info >> 27) & 1);
    EXPECT_EQ(std::stoul(type), (r.r_info >> 28) & 15);
    EXPECT_EQ("False", scattered);
    EXPECT_EQ(symbolnum, relocSymbolnum(r.r_info));
}

TEST(ByteOrder, ScatteredRelocationWordsReversed)
{
    // Top bit of the first word set, as read in file (big-endian) order.
    const unsigned char file[8] = {0xA4, 0x00, 0x01, 0x02, 0x11, 0x22, 0x33, 0x44};
    relocation_info r;
    memcpy(&r, file, sizeof r);
    swap_relocation_info(&r, 1, kHost);
    EXPECT_EQ(static_cast<int32_t>(0xA4000102u), r.r_address);
    EXPECT_EQ(0x11223344u, r.r_info);
    swap_relocation_info(&r, 1, kOther);
    EXPECT_EQ(0, memcmp(&r, file, sizeof r));

    // Judged in host order when converting away from the host.
    relocation_info host{static_cast<int32_t>(0x80000010u), 0x01020304u};
    swap_relocation_info(&host, 1, kOther);
    EXPECT_EQ(static_cast<int32_t>(0x10000080u), host.r_address);
    EXPECT_EQ(0x04030201u, host.r_info);
}

TEST(ByteOrder, WholeUnits)
{
    EXPECT_EQ(0x0807060504030201ULL, SWAP_LONG_LONG(0x0102030405060708ULL));
    const double d = 1.5;
    EXPECT_EQ(d, SWAP_DOUBLE(SWAP_DOUBLE(d)));
    uint64_t bits;
    const double s = SWAP_DOUBLE(d);
    memcpy(&bits, &s, sizeof bits);
    EXPECT_EQ(0x000000000000F83FULL, bits);
    const float f = 2.0f;
    const float sf = SWAP_FLOAT(f);
    uint32_t fb;
    memcpy(&fb, &sf, sizeof fb);
    EXPECT_EQ(0x00000040u, fb);
}

TEST(ByteOrder, Section64KeepsReserved3)
{
    section_64 s{};
    s.addr = 0x1122334455667788ULL;
    s.reserved2 = 0x01020304;
    s.reserved3 = 0xAABBCCDD;
    swap_section_64(&s, 1, kOther);
    EXPECT_EQ(0x8877665544332211ULL, s.addr);
    EXPECT_EQ(0x04030201u, s.reserved2);
    EXPECT_EQ(0xAABBCCDDu, s.reserved3);
}

TEST(ByteOrder, NlistKeepsBytes)
{
    nlist n{0x01020304, 0x0f, 0x02, 0x0506, 0x0708090a};
    swap_nlist(&n, 1, kOther);
    EXPECT_EQ(0x04030201u, n.n_strx);
    EXPECT_EQ(0x0f, n.n_type);
    EXPECT_EQ(0x02, n.n_sect);
    EXPECT_EQ(0x0605, n.n_desc);
    EXPECT_EQ(0x0a090807u, n.n_value);
}

TEST(ByteOrder, DylibModule64KeepsObjcSize)
{
    dylib_module_64 m{};
    m.objc_module_info_size = 0x00000010;
    m.objc_module_info_addr = 0x0000000100002000ULL;
    swap_dylib_module_64(&m, 1, kOther);
    EXPECT_EQ(0x10000000u, m.objc_module_info_size);
    EXPECT_EQ(0x0020000001000000ULL, m.objc_module_info_addr);
}

TEST(ByteOrder, BitFieldWords)
{
    struct Case {
        const char* name;
        const BitLayout& layout;
        uint32_t big_side; // the word as the big-endian side reads it
        uint32_t host;     // the same fields in host positions
    };
    const Case cases[] = {
        // isub_image 0x12 (top byte on the big-endian side), itoc 0x345678.
        {"twolevel_hint", kTwolevelHintBits, 0x12345678u, 0x34567812u},
        // isym 0xABCDEF, flags 0x01.
        {"dylib_reference", kDylibReferenceBits, 0xABCDEF01u, 0x01ABCDEFu},
        // x87 control: invalid (bit 15 there) and rc 3 (bits 4-5 there).
        {"fp_control", kFpControlBits, 0x8030u, 0x0C01u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.host, bits_to_host(c.big_side, c.layout));
        EXPECT_EQ(c.big_side, bits_from_host(c.host, c.layout));
    }

    twolevel_hint h{__builtin_bswap32(0x12345678u)};
    swap_twolevel_hint(&h, 1, kHost);
    EXPECT_EQ(0x12u, h.word & 0xff);
    EXPECT_EQ(0x345678u, h.word >> 8);
}

// Every routine, to the other order and back, gives its input back.
struct RoundTrip {
    const char* name;
    size_t size;
    std::function<void(char*, byte_sex)> swap;
};

template <typename T>
RoundTrip single(const char* name, void (*fn)(T*, byte_sex))
{
    return {name, sizeof(T), [fn](char* p, byte_sex t) {
                T r;
                memcpy(&r, p, sizeof r);
                fn(&r, t);
                memcpy(p, &r, sizeof r);
            }};
}

template <typename T>
RoundTrip array(const char* name, void (*fn)(T*, uint32_t, byte_sex))
{
    return {name, 3 * sizeof(T), [fn](char* p, byte_sex t) {
                T r[3];
                memcpy(r, p, sizeof r);
                fn(r, 3, t);
                memcpy(p, r, sizeof r);
            }};
}

#define S(x) single(#x, &swap_##x)
#define A(x) array(#x, &swap_##x)

std::vector<RoundTrip> allRoutines()
{
    return {
        S(fat_header), A(fat_arch), S(mach_header), S(mach_header_64), S(load_command), S(segment_command),
        S(segment_command_64), A(section), A(section_64), S(symtab_command), S(dysymtab_command),
        S(symseg_command), S(fvmlib_command), S(dylib_command), S(sub_framework_command),
        S(sub_umbrella_command), S(sub_library_command), S(sub_client_command), S(prebound_dylib_command),
        S(dylinker_command), S(fvmfile_command), S(m68k_thread_state_regs), S(m68k_thread_state_68882),
        S(m68k_thread_state_user_reg), S(ppc_thread_state_t), S(ppc_thread_state64_t), S(ppc_float_state_t),
        S(ppc_exception_state_t), S(m88k_thread_state_grf_t), S(m88k_thread_state_xrf_t),
        S(m88k_thread_state_user_t), S(m88110_thread_state_impl_t), S(i860_thread_state_regs),
        S(i386_thread_state), S(x86_thread_state64), S(i386_float_state), S(i386_exception_state),
        S(x86_float_state64), S(x86_exception_state64), S(x86_debug_state32), S(x86_debug_state64),
        S(x86_state_hdr), S(hppa_integer_thread_state), S(hppa_frame_thread_state), S(hppa_fp_thread_state),
        S(sparc_thread_state_regs), S(sparc_thread_state_fpu), S(routines_command), S(routines_command_64),
        S(twolevel_hints_command), A(twolevel_hint), S(prebind_cksum_command), S(uuid_command),
        S(linkedit_data_command), S(rpath_command), A(nlist), A(nlist_64), A(ranlib), A(relocation_info),
        {"indirect_symbols", 12, [](char* p, byte_sex t) {
             uint32_t r[3];
             memcpy(r, p, sizeof r);
             swap_indirect_symbols(r, 3, t);
             memcpy(p, r, sizeof r);
         }},
        A(dylib_reference), A(dylib_module), A(dylib_module_64), A(dylib_table_of_contents),
    };
}

TEST(ByteOrder, EveryRoutineRoundTrips)
{
    const auto routines = allRoutines();
    EXPECT_EQ(64u, routines.size());
    std::mt19937 rng(7);
    for (const RoundTrip& r : routines) {
        SCOPED_TRACE(r.name);
        for (int trial = 0; trial < 8; ++trial) {
            std::vector<char> bytes(r.size);
            for (char& b : bytes)
                b = static_cast<char>(rng());
            std::vector<char> copy = bytes;
            r.swap(copy.data(), kOther);
            if (std::string(r.name) != "uuid_command") {
                EXPECT_NE(bytes, copy) << "conversion changed nothing";
            }
            r.swap(copy.data(), kHost);
            EXPECT_EQ(bytes, copy);
            // And from the other side: towards the host first.
            copy = bytes;
            r.swap(copy.data(), kHost);
            r.swap(copy.data(), kOther);
            EXPECT_EQ(bytes, copy);
        }
    }
}

TEST(ByteOrder, MachHeaderTwiceIsIdentity)
{
    mach_header h{MH_MAGIC, 7, 3, 2, 1, 44, 0x85};
    mach_header before = h;
    swap_mach_header(&h, kOther);
    EXPECT_EQ(MH_CIGAM, h.magic);
    swap_mach_header(&h, kHost);
    EXPECT_EQ(0, memcmp(&before, &h, sizeof h));
}

TEST(ByteOrder, TocByteSex)
{
    struct Case {
        const char* file;
        byte_sex want;
    };
    const Case cases[] = {
        {"lld_lib_i386.a", LITTLE_ENDIAN_BYTE_SEX},
        {"ar_toc_ppc", BIG_ENDIAN_BYTE_SEX},
        {"ar_toc_only", UNKNOWN_BYTE_SEX},
        {"ar_toc_name_past_end", UNKNOWN_BYTE_SEX},
        {"ar_8", UNKNOWN_BYTE_SEX},
        {"ar_40", UNKNOWN_BYTE_SEX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string bytes = machotest::readFile(machotest::fixture(c.file));
        ASSERT_FALSE(bytes.empty());
        // An exact-size heap copy, so the sanitizers see any read past it.
        std::vector<char> buf(bytes.begin(), bytes.end());
        EXPECT_EQ(c.want, get_toc_byte_sex(buf.data(), buf.size()));
    }
}

} // namespace
