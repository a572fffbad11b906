#include "params/ExposureGrammar.h"

// Boost's floating-point traits trip a false maybe-uninitialized warning once
// inlined into the real-number parser at -O2.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <boost/phoenix/core.hpp>
#include <boost/phoenix/operator.hpp>
#include <boost/spirit/include/qi.hpp>

namespace XEVLibrary {

namespace {

namespace qi = boost::spirit::qi;
namespace phx = boost::phoenix;

// Real numbers without the "nan" and "inf" spellings: an exposure is finite.
template <typename T>
struct FiniteRealPolicies : qi::real_policies<T> {
    template <typename Iterator, typename Attribute>
    static bool parse_nan(Iterator&, const Iterator&, Attribute&) {
        return false;
    }
    template <typename Iterator, typename Attribute>
    static bool parse_inf(Iterator&, const Iterator&, Attribute&) {
        return false;
    }
};

} // namespace

bool ExposureGrammar::parse(const std::string& text, double& microseconds) const {
    // Blanks are matched literally: the character-class parsers assert on
    // bytes above 127 such as the micro sign.
    // The parser expression is built per call and writes only to locals, so
    // no state is shared between threads.
    const qi::real_parser<double, FiniteRealPolicies<double>> real;
    double number = 0.0;
    double multiplier = 1.0;
    auto first = text.begin();
    const auto last = text.end();
    const bool ok = qi::parse(first, last,
                              real[phx::ref(number) = qi::_1] >> *(qi::lit(' ') | qi::lit('\t')) >>
                                  -(qi::lit("ms")[phx::ref(multiplier) = 1000.0] |
                                    qi::lit("us")[phx::ref(multiplier) = 1.0] |
                                    qi::lit("\265s")[phx::ref(multiplier) = 1.0] |
                                    qi::lit("\xC2\xB5s")[phx::ref(multiplier) = 1.0] |
                                    qi::lit("ns")[phx::ref(multiplier) = 0.001] |
                                    qi::lit("s")[phx::ref(multiplier) = 1000000.0]) >>
                                  qi::eoi);
    if (!ok || first != last)
        return false;
    microseconds = number * multiplier;
    return true;
}

} // namespace XEVLibrary

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
