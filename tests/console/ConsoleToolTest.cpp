// xev-console end to end: a script piped into the tool with emulated
// cameras, its output and exit status; a hung tool is killed.

#include "ConsoleFixture.h"

#include "CameraAddress.h"

#include <boost/regex.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

using namespace XEVTest;

namespace {

struct ToolRun {
    bool ended = false; ///< false: killed at the deadline
    int status = -1;    ///< exit status when it ended normally
    std::string out, err;
};

/// Runs xev-console with @p arguments, @p script on its standard input;
/// kills it when it has not ended within @p deadline.
ToolRun runTool(const std::vector<std::string>& arguments, const std::string& script,
                std::chrono::milliseconds deadline = DefaultDeadline) {
    const std::string program = XEV_TEST_BINARY_DIR "/tools/xev-console";
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // The tool's own choice of diagnostics output is under test.
    std::vector<char*> env;
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "XEV_LOG=", 8) != 0)
            env.push_back(*variable);
    env.push_back(nullptr);

    int in[2], out[2], err[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    ToolRun run;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << program << ": " << std::strerror(spawned);
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return run;
    }

    // Scripts are short: the pipe holds them whole, read or not. A tool that
    // refused its options may have closed it already.
    signal(SIGPIPE, SIG_IGN);
    if (write(in[1], script.data(), script.size()) < 0) {
        EXPECT_EQ(errno, EPIPE);
    }
    close(in[1]);
    std::string* sinks[] = {&run.out, &run.err};
    int outputs[] = {out[0], err[0]};
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (outputs[0] >= 0 || outputs[1] >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fds[] = {{outputs[0], POLLIN, 0}, {outputs[1], POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t n = read(outputs[i], buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(outputs[i]);
                outputs[i] = -1;
            }
        }
    }
    const bool hung = outputs[0] >= 0 || outputs[1] >= 0;
    if (hung)
        kill(pid, SIGKILL);
    for (int fd : outputs)
        if (fd >= 0)
            close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    run.ended = !hung && WIFEXITED(status);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

/// @p text matches @p pattern from its start (ECMAScript-like syntax).
::testing::AssertionResult startsWith(const std::string& text, const std::string& pattern) {
    if (boost::regex_search(text, boost::regex(pattern), boost::match_continuous))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << text << "\"\ndoes not start with\n" << pattern;
}

std::string quoted(const std::string& text) {
    return boost::regex_replace(text, boost::regex(R"([.*+?^${}()|\[\]\\])"), R"(\\$&)");
}

} // namespace

TEST(ConsoleTool, ScriptOnAnEmulatedGigeCamera) {
    const std::string address = cameraAddress();
    const ToolRun run =
        runTool({"--gige", address + ":KestrelGigE"}, "list\n"
                                                      "open 0\n"
                                                      "manual\n"
                                                      "set 'Exposure Time' '100 us'\n"
                                                      "setFps 50\n"
                                                      "fps\n"
                                                      "capture 5 # a tenth of a second\n"
                                                      "waitEndCapture\n"
                                                      "quit\n"
                                                      "this line is never read\n");
    ASSERT_TRUE(run.ended) << "killed: " << run.out;
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string prompt = "XEV@KestrelGigE> ";
    EXPECT_TRUE(startsWith(run.out, quoted(ManagerBanner + ManagerPrompt + Dashes + "\n") +
                                        R"( 0\. GIGE -- KestrelGigE : GE[0-9A-F]{6}\n)" +
                                        quoted(Dashes + "\n" + ManagerPrompt + DeviceBanner) +
                                        quoted(prompt) + R"([\s\S]*)" +
                                        quoted(prompt + prompt + prompt) +
                                        R"(\[MinFps = \d+\]---\[Fps = 50\]---\[MaxFps = \d+\]\n)" +
                                        quoted(prompt + prompt + prompt) + R"(\z)"));
    // The manual lists the camera's features.
    EXPECT_NE(run.out.find("ExposureTime"), std::string::npos);
    // The library's diagnostics went to standard error.
    EXPECT_NE(run.err.find("Instantiating Device SN: GE"), std::string::npos) << run.err;
}

TEST(ConsoleTool, EndOfInputEndsTheToolAndUnitsReachTheTerminalInUtf8) {
    const ToolRun run =
        runTool({"--usb", "Kestrel", "--usb", "Heron"},
                "list\nopen 0\nmanual\nset 'Exposure Time' '300 \xC2\xB5s'\nconfig\n");
    ASSERT_TRUE(run.ended) << "killed: " << run.out;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(startsWith(run.out, quoted(ManagerBanner + ManagerPrompt + Dashes + "\n") +
                                        R"( 0\. USB 3\.0 -- Kestrel : (\d+)\n)" +
                                        R"( 1\. USB 3\.0 -- Heron : (\d+)\n)"));
    // Two cameras, two serial numbers.
    boost::smatch serials;
    ASSERT_TRUE(
        boost::regex_search(run.out, serials, boost::regex(R"(Kestrel : (\d+)\n.*Heron : (\d+))")));
    EXPECT_NE(serials[1].str(), serials[2].str());
    EXPECT_NE(run.out.find("\"ns,us,\xC2\xB5s,ms,s\""), std::string::npos);
    EXPECT_NE(run.out.find("Exposure Time              :300us\n"), std::string::npos);
    // No Latin-1 micro sign is left alone.
    for (std::size_t at = run.out.find('\xB5'); at != std::string::npos;
         at = run.out.find('\xB5', at + 1))
        EXPECT_TRUE(at > 0 && run.out[at - 1] == '\xC2') << at;
    // The end of input ends the device loop on a line end, and the tool.
    const std::string last = "XEV@Kestrel> \n";
    ASSERT_GE(run.out.size(), last.size());
    EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last);
}

TEST(ConsoleTool, OptionsAreCheckedBeforeAnythingStarts) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string err;
    };
    const std::vector<Case> cases{
        {{"--usb", "Osprey"}, 2, "xev-console: --usb: unknown model Osprey\n"},
        {{"--gige", "127.0.0.300"},
         2,
         "xev-console: --gige 127.0.0.300: 127.0.0.300 is not an IPv4 address\n"},
        {{"--gige", "127.0.0.2:Osprey"},
         2,
         "xev-console: --gige 127.0.0.2:Osprey: unknown model Osprey\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = runTool(c.arguments, "list\n");
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.status, c.status) << c.arguments[0];
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
    const ToolRun help = runTool({"--help"}, "");
    ASSERT_TRUE(help.ended);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(startsWith(help.out, "Usage: xev-console \\[options\\]"));
    EXPECT_NE(help.out.find("--gige arg"), std::string::npos);
}
