#include "XEVErrorRecord.h"

namespace XEVLibrary {

std::string XEVErrorRecord::describe(std::exception_ptr error) {
    if (!error)
        return std::string();
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error (not a std::exception)";
    }
}

std::string XEVErrorRecord::record(std::exception_ptr error) {
    std::string text = describe(error);
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_error) {
        m_error = error;
        m_message = text;
    }
    return text;
}

void XEVErrorRecord::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_error = nullptr;
    m_message.clear();
}

std::exception_ptr XEVErrorRecord::error() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_error;
}

std::string XEVErrorRecord::message() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_message;
}

} // namespace XEVLibrary
