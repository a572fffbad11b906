#include "toolbox/MultiPlayer.h"

#include "XEVException.h"
#include "device/Diagnostics.h"

#include <opencv2/highgui.hpp>

#include <dlfcn.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

// Upper bound of the wait of Unregister for the display thread to close the
// window: a stuck window system must not hang the caller.
constexpr std::chrono::milliseconds CloseDeadline{2000};

// How often open windows are served while no frame comes.
constexpr std::chrono::milliseconds IdlePoll{50};

constexpr int ConnectAttempts = 4;
constexpr std::chrono::milliseconds ConnectRetryDelay{25};

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool probeX11(std::string& reason) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') {
        reason = "no display available: DISPLAY is not set.";
        return false;
    }
    // Loaded at run time: the library does not depend on libX11 otherwise.
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (x11 == nullptr) {
        reason =
            std::string("no display available: libX11 cannot be loaded to reach ") + display + ".";
        return false;
    }
    using OpenDisplay = void* (*)(const char*);
    using CloseDisplay = int (*)(void*);
    auto openDisplay = reinterpret_cast<OpenDisplay>(dlsym(x11, "XOpenDisplay"));
    auto closeDisplay = reinterpret_cast<CloseDisplay>(dlsym(x11, "XCloseDisplay"));
    // The first connection that works is kept open for the life of the
    // process: an X server whose last client leaves resets itself, and Qt
    // connecting during that reset aborts the process.
    static void* keepAlive = nullptr;
    static std::mutex keepAliveLock;
    bool reachable = false;
    bool kept = false;
    if (openDisplay != nullptr && closeDisplay != nullptr) {
        // A server that is resetting after its last client left refuses
        // connections for a moment.
        void* connection = openDisplay(nullptr);
        for (int attempt = 1; connection == nullptr && attempt < ConnectAttempts; ++attempt) {
            std::this_thread::sleep_for(ConnectRetryDelay);
            connection = openDisplay(nullptr);
        }
        if (connection != nullptr) {
            reachable = true;
            std::lock_guard<std::mutex> guard(keepAliveLock);
            if (keepAlive == nullptr) {
                keepAlive = connection;
                kept = true;
            } else {
                closeDisplay(connection);
            }
        }
    }
    // libX11 stays loaded under the kept connection.
    if (!kept)
        dlclose(x11);
    if (!reachable)
        reason =
            std::string("no display available: cannot connect to the X server ") + display + ".";
    return reachable;
}

bool probeWayland(std::string& reason) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || name[0] == '\0') {
        reason = "no display available: WAYLAND_DISPLAY is not set.";
        return false;
    }
    std::string socket = name;
    if (name[0] != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        socket = std::string(runtime != nullptr ? runtime : "") + "/" + name;
    }
    struct stat info {};
    if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        reason = "no display available: the Wayland socket " + socket + " does not exist.";
        return false;
    }
    return true;
}

} // namespace

bool probeDisplay(std::string& reason) {
    // The platform Qt will pick: xcb unless QT_QPA_PLATFORM says otherwise.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && platform[0] != '\0') {
        if (startsWith(platform, "offscreen") || startsWith(platform, "minimal"))
            return true;
        if (startsWith(platform, "wayland"))
            return probeWayland(reason);
    }
    return probeX11(reason);
}

struct MultiPlayer::Window {
    explicit Window(const std::string& windowName) : name(windowName) {}

    const std::string name;
    bool registered = true;  // between Register and Unregister
    bool open = false;       // created by the display thread
    bool closed = false;     // destroyed by the display thread
    bool showQueued = false; // a show entry waits in the queue
    uint64_t shown = 0;
    cv::Mat pending; // latest frame not shown yet (m_lock)
    cv::Mat front;   // the frame being shown (display thread)
    std::mutex writeLock;
    cv::Mat back; // the caller's buffer (writeLock)
};

MultiPlayer::MultiPlayer() = default;

MultiPlayer& MultiPlayer::Instance() {
    // Never destroyed: the display thread may outlive main().
    static MultiPlayer* instance = new MultiPlayer();
    return *instance;
}

MultiPlayer::Window* MultiPlayer::findWindow(int number) const {
    if (number < 0 || std::size_t(number) >= m_windows.size())
        return nullptr;
    return m_windows[std::size_t(number)].get();
}

void MultiPlayer::push(Entry entry) {
    m_queue.push_back(entry);
    m_wake.notify_one();
}

int MultiPlayer::Register(const std::string& name) {
    std::string reason;
    if (!probeDisplay(reason))
        XEVException::throwError("XEVPlayer(" + name + "): " + reason);

    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_thread)
        m_thread.reset(new std::thread(&MultiPlayer::displayLoop, this));
    const int number = static_cast<int>(m_windows.size());
    m_windows.emplace_back(new Window(name));
    push(Entry{Entry::Open, number});
    return number;
}

void MultiPlayer::Unregister(int number) {
    std::unique_lock<std::mutex> lock(m_lock);
    Window* window = findWindow(number);
    if (window == nullptr || !window->registered)
        return;
    window->registered = false;
    push(Entry{Entry::Close, number});
    m_closed.wait_for(lock, CloseDeadline, [window] { return window->closed; });
}

void MultiPlayer::onNewFrame(int number, const cv::Mat& image) {
    Window* window;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        window = findWindow(number);
        if (window == nullptr || !window->registered)
            return;
    }
    std::lock_guard<std::mutex> writer(window->writeLock);
    // Reuses the buffer's memory once the format is known.
    image.copyTo(window->back);
    std::lock_guard<std::mutex> guard(m_lock);
    if (!window->registered)
        return;
    cv::swap(window->back, window->pending);
    if (!window->showQueued) {
        window->showQueued = true;
        push(Entry{Entry::Show, number});
    }
}

int MultiPlayer::openWindowCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_openCount;
}

uint64_t MultiPlayer::shownFrameCount(int number) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const Window* window = findWindow(number);
    return window != nullptr ? window->shown : 0;
}

namespace {

void reportDisplayError(const char* action, const std::string& name) {
    try {
        throw;
    } catch (const std::exception& error) {
        detail::diagnosticf(detail::DiagnosticKind::Error, "XEVPlayer(%s): %s failed: %s",
                            name.c_str(), action, error.what());
    } catch (...) {
        detail::diagnosticf(detail::DiagnosticKind::Error, "XEVPlayer(%s): %s failed.",
                            name.c_str(), action);
    }
}

} // namespace

void MultiPlayer::displayLoop() {
    const cv::Mat initial(255, 255, CV_8UC1, cv::Scalar(128));
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        const auto hasWork = [this] { return m_queueHead < m_queue.size(); };
        if (m_openCount == 0) {
            m_wake.wait(lock, hasWork);
        } else if (!m_wake.wait_for(lock, IdlePoll, hasWork)) {
            // No frames: keep open windows answering the window system
            // (repaints, moves) while the stream is paused.
            lock.unlock();
            try {
                cv::waitKey(1);
            } catch (...) {
                reportDisplayError("polling the window system", "");
            }
            lock.lock();
            continue;
        }
        const Entry entry = m_queue[m_queueHead++];
        if (m_queueHead == m_queue.size()) {
            // Drained: keep the capacity, so that steady showing allocates nothing.
            m_queue.clear();
            m_queueHead = 0;
        }
        Window& window = *m_windows[std::size_t(entry.number)];
        switch (entry.kind) {
        case Entry::Open:
            lock.unlock();
            try {
                cv::namedWindow(window.name, cv::WINDOW_AUTOSIZE);
                cv::imshow(window.name, initial);
                cv::waitKey(1);
            } catch (...) {
                reportDisplayError("opening the window", window.name);
            }
            lock.lock();
            window.open = true;
            ++m_openCount;
            break;
        case Entry::Show:
            window.showQueued = false;
            if (!window.open || !window.registered)
                break;
            cv::swap(window.pending, window.front);
            lock.unlock();
            try {
                cv::imshow(window.name, window.front);
                cv::waitKey(1);
            } catch (...) {
                reportDisplayError("showing a frame", window.name);
            }
            lock.lock();
            ++window.shown;
            break;
        case Entry::Close:
            lock.unlock();
            try {
                cv::destroyWindow(window.name);
                cv::waitKey(1);
            } catch (...) {
                reportDisplayError("closing the window", window.name);
            }
            {
                std::lock_guard<std::mutex> writer(window.writeLock);
                window.back.release();
            }
            window.front.release();
            lock.lock();
            window.pending.release();
            if (window.open) {
                window.open = false;
                --m_openCount;
            }
            window.closed = true;
            m_closed.notify_all();
            break;
        }
    }
}

} // namespace XEVToolBox
} // namespace XEVLibrary
