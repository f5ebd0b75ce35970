// The PA-RISC 1.1 opcode table of the HP-PA disassembler: searched in order,
// so a special case sits before the general row that also matches it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace macho {

struct pa_opcode {
    const char* name;
    uint32_t match; // required values of the masked bits
    uint32_t mask;  // bits that must equal match
    const char* args; // operand template
    int flags;        // carried, not read
};

/// The rows, "jbsr" last; the search covers exactly pa_num_opcodes rows.
extern const pa_opcode pa_opcodes[];
extern const size_t pa_num_opcodes;

} // namespace macho
