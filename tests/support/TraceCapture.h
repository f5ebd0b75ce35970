// The process's trace file pointed at an unnamed scratch file for one test,
// under the trace facility's lock so that threads tracing meanwhile see whole
// changes.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Trace.h"

namespace wardtest {

/// Sets the given trace levels and `traceInited` (to `inited`) while it
/// lives; restores the levels and ends tracing at the end.
class TraceCapture {
public:
    explicit TraceCapture(std::initializer_list<std::pair<int*, int>> levels = {}, bool inited = true)
    {
        for (const auto& l : levels) {
            saved_.emplace_back(l.first, wardtrace::level(*l.first));
            wardtrace::setLevel(*l.first, l.second);
        }
        std::lock_guard<std::mutex> lock(wardtrace::traceMutex());
        if (logFilePtr != nullptr)
            std::fclose(logFilePtr);
        file_ = std::tmpfile();
        fd_ = file_ != nullptr ? ::dup(fileno(file_)) : -1;
        __atomic_store_n(&logFilePtr, file_, __ATOMIC_RELAXED);
        __atomic_store_n(&traceInited, inited ? 1 : 0, __ATOMIC_RELAXED);
    }
    explicit TraceCapture(bool inited) : TraceCapture({}, inited) {}
    ~TraceCapture()
    {
        {
            std::lock_guard<std::mutex> lock(wardtrace::traceMutex());
            __atomic_store_n(&traceInited, 0, __ATOMIC_RELAXED);
            // The code under test may have closed or replaced the file itself.
            if (logFilePtr == file_ && file_ != nullptr) {
                std::fclose(file_);
                __atomic_store_n(&logFilePtr, nullptr, __ATOMIC_RELAXED);
            }
        }
        if (fd_ >= 0)
            ::close(fd_);
        for (const auto& l : saved_)
            wardtrace::setLevel(*l.first, l.second);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    /// Everything written so far, also when the code under test closed the
    /// trace file.
    std::string text() const
    {
        std::string out;
        std::lock_guard<std::mutex> lock(wardtrace::traceMutex());
        if (logFilePtr == file_ && file_ != nullptr)
            std::fflush(file_);
        char buf[4096];
        off_t at = 0;
        ssize_t n;
        while (fd_ >= 0 && (n = ::pread(fd_, buf, sizeof buf, at)) > 0) {
            out.append(buf, static_cast<size_t>(n));
            at += n;
        }
        return out;
    }

    /// What was written since the last call.
    std::string take()
    {
        std::string all = text();
        std::string fresh = all.substr(std::min(seen_, all.size()));
        seen_ = all.size();
        return fresh;
    }

private:
    FILE* file_ = nullptr;
    int fd_ = -1; // the same file, readable after a close by the code under test
    size_t seen_ = 0;
    std::vector<std::pair<int*, int>> saved_;
};

} // namespace wardtest
