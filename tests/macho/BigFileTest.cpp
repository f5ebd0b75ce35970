// A file of exactly 4 GiB: sizes and offsets are 64-bit throughout, so its
// size is not cut to 0 on the way.
#include "DriverRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(BigFile, FourGiBExecutable)
{
    const std::string path = machotest::fixture("sparse_4gib");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    // An i386 executable header with no load commands, then a hole.
    const uint32_t header[7] = {0xfeedface, 7, 3, 2, 0, 0, 0};
    ASSERT_EQ(static_cast<ssize_t>(sizeof header), write(fd, header, sizeof header));
    ASSERT_EQ(0, ftruncate(fd, off_t(1) << 32));
    close(fd);

    const auto exec = machotest::runDriver("exec", path);
    EXPECT_EQ(0, exec.status);
    EXPECT_EQ("exec=1\n", exec.answers);
    EXPECT_EQ("", exec.out);
    EXPECT_EQ("", exec.err);

    const auto deps = machotest::runDriver("deps", path);
    EXPECT_EQ("result=1\ncount=0\nnames=array\n", deps.answers);
    EXPECT_EQ("", deps.out);
    unlink(path.c_str());
}

} // namespace
