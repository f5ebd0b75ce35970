// Processor names: the architecture table, its lookups, the initial stack
// address per processor family, and the host's processor.
#pragma once

#include <cstdint>

namespace macho {

struct arch_flag {
    char* name;
    int32_t cputype;
    int32_t cpusubtype;
};

/// Only the low 24 bits of a cpusubtype name the model.
constexpr int32_t CPU_SUBTYPE_MASK = static_cast<int32_t>(0xff000000);
inline int32_t subtype_model(int32_t cpusubtype)
{
    return cpusubtype & ~CPU_SUBTYPE_MASK;
}

/// The table, ended by a row with no name. Its names are constants.
const arch_flag* get_arch_flags();
/// The first row with `cputype` (its family row), or NULL.
const arch_flag* get_arch_family_from_cputype(int32_t cputype);
/// Names `flag` from its cputype and cpusubtype; the name is a heap copy.
void set_arch_flag_name(arch_flag* flag);
/// The initial stack address of the flag's cputype (0 when unknown).
uint64_t get_stack_addr_from_flag(const arch_flag* flag);
/// Names the host's processor into the records given (heap-copied names).
/// 1 when the host's processor is known, else 0.
int get_arch_from_host(arch_flag* family_arch_flag, arch_flag* specific_arch_flag);

/// The host query behind get_arch_from_host: 1 with the host's cputype and
/// cpusubtype, 0 when it cannot tell.
using HostQuery = int (*)(int32_t* cputype, int32_t* cpusubtype);
/// Replaces the host query (tests); NULL restores the built-in one.
void set_host_query(HostQuery query);

} // namespace macho
