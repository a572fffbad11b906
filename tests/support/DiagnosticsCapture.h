#pragma once

#include "XEVManager.h"

#include <mutex>
#include <string>

namespace XEVTest {

/// Collects the library's diagnostic lines, each with a line end, for its
/// lifetime (through the manager's diagnostics handler).
class DiagnosticsCapture {
public:
    DiagnosticsCapture() {
        XEVLibrary::XEVManager::setDiagnosticsHandler([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_text += line + '\n';
        });
    }
    ~DiagnosticsCapture() { XEVLibrary::XEVManager::setDiagnosticsHandler(nullptr); }
    DiagnosticsCapture(const DiagnosticsCapture&) = delete;
    DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

    std::string text() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_text;
    }

private:
    mutable std::mutex m_lock;
    std::string m_text;
};

} // namespace XEVTest
