// File fingerprints against md5sum, and the files that cannot be
// fingerprinted.
#include <cerrno>
#include <chrono>
#include <random>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AppProtError.h"
#include "HashGenerator.h"
#include "TestFiles.h"

using namespace AppProtection;
using testfiles::TempDir;

namespace {

std::string md5sumOf(const std::string& path)
{
    // From standard input: md5sum marks names holding a backslash.
    return wardtest::shellOutput("md5sum < '" + path + "'").substr(0, 32);
}

/// The error code thrown for `path`, or SUCCESS when none is thrown.
AppProtError thrownFor(const std::string& path, HashGenerator::ReadFunction readFn = ::read)
{
    try {
        HashGenerator::generateHash(path, readFn);
    } catch (const AppProtException& e) {
        EXPECT_EQ(e.getExceptionMsg(), "File not found");
        return e.getExceptionId();
    }
    return SUCCESS;
}

TEST(Fingerprint, KnownValues)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        const char* want;
    } cases[] = {
        {"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "a", "0cc175b9c0f1b6a831c399e269772661"},
        {"one block of zeros", std::string(4096, '\0'), "620f0b67a91f7f74151bc5be745b7110"},
        {"a block and a byte", std::string(4097, '\0'), "e1f1691cadd21fe149b61bd80bbdae84"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / c.name;
        testfiles::writeFile(path, c.bytes);
        EXPECT_EQ(HashGenerator::generateHash(path), c.want);
        EXPECT_EQ(md5sumOf(path), c.want);
    }
}

TEST(Fingerprint, RandomFilesAgreeWithMd5sum)
{
    TempDir dir;
    std::mt19937 gen(20260);
    for (size_t size : {1u, 63u, 64u, 65u, 4095u, 8192u, 8193u, 12289u, 100000u, 1u << 20}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        for (char& b : bytes)
            b = static_cast<char>(gen());
        std::string path = dir / ("r" + std::to_string(size));
        testfiles::writeFile(path, bytes);
        EXPECT_EQ(HashGenerator::generateHash(path), md5sumOf(path));
    }
    // Names with blanks, a backslash and a byte above 0x7F.
    std::string odd = dir / "odd \\ name \xe9";
    testfiles::writeFile(odd, "content");
    EXPECT_EQ(HashGenerator::generateHash(odd), md5sumOf(odd));
}

TEST(Fingerprint, WhatCannotBeFingerprintedThrowsFileNotFound)
{
    TempDir dir;
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"missing", dir / "missing"},
        {"directory", dir.path()},
        {"fifo without a writer", fifo},
        {"character device", "/dev/null"},
        {"endless device", "/dev/zero"},
        {"empty path", ""},
        // A regular file whose first read fails (EIO).
        {"unreadable mapping", "/proc/self/mem"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(thrownFor(c.path), FILE_NOT_FOUND);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

ssize_t failSecondRead(int fd, void* buf, size_t count)
{
    static thread_local int calls = 0;
    if (++calls % 2 == 0) {
        errno = EIO;
        return -1;
    }
    return ::read(fd, buf, count);
}

ssize_t interruptedOnce(int fd, void* buf, size_t count)
{
    static thread_local bool interrupted = false;
    interrupted = !interrupted;
    if (interrupted) {
        errno = EINTR;
        return -1;
    }
    return ::read(fd, buf, count);
}

TEST(Fingerprint, ReadFailingPartWayThrowsInsteadOfHashingAPrefix)
{
    TempDir dir;
    std::string path = dir / "big";
    testfiles::writeFile(path, std::string(3 * 4096, 'x'));
    EXPECT_EQ(thrownFor(path, failSecondRead), FILE_NOT_FOUND);
    // An interrupted read is retried, not taken as a failure.
    EXPECT_EQ(HashGenerator::generateHash(path, interruptedOnce), md5sumOf(path));
}

TEST(Fingerprint, FileWithoutReadPermission)
{
    TempDir dir;
    std::string path = dir / "secret";
    testfiles::writeFile(path, "x");
    chmod(path.c_str(), 0200);
    std::string readable = dir / "open";
    testfiles::writeFile(readable, "a");
    chmod(readable.c_str(), 0644);
    EXPECT_TRUE(testfiles::asNobody([&] {
        return thrownFor(path) == FILE_NOT_FOUND
            && HashGenerator::generateHash(readable) == "0cc175b9c0f1b6a831c399e269772661";
    }));
}

} // namespace
