// GigE streaming next to an independent client, in the same run: a 640x512
// Mono16 stream from the emulator tool (a process of its own, so that its
// work is not counted here) received by the library, and by Aravis's
// arv-camera-test-0.8, at packet sizes 1500 and 9000 and at the camera's
// highest frame rate.
//
// The benchmark's time is the processor time (user + system) spent per
// delivered frame, so that tools/bench-ratios.py prints ours / Aravis.
// Counters: fps (delivered frames per second), frames_lost (frames the camera
// sent during the capture and the client did not deliver), cpu_us_per_frame,
// emulator_cpu_us_per_frame (the camera's cost, a check that the camera was
// not the bottleneck); the library adds frames_dropped_incomplete (its
// stream statistics), stale_frames (frames of an earlier capture delivered
// in this one), fps_set, and cpu_ratio and fps_ratio against the Aravis run
// of the same packet size. Aravis's processor time per frame is the
// difference of a short and a long run, which leaves out its start and end.

#include "XEVDeviceGige.h"
#include "XEVManager.h"
#include "XEVObserver.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef XEV_GIGE_EMULATOR
#define XEV_GIGE_EMULATOR "xev-gige-emulator" // looked for on the PATH
#endif

extern char** environ;

using namespace XEVLibrary;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

/// The rate the emulated camera allows (its MaxFPS) and both clients ask for:
/// above the gigabit wire limits of 181 (1500) and 189 (9000) frames/s.
constexpr double Fps = 200;
/// Frames of a library capture; Aravis streams as long.
constexpr long Frames = 1000;
constexpr int AravisShortSeconds = 1;
constexpr int AravisLongSeconds = 1 + static_cast<int>(Frames / Fps);
const char* const Aravis = "arv-camera-test-0.8";

std::string CameraAddress(int packetSize) {
    return packetSize == 9000 ? "127.0.9.91" : "127.0.9.15";
}

double Microseconds(const rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

double ProcessMicroseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Microseconds(usage);
}

/// A program run as a child process, its standard output and error read
/// line by line; killed and reaped on destruction if still running.
class Child {
public:
    explicit Child(const std::vector<std::string>& arguments) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const int error = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        m_out = out[0];
        if (error != 0) {
            close(m_out);
            throw std::runtime_error("cannot run " + arguments[0]);
        }
    }
    ~Child() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void signal(int number) const { kill(m_pid, number); }

    /// The next line; false at the end of the output or after @p wait.
    bool line(std::string& text, milliseconds wait) {
        const auto end = Clock::now() + wait;
        for (;;) {
            const std::size_t at = m_pending.find('\n');
            if (at != std::string::npos) {
                text = m_pending.substr(0, at);
                m_pending.erase(0, at + 1);
                m_output += text + "\n";
                return true;
            }
            const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
            pollfd ready{m_out, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[4096];
            const ssize_t n = read(m_out, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            m_pending.append(buffer, static_cast<std::size_t>(n));
        }
    }

    /// Reads to the end of the output and reaps the child, killing it after
    /// @p wait; true when it exited with status 0.
    bool finish(milliseconds wait, rusage& usage) {
        const auto end = Clock::now() + wait;
        std::string text;
        while (line(text, std::chrono::duration_cast<milliseconds>(end - Clock::now()))) {
        }
        if (Clock::now() >= end)
            kill(m_pid, SIGKILL);
        int status = 0;
        wait4(m_pid, &status, 0, &usage);
        m_pid = 0;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    /// Everything read so far.
    const std::string& output() const { return m_output; }

private:
    pid_t m_pid = 0;
    int m_out = -1;
    std::string m_pending;
    std::string m_output;
};

/// An emulated HeronGigE in a process of its own (the xev-gige-emulator tool).
class EmulatedCamera {
public:
    struct Sample {
        double frames = 0;
        double cpuUs = 0;
    };

    EmulatedCamera(const std::string& address, int packetSize)
        : m_address(address),
          m_tool({XEV_GIGE_EMULATOR, "--model", "HeronGigE", "--address", address, "--mtu",
                  std::to_string(packetSize), "--max-fps", std::to_string(int(Fps))}) {
        std::string text;
        while (m_tool.line(text, milliseconds(10000)))
            if (text.find(" on " + address + ":3956") != std::string::npos)
                return;
        throw std::runtime_error("the emulator did not start: " + m_tool.output());
    }
    ~EmulatedCamera() {
        m_tool.signal(SIGINT);
        rusage usage{};
        m_tool.finish(milliseconds(5000), usage);
    }

    /// Frames sent so far and the tool's processor time.
    Sample sample() {
        m_tool.signal(SIGUSR1);
        Sample sample;
        std::string text;
        const std::regex frames(" ([0-9]+) frames,");
        const std::regex cpu("^processor time: ([0-9]+) us");
        std::smatch match;
        while (m_tool.line(text, milliseconds(5000))) {
            if (text.rfind(m_address + ":", 0) == 0 && std::regex_search(text, match, frames))
                sample.frames = std::stod(match[1]);
            if (std::regex_search(text, match, cpu)) {
                sample.cpuUs = std::stod(match[1]);
                return sample;
            }
        }
        throw std::runtime_error("the emulator stopped answering");
    }

    const std::string& address() const { return m_address; }

private:
    std::string m_address;
    Child m_tool;
};

/// One emulator per packet size, shared by the library and Aravis runs and
/// stopped at exit.
EmulatedCamera& CameraFor(int packetSize) {
    static std::map<int, std::unique_ptr<EmulatedCamera>> cameras;
    std::unique_ptr<EmulatedCamera>& camera = cameras[packetSize];
    if (!camera)
        camera = std::make_unique<EmulatedCamera>(CameraAddress(packetSize), packetSize);
    return *camera;
}

/// What an Aravis run measured, for the ratios of the library's run.
struct Reference {
    double fps = 0;
    double cpuUsPerFrame = 0;
};
std::map<int, Reference> s_aravis;

bool Installed(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

/// Counts frames and times the first and the last, on the observer's thread.
/// The emulated camera numbers its frames: block id n (1 to 65535, then 1
/// again) is the n-th frame it sent. Frames sent before the capture started
/// (left over from the previous one) are counted apart as stale.
class FrameCounter : public XEVObserver {
public:
    void onNewFrame(const cv::Mat&, const XEVFrameInfo& info) override {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> hold(m_lock);
        const uint64_t after = (info.frameNumber + 65535 - 1 - m_sentBefore % 65535) % 65535;
        if (after >= 32768) {
            ++m_stale;
            return;
        }
        if (m_count++ == 0)
            m_first = now;
        m_last = now;
    }
    /// Starts counting afresh for frames after the camera's @p sentBefore-th.
    void restart(uint64_t sentBefore) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_count = m_stale = 0;
        m_sentBefore = sentBefore;
    }
    /// Delivered frames of this capture, their rate, and stale frames.
    void result(double& frames, double& fps, double& stale) const {
        std::lock_guard<std::mutex> hold(m_lock);
        frames = double(m_count);
        stale = double(m_stale);
        const double seconds = std::chrono::duration<double>(m_last - m_first).count();
        fps = m_count > 1 && seconds > 0 ? double(m_count - 1) / seconds : 0;
    }

private:
    mutable std::mutex m_lock;
    uint64_t m_sentBefore = 0;
    uint64_t m_count = 0;
    uint64_t m_stale = 0;
    Clock::time_point m_first;
    Clock::time_point m_last;
};

void BM_GigeStream(benchmark::State& state) {
    const int packetSize = static_cast<int>(state.range(0));
    try {
        EmulatedCamera& camera = CameraFor(packetSize);
        // The library's information lines would break the JSON output.
        XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::StandardError);
        XEVManager::useUsb = false;
        XEVManager::useGige = true;
        XEVManager::gigeBroadcast = false;
        XEVManager::gigeCameraAddresses = {camera.address()};
        XEVManager* manager = XEVManager::getInstance();
        if (manager->deviceCount() == 0) {
            XEVManager::destroyInstance();
            state.SkipWithError(("the library finds no camera at " + camera.address()).c_str());
            return;
        }
        FrameCounter counter;
        XEVDevice* device = manager->openDevice(0, 0, 16);
        auto& gige = static_cast<XEVDeviceGige&>(*device);
        const double fpsSet =
            device->setFps(device->maxFpsAsDouble(true) > 0 ? device->maxFpsAsDouble(true) : Fps);
        *device << counter;
        double frames = 0, fps = 0, stale = 0, cpuUs = 0, sent = 0, emulatorUs = 0;
        // Captures @p n frames; false with a text saying what arrived when
        // the capture falls short.
        std::string failure;
        auto capture = [&](long n) {
            const EmulatedCamera::Sample before = camera.sample();
            counter.restart(static_cast<uint64_t>(before.frames));
            const double start = ProcessMicroseconds();
            device->captureNFrames(n);
            const bool complete =
                device->waitEndCapture(static_cast<int>(3000 * n / fpsSet) + 5000);
            device->stop();
            cpuUs = ProcessMicroseconds() - start;
            const EmulatedCamera::Sample after = camera.sample();
            counter.result(frames, fps, stale);
            sent = after.frames - before.frames;
            emulatorUs = after.cpuUs - before.cpuUs;
            if (!complete) {
                const XEVGigeStreamStatistics s = gige.streamStatistics();
                failure = "the capture did not reach its " + std::to_string(n) +
                          " frames: " + std::to_string(long(frames)) + " delivered of " +
                          std::to_string(long(sent)) + " sent, " + std::to_string(long(stale)) +
                          " stale; " + std::to_string(s.framesCompleted) + " completed, " +
                          std::to_string(s.framesDroppedIncomplete) + " dropped, " +
                          std::to_string(s.packetsReceived) + " packets received, " +
                          std::to_string(s.packetsMissing) + " missing, " +
                          std::to_string(s.packetsRejected) + " rejected";
            }
            return complete;
        };
        bool complete = capture(Frames / 20); // the camera renders its scene
        for (auto _ : state) {
            complete = complete && capture(Frames);
            state.SetIterationTime(frames > 0 ? cpuUs / frames / 1e6 : 1.0);
        }
        const XEVGigeStreamStatistics statistics = gige.streamStatistics();
        XEVManager::destroyInstance();
        if (!complete) {
            state.SkipWithError(failure.c_str());
            return;
        }
        const double perFrame = frames > 0 ? cpuUs / frames : 0;
        state.counters["fps"] = fps;
        state.counters["fps_set"] = fpsSet;
        state.counters["frames_lost"] = sent - frames;
        state.counters["frames_dropped_incomplete"] = double(statistics.framesDroppedIncomplete);
        state.counters["stale_frames"] = stale;
        state.counters["cpu_us_per_frame"] = perFrame;
        state.counters["emulator_cpu_us_per_frame"] = sent > 0 ? emulatorUs / sent : 0;
        const auto aravis = s_aravis.find(packetSize);
        if (aravis != s_aravis.end() && aravis->second.cpuUsPerFrame > 0) {
            state.counters["cpu_ratio"] = perFrame / aravis->second.cpuUsPerFrame;
            state.counters["fps_ratio"] = fps / aravis->second.fps;
        }
    } catch (const std::exception& error) {
        XEVManager::destroyInstance();
        state.SkipWithError(error.what());
    }
}

/// What an arv-camera-test-0.8 run printed and cost.
struct AravisRun {
    bool succeeded = false;
    double completed = 0; ///< n_completed_buffers
    double cpuUs = 0;     ///< its processor time, from wait4
    double sent = 0;      ///< frames the camera sent meanwhile
    double emulatorUs = 0;
    std::string output;
};

/// The mean of the rates arv-camera-test prints each second, the first
/// (the start) left out.
double RateOf(const std::string& output) {
    const std::regex line("(^|\n) *([0-9]+) frames/s");
    double sum = 0;
    int count = 0;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
         it != std::sregex_iterator(); ++it)
        if (count++ > 0)
            sum += std::stod((*it)[2]);
    return count > 1 ? sum / (count - 1) : 0;
}

double CounterOf(const std::string& output, const std::string& name) {
    std::smatch match;
    if (std::regex_search(output, match, std::regex(name + " += ([0-9]+)")))
        return std::stod(match[1]);
    return -1;
}

AravisRun RunAravis(EmulatedCamera& camera, int packetSize, int seconds) {
    AravisRun run;
    const EmulatedCamera::Sample before = camera.sample();
    Child aravis({Aravis, "-n", camera.address(), "--no-packet-socket", "-a",
                  "--duration=" + std::to_string(seconds), "-f", std::to_string(int(Fps)), "-i",
                  std::to_string(packetSize)});
    rusage usage{};
    run.succeeded = aravis.finish(milliseconds(1000 * seconds + 20000), usage);
    const EmulatedCamera::Sample after = camera.sample();
    run.output = aravis.output();
    run.completed = CounterOf(run.output, "n_completed_buffers");
    run.cpuUs = Microseconds(usage);
    run.sent = after.frames - before.frames;
    run.emulatorUs = after.cpuUs - before.cpuUs;
    run.succeeded = run.succeeded && run.completed > 0;
    return run;
}

void BM_GigeStream_Aravis(benchmark::State& state) {
    const int packetSize = static_cast<int>(state.range(0));
    if (!Installed(Aravis)) {
        state.SkipWithError("arv-camera-test-0.8 is not installed (Debian package aravis-tools)");
        return;
    }
    try {
        EmulatedCamera& camera = CameraFor(packetSize);
        AravisRun shortRun, longRun;
        RunAravis(camera, packetSize, AravisShortSeconds); // the camera renders its scene
        for (auto _ : state) {
            shortRun = RunAravis(camera, packetSize, AravisShortSeconds);
            longRun = RunAravis(camera, packetSize, AravisLongSeconds);
            const double frames = longRun.completed - shortRun.completed;
            state.SetIterationTime(frames > 0 ? (longRun.cpuUs - shortRun.cpuUs) / frames / 1e6
                                              : 1.0);
        }
        if (!shortRun.succeeded || !longRun.succeeded) {
            state.SkipWithError(
                ("arv-camera-test-0.8 failed:\n" + (shortRun.succeeded ? longRun : shortRun).output)
                    .c_str());
            return;
        }
        const double frames = longRun.completed - shortRun.completed;
        Reference reference;
        reference.fps = RateOf(longRun.output);
        reference.cpuUsPerFrame = frames > 0 ? (longRun.cpuUs - shortRun.cpuUs) / frames : 0;
        s_aravis[packetSize] = reference;
        state.counters["fps"] = reference.fps;
        state.counters["frames_lost"] = longRun.sent - longRun.completed;
        state.counters["cpu_us_per_frame"] = reference.cpuUsPerFrame;
        state.counters["emulator_cpu_us_per_frame"] =
            longRun.sent > 0 ? longRun.emulatorUs / longRun.sent : 0;
        state.counters["missing_packets"] = CounterOf(longRun.output, "n_missing_packets");
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
}

} // namespace

// Aravis first: the library's runs report their ratios to it.
BENCHMARK(BM_GigeStream_Aravis)
    ->Arg(1500)
    ->Arg(9000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GigeStream)
    ->Arg(1500)
    ->Arg(9000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
