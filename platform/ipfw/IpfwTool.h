// One run of the ipfw stand-in's add or delete on the state folder, as the
// program does it, with its output kept instead of printed: shared by the
// program and by the in-process runner of the tests.
#pragma once

#include <string>
#include <vector>

namespace ipfw {

/// What one run printed and its exit status.
struct ToolResult {
    int status = 0;
    std::string out;  // standard output
    std::string err;  // standard error
};

/// Runs the words after "ipfw" ("add ..." or "delete N") against the rule
/// list of the state folder, under its lock.
ToolResult runTool(const std::vector<std::string>& words);

} // namespace ipfw
