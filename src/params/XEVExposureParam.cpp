#include "XEVExposureParam.h"

#include "XEVException.h"
#include "params/ExposureGrammar.h"

#include <cmath>
#include <cstdio>

namespace XEVLibrary {

XEVExposureParam::XEVExposureParam(ExpoRanges* ranges)
    : XEVParam("Exposure Time", CodeAddress, 0, 8, false), m_grammar(new ExposureGrammar) {
    SetExpoRanges(ranges);
}

XEVExposureParam::~XEVExposureParam() = default;

void XEVExposureParam::SetExpoRanges(ExpoRanges* ranges) {
    if (!ranges)
        XEVException::throwCriticalError("For parameter '%s', exposure ranges are NULL.",
                                         name().c_str());
    std::atomic_store(&m_ranges, std::shared_ptr<ExpoRanges>(ranges));
}

std::shared_ptr<ExpoRanges> XEVExposureParam::expoRanges() const {
    return std::atomic_load(&m_ranges);
}

double XEVExposureParam::setValue(double value, uint8_t* registry) const {
    if (!registry)
        XEVException::throwError("For parameter '%s', can't use NULL registry to write value.",
                                 name().c_str());
    if (std::isnan(value))
        XEVException::throwError("For parameter '%s', value(%f) is not a valid exposure time.",
                                 name().c_str(), value);
    const ExpoRanges::Match match = expoRanges()->FindBestMatch(value);
    registry[FineAddress] = static_cast<uint8_t>(match.codes & 0xFF);
    registry[CodeAddress] = static_cast<uint8_t>(match.codes >> 8);
    return match.value;
}

double XEVExposureParam::ValueFromReg(const uint8_t* registry) const {
    const int code = registry[CodeAddress];
    const double value = expoRanges()->CalcValue(code, registry[FineAddress]);
    if (std::isnan(value))
        XEVException::throwError("For parameter '%s', code(%d) is in no exposure range.",
                                 name().c_str(), code);
    return value;
}

double XEVExposureParam::strValueToValue(const std::string& text) const {
    double microseconds = 0.0;
    if (!m_grammar->parse(text, microseconds))
        XEVException::throwError("ill-formed exposure time string: " + text);
    return microseconds;
}

std::string XEVExposureParam::valueToStrValue(double value) const {
    const char* unit = "u";
    if (value < 1.0) {
        value *= 1000.0;
        unit = "n";
    } else if (value >= 1000.0) {
        value *= 0.001;
        unit = "m";
    }
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.4f", value);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (!text.empty() && text.back() == '.')
            text.pop_back();
    }
    return text + unit + "s";
}

XEVParam::PrivateValueIterator* XEVExposureParam::newBeginValueIterator() const {
    return new ExpoValueIterator(this, expoRanges());
}

// ---------------------------------------------------------------------------
// ExpoValueIterator
// ---------------------------------------------------------------------------

XEVExposureParam::ExpoValueIterator::ExpoValueIterator(const XEVExposureParam* param,
                                                       std::shared_ptr<const ExpoRanges> ranges)
    : PrivateValueIterator(param, 0), m_ranges(std::move(ranges)), m_range(0), m_code(0),
      m_fine(0) {
    if (!m_param || !m_ranges || m_ranges->table().empty()) {
        setEnd();
        return;
    }
    m_code = m_ranges->table().front().firstCode;
    m_regVal = static_cast<uint8_t>(m_code);
}

XEVParam::PrivateValueIterator* XEVExposureParam::ExpoValueIterator::newCopy() const {
    return new ExpoValueIterator(*this);
}

bool XEVExposureParam::ExpoValueIterator::operator==(const PrivateValueIterator& other) const {
    if (!PrivateValueIterator::operator==(other))
        return false;
    if (!m_param)
        return true;
    const auto* expo = dynamic_cast<const ExpoValueIterator*>(&other);
    return expo && expo->m_range == m_range && expo->m_code == m_code && expo->m_fine == m_fine;
}

bool XEVExposureParam::ExpoValueIterator::operator!=(const PrivateValueIterator& other) const {
    return !(*this == other);
}

XEVParam::PrivateValueIterator& XEVExposureParam::ExpoValueIterator::operator++() {
    if (!m_param)
        return *this;
    const ExpoRanges::Table& table = m_ranges->table();
    const ExpoRange& range = table[m_range];
    if (range.hasFine() && m_fine < 255) {
        ++m_fine;
        return *this;
    }
    m_fine = 0;
    if (m_code < range.lastCode) {
        ++m_code;
    } else if (m_range + 1 < table.size()) {
        ++m_range;
        m_code = table[m_range].firstCode;
    } else {
        setEnd();
        m_ranges.reset();
        m_code = 0;
        m_range = 0;
        return *this;
    }
    m_regVal = static_cast<uint8_t>(m_code);
    return *this;
}

std::string XEVExposureParam::ExpoValueIterator::operator*() const {
    if (!m_param)
        return std::string();
    return m_param->valueToStrValue(m_ranges->table()[m_range].valueOf(m_code, m_fine));
}

XEVExposureParam::ExpoValueIterator::~ExpoValueIterator() = default;

} // namespace XEVLibrary
