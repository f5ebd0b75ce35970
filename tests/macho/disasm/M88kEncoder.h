// Builds m88k instruction words from field values, per the processor's
// instruction formats (bit 0 the least significant bit of the word).
#pragma once

#include <cstdint>

namespace m88k_encode {

constexpr uint32_t field(uint32_t value, unsigned lo, unsigned width)
{
    return (value & ((1u << width) - 1)) << lo;
}

/// Triadic with a 16-bit immediate: opcode 31-26, D 25-21, S1 20-16, IMM16.
constexpr uint32_t imm16(uint32_t opcode, uint32_t d, uint32_t s1, uint32_t imm)
{
    return field(opcode, 26, 6) | field(d, 21, 5) | field(s1, 16, 5) | field(imm, 0, 16);
}

/// Register forms (opcodes 0x3c, 0x3d, 0x22): D, S1, the sub-opcode 15-10,
/// bits 9-5, S2.
constexpr uint32_t reg(uint32_t major, uint32_t d, uint32_t s1, uint32_t op, uint32_t mid, uint32_t s2)
{
    return field(major, 26, 6) | field(d, 21, 5) | field(s1, 16, 5) | field(op, 10, 6) | field(mid, 5, 5)
           | field(s2, 0, 5);
}

/// Control-register form: opcode 0x20, D, S1, sub-opcode 15-11, CR 10-5, S2.
constexpr uint32_t control(uint32_t sub, uint32_t d, uint32_t s1, uint32_t cr, uint32_t s2)
{
    return field(0x20, 26, 6) | field(d, 21, 5) | field(s1, 16, 5) | field(sub, 11, 5) | field(cr, 5, 6)
           | field(s2, 0, 5);
}

/// Floating-point form: opcode 0x21, D, S1, X 15, opcode 14-11, T1 10-9,
/// T2 8-7, TD 6-5, S2.
constexpr uint32_t fp(uint32_t x, uint32_t op, uint32_t t1, uint32_t t2, uint32_t td, uint32_t d, uint32_t s1,
                      uint32_t s2)
{
    return field(0x21, 26, 6) | field(d, 21, 5) | field(s1, 16, 5) | field(x, 15, 1) | field(op, 11, 4)
           | field(t1, 9, 2) | field(t2, 7, 2) | field(td, 5, 2) | field(s2, 0, 5);
}

/// Unconditional branch: opcode, 26-bit word displacement.
constexpr uint32_t branch26(uint32_t opcode, uint32_t disp)
{
    return field(opcode, 26, 6) | field(disp, 0, 26);
}

/// Conditional branch: opcode, B5 or M5 25-21, S1, 16-bit word displacement.
constexpr uint32_t branch16(uint32_t opcode, uint32_t cond, uint32_t s1, uint32_t disp)
{
    return field(opcode, 26, 6) | field(cond, 21, 5) | field(s1, 16, 5) | field(disp, 0, 16);
}

/// Bit field with immediates: opcode 0x3c, D, S1, sub-opcode 15-10, W5 9-5, O5.
constexpr uint32_t bitfield(uint32_t op, uint32_t d, uint32_t s1, uint32_t width, uint32_t offset)
{
    return reg(0x3c, d, s1, op, width, offset);
}

/// Trap: opcode 0x3c, B5 or M5, S1, sub-opcode 15-9, vector 8-0.
constexpr uint32_t trap(uint32_t op7, uint32_t cond, uint32_t s1, uint32_t vector)
{
    return field(0x3c, 26, 6) | field(cond, 21, 5) | field(s1, 16, 5) | field(op7, 9, 7) | field(vector, 0, 9);
}

} // namespace m88k_encode
