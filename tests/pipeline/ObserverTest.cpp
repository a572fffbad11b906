#include "RecordingObserver.h"

#include "XEVException.h"
#include "XEVFilter.h"

#include <gtest/gtest.h>

#include <thread>

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

    Chain chain;
    chain.device << observer;
    chain.device.startProduction();
    EXPECT_EQ(messageOf([&] { observer.startReading(); }),
              "CriticalError : XEVObserver attempted to start reading while reading thread was "
              "already running.");
    chain.device.stopProduction(false);
}

TEST(Observer, MissingSourceEndsTheThreadWithoutFrames) {
    RecordingObserver observer;
    observer.startReading();
    observer.waitEndReading();
    EXPECT_EQ(observer.lastErrorMessage(),
              "CriticalError : XEVObserver attempted to start reading without connection "
              "XEVFrameProducer source.");
    EXPECT_TRUE(observer.lastError());
    EXPECT_EQ(observer.starts.load(), 0);
    EXPECT_EQ(observer.stops.load(), 0);
    EXPECT_TRUE(observer.frames().empty());
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

TEST(Observer, DoneSignalFiresOnceAfterTheTargetFrame) {
    Chain chain;
    RecordingObserver observer;
    chain.device << observer;
    DoneCounter done(observer);
    observer.setDoneTarget(5);
    chain.device.startProduction();
    for (uint64_t i = 1; i <= 4; ++i) {
        writeFrame(chain.device, i);
        ASSERT_TRUE(observer.waitFrames(i));
    }
    EXPECT_EQ(done.count(), 0);
    EXPECT_EQ(observer.doneTarget(), 5u);
    for (uint64_t i = 5; i <= 8; ++i) {
        writeFrame(chain.device, i);
        ASSERT_TRUE(observer.waitFrames(i));
    }
    chain.device.stopProduction(false);
    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(observer.doneTarget(), 0u);
}

TEST(Observer, NonFinalFilterNeverFiresItsTarget) {
    Chain chain;
    PassThroughFilter filter;
    RecordingObserver end;
    chain.device << filter;
    filter << end;
    DoneCounter filterDone(filter);
    DoneCounter endDone(end);
    filter.setDoneTarget(2);
    end.setDoneTarget(2);
    chain.device.startProduction();
    writeFrame(chain.device, 1);
    writeFrame(chain.device, 2);
    ASSERT_TRUE(endDone.waitCount(1));
    chain.device.signalEndOfStream();
    ASSERT_TRUE(end.waitFrames(2));
    chain.device.stopProduction(false);
    EXPECT_EQ(filterDone.count(), 0);
    EXPECT_EQ(filter.doneTarget(), 2u);
    EXPECT_EQ(endDone.count(), 1);
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

TEST(Observer, FrameErrorEndsReadingAndIsReported) {
    Chain chain;
    RecordingObserver failing, healthy;
    chain.device << failing;
    chain.device << healthy;
    DoneCounter done(failing);
    failing.throwOnFrame = 2;
    failing.setDoneTarget(10);
    chain.device.startProduction();
    for (uint64_t i = 1; i <= 4; ++i)
        writeFrame(chain.device, i);
    ASSERT_TRUE(done.waitCount(1)); // a stage that died does not hold a capture
    ASSERT_TRUE(healthy.waitFrames(4));
    chain.device.stopProduction(false);

    EXPECT_EQ(failing.lastErrorMessage(), "frame rejected");
    EXPECT_EQ(failing.frames(), (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(failing.stops.load(), 1);
    EXPECT_EQ(healthy.frames().size(), 4u);

    // The next start clears the error and reads again.
    failing.throwOnFrame = 0;
    chain.device.startProduction();
    EXPECT_EQ(failing.lastErrorMessage(), "");
    writeFrame(chain.device, 9);
    ASSERT_TRUE(failing.waitFrames(3));
    chain.device.stopProduction(false);
    EXPECT_FALSE(failing.lastError());
}

class ThrowingStart : public RecordingObserver {
public:
    void onStart() override { throw std::runtime_error("no start"); }
};

TEST(Observer, StartErrorSkipsOnStop) {
    Chain chain;
    ThrowingStart observer;
    chain.device << observer;
    chain.device.startProduction();
    ASSERT_TRUE(XEVTest::waitUntil([&] { return observer.lastError() != nullptr; }));
    chain.device.stopProduction(false);
    EXPECT_EQ(observer.lastErrorMessage(), "no start");
    EXPECT_EQ(observer.stops.load(), 0);
}

TEST(Observer, JoiningItselfIsTheThreadingLibrarysError) {
    class SelfJoin : public XEVObserver {
    public:
        void onNewFrame(const cv::Mat&, const XEVFrameInfo&) override { waitEndReading(); }
    };
    Chain chain;
    SelfJoin observer;
    chain.device << observer;
    chain.device.startProduction();
    writeFrame(chain.device, 1);
    ASSERT_TRUE(XEVTest::waitUntil([&] { return observer.lastError() != nullptr; }));
    chain.device.stopProduction(false);
    EXPECT_NE(observer.lastErrorMessage().find("trying joining itself"), std::string::npos)
        << observer.lastErrorMessage();
}

TEST(Filter, IsFinalUntilSomethingFollows) {
    PassThroughFilter filter;
    EXPECT_TRUE(filter.IsFinal());
    RecordingObserver end;
    filter << end;
    EXPECT_FALSE(filter.IsFinal());
    std::vector<XEVObserver*> ends;
    filter.FindFinalObservers(ends);
    EXPECT_EQ(ends, std::vector<XEVObserver*>{&end});
}

TEST(Filter, StopJoinsTheObserversBelowBeforeTheFilter) {
    std::atomic<int> order{0};
    Chain chain;
    PassThroughFilter filter;
    RecordingObserver end;
    filter.orderCounter = &order;
    end.orderCounter = &order;
    chain.device << filter << end;
    chain.device.startProduction();
    writeFrame(chain.device, 7);
    ASSERT_TRUE(end.waitFrames(1));
    chain.device.stopProduction(false);
    EXPECT_EQ(end.stopOrder.load(), 0);
    EXPECT_EQ(filter.stopOrder.load(), 1);
    EXPECT_EQ(end.frames(), std::vector<uint64_t>{7});
    EXPECT_EQ(end.pixels(), std::vector<int>{7});
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

TEST(Filter, StopJoinsEveryObserverThenRaisesTheFirstError) {
    class FailingStop : public RecordingObserver {
    public:
        void stopReading(bool reset) override {
            RecordingObserver::stopReading(reset);
            throw std::runtime_error("stop failed");
        }
    };
    Chain chain;
    RecordingObserver first, last;
    FailingStop failing;
    chain.device << first;
    chain.device << failing;
    chain.device << last;
    chain.device.startProduction();
    EXPECT_EQ(messageOf([&] { chain.device.stopProduction(false); }), "stop failed");
    EXPECT_FALSE(chain.device.isRunning());
    for (const RecordingObserver* observer :
         {&first, static_cast<RecordingObserver*>(&failing), &last}) {
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
