#pragma once

#include <cstddef>
#include <exception>
#include <string>

namespace XEVLibrary {

/**
 * The one exception type of the library.
 *
 * Every error on the application interface is an XEVException. It is raised
 * through one of three static operations, which put the severity prefix
 * ("Error : ", "CriticalError : " or "Warning : ") in front of the caller's
 * text. Texts are formatted printf-style into a fixed-size buffer: a text that
 * does not fit is truncated, never overflows.
 */
class XEVException : public std::exception {
public:
    /// How serious the condition is; it decides the prefix of the message.
    enum class Severity { Error, CriticalError, Warning };

    /// Buffer size used by the pipeline, the parameters and the devices.
    static constexpr std::size_t DefaultBufferSize = 512;
    /// Buffer size used by the device manager.
    static constexpr std::size_t ManagerBufferSize = 128;

    /// An exception of @p severity whose what() is the severity's prefix
    /// followed by @p message.
    XEVException(Severity severity, std::string message);

    /// The whole message, prefix included.
    const char* what() const noexcept override { return m_message.c_str(); }
    /// How serious the condition is.
    Severity severity() const noexcept { return m_severity; }

    /// Formats into a buffer of @p bufferSize bytes (terminator included),
    /// truncating what does not fit.
    static std::string format(std::size_t bufferSize, const char* format, ...)
        __attribute__((format(printf, 2, 3)));

    /// Raise with "Error : " and a text formatted into 512 bytes.
    [[noreturn]] static void throwError(const char* format, ...)
        __attribute__((format(printf, 1, 2)));
    /// Raise with "CriticalError : " and a text formatted into 512 bytes.
    [[noreturn]] static void throwCriticalError(const char* format, ...)
        __attribute__((format(printf, 1, 2)));
    /// Raise with "Warning : " and a text formatted into 512 bytes.
    [[noreturn]] static void throwWarning(const char* format, ...)
        __attribute__((format(printf, 1, 2)));

    /// The same three with a text that is already formatted (never
    /// interpreted as a format, so it may hold '%').
    ///@{
    [[noreturn]] static void throwError(const std::string& text);
    [[noreturn]] static void throwCriticalError(const std::string& text);
    [[noreturn]] static void throwWarning(const std::string& text);
    ///@}

    /// The prefix of a severity, for example "Error : ".
    static const char* prefix(Severity severity) noexcept;

private:
    Severity m_severity;
    std::string m_message;
};

} // namespace XEVLibrary
