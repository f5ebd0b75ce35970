// The Mach-O printers and disassemblers, as wardmacho runs them, on a file
// holding the input after its first four bytes; those select the display
// options, one bit each. No crash, no leak, no exit, no time-out.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "libstuff/bytesex.h"
#include "libstuff/objects.h"
#include "libstuff/ofile.h"
#include "options.h"
#include "processor.h"

namespace {

int* const kFlags[] = {&aflag, &Sflag, &hflag, &lflag, &rflag, &Tflag, &Mflag, &Rflag, &Iflag, &Hflag, &tflag,
                       &iflag, &dflag, &oflag, &cflag, &vflag, &Vflag, &Xflag, &fflag, &Wflag, &Zflag};
constexpr size_t kFlagCount = sizeof kFlags / sizeof kFlags[0];
/// The bit after the flags' bits: -s __TEXT __text.
constexpr uint32_t kSectionBit = uint32_t(1) << kFlagCount;
char kText[] = "__TEXT";
char kTextSection[] = "__text";

void setOptions(uint32_t mask)
{
    for (size_t i = 0; i < kFlagCount; ++i)
        *kFlags[i] = (mask >> i) & 1;
    segname = (mask & kSectionBit) != 0 ? kText : nullptr;
    sectname = (mask & kSectionBit) != 0 ? kTextSection : nullptr;
}

/// The disassemblers look every operand up among the section's relocation
/// entries, and may report entries on standard error at each look-up, as
/// designed: instructions x entries lines. A larger input can take minutes to
/// print and is left out.
constexpr size_t kMaxInput = 20 * 1024;

/// Load commands claimed this far past the object's bytes read as zeros, and
/// the printers walk them all, as designed: seconds of work that finds
/// nothing, so such an object is left out.
constexpr uint64_t kZeroCommands = 1 << 16;

bool walkable(const macho::ofile& of)
{
    if (of.mh == nullptr && of.mh64 == nullptr)
        return true;
    uint32_t claimed = of.mh != nullptr ? of.mh->sizeofcmds : of.mh64->sizeofcmds;
    if (of.object_byte_sex != macho::get_host_byte_sex())
        claimed = __builtin_bswap32(claimed);
    return claimed <= of.object_size + kZeroCommands;
}

} // namespace

/// The Mach-O fixtures are seeded by seeds.py, each under a few option sets.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4 || size > kMaxInput)
        return 0;
    uint32_t mask = 0;
    std::memcpy(&mask, data, 4);
    setOptions(mask);
    const std::string& path = fuzzcheck::writeInputFile(data + 4, size - 4);
    fuzzcheck::guard([&] {
        macho::ofile of;
        if (!macho::ofile_map(path.c_str(), nullptr, nullptr, &of, 0))
            return;
        macho::for_each_object(&of, path.c_str(), [&of](const char* arch_name, std::string_view) {
            if (!walkable(of))
                return;
            dependant_libraries none{0, nullptr};
            macho::processor(&of, arch_name, &none, macho::PROCESSOR_HEADER_ONLY);
            fuzzcheck::check(none.count == 0 && none.names == nullptr, "libraries collected without asking");
        });
        macho::ofile_unmap(&of);
    });
    return 0;
}
