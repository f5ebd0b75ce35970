// The i860 opcode table: one row per instruction form, searched in order by
// the disassembler; the first row whose masked bits equal its match wins.
#pragma once

#include <cstdint>

namespace macho {

/// One instruction form. `args` is the operand template: the letters name
/// word fields (1, 2, d integer registers; e, f, g and their capitals
/// floating-point registers; i to p, I, J address operands; K, L branch
/// offsets; B, D plain numbers; C a control register), every other
/// character is printed as it stands.
struct i860_opcode {
    const char* name;
    uint32_t mask;
    uint32_t match;
    const char* args;
    int expand; // 1 where an assembler may widen the address operand; not read here
};

/// The rows, ended by a row of zeros.
extern const i860_opcode i860_opcodes[];

} // namespace macho
