#pragma once

#include <opencv2/core/mat.hpp>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {

/// True when a window can be opened: the platform Qt will use is reachable.
/// Otherwise false with the reason in @p reason. Makes no window-system call
/// that could end the process.
bool probeDisplay(std::string& reason);

/**
 * The display thread shared by every XEVPlayer of the process.
 *
 * Players queue open, show and close requests; the display thread takes them
 * in order and makes every window-system call. The window system binds its
 * event handling to the first thread that uses it, so the display thread,
 * once started, lives as long as the process and waits for work when no
 * window is open. Each window holds at most one frame waiting to be shown;
 * a newer frame replaces it.
 */
class MultiPlayer {
public:
    /// The process's instance, created on first use and never destroyed.
    static MultiPlayer& Instance();

    /// Adds a window named @p name and returns its number. Throws an
    /// XEVException when no display is available.
    int Register(const std::string& name);
    /// Closes window @p number; returns once the display thread closed it or
    /// after a bounded wait.
    void Unregister(int number);
    /// Hands a copy of @p image to window @p number. One caller per window.
    void onNewFrame(int number, const cv::Mat& image);

    /// Diagnostics: windows the display thread has open, and frames shown in
    /// window @p number.
    int openWindowCount() const;
    uint64_t shownFrameCount(int number) const;

private:
    struct Window;
    struct Entry {
        enum Kind { Open, Show, Close } kind;
        int number;
    };

    MultiPlayer();
    void displayLoop();
    Window* findWindow(int number) const;
    void push(Entry entry);

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_closed;
    std::vector<std::unique_ptr<Window>> m_windows;
    std::vector<Entry> m_queue;
    std::size_t m_queueHead = 0;
    int m_openCount = 0;
    std::unique_ptr<std::thread> m_thread;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
