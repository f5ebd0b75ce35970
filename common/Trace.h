// The process's trace file: one facility for every library and program.
//
// The host program defines `logFilePtr` and `traceInited` and exports them
// (link with -rdynamic); libraries only declare them. A line is written when
// the component's level is above the line's threshold, `traceInited` is
// non-zero and `logFilePtr` is set. All three are checked before anything is
// formatted, so a line that no file receives costs a few loads.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "WideFormat.h"

extern FILE* logFilePtr;
extern int traceInited;

namespace wardtrace {

/// The one lock around every line and every open, reopen and close of
/// `logFilePtr`. An inline function's static: one object per process (a GNU
/// unique symbol), as long as it keeps default visibility: the attribute keeps
/// it shared even in a library built with -fvisibility=hidden.
__attribute__((visibility("default"))) inline std::mutex& traceMutex()
{
    static std::mutex m;
    return m;
}

/// Levels are plain ints written by the loader while other threads trace.
inline int level(const int& v) { return __atomic_load_n(&v, __ATOMIC_RELAXED); }
inline void setLevel(int& v, int value) { __atomic_store_n(&v, value, __ATOMIC_RELAXED); }

/// Tracing is set up and a file is open. Read without the lock: a line is
/// formatted only when this holds, and written only when it still holds under
/// the lock (a file closed in between receives nothing).
inline bool fileOpen()
{
    return __atomic_load_n(&traceInited, __ATOMIC_RELAXED) != 0
           && __atomic_load_n(&logFilePtr, __ATOMIC_RELAXED) != nullptr;
}

/// Decodes UTF-8 bytes into wide characters; a byte that does not start a
/// valid sequence becomes the four characters "\xNN".
inline std::wstring decodeEscaped(const char* s, size_t n)
{
    return wardformat::decode(s, n, wardformat::InvalidByte::HexEscape);
}

/// Formats a whole line with the formatter the broker's log uses, invalid
/// bytes escaped as "\xNN".
inline std::wstring formatLine(const wchar_t* fmt, va_list ap)
{
    return wardformat::format(fmt, ap, wardformat::InvalidByte::HexEscape);
}

inline void writeFormatted(const std::wstring& line)
{
    std::lock_guard<std::mutex> lock(traceMutex());
    if (__atomic_load_n(&traceInited, __ATOMIC_RELAXED) == 0 || logFilePtr == nullptr)
        return;
    std::fputws(line.c_str(), logFilePtr);
    std::fflush(logFilePtr);
}

/// Closes the trace file under the lock and clears `logFilePtr`; every closer
/// of the trace file goes through here so no line is written to a closed one.
inline void closeLogFile()
{
    std::lock_guard<std::mutex> lock(traceMutex());
    if (logFilePtr != nullptr) {
        std::fclose(logFilePtr);
        __atomic_store_n(&logFilePtr, nullptr, __ATOMIC_RELAXED);
    }
}

/// Ends tracing: `traceInited` 0 and the file closed, both under the lock.
inline void endTracing()
{
    std::lock_guard<std::mutex> lock(traceMutex());
    __atomic_store_n(&traceInited, 0, __ATOMIC_RELAXED);
    if (logFilePtr != nullptr) {
        std::fclose(logFilePtr);
        __atomic_store_n(&logFilePtr, nullptr, __ATOMIC_RELAXED);
    }
}

/// Opens the trace file for appending under the lock (null when it cannot be
/// opened) and marks tracing set up, also when the open failed.
inline void openLogFile(const char* path)
{
    std::lock_guard<std::mutex> lock(traceMutex());
    if (logFilePtr != nullptr)
        std::fclose(logFilePtr);
    __atomic_store_n(&logFilePtr, path ? std::fopen(path, "a+") : nullptr, __ATOMIC_RELAXED);
    __atomic_store_n(&traceInited, 1, __ATOMIC_RELAXED);
}

inline void writeLine(const wchar_t* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::wstring line = formatLine(fmt, ap);
    va_end(ap);
    writeFormatted(line);
}

} // namespace wardtrace

/// True when a line of `threshold` would be written now; for work done only
/// to feed a trace line.
#define WARD_TRACING(levelVar, threshold) (::wardtrace::level(levelVar) > (threshold) && ::wardtrace::fileOpen())

/// WARD_TRACE(levelVariable, threshold, L"Class::method - text %s\n", args...)
/// The arguments are evaluated only for a line that is to be written.
#define WARD_TRACE(levelVar, threshold, ...)                          \
    do {                                                              \
        if (WARD_TRACING(levelVar, threshold))                        \
            ::wardtrace::writeLine(__VA_ARGS__);                      \
    } while (0)
