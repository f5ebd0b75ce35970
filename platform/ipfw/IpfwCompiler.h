// Compiles the words of `ipfw add` into the kernel's rule record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ipfw {

/// One compiled rule, before it gets a number from the list.
struct CompiledRule {
    bool hasNumber = false;
    uint16_t rulenum = 0;
    uint8_t set = 0;
    std::vector<uint8_t> instructions;  // match part, then action part
    uint16_t actOfs = 0;                // match words
    std::string shown;                  // the words echoed after the number
};

/// A refusal: a sysexits status and the message for standard error.
struct CompileError {
    int status;
    std::string message;
};

/// Compiles the words after "add". Throws CompileError (64 malformed,
/// 65 bad value, 68 unknown host). Host names are resolved here.
CompiledRule compileAdd(const std::vector<std::string>& words);

/// The names of ICMP unreachable codes that "unreach" takes.
int unreachCodeByName(const std::string& name);  // -1 when unknown

} // namespace ipfw
