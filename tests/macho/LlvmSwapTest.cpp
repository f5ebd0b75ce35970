// Our conversion of plain records against LLVM's MachO::swapStruct on
// random bytes (header-only use of llvm/BinaryFormat/MachO.h).
#include "libstuff/bytesex.h"

#include <llvm/BinaryFormat/MachO.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

struct Pair {
    const char* name;
    size_t size;
    std::function<void(char*)> ours;
    std::function<void(char*)> theirs;
};

template <typename O, typename L>
Pair pair(const char* name, std::function<void(O*)> ours)
{
    static_assert(sizeof(O) == sizeof(L), "record sizes differ");
    return {name, sizeof(O),
            [ours](char* p) {
                O r;
                memcpy(&r, p, sizeof r);
                ours(&r);
                memcpy(p, &r, sizeof r);
            },
            [](char* p) {
                L r;
                memcpy(&r, p, sizeof r);
                llvm::MachO::swapStruct(r);
                memcpy(p, &r, sizeof r);
            }};
}

constexpr macho::byte_sex kOther = macho::BIG_ENDIAN_BYTE_SEX;

#define ONE(ours, theirs)                                                                                        \
    pair<macho::ours, llvm::MachO::theirs>(#ours, [](macho::ours* r) { macho::swap_##ours(r, kOther); })
#define MANY(ours, theirs)                                                                                       \
    pair<macho::ours, llvm::MachO::theirs>(#ours, [](macho::ours* r) { macho::swap_##ours(r, 1, kOther); })

TEST(LlvmSwap, PlainRecordsMatch)
{
    const std::vector<Pair> pairs = {
        ONE(fat_header, fat_header),
        MANY(fat_arch, fat_arch),
        ONE(mach_header, mach_header),
        ONE(mach_header_64, mach_header_64),
        ONE(load_command, load_command),
        ONE(segment_command, segment_command),
        ONE(segment_command_64, segment_command_64),
        MANY(section, section),
        MANY(section_64, section_64),
        ONE(symtab_command, symtab_command),
        ONE(dysymtab_command, dysymtab_command),
        ONE(symseg_command, symseg_command),
        ONE(fvmlib_command, fvmlib_command),
        ONE(dylib_command, dylib_command),
        ONE(sub_framework_command, sub_framework_command),
        ONE(sub_umbrella_command, sub_umbrella_command),
        ONE(sub_library_command, sub_library_command),
        ONE(sub_client_command, sub_client_command),
        ONE(prebound_dylib_command, prebound_dylib_command),
        ONE(dylinker_command, dylinker_command),
        ONE(fvmfile_command, fvmfile_command),
        ONE(routines_command, routines_command),
        ONE(routines_command_64, routines_command_64),
        ONE(twolevel_hints_command, twolevel_hints_command),
        ONE(prebind_cksum_command, prebind_cksum_command),
        ONE(uuid_command, uuid_command),
        ONE(linkedit_data_command, linkedit_data_command),
        ONE(rpath_command, rpath_command),
        MANY(nlist, nlist),
        MANY(nlist_64, nlist_64),
        ONE(i386_thread_state, x86_thread_state32_t),
        ONE(x86_thread_state64, x86_thread_state64_t),
        ONE(ppc_thread_state_t, ppc_thread_state32_t),
    };
    std::mt19937 rng(11);
    for (const Pair& p : pairs) {
        SCOPED_TRACE(p.name);
        for (int trial = 0; trial < 16; ++trial) {
            std::vector<char> bytes(p.size);
            for (char& b : bytes)
                b = static_cast<char>(rng());
            std::vector<char> a = bytes;
            std::vector<char> b = bytes;
            p.ours(a.data());
            p.theirs(b.data());
            EXPECT_EQ(b, a);
        }
    }
}

} // namespace
