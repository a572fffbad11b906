#pragma once

#include <string>

namespace XEVLibrary {

/**
 * Parses exposure texts into microseconds: a real number (sign, decimals and
 * exponent allowed, no leading blanks, no NaN or infinity), any number of
 * spaces or tabs, then an optional unit: "s", "ms", "us", the Latin-1 micro
 * sign followed by "s", or "ns" (no unit: microseconds). The whole text must
 * be consumed. Stateless: one instance may parse from several threads.
 */
class ExposureGrammar {
public:
    /// True and @p microseconds set when @p text is well formed.
    bool parse(const std::string& text, double& microseconds) const;
};

} // namespace XEVLibrary
