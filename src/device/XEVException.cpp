#include "XEVException.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace XEVLibrary {

namespace {

std::string vformat(std::size_t bufferSize, const char* format, va_list args) {
    if (bufferSize == 0)
        return std::string();
    std::vector<char> buffer(bufferSize);
    const int written = std::vsnprintf(buffer.data(), bufferSize, format, args);
    if (written < 0)
        return std::string();
    return std::string(buffer.data());
}

} // namespace

XEVException::XEVException(Severity severity, std::string message)
    : m_severity(severity), m_message(prefix(severity) + message) {}

const char* XEVException::prefix(Severity severity) noexcept {
    switch (severity) {
    case Severity::Error:
        return "Error : ";
    case Severity::CriticalError:
        return "CriticalError : ";
    case Severity::Warning:
        return "Warning : ";
    }
    return "Error : ";
}

std::string XEVException::format(std::size_t bufferSize, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformat(bufferSize, format, args);
    va_end(args);
    return text;
}

#define XEV_DEFINE_RAISER(name, severity)                                                          \
    void XEVException::name(const char* format, ...) {                                             \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        std::string text = vformat(DefaultBufferSize, format, args);                               \
        va_end(args);                                                                              \
        throw XEVException(severity, std::move(text));                                             \
    }                                                                                              \
    void XEVException::name(const std::string& text) {                                             \
        throw XEVException(severity, text);                                                        \
    }

XEV_DEFINE_RAISER(throwError, Severity::Error)
XEV_DEFINE_RAISER(throwCriticalError, Severity::CriticalError)
XEV_DEFINE_RAISER(throwWarning, Severity::Warning)

#undef XEV_DEFINE_RAISER

} // namespace XEVLibrary
