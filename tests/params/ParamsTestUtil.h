#pragma once

#include "TestSupport.h"

#include "XEVCatalog.h"
#include "XEVModelConfiguration.h"
#include "XEVParam.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace XEVTest {

using Texts = std::vector<std::string>;

/// A call the library refuses and the exact message it refuses it with.
struct Refusal {
    std::function<void()> call;
    std::string message;
};

inline void expectRefusals(const std::vector<Refusal>& refusals) {
    for (const Refusal& refusal : refusals)
        EXPECT_EQ(refusal.message, messageOf(refusal.call));
}

/// Every text of a parameter's value walk, in walk order (bounded, so that a
/// walk that never ends fails instead of hanging).
inline Texts walk(const XEVLibrary::XEVParam& param) {
    Texts texts;
    const auto last = param.end();
    for (auto it = param.begin(); it != last && texts.size() < 100000; ++it)
        texts.push_back(*it);
    return texts;
}

inline std::string manualOf(const XEVLibrary::XEVParam& param, int indent) {
    std::ostringstream os;
    param.manual(os, indent);
    return os.str();
}

inline const XEVLibrary::XEVModelConfiguration& model(unsigned index) {
    return *XEVLibrary::XEVCatalog::getInstance()->getModelConfiguration(index);
}

inline const XEVLibrary::XEVParam& catalogParam(unsigned index, const char* name) {
    return *model(index).getParam(name);
}

} // namespace XEVTest
