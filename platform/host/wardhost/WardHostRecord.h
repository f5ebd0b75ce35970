// The host's record: one JSON object per line, appended and flushed as each
// event happens (any thread).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace wardhost {

/// A JSON string literal of UTF-8 text (control characters escaped).
std::string jsonString(const std::string &text);

class Record {
public:
    /// Appends to `path`; nothing is written without a path.
    bool open(const std::string &path);
    void close();
    /// {"event":NAME, key:value...}; values are JSON already.
    void write(const std::string &event, const std::vector<std::pair<std::string, std::string>> &fields);

private:
    std::mutex m_mutex;
    FILE *m_file = nullptr;
};

} // namespace wardhost
