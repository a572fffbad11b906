#include "TestSupport.h"
#include "XEVConfigObserver.h"
#include "XEVDevice.h"
#include "XEVException.h"
#include "device/DeviceImpl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace XEVLibrary;

namespace {

/// The smallest concrete device: it records what the base forwards to it.
class TestDevice : public XEVDevice {
public:
    explicit TestDevice(long fifoSize = 4)
        : XEVDevice(XEVModelConfiguration(USB3, "TestModel", 64, 32), fifoSize) {}

    double fpsValue = 0, minValue = 0, maxValue = 0;
    std::vector<std::string> calls;

protected:
    const XEVDeviceDescriptor* GetDeviceDescriptor() const override { return nullptr; }
    double GetFps(bool) const override { return fpsValue; }
    double GetMinFps(bool) const override { return minValue; }
    double GetMaxFps(bool) const override { return maxValue; }
    double GetParamValueOf(const std::string&, bool) const override { return 0; }
    std::string GetParamStrValueOf(const std::string&, bool) const override { return ""; }
    std::string GetManual() const override { return "test manual"; }
    void SetFps(double fps, bool apply) override {
        calls.push_back("SetFps " + std::to_string(fps) + " " + std::to_string(apply));
    }
    void SetParamValueOf(const std::string& name, double, bool) override {
        calls.push_back("SetParamValueOf(double) " + name);
    }
    void SetParamValueOf(const std::string& name, const std::string& value, bool) override {
        calls.push_back("SetParamValueOf(text) " + name + "=" + value);
    }
    bool UpdateConfig(bool force) override {
        calls.push_back("UpdateConfig " + std::to_string(force));
        return true;
    }
    bool IsCapturing() const override { return false; }
    void Start() override { calls.push_back("Start"); }
    void CaptureNFrames(long n, bool wait) override {
        calls.push_back("CaptureNFrames " + std::to_string(n) + " " + std::to_string(wait));
    }
    void CaptureForDuration(unsigned long ms, bool wait) override {
        calls.push_back("CaptureForDuration " + std::to_string(ms) + " " + std::to_string(wait));
    }
    void Stop(bool reset) override { calls.push_back("Stop " + std::to_string(reset)); }
    bool WaitEndCapture(int ms) override {
        calls.push_back("WaitEndCapture " + std::to_string(ms));
        return true;
    }
    void Synchronize() override { calls.push_back("Synchronize"); }
};

/// Records every notification as one line.
class Recorder : public XEVConfigObserver {
public:
    explicit Recorder(std::vector<std::string>* log = nullptr, std::string name = "")
        : m_log(log ? log : &own), m_name(std::move(name)) {}
    void onParamChanged(const std::string& param, const std::string& value, bool applied) override {
        if (throwOnParam)
            throw std::runtime_error("observer failed");
        add("param " + param + "=" + value + (applied ? " applied" : " pending"));
    }
    void onFpsChanged(double v, bool f) override { add("fps " + text(v, f)); }
    void onMinFpsChanged(double v, bool f) override { add("min " + text(v, f)); }
    void onMaxFpsChanged(double v, bool f) override { add("max " + text(v, f)); }
    void onDeviceDisconnected() override { add("disconnected"); }

    std::vector<std::string> own;
    bool throwOnParam = false;

private:
    static std::string text(double v, bool f) {
        return std::to_string(v) + (f ? " true" : " false");
    }
    void add(const std::string& line) { m_log->push_back(m_name + line); }
    std::vector<std::string>* m_log;
    std::string m_name;
};

} // namespace

TEST(DeviceBase, FrameRatesAreRoundedToReachableIntegers) {
    struct Case {
        double fps, min, max;
        long roundedFps, roundedMin, roundedMax;
    };
    const Case cases[] = {
        {24.99, 9.2, 30.9, 24, 10, 30},
        {30.7, 9.5, 30.7, 30, 10, 30},
        {25.0, 10.0, 25.0, 25, 10, 25},
        {0.4, 0.1, 0.9, 0, 1, 0},
    };
    TestDevice device;
    for (const Case& c : cases) {
        device.fpsValue = c.fps;
        device.minValue = c.min;
        device.maxValue = c.max;
        EXPECT_EQ(device.fps(true), c.roundedFps) << c.fps;
        EXPECT_EQ(device.minFps(false), c.roundedMin) << c.min;
        EXPECT_EQ(device.maxFps(true), c.roundedMax) << c.max;
        EXPECT_DOUBLE_EQ(device.minFpsAsDouble(true), c.min);
    }
}

TEST(DeviceBase, PublicOperationsForwardToTheDevice) {
    TestDevice device;
    device.captureNFrames(12);
    device.captureForDuration(250);
    device.setFps(30u, false);
    device.setFps(12.5, true);
    device.setParamValueOf("Gain", 2.0, true);
    device.setParamValueOf("Gain", "AGC", false);
    device.updateConfig(true);
    device.start();
    device.stop(true);
    EXPECT_TRUE(device.waitEndCapture(-1));
    device.synchronize();
    EXPECT_EQ(device.manual(), "test manual");
    EXPECT_EQ(device.calls,
              (std::vector<std::string>{"CaptureNFrames 12 1", "CaptureForDuration 250 1",
                                        "SetFps 30.000000 0", "SetFps 12.500000 1",
                                        "SetParamValueOf(double) Gain",
                                        "SetParamValueOf(text) Gain=AGC", "UpdateConfig 1", "Start",
                                        "Stop 1", "WaitEndCapture -1", "Synchronize"}));
}

TEST(DeviceBase, FpsNotificationSkipsUnchangedValues) {
    std::vector<std::string> log;
    TestDevice device;
    Recorder first(&log, "1:"), second(&log, "2:");
    first.connectTo(device);
    second.connectTo(device);
    device.notifyFpsChanged(0.0, 5.0, 0.0, false);
    EXPECT_EQ(log, (std::vector<std::string>{"1:min 5.000000 false", "2:min 5.000000 false"}));
    log.clear();
    device.notifyFpsChanged(25.0, 0.0, 60.0, true);
    EXPECT_EQ(log, (std::vector<std::string>{"1:fps 25.000000 true", "1:max 60.000000 true",
                                             "2:fps 25.000000 true", "2:max 60.000000 true"}));
    log.clear();
    device.notifyParamChanged("Gain", "1.00", true);
    device.signalDeviceDisconnected();
    EXPECT_EQ(log,
              (std::vector<std::string>{"1:param Gain=1.00 applied", "2:param Gain=1.00 applied",
                                        "1:disconnected", "2:disconnected"}));
}

TEST(DeviceBase, AThrowingObserverStopsTheFanOut) {
    std::vector<std::string> log;
    TestDevice device;
    Recorder first(&log, "1:"), second(&log, "2:");
    first.connectTo(device);
    second.connectTo(device);
    first.throwOnParam = true;
    EXPECT_THROW(device.notifyParamChanged("Gain", "1.00", false), std::runtime_error);
    EXPECT_TRUE(log.empty());
}

TEST(DeviceBase, ConfigObserversMoveBetweenDevices) {
    TestDevice a, b;
    Recorder observer;
    observer.connectTo(a);
    observer.connectTo(a); // twice: one entry
    a.notifyParamChanged("Gain", "1.00", false);
    EXPECT_EQ(observer.own.size(), 1u);

    observer.connectTo(b);
    EXPECT_EQ(observer.device(), &b);
    a.notifyParamChanged("Gain", "2.00", false);
    b.notifyParamChanged("Gain", "3.00", false);
    EXPECT_EQ(observer.own,
              (std::vector<std::string>{"param Gain=1.00 pending", "param Gain=3.00 pending"}));

    observer.disconnect();
    EXPECT_EQ(observer.device(), nullptr);
    b.notifyParamChanged("Gain", "4.00", false);
    EXPECT_EQ(observer.own.size(), 2u);
}

TEST(DeviceBase, DestroyingADeviceDisconnectsItsObservers) {
    Recorder observer;
    {
        TestDevice device;
        observer.connectTo(device);
        EXPECT_EQ(observer.device(), &device);
    }
    EXPECT_EQ(observer.device(), nullptr);
    observer.disconnect(); // nothing left to do
    EXPECT_EQ(observer.device(), nullptr);
}

TEST(DeviceBase, DestroyingAnObserverLeavesTheDevice) {
    TestDevice device;
    {
        Recorder observer;
        observer.connectTo(device);
    }
    EXPECT_NO_THROW(device.notifyParamChanged("Gain", "1.00", false));
}

TEST(DeviceBase, ObserversComeAndGoWhileNotificationsRun) {
    // One thread notifies without pause; another connects, disconnects and
    // destroys config observers meanwhile. Nobody is called after leaving.
    class Counter : public XEVConfigObserver {
    public:
        ~Counter() override {
            disconnect(); // before this part is gone
            alive = false;
        }
        void onParamChanged(const std::string&, const std::string&, bool) override {
            if (!alive)
                std::abort(); // called after its destruction began
            calls.fetch_add(1);
        }
        void onDeviceDisconnected() override {}
        std::atomic<bool> alive{true};
        std::atomic<int> calls{0};
    };
    TestDevice device, other;
    Counter steady;
    steady.connectTo(device);
    std::atomic<bool> running{true};
    std::atomic<int> sent{0};
    std::thread notifier([&] {
        while (running.load()) {
            device.notifyParamChanged("Gain", "1.00", true);
            sent.fetch_add(1);
        }
    });
    struct Joiner {
        std::atomic<bool>& running;
        std::thread& thread;
        ~Joiner() {
            running.store(false);
            thread.join();
        }
    };
    {
        Joiner joiner{running, notifier};
        XEVTest::finishesWithin("observers coming and going", [&] {
            for (int i = 0; i < 200; ++i) {
                auto passing = std::make_unique<Counter>();
                passing->connectTo(device);
                const int seen = sent.load();
                while (sent.load() < seen + 2)
                    std::this_thread::yield();
                ASSERT_GE(passing->calls.load(), 1) << i;
                if (i % 2 == 0)
                    passing->connectTo(other); // leaves the notifying device
                passing.reset();
            }
        });
    }
    EXPECT_EQ(steady.calls.load(), sent.load());
}

TEST(DeviceBase, FifoSizeIsCheckedByTheProducer) {
    try {
        TestDevice device(2);
        FAIL() << "a FIFO of 2 was accepted";
    } catch (const XEVException& error) {
        EXPECT_STREQ(error.what(),
                     "Error : For XEVFrameProducer, Fifo Size(2) must be strictly higher than 2.");
    }
    EXPECT_THROW(TestDevice(-5), XEVException);
}

TEST(DeviceBase, InternalSignalsReachTheirListeners) {
    TestDevice device;
    std::vector<bool> modes;
    device.impl()->modeSignal.connect([&](bool gated) { modes.push_back(gated); });
    device.impl()->nucSignal.connect(
        [](std::string& path, double exposure, double) { return !path.empty() && exposure > 0; });
    device.impl()->modeSignal(true);
    device.impl()->modeSignal(false);
    std::string path = "40MHz/";
    const boost::optional<bool> accepted = device.impl()->nucSignal(path, 2000.0, 0.0);
    ASSERT_TRUE(accepted.has_value());
    EXPECT_TRUE(*accepted);
    EXPECT_EQ(modes, (std::vector<bool>{true, false}));
    EXPECT_EQ(device.modelId(), "TestModel");
}
