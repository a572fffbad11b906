#include "TestSupport.h"
#include "XEVCameralessDevice.h"
#include "XEVConfigObserver.h"
#include "XEVDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace XEVLibrary;
using Log = std::vector<std::string>;

namespace {

/// The smallest concrete device: frame rates set by the test, nothing else.
class TestDevice : public Emulator::XEVCameralessDevice {
public:
    explicit TestDevice(long fifoSize = 4) : XEVCameralessDevice("TestModel", 64, 32, fifoSize) {}
};

/// Logs every notification as one line, after its name.
class Recorder : public XEVConfigObserver {
public:
    explicit Recorder(Log& log, std::string name = "") : m_log(log), m_name(std::move(name)) {}
    void onParamChanged(const std::string& param, const std::string& value, bool applied) override {
        if (throwOnParam)
            throw std::runtime_error("observer failed");
        if (leaveOnParam)
            disconnect();
        add("param " + param + "=" + value + (applied ? " applied" : " pending"));
    }
    void onFpsChanged(double v, bool f) override { add("fps", v, f); }
    void onMinFpsChanged(double v, bool f) override { add("min", v, f); }
    void onMaxFpsChanged(double v, bool f) override { add("max", v, f); }
    void onDeviceDisconnected() override { add("disconnected"); }
    bool throwOnParam = false, leaveOnParam = false;

private:
    void add(const std::string& what, double v, bool f) {
        add(what + " " + std::to_string(v) + (f ? " true" : " false"));
    }
    void add(const std::string& line) { m_log.push_back(m_name + line); }
    Log& m_log;
    std::string m_name;
};

} // namespace

TEST(DeviceBase, FrameRatesAreRoundedToReachableIntegers) {
    // The rate and the maximum round down, the minimum up; whole numbers stay.
    TestDevice device;
    const auto rounded = [&](double fps, double min, double max) {
        device.fpsValue = fps;
        device.minFpsValue = min;
        device.maxFpsValue = max;
        return std::vector<long>{device.fps(true), device.minFps(false), device.maxFps(true)};
    };
    EXPECT_EQ(rounded(24.99, 9.2, 30.9), (std::vector<long>{24, 10, 30}));
    EXPECT_EQ(rounded(25.0, 10.0, 25.0), (std::vector<long>{25, 10, 25}));
}

TEST(DeviceBase, NotificationsReachEveryObserverInTurn) {
    Log log;
    TestDevice device;
    Recorder first(log, "1:"), second(log, "2:");
    first.connectTo(device);
    second.connectTo(device);
    // A rate of 0 is one that did not change.
    device.notifyFpsChanged(0.0, 5.0, 0.0, false);
    device.notifyFpsChanged(25.0, 0.0, 60.0, true);
    device.notifyParamChanged("Gain", "1.00", true);
    device.signalDeviceDisconnected();
    EXPECT_EQ(log, (Log{"1:min 5.000000 false", "2:min 5.000000 false", "1:fps 25.000000 true",
                        "1:max 60.000000 true", "2:fps 25.000000 true", "2:max 60.000000 true",
                        "1:param Gain=1.00 applied", "2:param Gain=1.00 applied", "1:disconnected",
                        "2:disconnected"}));
    // An observer that throws stops the fan-out.
    log.clear();
    first.throwOnParam = true;
    EXPECT_THROW(device.notifyParamChanged("Gain", "1.00", false), std::runtime_error);
    EXPECT_TRUE(log.empty());
}

TEST(DeviceBase, ConfigObserversFollowTheirDeviceAndTheirOwnLifetime) {
    TestDevice a, b;
    Log log;
    Recorder observer(log);
    observer.connectTo(a);
    observer.connectTo(a); // twice: one entry
    a.notifyParamChanged("Gain", "1.00", false);
    observer.connectTo(b); // moves
    a.notifyParamChanged("Gain", "2.00", false);
    b.notifyParamChanged("Gain", "3.00", false);
    observer.disconnect();
    EXPECT_EQ(observer.device(), nullptr);
    b.notifyParamChanged("Gain", "4.00", false);
    EXPECT_EQ(log, (Log{"param Gain=1.00 pending", "param Gain=3.00 pending"}));
    {
        Recorder leaving(log);
        leaving.connectTo(b);
        TestDevice c;
        observer.connectTo(c);
    } // the device leaves its observer, the observer its device
    EXPECT_EQ(observer.device(), nullptr);
    observer.disconnect(); // nothing left to do
    EXPECT_NO_THROW(b.notifyParamChanged("Gain", "5.00", false));
    // An observer may leave from its own notification.
    observer.connectTo(b);
    observer.leaveOnParam = true;
    XEVTest::finishesWithin("leaving from a notification",
                            [&] { b.notifyParamChanged("Gain", "6.00", false); });
    EXPECT_EQ(observer.device(), nullptr);
    EXPECT_EQ(log.back(), "param Gain=6.00 pending");
}

TEST(DeviceBase, ObserversComeAndGoWhileNotificationsRun) {
    // One thread notifies without pause; another connects, disconnects and
    // destroys config observers meanwhile. Nobody is called after leaving.
    struct Counter : XEVConfigObserver {
        ~Counter() override {
            disconnect(); // before this part is gone
            alive = false;
        }
        void onParamChanged(const std::string&, const std::string&, bool) override {
            if (!alive)
                std::abort(); // called after its destruction began
            ++calls;
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
        for (; running; ++sent)
            device.notifyParamChanged("Gain", "1.00", true);
    });
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
        }
    });
    running = false;
    notifier.join();
    EXPECT_EQ(steady.calls.load(), sent.load());
}

TEST(DeviceBase, FifoSizesTheProducerCannotUseAreRefused) {
    // Sizes no unsigned int holds are refused, not cut.
    const std::pair<long, std::string> cases[] = {{2, "2"}, {-5, "0"}, {(1L << 32) + 5, "0"}};
    for (const auto& [size, shown] : cases)
        EXPECT_EQ(XEVTest::messageOf([&] { TestDevice device(size); }),
                  "Error : For XEVFrameProducer, Fifo Size(" + shown +
                      ") must be strictly higher than 2.")
            << size;
    EXPECT_EQ(XEVTest::messageOf([] { TestDevice device(3); }), "<no exception>");
}
