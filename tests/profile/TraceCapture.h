// The process's trace file pointed at a scratch file for one test, through
// the trace facility's own open and close, so that threads tracing meanwhile
// see whole changes.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "RulebookTrace.h"
#include "TestFiles.h"

namespace testfiles {

/// Opens a scratch trace file and sets the given trace levels while it
/// lives; restores the levels and closes the file at the end.
class TraceCapture {
public:
    explicit TraceCapture(std::initializer_list<std::pair<int*, int>> levels)
    {
        char tmpl[] = "/tmp/ward-trace.XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0)
            close(fd);
        path_ = tmpl;
        for (const auto& l : levels) {
            saved_.emplace_back(l.first, wardtrace::level(*l.first));
            wardtrace::setLevel(*l.first, l.second);
        }
        wardtrace::openLogFile(path_.c_str());
    }
    ~TraceCapture()
    {
        wardtrace::closeLogFile();
        {
            std::lock_guard<std::mutex> lock(wardtrace::traceMutex());
            __atomic_store_n(&traceInited, 0, __ATOMIC_RELAXED);
        }
        for (const auto& l : saved_)
            wardtrace::setLevel(*l.first, l.second);
        unlink(path_.c_str());
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    /// What was written since the last call.
    std::string take()
    {
        std::string all = readFile(path_);
        std::string fresh = all.substr(std::min(seen_, all.size()));
        seen_ = all.size();
        return fresh;
    }

private:
    std::string path_;
    size_t seen_ = 0;
    std::vector<std::pair<int*, int>> saved_;
};

} // namespace testfiles
