// common/'s file I/O against the real file system: replace failures, a full
// tmpfs, writers killed with SIGKILL in the middle of a replace, leftovers,
// reads and writes interrupted by signals, and locks seen by another
// program. Run through tests/ns-run.sh: every folder is made on its tmpfs,
// and a small tmpfs can be mounted.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FileIO.h"
#include "Files.h"

namespace fs = std::filesystem;

namespace {

using wardtest::readFile;

using wardtest::writeFile;

std::vector<std::string> namesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

/// A fresh folder on the namespace's tmpfs per test.
class FileIO : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("WARD_NS_INSIDE") == nullptr)
            GTEST_SKIP() << "needs tests/ns-run.sh";
        dir = "/usr/local/Vantrel/fileio/" +
              std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ::umask(022);
    }
    void TearDown() override
    {
        if (!dir.empty()) {
            umount2(dir.c_str(), MNT_DETACH);
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    }
    std::string dir;
};

TEST_F(FileIO, ReplaceWritesContentModeAndLeavesNoTemporary)
{
    const std::string path = dir + "/file";
    writeFile(path, "old");
    // Streamed through the descriptor in blocks, as the profile writer does.
    std::string content;
    for (int i = 0; i < 300; ++i)
        content += std::string(4096, static_cast<char>('a' + i % 26));
    wardfile::ReplaceResult r = wardfile::replaceFile(path, 0640, [&](int fd) {
        for (size_t at = 0; at < content.size(); at += 65536)
            if (int e = wardfile::writeAll(fd, content.data() + at, std::min<size_t>(65536, content.size() - at)))
                return e;
        return 0;
    });
    EXPECT_EQ(r.error, 0) << r.step;
    EXPECT_EQ(r.folderSyncError, 0);
    EXPECT_EQ(r.temporary.substr(0, path.size() + 1), path + ".");
    EXPECT_EQ(r.temporary.size(), path.size() + 7);
    EXPECT_EQ(readFile(path), content);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the mode is set, not taken from the umask";
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"file"});

    // The temporary's descriptor does not outlive an exec.
    EXPECT_EQ(wardfile::replaceFile(path, 0644, [](int fd) {
                  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
                  return 0;
              }).error,
              0);
}

TEST_F(FileIO, EveryFailedReplaceIsReportedAndKeepsTheOldFile)
{
    struct Case {
        const char* name;
        std::string path;             // relative to the test folder
        std::function<void()> before; // what breaks the replace
        wardfile::ContentWriter write;
        const char* step;
        int error;
    };
    auto ok = [](int fd) { return wardfile::writeAll(fd, "new", 3); };
    const std::string readOnly = dir + "/ro";
    Case cases[] = {
        {"folder missing", "missing/file", [] {}, ok, "mkostemp", ENOENT},
        {"writer fails", "file", [] {}, [](int) { return EIO; }, "write", EIO},
        {"writer fails after writing part", "file", [] {},
         [](int fd) { return wardfile::writeAll(fd, "ne", 2) == 0 ? ENOSPC : -1; }, "write", ENOSPC},
        {"target is a folder", "folder", [this] { fs::create_directory(dir + "/folder"); }, ok, "rename", EISDIR},
        {"read-only file system", "ro/file",
         [&] {
             fs::create_directory(readOnly);
             ASSERT_EQ(mount("ward-ro", readOnly.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
             writeFile(readOnly + "/file", "old");
             ASSERT_EQ(mount("ward-ro", readOnly.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0)
                 << std::strerror(errno);
         },
         ok, "mkostemp", EROFS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.path;
        if (c.path == "file")
            writeFile(path, "old");
        c.before();
        const std::string folder = wardfile::parentPath(path);
        const std::vector<std::string> beforeNames = fs::exists(folder) ? namesIn(folder) : std::vector<std::string>{};
        const std::string old = fs::is_regular_file(path) ? readFile(path) : "";

        wardfile::ReplaceResult r = wardfile::replaceFile(path, 0644, c.write);
        EXPECT_EQ(r.error, c.error);
        EXPECT_STREQ(r.step, c.step);
        if (fs::is_regular_file(path)) {
            EXPECT_EQ(readFile(path), old);
        }
        if (fs::exists(folder)) {
            EXPECT_EQ(namesIn(folder), beforeNames) << "no temporary left";
        }
    }
    umount2(readOnly.c_str(), MNT_DETACH);
}

TEST_F(FileIO, AThrowingWriterLeavesTheOldFileAndNoTemporary)
{
    const std::string path = dir + "/file";
    writeFile(path, "old");
    // No result to look at: the call throws.
    EXPECT_THROW((void)wardfile::replaceFile(path, 0644,
                                             [](int fd) -> int {
                                                 EXPECT_EQ(wardfile::writeAll(fd, "partial", 7), 0);
                                                 throw std::runtime_error("encoder");
                                             }),
                 std::runtime_error);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"file"});
}

TEST_F(FileIO, FullFileSystemKeepsTheOldFileWholeAndLeavesNoTemporary)
{
    ASSERT_EQ(mount("ward-full", dir.c_str(), "tmpfs", 0, "size=16k,mode=0755"), 0) << std::strerror(errno);
    const std::string path = dir + "/file";
    const std::string old(3000, 'o');
    ASSERT_EQ(wardfile::replaceFile(path, 0644, old.data(), old.size()).error, 0);
    writeFile(dir + "/filler", std::string(8192, 'f'));
    // Two pages wanted, one free.
    const std::string bigger(6000, 'n');
    wardfile::ReplaceResult r = wardfile::replaceFile(path, 0644, bigger.data(), bigger.size());
    EXPECT_EQ(r.error, ENOSPC);
    EXPECT_STREQ(r.step, "write");
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"file", "filler"}));

    fs::remove(dir + "/filler");
    EXPECT_EQ(wardfile::replaceFile(path, 0644, bigger.data(), bigger.size()).error, 0);
    EXPECT_EQ(readFile(path), bigger);
}

TEST_F(FileIO, APendingReplaceTouchesTheFileOnlyAtItsCommit)
{
    const std::string path = dir + "/file";
    struct Case {
        const char* name;
        std::function<void(std::unique_ptr<wardfile::PendingReplace>&)> then;
        const char* result; // the file's content afterwards
    };
    const Case cases[] = {
        {"committed",
         [](std::unique_ptr<wardfile::PendingReplace>& p) {
             wardfile::ReplaceResult r = p->commit();
             EXPECT_EQ(r.error, 0) << r.step;
             EXPECT_EQ(r.folderSyncError, 0);
             EXPECT_FALSE(p->prepared());
             EXPECT_EQ(p->commit().error, EINVAL) << "committed once";
         },
         "new"},
        {"discarded", [](std::unique_ptr<wardfile::PendingReplace>& p) { p->discard(); }, "old"},
        {"destroyed", [](std::unique_ptr<wardfile::PendingReplace>& p) { p.reset(); }, "old"},
        {"prepared again, committed",
         [&](std::unique_ptr<wardfile::PendingReplace>& p) {
             ASSERT_EQ(p->prepare(path, 0644, [](int fd) { return wardfile::writeAll(fd, "newer", 5); }).error, 0);
             EXPECT_EQ(p->commit().error, 0);
         },
         "newer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, "old");
        auto pending = std::make_unique<wardfile::PendingReplace>();
        wardfile::ReplaceResult r =
            pending->prepare(path, 0640, [](int fd) { return wardfile::writeAll(fd, "new", 3); });
        ASSERT_EQ(r.error, 0) << r.step;
        EXPECT_TRUE(pending->prepared());
        // Written and synced beside the file, which is still the old one.
        EXPECT_EQ(readFile(path), "old");
        EXPECT_EQ(readFile(r.temporary), "new");
        EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"file", r.temporary.substr(dir.size() + 1)}));

        c.then(pending);
        EXPECT_EQ(readFile(path), c.result);
        EXPECT_EQ(namesIn(dir), std::vector<std::string>{"file"}) << "no temporary left";
    }

    // Failures at either step, as replaceFile reports them.
    wardfile::PendingReplace early;
    EXPECT_EQ(early.prepare(dir + "/missing/file", 0644, [](int) { return 0; }).error, ENOENT);
    EXPECT_FALSE(early.prepared());
    EXPECT_EQ(early.commit().error, EINVAL);
    fs::create_directory(dir + "/folder");
    wardfile::PendingReplace late;
    ASSERT_EQ(late.prepare(dir + "/folder", 0644, [](int) { return 0; }).error, 0);
    wardfile::ReplaceResult r = late.commit();
    EXPECT_EQ(r.error, EISDIR);
    EXPECT_STREQ(r.step, "rename");
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"file", "folder"}));
}

// A writer that takes the lock, clears the leftovers and replaces the file
// with version n: kSize bytes, each 4 KiB block starting with n.
constexpr size_t kSize = 1u << 20;

int writeVersion(const std::string& path, uint32_t n, int midWay)
{
    wardfile::Locked lock = wardfile::lockFile(path + ".lock", wardfile::LockKind::OpenFileDescription);
    if (lock.fd < 0)
        return lock.error;
    wardfile::removeLeftovers(path);
    wardfile::ReplaceResult r = wardfile::replaceFile(path, 0644, [&](int fd) {
        std::string block(4096, static_cast<char>('a' + n % 26));
        std::memcpy(&block[0], &n, sizeof n);
        for (size_t done = 0; done < kSize; done += block.size()) {
            if (int e = wardfile::writeAll(fd, block.data(), block.size()))
                return e;
            if (done == kSize / 2 && midWay >= 0) {
                // Tell the parent the temporary is half written, then wait
                // for the kill.
                char c = 'm';
                if (write(midWay, &c, 1) == 1)
                    pause();
            }
        }
        return 0;
    });
    ::close(lock.fd);
    return r.error;
}

/// Empty when the file holds one whole version, else what is wrong.
std::string wholeVersion(const std::string& bytes)
{
    if (bytes.size() != kSize)
        return "size " + std::to_string(bytes.size());
    uint32_t n;
    std::memcpy(&n, bytes.data(), sizeof n);
    std::string block(4096, static_cast<char>('a' + n % 26));
    std::memcpy(&block[0], &n, sizeof n);
    for (size_t at = 0; at < bytes.size(); at += block.size())
        if (bytes.compare(at, block.size(), block) != 0)
            return "block at " + std::to_string(at) + " is not version " + std::to_string(n);
    return "";
}

size_t leftoversOf(const std::string& dir)
{
    size_t n = 0;
    for (const std::string& name : namesIn(dir))
        if (name.size() == std::string("file.XXXXXX").size() && name.compare(0, 5, "file.") == 0 &&
            name != "file.lock")
            ++n;
    return n;
}

TEST_F(FileIO, KillNineDuringReplacesLeavesAWholeFileAndTheNextWriterClearsLeftovers)
{
    const std::string path = dir + "/file";
    ASSERT_EQ(writeVersion(path, 0, -1), 0);
    std::mt19937 random(12345);
    size_t killedMidWay = 0;
    for (int round = 0; round < 80; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Every other round is killed half way through its temporary; the
        // others at a random moment of a stream of replaces.
        const bool midWay = round % 2 == 0;
        int signal[2];
        ASSERT_EQ(pipe2(signal, O_CLOEXEC), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(signal[0]);
            for (uint32_t n = 1000 * (round + 1);; ++n)
                if (writeVersion(path, n, midWay ? signal[1] : -1) != 0)
                    _exit(1);
        }
        ::close(signal[1]);
        if (midWay) {
            char c = 0;
            ASSERT_EQ(read(signal[0], &c, 1), 1);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ::close(signal[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own";
        EXPECT_EQ(wholeVersion(readFile(path)), "");
        // The killed writer's own temporary at most: it removed those before it.
        const size_t left = leftoversOf(dir);
        EXPECT_LE(left, 1u);
        if (midWay) {
            EXPECT_EQ(left, 1u);
            ++killedMidWay;
        }
    }
    EXPECT_GT(killedMidWay, 0u);
    ASSERT_EQ(writeVersion(path, 7, -1), 0);
    EXPECT_EQ(wholeVersion(readFile(path)), "");
    EXPECT_EQ(leftoversOf(dir), 0u);
}

TEST_F(FileIO, RemoveLeftoversTakesOnlyTheFilesTemporaries)
{
    const std::string path = dir + "/rules.bin";
    for (const char* name : {"rules.bin.AbC123", "rules.bin.zz9ZZ0", "rules.bin.abc12", "rules.bin.abc1234",
                             "rules.bin.ab-123", "rules.bin.lock", "rules.bin.corrupt", "rules.binXabc123",
                             "other.bin.abc123", "rules.bin"})
        writeFile(dir + "/" + name, "x");
    fs::create_directory(dir + "/rules.bin.dir123");
    fs::create_symlink(dir + "/rules.bin", dir + "/rules.bin.lnk123");
    EXPECT_EQ(wardfile::removeLeftovers(path), 0);
    EXPECT_EQ(namesIn(dir),
              (std::vector<std::string>{"other.bin.abc123", "rules.bin", "rules.bin.ab-123", "rules.bin.abc12",
                                        "rules.bin.abc1234", "rules.bin.corrupt", "rules.bin.dir123",
                                        "rules.bin.lnk123", "rules.bin.lock", "rules.binXabc123"}));
    EXPECT_EQ(wardfile::removeLeftovers(dir + "/nowhere/file"), ENOENT);
}

TEST_F(FileIO, ReadFileAnswers)
{
    writeFile(dir + "/empty", "");
    writeFile(dir + "/ten", "0123456789");
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("ten", (dir + "/link").c_str()), 0);
    struct Case {
        const char* name;
        size_t limit;
        int error;
        std::string content;
    } cases[] = {
        {"missing", 100, ENOENT, ""},  {"empty", 100, 0, ""},         {"ten", 10, 0, "0123456789"},
        {"ten", 9, EFBIG, ""},         {"link", 100, 0, "0123456789"}, {".", 100, EISDIR, ""},
        {"fifo", 100, EINVAL, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " limit " + std::to_string(c.limit));
        std::string out = "stale";
        EXPECT_EQ(wardfile::readFile(dir + "/" + c.name, out, c.limit), c.error);
        EXPECT_EQ(out, c.content);
        std::vector<uint8_t> bytes{1, 2};
        EXPECT_EQ(wardfile::readFile(dir + "/" + c.name, bytes, c.limit), c.error);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.content);
    }
    // A stream has no size to check first: the limit holds as it is read.
    for (size_t limit : {10000u, 9999u}) {
        SCOPED_TRACE("pipe, limit " + std::to_string(limit));
        int p[2];
        ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
        ASSERT_EQ(wardfile::writeAll(p[1], std::string(10000, 'p').data(), 10000), 0);
        ::close(p[1]);
        std::string out;
        EXPECT_EQ(wardfile::readAll(p[0], out, limit), limit == 10000 ? 0 : EFBIG);
        EXPECT_EQ(out.size(), limit == 10000 ? 10000u : 0u);
        ::close(p[0]);
    }
}

// Reads and writes on a pipe while SIGALRM, installed without SA_RESTART,
// keeps interrupting them: every byte arrives once and in order.
TEST_F(FileIO, WriteAllAndReadAllGoOnAfterSignals)
{
    struct sigaction sa {}, old {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
    std::string sent;
    for (uint32_t i = 0; sent.size() < (8u << 20); ++i)
        sent.append(reinterpret_cast<const char*>(&i), sizeof i);
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    std::string received;
    int readError = -1;
    std::atomic<bool> done{false};
    // A reader that gives up closes its end: the writer then fails (EPIPE)
    // instead of waiting for ever.
    struct sigaction ignore {}, oldPipe {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGPIPE, &ignore, &oldPipe), 0);
    std::thread reader([&] {
        readError = wardfile::readAll(p[0], received, sent.size());
        ::close(p[0]);
        done = true;
    });
    // The signals go to the writer and the reader alike: one of them is
    // always in a blocking call.
    const pthread_t writer = pthread_self();
    std::thread alarms([&] {
        while (!done) {
            pthread_kill(writer, SIGALRM);
            pthread_kill(reader.native_handle(), SIGALRM);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    EXPECT_EQ(wardfile::writeAll(p[1], sent.data(), sent.size()), 0);
    ::close(p[1]);
    // The alarms stop once the reader is done, before the reader is joined.
    alarms.join();
    reader.join();
    sigaction(SIGALRM, &old, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    EXPECT_EQ(readError, 0);
    EXPECT_TRUE(received == sent) << received.size() << " bytes of " << sent.size();
}

TEST_F(FileIO, MakeDirectoriesAnswersAndModes)
{
    writeFile(dir + "/plain", "x");
    struct Case {
        std::string path;
        mode_t mode;
        int error;
    } cases[] = {
        {dir + "/a/b/c", 0750, 0},   {dir + "/a/b/c", 0700, 0}, // already there: left as it is
        {dir + "/d/", 0755, 0},      {dir + "/plain", 0755, ENOTDIR},
        {dir + "/plain/x", 0755, ENOTDIR}, {"", 0755, EINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(wardfile::makeDirectories(c.path, c.mode), c.error);
    }
    struct stat st;
    for (const char* made : {"/a", "/a/b", "/a/b/c"}) {
        ASSERT_EQ(stat((dir + made).c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 07777, 0750u) << made;
    }
}

TEST(FileIOPaths, ParentPath)
{
    struct Case {
        const char* path;
        const char* parent;
    } cases[] = {
        {"/usr/local/Vantrel/ipfw/rules.bin", "/usr/local/Vantrel/ipfw"},
        {"/profile", "/"},
        {"profile", "."},
        {"var/profile", "var"},
        {"/a/b/", "/a/b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(wardfile::parentPath(c.path), c.parent);
    }
}

/// Whether another program (python's fcntl.lockf, a POSIX record lock) can
/// take the lock on `path` without waiting.
bool otherProgramLocks(const std::string& path)
{
    std::string cmd = "python3 -c 'import fcntl,sys; f=open(sys.argv[1],\"r+\"); "
                      "fcntl.lockf(f, fcntl.LOCK_EX|fcntl.LOCK_NB)' " +
                      path + " 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

TEST_F(FileIO, LocksKeepOtherProgramsOutUntilClosed)
{
    struct Case {
        const char* name;
        wardfile::LockKind kind;
    } cases[] = {
        {"open file description", wardfile::LockKind::OpenFileDescription},
        {"process", wardfile::LockKind::Process},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/lock." + std::to_string(static_cast<int>(c.kind));
        wardfile::Locked lock = wardfile::lockFile(path, c.kind, 0640);
        ASSERT_GE(lock.fd, 0) << std::strerror(lock.error);
        EXPECT_EQ(fcntl(lock.fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        EXPECT_FALSE(otherProgramLocks(path));
        ::close(lock.fd);
        EXPECT_TRUE(otherProgramLocks(path));
    }
    wardfile::Locked missing = wardfile::lockExistingFile(dir + "/none", wardfile::LockKind::OpenFileDescription);
    EXPECT_EQ(missing.fd, -1);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_STREQ(missing.step, "open");
    EXPECT_FALSE(fs::exists(dir + "/none"));
}

} // namespace
