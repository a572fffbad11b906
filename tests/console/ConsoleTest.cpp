// The console through string streams: its texts byte for byte, its patterns'
// limits, its errors, and the calls it makes on a recording device.

#include "ConsoleFixture.h"

using namespace XEVTest;

namespace {

const std::string HelpChoose = " help\n"
                               "\tDisplay this message.\n"
                               " list\n"
                               "\tList connected XEV Device.\n"
                               " open\n"
                               "\tOpen device number 0 if exist (equivalent\n"
                               "\tto XEVManager::openOneDevice()).\n"
                               " open <number>\n"
                               "\tOpen device number <number> if exist.\n"
                               " listModels\n"
                               "\tList all models known by this version.\n"
                               " forceModel <number> '<modelId>'\n"
                               "\tForce model of device <number> to <modelId>\n"
                               "\t(ex: \"forceModel 0 'Plover320'\").\n"
                               " setFifoSize <number>\n"
                               "\tSet fifoSize to <number> for next\n"
                               "\tDevice opening.\n";

const std::string HelpControl = " help\n"
                                "\tDisplay this message.\n"
                                " manual\n"
                                "\tDisplay device's properties and list his\n"
                                "\tparameters and their possible values.\n"
                                " config\n"
                                "\tDisplay device's parameters and their\n"
                                "\tcurrent value.\n"
                                " fps\n"
                                "\tDisplay current fps range and fps value.\n"
                                " set '<paramName>' '<paramValue>'\n"
                                "\tSet parameter <paramName> to <paramValue>.\n"
                                " setFps <integer>\n"
                                "\tSet fps value to <integer>.\n"
                                " start\n"
                                "\tStart capture.\n"
                                " stop\n"
                                "\tStop capture.\n"
                                " capture <numberOfFrame>\n"
                                "\tCapture <numberOfFrame> frames.\n"
                                " startFor <duration>\n"
                                "\tCapture during <duration> milliseconds.\n"
                                " waitEndCapture\n"
                                "\tWait for end of current capture if device is capturing.\n"
                                " quit\n"
                                "\tBreak this interactive loop.\n";

// min 4.2 rounded up, 24.9 truncated, 223.7 rounded down.
const std::string RecordingFps = "[MinFps = 5]---[Fps = 24]---[MaxFps = 223]\n";
const std::string RecordingPrompt = "XEV@Osprey> ";

/// A console without cameras: the manager lists none (no emulated camera is
/// plugged, and the test machine has no real one).
class ConsoleWithoutCameras : public ::testing::Test {
protected:
    void TearDown() override {
        finishesWithin("destroying the manager", [] { XEVManager::destroyInstance(); });
    }
};

} // namespace

TEST(ConsoleTexts, BannersHaveFiveLinesOf54Characters) {
    for (const std::string& banner : {ManagerBanner, DeviceBanner}) {
        std::istringstream lines(banner);
        int count = 0;
        for (std::string line; std::getline(lines, line); ++count)
            EXPECT_EQ(line.size(), 54u) << line;
        EXPECT_EQ(count, 5);
    }
}

TEST(ConsoleTexts, HelpTextsAndEndOfInput) {
    std::istringstream none;
    std::ostringstream ignored;
    XEVCommandLineUI console(none, ignored);
    EXPECT_EQ(console.helpChoose(), HelpChoose);
    EXPECT_EQ(console.helpControl(), HelpControl);

    // The end of input ends the manager loop with no device, after a line end.
    Session session = runConsole("help # what can I do?\n");
    EXPECT_EQ(session.output, ManagerBanner + ManagerPrompt + HelpChoose + ManagerPrompt + "\n");
    EXPECT_EQ(session.opened, nullptr);
    EXPECT_EQ(runConsole("").output, ManagerBanner + ManagerPrompt + "\n");

    RecordingDevice device;
    session = runDeviceLoop(device, "   help\t\nhelp");
    EXPECT_EQ(session.output, DeviceBanner + RecordingPrompt + HelpControl + RecordingPrompt +
                                  HelpControl + RecordingPrompt + "\n");
    EXPECT_TRUE(device.calls.empty());
}

TEST_F(ConsoleWithoutCameras, ManagerLoopPatternsAndErrors) {
    const std::vector<Exchange> exchanges{
        {"", ""},
        {"   \t ", ""},
        {"# a comment alone", ""},
        {"  # an indented one", ""},
        {"list", Dashes + "\n" + Dashes + "\n"},
        {"  list   # twice", Dashes + "\n" + Dashes + "\n"},
        {"open", "Error : No device connected.\n"},
        {"open 5", noDevice(5, 0)},
        {"open 99", noDevice(99, 0)},
        {"open 100", Unrecognized},
        {"open  5", Unrecognized},
        {"open -1", Unrecognized},
        {"open 5 6", Unrecognized},
        {"listModels", noDevice(0, 0)},
        {"forceModel 7 'Kestrel'", noDevice(7, 0)},
        {"forceModel 100 'Kestrel'", Unrecognized},
        {"forceModel 7 Kestrel", Unrecognized},
        {"forceModel 7 ''", Unrecognized},
        {"setFifoSize 9999999", ""},
        {"setFifoSize 12345678", Unrecognized},
        {"HELP", Unrecognized},
        {"lists", Unrecognized},
        {"list models", Unrecognized},
        {"help; list", Unrecognized},
        {"quit", Unrecognized}, // not a command of this loop
    };
    const Session session = runConsole(scriptOf(exchanges));
    EXPECT_EQ(session.output,
              ManagerBanner + answersOf(exchanges, ManagerPrompt) + ManagerPrompt + "\n");
    EXPECT_EQ(session.opened, nullptr);
}

TEST(ConsoleDeviceLoop, CommandsReachTheDeviceAsTyped) {
    struct Case {
        std::string line;
        std::string answer;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases{
        {"set 'Exposure Time' '100 us'", "", {"SetParamValueOf(Exposure Time='100 us' apply)"}},
        {"  set 'Gain' ' 2.5 '  # spaces kept", "", {"SetParamValueOf(Gain=' 2.5 ' apply)"}},
        {"set 'Gain' '#1'", "", {"SetParamValueOf(Gain='#1' apply)"}},
        {"set 'Gain' ''", Unrecognized, {}},
        {"set 'Exposure Time' 100us", Unrecognized, {}},
        {"set Gain '1'", Unrecognized, {}},
        {"setFps 99999", "", {"SetFps(99999.000000 apply)"}},
        {"setFps 0", "", {"SetFps(0.000000 apply)"}},
        {"setFps 123456", Unrecognized, {}},
        {"setFps 2.5", Unrecognized, {}},
        {"start", "", {"Start()"}},
        {"stop", "", {"Stop(keep)"}},
        {"capture 999999999999999999", "", {"CaptureNFrames(999999999999999999 wait)"}},
        {"capture 0", "", {"CaptureNFrames(0 wait)"}},
        {"capture 1234567890123456789", Unrecognized, {}},
        {"capture", Unrecognized, {}},
        {"startFor 999999999999999999", "", {"CaptureForDuration(999999999999999999 wait)"}},
        {"startFor 1234567890123456789", Unrecognized, {}},
        {"waitEndCapture", "", {"WaitEndCapture(-1)"}},
        {"fps", RecordingFps, {}},
        {"fps # again", RecordingFps, {}},
        {"manual", "A manual without line end\n", {}},
        {"# nothing", "", {}},
        {"", "", {}},
        {"list", Unrecognized, {}}, // not a command of this loop
        {"quitter", Unrecognized, {}},
    };
    RecordingDevice device;
    std::string script, expected = DeviceBanner;
    std::vector<std::string> expectedCalls;
    for (const Case& c : cases) {
        script += c.line + "\n";
        expected += RecordingPrompt + c.answer;
        expectedCalls.insert(expectedCalls.end(), c.calls.begin(), c.calls.end());
    }
    const Session session = runDeviceLoop(device, script + "quit # done\nhelp\n");
    EXPECT_EQ(session.output, expected + RecordingPrompt);
    EXPECT_EQ(device.calls, expectedCalls);
    EXPECT_EQ(session.rest, "help\n"); // the loop read nothing after quit

    RecordingDevice other;
    EXPECT_EQ(runDeviceLoop(other, "  exit  \nhelp\n").rest, "help\n");
}

TEST(ConsoleDeviceLoop, ErrorsAreShownAndTheLoopGoesOn) {
    RecordingDevice device;
    device.failures["SetParamValueOf"] = [] {
        XEVException::throwError("For XEVDevice(%s), param(%s) does not exist.", "Osprey", "Gian");
    };
    device.failures["Start"] = [] { throw std::runtime_error("send_to: Network is unreachable"); };
    device.failures["WaitEndCapture"] = [] {
        XEVException::throwCriticalError("The capture thread ended: %s", "bulk read failed");
    };
    const Session session =
        runDeviceLoop(device, "set 'Gian' '2'\nstart\nwaitEndCapture\nfps\nexit\n");
    EXPECT_EQ(session.output, DeviceBanner + RecordingPrompt +
                                  "Error : For XEVDevice(Osprey), param(Gian) does not exist.\n" +
                                  RecordingPrompt + "send_to: Network is unreachable\n" +
                                  RecordingPrompt +
                                  "CriticalError : The capture thread ended: bulk read failed\n" +
                                  RecordingPrompt + RecordingFps + RecordingPrompt);
    EXPECT_EQ(device.calls, (std::vector<std::string>{"SetParamValueOf(Gian='2' apply)", "Start()",
                                                      "WaitEndCapture(-1)"}));
}

TEST(ConsoleDeviceLoop, ConfigPadsNamesToTheLongestAndEndsWithFps) {
    RecordingDevice device;
    std::istringstream none;
    std::ostringstream ignored;
    XEVCommandLineUI console(none, ignored);
    // "Trigger Delay Output" is the longest name: 20 characters.
    EXPECT_EQ(console.config(device), "Gain                 :1.00\n"
                                      "Exposure Time        :2ms\n"
                                      "Trigger Delay Output :-10.0us\n" +
                                          RecordingFps + std::string(27, '-') + "\n");
    device.minFps = 1.0;
    device.fps = 100.0;
    device.maxFps = 100.0;
    EXPECT_EQ(console.fps(device), "[MinFps = 1]---[Fps = 100]---[MaxFps = 100]\n");
    device.values["Gain"] = "\xB5"; // Latin-1 texts pass as they are
    EXPECT_EQ(runDeviceLoop(device, "config\nquit").output,
              DeviceBanner + RecordingPrompt + "Gain                 :\xB5\n" +
                  "Exposure Time        :2ms\n"
                  "Trigger Delay Output :-10.0us\n" +
                  console.fps(device) + std::string(27, '-') + "\n" + RecordingPrompt);
}

TEST(ConsoleDeviceLoop, LineEndsAndLongLines) {
    RecordingDevice device;
    // CRLF scripts: the carriage return goes with the line end.
    Session session = runDeviceLoop(device, "fps\r\nstart # go\r\nquit # done\r\nhelp\r\n");
    EXPECT_EQ(session.output,
              DeviceBanner + RecordingPrompt + RecordingFps + RecordingPrompt + RecordingPrompt);
    EXPECT_EQ(session.rest, "help\r\n");
    EXPECT_EQ(device.calls, std::vector<std::string>{"Start()"});

    // A long comment is a comment; a line past 64 KiB is refused whole, and
    // the next line is read as usual.
    const std::string comment = "# " + std::string(60000, 'x') + "\n";
    const std::string blanks = std::string(60000, ' ') + "fps" + std::string(5000, ' ') + "\n";
    const std::string tooLong = "start " + std::string(70000, ' ') + "\n";
    session = runDeviceLoop(device, comment + blanks + tooLong + "fps\nquit\n");
    EXPECT_EQ(session.output, DeviceBanner + RecordingPrompt + RecordingPrompt + RecordingFps +
                                  RecordingPrompt + Unrecognized + RecordingPrompt + RecordingFps +
                                  RecordingPrompt);
    EXPECT_EQ(device.calls, std::vector<std::string>{"Start()"});

    // A last line without line end is still a command.
    session = runDeviceLoop(device, "fps");
    EXPECT_EQ(session.output,
              DeviceBanner + RecordingPrompt + RecordingFps + RecordingPrompt + "\n");
}
