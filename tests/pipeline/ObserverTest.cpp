#include "RecordingObserver.h"

#include "XEVException.h"
#include "XEVFilter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

using namespace XEVLibrary;
using XEVTest::DoneCounter;
using XEVTest::messageOf;
using XEVTest::PassThroughFilter;
using XEVTest::RecordingObserver;
using XEVTest::writeFrame;

namespace {

struct Chain {
    explicit Chain(unsigned int fifo = 4) : device(fifo) {
        device.ensureFrameFormat(16, 8, CV_16UC1, 0);
    }
    XEVFrameProducer device;
};

} // namespace

TEST(Observer, ThreadStateMisusesAreCriticalErrors) {
    RecordingObserver observer;
    EXPECT_EQ(
        messageOf([&] { observer.stopReading(false); }),
        "CriticalError : XEVObserver attempted to stop reading without reading thread already "
        "running.");
    EXPECT_EQ(messageOf([&] { observer.waitEndReading(); }),
              "CriticalError : XEVObserver attempted to wait end of reading without reading thread "
              "already running.");
    // Without a source the thread ends at once, its error kept.
    observer.startReading();
    observer.waitEndReading();
    EXPECT_EQ(observer.lastErrorMessage(),
              "CriticalError : XEVObserver attempted to start reading without connection "
              "XEVFrameProducer source.");
    EXPECT_TRUE(observer.lastError());
    EXPECT_EQ(observer.starts.load(), 0);
    EXPECT_EQ(observer.stops.load(), 0);
    EXPECT_TRUE(observer.frames().empty());

    Chain chain;
    chain.device << observer;
    chain.device.startProduction();
    EXPECT_EQ(messageOf([&] { observer.startReading(); }),
              "CriticalError : XEVObserver attempted to start reading while reading thread was "
              "already running.");
    chain.device.stopProduction(false);
}

TEST(Observer, StopWakesAWaitingThreadAndCallsOnStopOnce) {
    Chain chain;
    RecordingObserver observer;
    chain.device << observer;
    for (int round = 1; round <= 3; ++round) {
        chain.device.startProduction();
        ASSERT_TRUE(XEVTest::waitUntil([&] { return observer.starts.load() == round; }));
        chain.device.stopProduction(false); // the thread is waiting for a frame
        EXPECT_EQ(observer.stops.load(), round);
        EXPECT_FALSE(observer.hasReadingThread());
    }
}

TEST(Observer, ConnectToASecondProducerIsIgnored) {
    XEVFrameProducer first(3), second(3);
    RecordingObserver observer;
    observer.connectTo(first);
    observer.connectTo(second);
    EXPECT_EQ(observer.source(), &first);
    EXPECT_EQ(second.observerCount(), 0u);
    observer.disconnect();
    EXPECT_EQ(observer.source(), nullptr);
    EXPECT_EQ(first.observerCount(), 0u);
}

TEST(Observer, DoneSignalFiresOnceAfterTheTargetFrameOfAFinalObserver) {
    Chain chain;
    PassThroughFilter filter;
    RecordingObserver end;
    chain.device << filter << end;
    DoneCounter filterDone(filter), endDone(end);
    filter.setDoneTarget(2); // not final: never fires
    end.setDoneTarget(5);
    chain.device.startProduction();
    for (uint64_t i = 1; i <= 4; ++i) {
        writeFrame(chain.device, i);
        ASSERT_TRUE(end.waitFrames(i));
    }
    EXPECT_EQ(endDone.count(), 0);
    EXPECT_EQ(end.doneTarget(), 5u);
    for (uint64_t i = 5; i <= 8; ++i) {
        writeFrame(chain.device, i);
        ASSERT_TRUE(end.waitFrames(i));
    }
    chain.device.signalEndOfStream();
    ASSERT_TRUE(endDone.waitCount(1));
    chain.device.stopProduction(false);
    EXPECT_EQ(endDone.count(), 1);
    EXPECT_EQ(end.doneTarget(), 0u);
    EXPECT_EQ(filterDone.count(), 0);
    EXPECT_EQ(filter.doneTarget(), 2u);
}

TEST(Observer, EndOfStreamCompletesALossyFinalObserver) {
    Chain chain(3);
    PassThroughFilter filter(3);
    RecordingObserver slow;
    chain.device << filter;
    filter << slow;
    DoneCounter done(slow);
    slow.setDoneTarget(50);
    chain.device.startProduction();
    slow.hold();
    for (uint64_t i = 1; i <= 50; ++i)
        writeFrame(chain.device, i);
    chain.device.signalEndOfStream();
    ASSERT_TRUE(slow.waitInside());
    EXPECT_EQ(done.count(), 0);
    slow.release();
    // The slow observer lost frames: it never counts 50, but it drains what
    // its FIFO still holds and is done.
    ASSERT_TRUE(done.waitCount(1));
    chain.device.stopProduction(false);
    EXPECT_LT(slow.frames().size(), 50u);
    EXPECT_EQ(slow.frames().back(), 50u);
    EXPECT_EQ(done.count(), 1);
}

TEST(Observer, AnErrorEndsOnlyItsOwnReadingThreadAndIsKept) {
    class ThrowingStart : public RecordingObserver {
    public:
        void onStart() override { throw std::runtime_error("no start"); }
    };
    class SelfJoin : public RecordingObserver {
    public:
        void onNewFrame(const cv::Mat&, const XEVFrameInfo&) override { waitEndReading(); }
    };
    Chain chain(6);
    RecordingObserver failing, healthy;
    ThrowingStart refusing;
    SelfJoin joining;
    for (XEVObserver* observer : std::vector<XEVObserver*>{&failing, &refusing, &joining, &healthy})
        chain.device << *observer;
    DoneCounter done(failing);
    failing.throwOnFrame = 2;
    failing.setDoneTarget(10);
    chain.device.startProduction();
    for (uint64_t i = 1; i <= 4; ++i)
        writeFrame(chain.device, i);
    ASSERT_TRUE(done.waitCount(1)); // a stage that died does not hold a capture
    ASSERT_TRUE(healthy.waitFrames(4));
    ASSERT_TRUE(XEVTest::waitUntil([&] { return refusing.lastError() && joining.lastError(); }));
    chain.device.stopProduction(false);

    EXPECT_EQ(failing.lastErrorMessage(), "frame rejected");
    EXPECT_EQ(failing.frames(), (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(failing.stops.load(), 1);
    EXPECT_EQ(refusing.lastErrorMessage(), "no start");
    EXPECT_EQ(refusing.stops.load(), 0); // no onStop without onStart
    // Joining itself is the threading library's error, not a hang.
    EXPECT_NE(joining.lastErrorMessage().find("trying joining itself"), std::string::npos)
        << joining.lastErrorMessage();
    EXPECT_EQ(healthy.frames().size(), 4u);
    EXPECT_FALSE(healthy.lastError());

    // The next start clears the error and reads again.
    failing.throwOnFrame = 0;
    chain.device.startProduction();
    EXPECT_EQ(failing.lastErrorMessage(), "");
    writeFrame(chain.device, 9);
    ASSERT_TRUE(failing.waitFrames(3));
    chain.device.stopProduction(false);
    EXPECT_FALSE(failing.lastError());
}

TEST(Filter, AStageThatCannotStartLeavesNothingRunning) {
    class Refusing : public RecordingObserver {
    public:
        void startReading() override { throw std::runtime_error("no thread for this stage"); }
    };
    Chain chain;
    RecordingObserver first;
    PassThroughFilter filter;
    Refusing refusing;
    chain.device << first;
    chain.device << filter << refusing;
    XEVTest::finishesWithin("a failed start", [&] {
        EXPECT_EQ(messageOf([&] { chain.device.startProduction(); }), "no thread for this stage");
    });
    EXPECT_FALSE(chain.device.isRunning());
    EXPECT_FALSE(first.hasReadingThread());
    EXPECT_FALSE(filter.hasReadingThread());
    EXPECT_FALSE(filter.isRunning());
}

TEST(Filter, StopJoinsEveryStageBelowFirstThenRaisesTheFirstError) {
    class FailingStop : public RecordingObserver {
    public:
        void stopReading(bool reset) override {
            RecordingObserver::stopReading(reset);
            throw std::runtime_error("stop failed");
        }
    };
    std::atomic<int> order{0};
    Chain chain(5);
    RecordingObserver first, end;
    FailingStop failing;
    PassThroughFilter filter;
    filter.orderCounter = &order;
    end.orderCounter = &order;
    chain.device << first;
    chain.device << failing;
    chain.device << filter << end;
    chain.device.startProduction();
    writeFrame(chain.device, 7);
    ASSERT_TRUE(end.waitFrames(1));
    EXPECT_EQ(messageOf([&] { chain.device.stopProduction(false); }), "stop failed");
    EXPECT_FALSE(chain.device.isRunning());
    // The observers below a filter stop before it.
    EXPECT_EQ(end.stopOrder.load(), 0);
    EXPECT_EQ(filter.stopOrder.load(), 1);
    EXPECT_FALSE(filter.hasReadingThread());
    EXPECT_EQ(end.frames(), std::vector<uint64_t>{7});
    EXPECT_EQ(end.pixels(), std::vector<int>{7});
    for (const RecordingObserver* observer :
         {&first, static_cast<RecordingObserver*>(&failing), &end}) {
        EXPECT_FALSE(observer->hasReadingThread());
        EXPECT_EQ(observer->stops.load(), 1);
    }
}

TEST(ObserverDeathTest, DestroyingAReadingObserverIsFatal) {
#if defined(__SANITIZE_THREAD__)
    // The misuse under test is itself a race, which the thread sanitizer
    // reports before the library can.
    GTEST_SKIP();
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            XEVFrameProducer producer(3);
            auto* observer = new RecordingObserver();
            producer << *observer;
            producer.startProduction();
            delete observer;
        },
        "Impossible to destroy a XEVObserver while is reading.");
}
