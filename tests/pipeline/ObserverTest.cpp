#include "RecordingObserver.h"

#include <gtest/gtest.h>

using namespace XEVLibrary;
using namespace XEVTest;

TEST(Observer, ThreadStateMisusesAreCriticalErrors) {
    const std::string attempted = "CriticalError : XEVObserver attempted to ";
    RecordingObserver observer;
    EXPECT_EQ(messageOf([&] { observer.stopReading(false); }),
              attempted + "stop reading without reading thread already running.");
    EXPECT_EQ(messageOf([&] { observer.waitEndReading(); }),
              attempted + "wait end of reading without reading thread already running.");
    // Without a source the thread ends at once, its error kept.
    observer.startReading();
    observer.waitEndReading();
    EXPECT_EQ(observer.lastErrorMessage(),
              attempted + "start reading without connection XEVFrameProducer source.");
    EXPECT_EQ(observer.starts.load() + observer.stops.load(), 0);
    Producer producer;
    producer << observer;
    producer.startProduction();
    EXPECT_EQ(messageOf([&] { observer.startReading(); }),
              attempted + "start reading while reading thread was already running.");
    producer.stopProduction(false);
}

TEST(Observer, DoneSignalFiresOnceAfterTheTargetFrameOfAFinalObserver) {
    Producer producer;
    PassThroughFilter filter;
    RecordingObserver end;
    producer << filter << end;
    DoneCounter filterDone(filter), endDone(end);
    filter.setDoneTarget(2); // not final: never fires
    end.setDoneTarget(5);
    producer.startProduction();
    for (uint64_t i = 1; i <= 8; ++i) {
        writeFrame(producer, i);
        ASSERT_TRUE(end.waitFrames(i));
        EXPECT_TRUE(i >= 5 || endDone.count.load() == 0) << "done after frame " << i;
    }
    producer.signalEndOfStream();
    ASSERT_TRUE(endDone.waitCount(1));
    producer.stopProduction(false);
    EXPECT_EQ(endDone.count.load(), 1);
    EXPECT_EQ(end.doneTarget(), 0u);
    EXPECT_EQ(filterDone.count.load(), 0);
    EXPECT_EQ(filter.doneTarget(), 2u);
}

TEST(Observer, EndOfStreamCompletesALossyFinalObserver) {
    Producer producer(3);
    PassThroughFilter filter(3);
    RecordingObserver slow;
    producer << filter << slow;
    DoneCounter done(slow);
    slow.setDoneTarget(50);
    producer.startProduction();
    slow.hold();
    for (uint64_t i = 1; i <= 50; ++i)
        writeFrame(producer, i);
    producer.signalEndOfStream();
    ASSERT_TRUE(slow.waitInside());
    EXPECT_EQ(done.count.load(), 0);
    slow.release();
    // The slow observer lost frames: it never counts 50, but it drains what
    // its FIFO still holds and is done.
    ASSERT_TRUE(done.waitCount(1));
    producer.stopProduction(false);
    EXPECT_LT(slow.frames().size(), 50u);
    EXPECT_EQ(slow.frames().back(), 50u);
    EXPECT_EQ(done.count.load(), 1);
}

TEST(Observer, AnErrorEndsOnlyItsOwnReadingThreadAndIsKept) {
    struct ThrowingStart : RecordingObserver {
        void onStart() override { throw std::runtime_error("no start"); }
    };
    struct SelfJoin : RecordingObserver {
        void onNewFrame(const cv::Mat&, const XEVFrameInfo&) override { waitEndReading(); }
    };
    Producer producer(6);
    RecordingObserver failing, healthy;
    ThrowingStart refusing;
    SelfJoin joining;
    for (XEVObserver* observer : std::vector<XEVObserver*>{&failing, &refusing, &joining, &healthy})
        producer << *observer;
    DoneCounter done(failing);
    failing.throwOnFrame = 2;
    failing.setDoneTarget(10);
    producer.startProduction();
    for (uint64_t i = 1; i <= 4; ++i)
        writeFrame(producer, i);
    ASSERT_TRUE(done.waitCount(1)); // a stage that died does not hold a capture
    ASSERT_TRUE(healthy.waitFrames(4));
    ASSERT_TRUE(waitUntil([&] { return refusing.lastError() && joining.lastError(); }));
    producer.stopProduction(false);
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
    producer.startProduction();
    EXPECT_EQ(failing.lastErrorMessage(), "");
    writeFrame(producer, 9);
    ASSERT_TRUE(failing.waitFrames(3));
    producer.stopProduction(false);
    EXPECT_FALSE(failing.lastError());
}

TEST(Filter, AStageThatCannotStartLeavesNothingRunning) {
    struct Refusing : RecordingObserver {
        void startReading() override { throw std::runtime_error("no thread for this stage"); }
    };
    // The filter's own thread started before its observer refused: it stops too.
    Producer producer;
    PassThroughFilter filter;
    Refusing refusing;
    producer << filter << refusing;
    finishesWithin("a failed start", [&] {
        EXPECT_EQ(messageOf([&] { producer.startProduction(); }), "no thread for this stage");
    });
    EXPECT_FALSE(producer.isRunning());
    EXPECT_FALSE(filter.hasReadingThread());
    EXPECT_FALSE(filter.isRunning());
}

TEST(Filter, StopJoinsEveryStageBelowFirstThenRaisesTheFirstError) {
    struct FailingStop : RecordingObserver {
        void stopReading(bool reset) override {
            RecordingObserver::stopReading(reset);
            throw std::runtime_error("stop failed");
        }
    };
    Producer producer(5);
    RecordingObserver first, end;
    FailingStop failing;
    PassThroughFilter filter;
    producer << first;
    producer << failing;
    producer << filter << end;
    producer.startProduction();
    writeFrame(producer, 7);
    ASSERT_TRUE(end.waitFrames(1));
    EXPECT_EQ(messageOf([&] { producer.stopProduction(false); }), "stop failed");
    EXPECT_FALSE(producer.isRunning());
    // The observers below a filter stop before it.
    EXPECT_GE(end.stoppedAt.load(), 0);
    EXPECT_LT(end.stoppedAt.load(), filter.stoppedAt.load());
    EXPECT_FALSE(filter.hasReadingThread());
    EXPECT_EQ(end.frames(), std::vector<uint64_t>{7});
    for (const RecordingObserver* observer :
         {&first, static_cast<RecordingObserver*>(&failing), &end}) {
        EXPECT_FALSE(observer->hasReadingThread());
        EXPECT_EQ(observer->stops.load(), 1);
    }
}

TEST(ObserverDeathTest, DestroyingAReadingObserverIsFatal) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the misuse is itself a race, which the thread sanitizer reports first";
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
