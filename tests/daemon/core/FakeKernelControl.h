// A kernel control in memory for the core's tests: records every option
// with the request thread's pass count at that moment, answers options as
// told, hands out datagrams the test pushes, and can hang up.
#pragma once

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "KernelControl.h"

namespace coretest {

class FakeKernelControl : public kctl::KernelControl {
public:
    struct Option {
        int option;
        std::vector<uint8_t> payload;
        long long pass; ///< waitReadable calls made before it
    };

    /// Without datagrams, waitReadable returns at once (true) or waits its
    /// time-out (false, the default).
    void setInstantWaits(bool instant)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_instant = instant;
    }
    /// `option` fails with `err` the next `count` times (-1: always).
    void failOption(int option, int err, int count = -1)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failures[option] = {err, count};
    }
    /// The next `count` waitReadable calls fail with `err`.
    void failWaits(int err, int count)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waitFailure = {err, count};
    }
    /// `run` is called once, outside the lock, as "open" or "option N"
    /// (see events()) next begins.
    void beforeEvent(const std::string& event, std::function<void()> run)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_before[event] = std::move(run);
    }
    void failOpen(bool fail)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failOpen = fail;
    }
    void pushDatagram(const void* bytes, size_t size)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto* b = static_cast<const uint8_t*>(bytes);
            m_datagrams.emplace_back(b, b + size);
        }
        m_cv.notify_all();
    }
    /// From now on the link reads as gone: EBADF.
    void hangUp()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_hungUp = true;
        }
        m_cv.notify_all();
    }

    std::vector<Option> options()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_options;
    }
    /// "open", "close" and "option N", in order.
    std::vector<std::string> events()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    size_t count(int option)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (const Option& o : m_options)
            n += o.option == option;
        return n;
    }
    long long passes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_passes;
    }
    /// Waits up to `seconds` for `done` to hold (checked on every option).
    bool waitFor(const std::function<bool()>& done, double seconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(long(seconds * 1000));
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_optionCv.wait_for(lock, std::chrono::milliseconds(5));
        }
        return true;
    }

    int open(const char*) override
    {
        runBefore("open");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back("open");
        if (m_failOpen) {
            errno = ECONNREFUSED;
            return -1;
        }
        m_open = true;
        m_hungUp = false;
        return 0;
    }
    int setOption(int option, const void* value, socklen_t length) override
    {
        runBefore("option " + std::to_string(option));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back("option " + std::to_string(option));
        const auto* b = static_cast<const uint8_t*>(value);
        m_options.push_back(Option{option, std::vector<uint8_t>(b, b + length), m_passes});
        m_optionCv.notify_all();
        if (!m_open || m_hungUp) {
            errno = EBADF;
            return -1;
        }
        auto f = m_failures.find(option);
        if (f != m_failures.end() && f->second.count != 0) {
            if (f->second.count > 0)
                --f->second.count;
            errno = f->second.err;
            return -1;
        }
        return 0;
    }
    int waitReadable(long microseconds) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_passes;
        if (m_waitFailure.count > 0) {
            --m_waitFailure.count;
            errno = m_waitFailure.err;
            return -1;
        }
        if (!m_instant && m_datagrams.empty() && !m_hungUp)
            m_cv.wait_for(lock, std::chrono::microseconds(microseconds));
        return !m_datagrams.empty() || m_hungUp ? 1 : 0;
    }
    ssize_t receive(void* buffer, size_t length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_datagrams.empty()) {
            errno = m_hungUp ? EBADF : EAGAIN;
            return -1;
        }
        std::vector<uint8_t> d = std::move(m_datagrams.front());
        m_datagrams.erase(m_datagrams.begin());
        const size_t n = std::min(length, d.size());
        std::memcpy(buffer, d.data(), n);
        return static_cast<ssize_t>(n);
    }
    int close() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back("close");
        if (!m_open) {
            errno = EBADF;
            return -1;
        }
        m_open = false;
        return 0;
    }

private:
    void runBefore(const std::string& event)
    {
        std::function<void()> run;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto found = m_before.find(event);
            if (found == m_before.end())
                return;
            run = std::move(found->second);
            m_before.erase(found);
        }
        run();
    }

    struct Failure {
        int err;
        int count;
    };
    std::mutex m_mutex; // guards everything below
    std::condition_variable m_cv;
    std::condition_variable m_optionCv;
    bool m_instant = false;
    bool m_failOpen = false;
    bool m_open = false;
    bool m_hungUp = false;
    long long m_passes = 0;
    std::map<int, Failure> m_failures;
    Failure m_waitFailure{0, 0};
    std::map<std::string, std::function<void()>> m_before;
    std::vector<std::vector<uint8_t>> m_datagrams;
    std::vector<Option> m_options;
    std::vector<std::string> m_events;
};

} // namespace coretest
