#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace XEVTest {

/// Default deadline of the waits in the tests: long enough for a loaded
/// machine under a sanitizer, short enough that a hang fails the test.
constexpr std::chrono::milliseconds DefaultDeadline{5000};

/// Polls @p condition until it holds or @p deadline passes; returns whether
/// it held. For states that offer nothing to wait on.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = DefaultDeadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

/// The message of the exception that @p action throws, or "<no exception>".
inline std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<no exception>";
}

/// A one-shot or counting gate that test threads wait on with a deadline.
class Gate {
public:
    void open() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_open = true;
        }
        m_changed.notify_all();
    }
    bool wait(std::chrono::milliseconds deadline = DefaultDeadline) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, deadline, [this] { return m_open; });
    }
    bool isOpen() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_open;
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
};

} // namespace XEVTest
