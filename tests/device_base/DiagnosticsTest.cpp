#include "device/Diagnostics.h"
#include "DiagnosticsCapture.h"
#include "XEVManager.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace XEVLibrary;
using detail::DiagnosticKind;
using Output = XEVManager::DiagnosticsOutput;
namespace gtest = testing::internal;

namespace {

/// What one information line and one error line leave on each stream.
const std::string Info = ": Invalid infoLine 0\n", Error = "stopped on error: gone\n";

class Diagnostics : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("XEV_LOG");
        detail::resetDiagnostics();
    }
    void TearDown() override { SetUp(); }
    static void expectWritten(const std::string& out, const std::string& err, const char* when) {
        gtest::CaptureStdout();
        gtest::CaptureStderr();
        detail::diagnostic(DiagnosticKind::Information, ": Invalid infoLine 0");
        detail::diagnosticf(DiagnosticKind::Error, "stopped on error: %s", "gone");
        EXPECT_EQ(gtest::GetCapturedStdout(), out) << when;
        EXPECT_EQ(gtest::GetCapturedStderr(), err) << when;
    }
};

} // namespace

TEST_F(Diagnostics, GoWhereTheApplicationSays) {
    expectWritten(Info, Error, "by default");
    XEVManager::setDiagnosticsOutput(Output::Quiet);
    expectWritten("", "", "quiet");
    XEVManager::setDiagnosticsOutput(Output::StandardError);
    expectWritten("", Info + Error, "standard error");
    XEVManager::setDiagnosticsOutput(Output::StandardOutput);
    expectWritten(Info + Error, "", "standard output");
    {
        XEVTest::DiagnosticsCapture capture; // a handler takes them all
        expectWritten("", "", "handler");
        EXPECT_EQ(capture.text(), Info + Error);
    }
    expectWritten(Info + Error, "", "the output set before the handler");
}

TEST_F(Diagnostics, TheEnvironmentChoosesTheOutputFirst) {
    const std::tuple<const char*, std::string, std::string> cases[] = {{"quiet", "", ""},
                                                                       {"stdout", Info + Error, ""},
                                                                       {"stderr", "", Info + Error},
                                                                       {"nonsense", Info, Error}};
    for (const auto& [value, out, err] : cases) {
        setenv("XEV_LOG", value, 1);
        detail::resetDiagnostics();
        expectWritten(out, err, value);
    }
}
