// Bit-field words of Mach-O records.
//
// The two byte orders allocate bit fields from opposite ends of a word: on
// the little-endian side the first declared field takes the least
// significant bits, on the big-endian side the most significant. Each layout
// lists its fields' widths from bit 0 of the little-endian (host) side; a
// field of width w at position p there sits at W - p - w on the other side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace macho {

struct BitLayout {
    unsigned word_bits;    // 32 or 16
    const uint8_t* widths; // little-endian side, from bit 0
    size_t count;
};

/// Moves every field from its big-endian-side position to its host position.
uint32_t bits_to_host(uint32_t v, const BitLayout& layout);
/// Moves every field from its host position to its big-endian-side position.
uint32_t bits_from_host(uint32_t v, const BitLayout& layout);

// relocation_info.r_info: symbolnum 24, pcrel 1, length 2, extern 1, type 4.
extern const BitLayout kRelocationInfoBits;
// twolevel_hint: isub_image 8, itoc 24.
extern const BitLayout kTwolevelHintBits;
// dylib_reference: isym 24, flags 8.
extern const BitLayout kDylibReferenceBits;
// x87 control word: invalid, denorm, zdiv, ovrfl, undfl, precis, 2 unused,
// pc 2, rc 2, 1 unused (inf), 3 unused.
extern const BitLayout kFpControlBits;
// x87 status word: invalid, denorm, zdiv, ovrfl, undfl, precis, stkflt,
// errsumm, c0, c1, c2, tos 3, c3, busy.
extern const BitLayout kFpStatusBits;
// SPARC psr: cwp 5, et, ps, s, pil 4, ef, ec, reserved 6, c, v, z, n, ver 4,
// impl 4.
extern const BitLayout kSparcPsrBits;
// SPARC fsr: cexc 5, aexc 5, fcc 2, unused, qne, ftt 3, ver 3, res 2, ns,
// tem 5, unused 2, rd 2.
extern const BitLayout kSparcFsrBits;
// m88k fpsr: afinx, afovf, afunf, afdvz, afinv, 10 unused, xmod, 16 unused.
extern const BitLayout kM88kFpsrBits;
// m88k fpcr: efinx, efovf, efunf, efdvz, efinv, 9 unused, rm 2, 16 unused.
extern const BitLayout kM88kFpcrBits;
// m88110 data breakpoint control: 3 unused, rw, rwm, 14 unused,
// addr_match 12, v.
extern const BitLayout kM88110BpCtrlBits;
// m88110 psr: bit 0, le, se, c, bit 4, sgn_imd, sm, 21 unused, sfu1dis,
// mxm_dis, 2 unused.
extern const BitLayout kM88110PsrBits;

} // namespace macho
