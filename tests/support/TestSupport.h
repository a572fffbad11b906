#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace XEVTest {

/// Default deadline of the waits in the tests. Only a hang reaches it, so it
/// is generous: a busy two-core machine running a sanitizer build slows the
/// spinning concurrency tests tenfold, and ctest's own limit is 30 s.
constexpr std::chrono::milliseconds DefaultDeadline{20000};

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

/**
 * Runs @p action on a thread of its own and waits at most @p deadline for it;
 * an exception it throws is thrown here. A hang cannot be recovered from (the
 * hung thread still uses the test's objects), so the program then ends at
 * once with a line naming @p what: the test fails instead of running into
 * the time-out of the test runner.
 */
inline void finishesWithin(const char* what, const std::function<void()>& action,
                           std::chrono::milliseconds deadline = DefaultDeadline) {
    struct Outcome {
        std::mutex lock;
        std::condition_variable ended;
        bool finished = false;
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, &action] {
        std::exception_ptr error;
        try {
            action();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(outcome->lock);
        outcome->finished = true;
        outcome->error = error;
        outcome->ended.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(outcome->lock);
    if (!outcome->ended.wait_for(lock, deadline, [&] { return outcome->finished; })) {
        std::fprintf(stderr, "HANG: %s did not end within %lld ms\n", what,
                     static_cast<long long>(deadline.count()));
        std::fflush(stderr);
        std::_Exit(3);
    }
    if (outcome->error)
        std::rethrow_exception(outcome->error);
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
