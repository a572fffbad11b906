#include "RecordingObserver.h"

#include "XEVException.h"

#include <gtest/gtest.h>

#include <future>
#include <limits>

using namespace XEVLibrary;
using namespace XEVTest;

const std::string Refused = "Error : For XEVFrameProducer, ";

TEST(FrameProducer, ConnectionRules) {
    Producer producer(3);
    RecordingObserver first, second, third;
    producer << first;
    producer << first; // the same observer twice stays one entry
    producer << second;
    EXPECT_EQ(producer.observerCount(), 2u);
    EXPECT_EQ(messageOf([&] { producer << third; }),
              Refused + "Fifo Size(3) < Number of Observers(2) + 2, increase Fifo Size or "
                        "decrease Number of Observers.");
    EXPECT_EQ(third.source(), nullptr);
    producer.startProduction();
    EXPECT_EQ(messageOf([&] { second.disconnect(); }),
              Refused +
                  "impossible to disconnect a XEVObserver while XEVFrameProducer is running.");
    EXPECT_EQ(second.source(), &producer);
    Producer other;
    other.startProduction();
    EXPECT_EQ(messageOf([&] { other << third; }),
              Refused + "impossible to connect another XEVObserver while XEVFrameProducer is "
                        "running.");
    EXPECT_EQ(other.observerCount(), 0u);
    producer.stopProduction(false);
    second.disconnect();
    EXPECT_EQ(producer.observerCount(), 1u);
}

TEST(FrameProducer, FrameFormats) {
    XEVFrameProducer producer(3);
    EXPECT_EQ(messageOf([&] { producer.lockFrameForWrite(); }),
              Refused + "a frame format must be set before a frame is written.");
    EXPECT_FALSE(producer.ensureFrameFormat(64, 32, CV_16UC1, 0));
    EXPECT_TRUE(producer.ensureFrameFormat(64, 32, CV_16UC1, 0)); // kept
    // Changing only the flags reallocates; the info line row lies after the
    // image view, inside the buffer.
    EXPECT_FALSE(producer.ensureFrameFormat(64, 32, CV_16UC1, XEVFrameProducer::FLAG_INFO_LINE));
    EXPECT_EQ(producer.slotBufferSize(), 64u * 33u * 2u);
    cv::Mat* image = producer.lockFrameForWrite();
    EXPECT_EQ(image->size(), cv::Size(64, 32));
    EXPECT_TRUE(image->isContinuous());
    image->data[64 * 33 * 2 - 1] = 0x5A;
    producer.cancelWriting();
    // A buffer that cannot hold the frame, or its info line row, is refused.
    EXPECT_EQ(messageOf([&] { producer.ensureFrameFormat(640, 512, CV_16UC1, 640 * 512, 0); }),
              Refused + "buffer size(327680) cannot hold a frame of 640x512 type(2).");
    EXPECT_ANY_THROW(producer.ensureFrameFormat(16, 16, CV_8UC1, 16 * 16, 1));
    EXPECT_NO_THROW(producer.ensureFrameFormat(16, 16, CV_8UC1, 1024, 1));
    // (2^31 - 1)^2 x 512 bytes wraps a 64-bit product to a negative size.
    const int huge = std::numeric_limits<int>::max();
    EXPECT_EQ(messageOf([&] { producer.ensureFrameFormat(huge, huge, CV_8UC(512), 1024, 0); }),
              Refused + "invalid frame format 2147483647x2147483647 type(4088) size(1024).");
    EXPECT_THROW(producer.ensureFrameFormat(huge, huge, CV_16UC1, 0), XEVException);
    EXPECT_EQ(producer.frameWidth(), 16); // unchanged
}

TEST(FrameProducer, NumberingWrapsAroundWithoutReaders) {
    finishesWithin("writes without readers", [] {
        Producer producer(3);
        for (int i = 0; i < 4; ++i)
            writeFrame(producer, i);
        EXPECT_EQ(producer.oldestFrameNumber(), 1);
        EXPECT_EQ(producer.writeCounter(), 4);
        // A cancelled write, or a commit or cancel without a reservation, counts nothing.
        producer.lockFrameForWrite();
        producer.cancelWriting();
        producer.unlockFrameForWrite(XEVFrameInfo());
        producer.cancelWriting();
        EXPECT_EQ(producer.writeCounter(), 4);
    });
}

TEST(FrameProducer, StopWithResetRestartsNumbering) {
    for (bool reset : {false, true}) {
        RunningProducer run;
        writeFrame(run.producer, 1);
        ASSERT_TRUE(run.observer.waitFrames(1));
        run.producer.stopProduction(reset);
        EXPECT_EQ(run.producer.writeCounter(), reset ? 0 : 1) << "reset " << reset;
    }
}

TEST(FrameProducer, WriterSkipsTheSlotAReaderHolds) {
    finishesWithin("writes beside a held slot", [] {
        RunningProducer run;
        XEVFrameProducer& producer = run.producer;
        run.observer.hold();
        writeFrame(producer, 100); // producer frame 0, slot 0, held by the reader
        ASSERT_TRUE(run.observer.waitInside());
        writeFrame(producer, 101); // slot 1
        writeFrame(producer, 102); // slot 2
        cv::Mat* image = producer.lockFrameForWrite();
        EXPECT_EQ(producer.writeCounter(), 4); // number 3 would land in the held slot 0
        image->setTo(cv::Scalar::all(103));
        XEVFrameInfo info;
        info.frameNumber = 103;
        producer.unlockFrameForWrite(info);
        EXPECT_EQ(producer.oldestFrameNumber(), 2);
        run.observer.release();
        ASSERT_TRUE(run.observer.waitFrames(3));
        producer.stopProduction(false);
        // The reader jumps to the oldest frame still held, never reads the number
        // the writer skipped (its slot still holds frame 100), never sees a frame
        // twice, and always gets the pixels that belong to the record.
        EXPECT_EQ(run.observer.frames(), (std::vector<uint64_t>{100, 102, 103}));
    });
}

TEST(FrameProducer, WriterNeverBlocksOnASlowReader) {
    finishesWithin("writes beside a slow reader", [] {
        RunningProducer run(4);
        RecordingObserver& slow = run.observer;
        slow.hold();
        writeFrame(run.producer, 1);
        ASSERT_TRUE(slow.waitInside());
        auto writer = std::async(std::launch::async, [&] {
            for (uint64_t i = 2; i < 2002; ++i)
                writeFrame(run.producer, i);
        });
        EXPECT_EQ(writer.wait_for(DefaultDeadline), std::future_status::ready);
        slow.release();
        writer.get();
        ASSERT_TRUE(waitUntil([&] { return slow.frames().back() == 2001; }));
        run.producer.stopProduction(false);
        // After the gap the reader starts at the oldest frame the FIFO still held.
        const auto frames = slow.frames();
        ASSERT_GE(frames.size(), 2u);
        EXPECT_EQ(frames[0], 1u);
        EXPECT_EQ(frames[1], 2001u - 2u);
    });
}

TEST(FrameProducer, FormatChangeWaitsForReadersToLeave) {
    finishesWithin("a format change beside a reader", [] {
        RunningProducer run;
        run.observer.hold();
        writeFrame(run.producer, 1);
        ASSERT_TRUE(run.observer.waitInside());
        auto change = std::async(std::launch::async, [&] {
            return run.producer.ensureFrameFormat(16, 16, CV_16UC1, 0);
        });
        EXPECT_EQ(change.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        run.observer.release();
        ASSERT_EQ(change.wait_for(DefaultDeadline), std::future_status::ready);
        EXPECT_FALSE(change.get());
        EXPECT_EQ(run.producer.writeCounter(), 0);
        // The reader follows the new numbering from its start.
        writeFrame(run.producer, 2);
        ASSERT_TRUE(run.observer.waitFrames(2));
        run.producer.stopProduction(false);
        EXPECT_EQ(run.observer.frames(), (std::vector<uint64_t>{1, 2}));
    });
}

TEST(FrameProducer, FindFinalObserversListsChainEndsDepthFirst) {
    XEVFrameProducer device(4);
    PassThroughFilter filter;
    RecordingObserver a, b, plain;
    device << filter;
    device << plain;
    const auto finals = [](auto& producer) {
        std::vector<XEVObserver*> ends;
        producer.FindFinalObservers(ends);
        return ends;
    };
    EXPECT_EQ(finals(device), (std::vector<XEVObserver*>{&filter, &plain}));
    filter << a;
    filter << b;
    EXPECT_EQ(finals(device), (std::vector<XEVObserver*>{&a, &b, &plain}));
}

TEST(FrameProducer, DestroyingARunningProducerStopsItsGraphFirst) {
    RecordingObserver observer;
    {
        Producer producer(3);
        producer << observer;
        producer.startProduction();
        writeFrame(producer, 1);
        ASSERT_TRUE(observer.waitFrames(1));
    }
    EXPECT_EQ(observer.source(), nullptr);
    EXPECT_FALSE(observer.hasReadingThread());
    EXPECT_EQ(observer.stops.load(), 1);
}
