#pragma once

#include <iostream>
#include <sstream>
#include <string>

/// Redirects std::cout into a string for the lifetime of the object.
class CoutCapture {
public:
    CoutCapture() : m_previous(std::cout.rdbuf(m_text.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(m_previous); }
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;

    std::string text() const { return m_text.str(); }

private:
    std::ostringstream m_text;
    std::streambuf* m_previous;
};
