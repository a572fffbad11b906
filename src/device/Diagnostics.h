#pragma once

#include <string>

namespace XEVLibrary {
namespace detail {

/// What a diagnostic line reports: information (a transfer fault, an
/// enumeration step) goes to standard output by default, an error that ended
/// a thread of the library to standard error.
enum class DiagnosticKind { Information, Error };

/// Writes one diagnostic line (no line end) where the application asked
/// (XEVManager::setDiagnosticsOutput, setDiagnosticsHandler, XEV_LOG).
/// Safe from any thread.
void diagnostic(DiagnosticKind kind, const std::string& line);
/// An information line: what the library meets and carries on from.
inline void inform(const std::string& line) {
    diagnostic(DiagnosticKind::Information, line);
}
/// The same, formatted printf-style into at most 512 characters.
void diagnosticf(DiagnosticKind kind, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

/// Settings as at start: XEV_LOG read again, no handler. For tests.
void resetDiagnostics();

} // namespace detail
} // namespace XEVLibrary
