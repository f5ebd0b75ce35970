// MD5 fingerprints of files.
#pragma once

#include <string>

#include <sys/types.h>

namespace AppProtection {

class HashGenerator {
public:
    HashGenerator() = default;
    virtual ~HashGenerator() = default;

    /// The MD5 of the file's contents as 32 lower-case hex digits. Throws
    /// AppProtException("File not found", FILE_NOT_FOUND) when the path is
    /// not a readable regular file or a read fails. Never blocks on open.
    static std::string generateHash(const std::string& path);

    /// The read call used on the opened file; tests replace it to fail a
    /// read part-way. Not for production callers.
    using ReadFunction = ssize_t (*)(int fd, void* buf, size_t count);
    static std::string generateHash(const std::string& path, ReadFunction readFn);
};

} // namespace AppProtection
