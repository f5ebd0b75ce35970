// The daemon's trace set-up: reading the levels from the trace-flag file, and
// opening and reopening the trace file.
#pragma once

namespace AppProtection {

/// The framework's own level loader. Until the host installs one, nothing is
/// called.
using FrameworkTraceLoader = void (*)(const char* traceFlagPath);
void setFrameworkTraceLoader(FrameworkTraceLoader loader);

/// Reads every level from the trace-flag file, in the key table's order; a
/// key that is missing or not a number leaves its level unchanged. Calls the
/// framework's loader last, with the same path.
void loadTraceValues(const char* traceFlagPath);

/// Start-up: loads the levels from the configured trace-flag file and, unless
/// tracing is already set up, opens the configured trace file ("a+") and marks
/// tracing set up (also when the open failed).
void openTracing();

/// SIGHUP: closes the trace file, re-reads the levels and reopens it. Other
/// signal numbers are ignored. Runs on an ordinary thread (the one waiting
/// for the signal), never in a signal handler. Never throws.
void reloadTracing(int signum);

} // namespace AppProtection
