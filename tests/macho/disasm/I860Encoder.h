// Builds i860 instruction words from field values, per the processor's
// instruction formats (bit 0 the least significant bit of the word).
#pragma once

#include <cstdint>

namespace i860_encode {

constexpr uint32_t field(uint32_t value, unsigned lo, unsigned width)
{
    return (value & ((1u << width) - 1)) << lo;
}

/// Register form: opcode 31-26, src2 25-21, dest 20-16, src1 15-11, and
/// bits 10-0 (load sizes, auto-increment).
constexpr uint32_t reg(uint32_t opcode, uint32_t src1, uint32_t src2, uint32_t dest, uint32_t low = 0)
{
    return field(opcode, 26, 6) | field(src2, 21, 5) | field(dest, 16, 5) | field(src1, 11, 5) | field(low, 0, 11);
}

/// Immediate form: opcode, src2, dest and the 16-bit constant in 15-0.
constexpr uint32_t imm(uint32_t opcode, uint32_t constant, uint32_t src2, uint32_t dest)
{
    return field(opcode, 26, 6) | field(src2, 21, 5) | field(dest, 16, 5) | field(constant, 0, 16);
}

/// Split 16-bit field (stores, bte, btne, bla): its high 5 bits in 20-16,
/// its low 11 bits in 10-0; src1 in 15-11, src2 in 25-21.
constexpr uint32_t split(uint32_t opcode, uint32_t src1, uint32_t src2, uint32_t offset)
{
    return field(opcode, 26, 6) | field(src2, 21, 5) | field(offset >> 11, 16, 5) | field(src1, 11, 5)
           | field(offset, 0, 11);
}

/// Branch with a 26-bit word offset.
constexpr uint32_t branch(uint32_t opcode, uint32_t offset)
{
    return field(opcode, 26, 6) | field(offset, 0, 26);
}

/// Floating-point escape (opcode 0x12): src2, dest, src1, P 10, D 9,
/// S 8, R 7 and the operation in 6-0.
constexpr uint32_t fp(uint32_t op, uint32_t p, uint32_t s, uint32_t r, uint32_t src1, uint32_t src2, uint32_t dest,
                      uint32_t d = 0)
{
    return field(0x12, 26, 6) | field(src2, 21, 5) | field(dest, 16, 5) | field(src1, 11, 5) | field(p, 10, 1)
           | field(d, 9, 1) | field(s, 8, 1) | field(r, 7, 1) | field(op, 0, 7);
}

/// Core escape (opcode 0x13): src1 and the operation in 4-0.
constexpr uint32_t escape(uint32_t op, uint32_t src1 = 0)
{
    return field(0x13, 26, 6) | field(src1, 11, 5) | field(op, 0, 5);
}

} // namespace i860_encode
