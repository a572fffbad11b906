#include "params/TimeUnit.h"

namespace XEVLibrary {
namespace detail {

bool microsecondExponent(const std::string& word, int& exponent) {
    if (word == "ns")
        exponent = -3;
    else if (word == "us" || word == Latin1MicroSeconds || word == Utf8MicroSeconds)
        exponent = 0;
    else if (word == "ms")
        exponent = 3;
    else if (word == "s")
        exponent = 6;
    else
        return false;
    return true;
}

} // namespace detail
} // namespace XEVLibrary
