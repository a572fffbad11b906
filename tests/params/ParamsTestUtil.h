#pragma once

#include "XEVException.h"
#include "XEVParam.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace XEVTest {

/// The message of the XEVException that @p action raises, or a marker text
/// when it raises nothing.
template <typename Action>
std::string messageOf(Action&& action) {
    try {
        action();
    } catch (const XEVLibrary::XEVException& e) {
        return e.what();
    }
    return "<no exception>";
}

/// Every text of a parameter's value walk, in walk order (bounded, so that a
/// walk that never ends fails instead of hanging).
inline std::vector<std::string> walk(const XEVLibrary::XEVParam& param) {
    std::vector<std::string> texts;
    const auto last = param.end();
    for (auto it = param.begin(); it != last && texts.size() < 100000; ++it)
        texts.push_back(*it);
    return texts;
}

} // namespace XEVTest
