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
};

} // namespace

TEST_F(Diagnostics, GoWhereTheApplicationSays) {
    unsetenv("XEV_LOG");
    detail::resetDiagnostics();
    Streams s = written(); // as always: information out, errors err
    EXPECT_EQ(s.out, ": Invalid infoLine 0\n");
    EXPECT_EQ(s.err, "stopped on error: gone\n");

    XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::Quiet);
    s = written();
    EXPECT_EQ(s.out + s.err, "");
    XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::StandardError);
    s = written();
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err, ": Invalid infoLine 0\nstopped on error: gone\n");
    XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::StandardOutput);
    s = written();
    EXPECT_EQ(s.out, ": Invalid infoLine 0\nstopped on error: gone\n");
    EXPECT_EQ(s.err, "");

    {
        XEVTest::DiagnosticsCapture capture; // a handler takes them all
        s = written();
        EXPECT_EQ(s.out + s.err, "");
        // A diagnostic of the library itself goes the same way.
        XEVTransfert().deviceCount();
        EXPECT_EQ(capture.text(), ": Invalid infoLine 0\nstopped on error: gone\n"
                                  "XEVTransfert::deviceCount() not implemented\n");
    }
    s = written(); // the output set before the handler
    EXPECT_EQ(s.out, ": Invalid infoLine 0\nstopped on error: gone\n");
}

TEST_F(Diagnostics, TheEnvironmentChoosesTheOutputFirst) {
    for (const char* value : {"quiet", "stdout", "stderr", "default", "nonsense"}) {
        setenv("XEV_LOG", value, 1);
        detail::resetDiagnostics();
        const Streams s = written();
        const std::string both = ": Invalid infoLine 0\nstopped on error: gone\n";
        const std::string expected = value;
        if (expected == "quiet") {
            EXPECT_EQ(s.out + s.err, "");
        } else if (expected == "stdout") {
            EXPECT_EQ(s.out, both);
        } else if (expected == "stderr") {
            EXPECT_EQ(s.err, both);
        } else {
            EXPECT_EQ(s.out, ": Invalid infoLine 0\n") << value;
            EXPECT_EQ(s.err, "stopped on error: gone\n") << value;
        }
    }
}
