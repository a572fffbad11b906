#include "device/Diagnostics.h"

#include "XEVException.h"
#include "XEVManager.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace XEVLibrary {
namespace detail {

namespace {

using Output = XEVManager::DiagnosticsOutput;

/// The output XEV_LOG asks for: quiet, stdout, stderr or default.
Output outputFromEnvironment() {
    const char* value = std::getenv("XEV_LOG");
    if (value == nullptr)
        return Output::Default;
    if (std::strcmp(value, "quiet") == 0)
        return Output::Quiet;
    if (std::strcmp(value, "stdout") == 0)
        return Output::StandardOutput;
    if (std::strcmp(value, "stderr") == 0)
        return Output::StandardError;
    return Output::Default;
}

struct Settings {
    std::mutex lock;
    Output output = outputFromEnvironment();
    XEVManager::DiagnosticsHandler handler;
};

Settings& settings() {
    // Never destroyed: threads of the library may report while the process ends.
    static Settings* instance = new Settings();
    return *instance;
}

} // namespace

void diagnostic(DiagnosticKind kind, const std::string& line) {
    Settings& s = settings();
    Output output;
    XEVManager::DiagnosticsHandler handler;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        output = s.output;
        if (s.handler)
            handler = s.handler;
    }
    if (handler) {
        handler(line);
        return;
    }
    FILE* stream = nullptr;
    switch (output) {
    case Output::Quiet:
        return;
    case Output::StandardOutput:
        stream = stdout;
        break;
    case Output::StandardError:
        stream = stderr;
        break;
    case Output::Default:
        stream = kind == DiagnosticKind::Error ? stderr : stdout;
        break;
    }
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
}

void diagnosticf(DiagnosticKind kind, const char* format, ...) {
    char text[XEVException::DefaultBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    diagnostic(kind, text);
}

void resetDiagnostics() {
    Settings& s = settings();
    std::lock_guard<std::mutex> guard(s.lock);
    s.output = outputFromEnvironment();
    s.handler = nullptr;
}

} // namespace detail

void XEVManager::setDiagnosticsOutput(DiagnosticsOutput output) {
    detail::Settings& s = detail::settings();
    std::lock_guard<std::mutex> guard(s.lock);
    s.output = output;
}

void XEVManager::setDiagnosticsHandler(DiagnosticsHandler handler) {
    detail::Settings& s = detail::settings();
    std::lock_guard<std::mutex> guard(s.lock);
    s.handler = std::move(handler);
}

} // namespace XEVLibrary
