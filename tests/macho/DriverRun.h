// Runs the scanner driver in a child process, one per case, and returns what
// it answered and what it wrote on each standard stream.
#pragma once

#include <string>
#include <vector>

#include "Files.h"

namespace machotest {

struct DriverResult {
    int status = -1;     // exit status, or 128 + signal
    std::string answers; // the driver's answers file
    std::string out;     // its standard output
    std::string err;     // its standard error
};

/// The folder the fixture generator wrote into.
std::string fixtureDir();
/// The path of fixture `name`.
std::string fixture(const std::string& name);
/// Runs `macho_scan_driver mode path answers extra...`, under the command
/// `wrapper` (a tracer, say) when one is given.
DriverResult runDriver(const std::string& mode, const std::string& path,
                       const std::vector<std::string>& extra = {}, const std::vector<std::string>& wrapper = {});
/// Runs a program with arguments, returning its standard output.
std::string runProgram(const std::vector<std::string>& argv, int* status = nullptr);
/// Runs a program with arguments: its exit status and both streams, each
/// captured on its own (answers stays empty).
DriverResult runProgramStreams(const std::vector<std::string>& argv);
/// Runs a program with arguments, both streams discarded; its exit status.
int runQuiet(const std::vector<std::string>& argv);
/// Replaces every "PATH" in `text` by `path`.
std::string withPath(std::string text, const std::string& path);
using wardtest::readFile;
/// The lines of `text`, without their line ends.
std::vector<std::string> lines(const std::string& text);

} // namespace machotest
