// The SPARC opcode table (V6 to V8 and SPARClite) the disassembler searches,
// exported as C data, and the routines the SPARC printer exports.
#pragma once

#include "print/lookup.h"

#include <cstdint>

extern "C" {

/// One row: a word matches when every `match` bit is set and every `lose`
/// bit is clear.
struct sparc_opcode {
    const char* name;
    uint32_t match;
    uint32_t lose;
    const char* args;
    char flags; // F_ALIAS: printed only when no other row matches as well
    int architecture; // index into bfd_sparc_architecture_pname
};

extern struct sparc_opcode bfd_sparc_opcodes[];
extern const int bfd_sparc_num_opcodes;
extern const char* const bfd_sparc_architecture_pname[];

} // extern "C"

namespace macho {

constexpr char SPARC_F_ALIAS = 2;

/// Set once the table has been put in search order (the first call of
/// sparc_disassemble does it).
extern int opcodes_sorted;

/// Prints "0x%x".
void print_address_func(uint32_t value);

/// Prints the name of the sorted symbol whose value is exactly `value`, and
/// ":\n" after it when `colon` is 1; 1 when there is one, else 0.
int label_symbol(uint32_t value, int colon, const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols);

} // namespace macho
