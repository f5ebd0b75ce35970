// Pieces the kernel-link tests share: a scratch folder, opening a link
// against an in-process kernel side, and a kernel side that answers options
// on a thread of its own.
#pragma once

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Files.h"
#include "KernelSide.h"
#include "SocketKernelControl.h"

namespace kctltest {

using wardtest::TempDir;

/// Opens `ctl` on a thread while the kernel side accepts the link here.
/// Returns open()'s errno, 0 when both ends made the link.
inline int openLink(kctl::SocketKernelControl& ctl, const kctl::KernelListener& listener, kctl::Link& link,
                    const char* name = kctl::kAppProtectionControlName)
{
    int rc = 0;
    int err = 0;
    std::thread opener([&] {
        rc = ctl.open(name);
        err = errno;
    });
    std::string error;
    const bool linked = kctl::acceptLink(listener.fd(), link, 3000, error);
    opener.join();
    if (rc != 0)
        return err;
    return linked ? 0 : -1;
}

/// An option as the kernel side read it.
struct SeenOption {
    int32_t option;
    std::vector<uint8_t> payload;
};

/// Answers the options arriving on a control connection from a thread of
/// its own, with whatever `answer` returns for each; remembers them.
class OptionServer {
public:
    using Answer = std::function<std::pair<int32_t, int32_t>(const SeenOption&)>;

    OptionServer(int controlFd, Answer answer) : m_fd(controlFd), m_answer(std::move(answer))
    {
        if (::pipe(m_stop) != 0)
            throw std::runtime_error("pipe");
        m_thread = std::thread([this] { loop(); });
    }
    ~OptionServer()
    {
        (void)!::write(m_stop[1], "x", 1);
        m_thread.join();
        ::close(m_stop[0]);
        ::close(m_stop[1]);
    }
    std::vector<SeenOption> seen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    void loop()
    {
        kctl::OptionReader reader;
        for (;;) {
            pollfd p[2] = {{m_fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 || p[1].revents)
                return;
            const kctl::ReadStatus s = reader.read(m_fd);
            if (s == kctl::ReadStatus::HangUp)
                return;
            if (s != kctl::ReadStatus::Message)
                continue;
            SeenOption o{reader.option(), {reader.payload(), reader.payload() + reader.length()}};
            const auto a = m_answer(o);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_seen.push_back(o);
            }
            kctl::replyOption(m_fd, a.first, a.second);
        }
    }

    int m_fd;
    Answer m_answer;
    int m_stop[2] = {-1, -1};
    std::mutex m_mutex;
    std::vector<SeenOption> m_seen;
    std::thread m_thread;
};

inline std::vector<uint8_t> bytesOf(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

inline std::string hexOf(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

/// What the daemon's end shows once the kernel side has hung up: readable,
/// and EBADF from receive and from an option.
inline void expectHungUp(kctl::SocketKernelControl& ctl)
{
    EXPECT_EQ(1, ctl.waitReadable(1000000));
    char buf[16];
    EXPECT_EQ(-1, ctl.receive(buf, sizeof buf));
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(-1, ctl.setOption(kctl::KEXT_OPT_PING, nullptr, 0));
    EXPECT_EQ(EBADF, errno);
}

} // namespace kctltest
