#pragma once

#include <exception>
#include <mutex>
#include <string>

namespace XEVLibrary {

/**
 * The error that ended the last run of a background thread, kept for the
 * application until the next run starts: observers keep the error that ended
 * their reading thread, devices the one that ended a capture. The first error
 * of a run is kept; later ones are only consequences of it. Thread-safe.
 */
class XEVErrorRecord {
public:
    /// Keeps @p error unless one is kept already; returns its text.
    std::string record(std::exception_ptr error);
    /// Forgets the kept error (a new run starts).
    void clear();
    /// The kept error, or null.
    std::exception_ptr error() const;
    /// The text of the kept error, or an empty string.
    std::string message() const;

    /// The text of @p error: what() of a std::exception, otherwise
    /// "unknown error (not a std::exception)".
    static std::string describe(std::exception_ptr error);

private:
    mutable std::mutex m_lock;
    std::exception_ptr m_error;
    std::string m_message;
};

} // namespace XEVLibrary
