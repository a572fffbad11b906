#include "device/Diagnostics.h"
#include "DiagnosticsCapture.h"
#include "XEVManager.h"
#include "usb/XEVTransfert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace XEVLibrary;
using detail::DiagnosticKind;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

/// What one information line and one error line leave on each stream.
struct Streams {
    std::string out, err;
};

const std::string Info = ": Invalid infoLine 0\n";
const std::string Error = "stopped on error: gone\n";

Streams written() {
    CaptureStdout();
    CaptureStderr();
    detail::diagnostic(DiagnosticKind::Information, ": Invalid infoLine 0");
    detail::diagnosticf(DiagnosticKind::Error, "stopped on error: %s", "gone");
    Streams streams;
    streams.out = GetCapturedStdout();
    streams.err = GetCapturedStderr();
    return streams;
}

class Diagnostics : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv("XEV_LOG");
        detail::resetDiagnostics();
    }
    void expectWritten(const std::string& out, const std::string& err, const std::string& when) {
        const Streams s = written();
        EXPECT_EQ(s.out, out) << when;
        EXPECT_EQ(s.err, err) << when;
    }
};

} // namespace

TEST_F(Diagnostics, GoWhereTheApplicationSays) {
    unsetenv("XEV_LOG");
    detail::resetDiagnostics();
    expectWritten(Info, Error, "by default");
    XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::Quiet);
    expectWritten("", "", "quiet");
    XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::StandardError);
    expectWritten("", Info + Error, "standard error");
    XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::StandardOutput);
    expectWritten(Info + Error, "", "standard output");
    {
        XEVTest::DiagnosticsCapture capture; // a handler takes them all
        expectWritten("", "", "handler");
        // A diagnostic of the library itself goes the same way.
        XEVTransfert().deviceCount();
        EXPECT_EQ(capture.text(), Info + Error + "XEVTransfert::deviceCount() not implemented\n");
    }
    expectWritten(Info + Error, "", "the output set before the handler");
}

TEST_F(Diagnostics, TheEnvironmentChoosesTheOutputFirst) {
    struct Case {
        const char* value;
        std::string out, err;
    };
    const Case cases[] = {{"quiet", "", ""},
                          {"stdout", Info + Error, ""},
                          {"stderr", "", Info + Error},
                          {"default", Info, Error},
                          {"nonsense", Info, Error}};
    for (const Case& c : cases) {
        setenv("XEV_LOG", c.value, 1);
        detail::resetDiagnostics();
        expectWritten(c.out, c.err, c.value);
    }
}
