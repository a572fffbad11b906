// Once the stage knows the frame window, correcting a frame allocates
// nothing: counted at malloc and its relatives (where the image library and
// operator new both end). Not built under the sanitizers, whose allocators
// the counter cannot replace.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

#include "MallocCounter.h"
#include "NucTestUtil.h"

using namespace XEVNucTest;

TEST(InterpolatedNucAllocation, CorrectingAFrameAllocatesNothing) {
    TempTree tree;
    tree.write("a/NUCFactory_1000.yml",
               singleTable(2, 3, "1, 2, 3, 4, 5, 6", "1., 1., 1., 1., 1., 1."));
    tree.write("a/NUCFactory_2000.yml",
               singleTable(2, 3, "1, 2, 3, 4, 5, 6", "2., 2., 2., 2., 2., 2."));
    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    ASSERT_TRUE(device.announceNuc("a", 1500.0));
    const cv::Mat whole = flatFrame(2, 3, 900), larger = flatFrame(4, 5, 900);
    cv::Mat out;
    const auto steady = [&](const cv::Mat& frame, const XEVFrameInfo& info) {
        stage.process(frame, out, info); // the window is learnt here
        XEVTest::MallocCounter::start();
        for (int i = 0; i < 20; ++i)
            stage.process(frame, out, info);
        return XEVTest::MallocCounter::stop();
    };
    EXPECT_EQ(steady(whole, XEVFrameInfo()), 0u) << "the whole table";
    EXPECT_EQ(steady(larger, at(1, 1)), 0u) << "partly outside the table";
    // Frame pixel (0, 0) is table pixel (1, 1): (900 - 5) x 1.5 = 1342.5.
    EXPECT_EQ(pixels(out)[0], 2342);

    // Through the stage's own FIFO, as on its reading thread (nobody reads
    // it here: a reader's copies would count too).
    stage.startProduction();
    stage.onNewFrame(whole, XEVFrameInfo());
    XEVTest::MallocCounter::start();
    for (int i = 0; i < 20; ++i)
        stage.onNewFrame(whole, XEVFrameInfo());
    const std::size_t allocations = XEVTest::MallocCounter::stop();
    stage.stopProduction(true);
    EXPECT_EQ(allocations, 0u) << "through the FIFO";
}

TEST(InterpolatedNucAllocation, CountingSeesTheImageLibrarysAllocations) {
    // The checks above are only worth something if a matrix allocation counts.
    XEVTest::MallocCounter::start();
    { cv::Mat m(64, 64, CV_8UC1); }
    EXPECT_GE(XEVTest::MallocCounter::stop(), 1u);
}

#endif
