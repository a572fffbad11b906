// The calibration tool writes a tree that the stage loads.
#include "NucTestUtil.h"

#include "toolbox/NucTableText.h"

#include <sys/wait.h>

using namespace XEVNucTest;

TEST(NucCalibrateTool, WritesATreeTheStageLoads) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitized tool takes far longer than a test may; the default build runs it";
#endif
    const std::string tool = XEV_TEST_BINARY_DIR "/tools/xev-nuc-calibrate";
    if (!fs::exists(tool))
        GTEST_SKIP() << "the tools are not built";
    TempTree tree;
    const std::string log = tree.base() + "/log.txt";
    int status = -1;
    XEVTest::finishesWithin("xev-nuc-calibrate", [&] {
        status = std::system((tool + " --out " + tree.base() +
                              " --exposures 1000,2000 --frames 1 > " + log + " 2>&1")
                                 .c_str());
    });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(log);

    // The path an emulated Kestrel announces at power-on.
    const std::string directory = "120MHz/Log/Standard/T_15/";
    const std::string text = readFile(log);
    EXPECT_NE(text.find(tree.nuc(directory + "NUCFactory_1000.yml") + "\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Loaded 2 tables of " + directory), std::string::npos) << text;
    detail::Nuc table;
    detail::parseNucTextFile(tree.nuc(directory + "NUCFactory_2000.yml"), table);
    EXPECT_EQ(table.rows, 512);
    EXPECT_EQ(table.cols, 640);

    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    EXPECT_EQ(stage.tableCount(), 2u);
    EXPECT_TRUE(device.announceNuc(directory, 1200.0));
    EXPECT_EQ(stage.currentExposure(), 1200.0);
    // The caches were written by the tool's own check.
    EXPECT_TRUE(fs::exists(tree.bin(directory + "NUCFactory_1000.nuc")));
}
