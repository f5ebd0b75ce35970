// The opcode tables of the i386 and x86-64 decoder: one row per byte of an
// opcode map, naming the AT&T stem, the table to consult next, the operand
// form and the size flags.
#pragma once

#include <array>
#include <cstdint>

namespace macho {
namespace i386 {

enum operand_form : uint8_t {
    OF_NONE,
    OF_PLAIN,
    OF_RM_REG,
    OF_POPCNT,
    OF_REG_RM,
    OF_MEM_REG,
    OF_IMM_RM_GROUP,
    OF_IMM_RM,
    OF_IMM_OPREG,
    OF_IMM_OPREG64,
    OF_IMM_ACC,
    OF_MOFFS_ACC,
    OF_ACC_MOFFS,
    OF_RM_SREG,
    OF_SREG_RM,
    OF_SEG,
    OF_SEG_FSGS,
    OF_OPREG,
    OF_OPREG_ACC,
    OF_BSWAP,
    OF_SHIFT,
    OF_SHIFT_IMM,
    OF_RM_W,
    OF_RM_MULDIV,
    OF_SETCC,
    OF_MEM,
    OF_MEM_NOSUFFIX,
    OF_INDIRECT,
    OF_FAR_INDIRECT,
    OF_REL8,
    OF_REL,
    OF_FAR_IMM,
    OF_IMM,
    OF_IMM8,
    OF_RET_IMM,
    OF_ENTER,
    OF_INT3,
    OF_ASCII_ADJ,
    OF_IMUL3,
    OF_SHLD_IMM,
    OF_SHLD_CL,
    OF_BT_IMM,
    OF_MOVX,
    OF_XADD,
    OF_SPECIAL_REG,
    OF_STR_SI_DI,
    OF_STR_REG_DI,
    OF_STR_SI_REG,
    OF_IN_IMM,
    OF_OUT_IMM,
    OF_IN_DX,
    OF_OUT_DX,
    OF_CBW,
    OF_CWD,
    OF_FP_ST,
    OF_FP_ST2,
    OF_PREFETCH,
    OF_PREFETCH_3DNOW,
    OF_CLFLUSH,
    OF_3DNOW,
    OF_CRC32,
    OF_CRC32_BYTE,
    // the vector forms
    OF_SSE,
    OF_SSE_IMM,
    OF_SSE_SHIFT,
    OF_SSE_STORE,
    OF_SSE_MOVD_STORE,
    OF_SSSE3,
    OF_SSSE3_IMM,
    OF_SSE4,
    OF_SSE4_IMM,
    OF_SSE4_EXTRACT,
    OF_SSE4_INSERT,
    // prefixes, consumed before the opcode
    OF_SEG_OVERRIDE,
    OF_DATA16,
    OF_ADDR16,
    OF_PREFIX,
    OF_REX,
};

/// The table a row links to.
enum next_table : uint8_t {
    T_NONE,
    T_0F,
    T_0F38,
    T_0F3A,
    T_0F0F,
    T_80,
    T_81,
    T_82,
    T_83,
    T_C0,
    T_C1,
    T_D0,
    T_D1,
    T_D2,
    T_D3,
    T_F6,
    T_F7,
    T_FE,
    T_FF,
    T_0F00,
    T_0F01,
    T_0FAE,
    T_0FBA,
    T_FP, // D8 to DF: the x87 rule picks the table
};

/// The single rows that replace a row in 64-bit code.
enum row64 : uint8_t {
    R64_NONE,
    R64_INVALID,
    R64_REX,
    R64_MOVSL,
    R64_SYSCALL,
    R64_SYSRET,
};

// suffix_flags
constexpr uint8_t SF_SIZE = 1;     // takes the operand-size letter
constexpr uint8_t SF_DEFAULT64 = 2; // 64-bit operands by default in 64-bit code

struct opcode_row {
    const char* name; // the AT&T stem; "" for a link or an undecodable byte
    next_table next;
    operand_form form;
    uint8_t suffix_flags;
    row64 row_64;
};

extern const std::array<opcode_row, 256> distable;
extern const std::array<opcode_row, 256> op0F;
extern const std::array<opcode_row, 256> op0F38;
extern const std::array<opcode_row, 112> op0F3A;
extern const std::array<opcode_row, 256> op0F0F;
extern const std::array<opcode_row, 64> opFP1n2;
extern const std::array<opcode_row, 64> opFP3;
extern const std::array<opcode_row, 32> opFP4;
extern const std::array<opcode_row, 8> opFP5;
extern const opcode_row op_monitor;
extern const opcode_row op_mwait;
extern const opcode_row op_swapgs;

/// The 8-row group a link names; none for the escape and x87 links.
const opcode_row* group_table(next_table t);
/// The single row a 64-bit replacement names.
const opcode_row& row_for_64(row64 r);

} // namespace i386
} // namespace macho
