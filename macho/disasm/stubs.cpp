// Placeholders until the disassemblers are built: each prints an empty line
// and steps over one 4-byte instruction, never past the section.
#include "disasm/disasm.h"

#include <cstdio>

namespace macho {

namespace {

uint32_t step(uint64_t left, uint32_t unit)
{
    putchar('\n');
    return left < unit ? static_cast<uint32_t>(left) : unit;
}

} // namespace

uint32_t sparc_disassemble(const char*, uint64_t left, uint64_t, uint64_t, byte_sex, const relocation_info*,
                           uint32_t, const nlist*, uint32_t, const sorted_symbol*, uint32_t, const char*, uint64_t,
                           const uint32_t*, uint32_t, const load_commands_view&, uint32_t, uint32_t, int)
{
    return step(left, 4);
}

} // namespace macho
