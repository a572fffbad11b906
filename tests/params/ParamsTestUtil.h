#pragma once

#include "TestSupport.h"

#include "XEVCatalog.h"
#include "XEVModelConfiguration.h"
#include "XEVParam.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace XEVTest {

/// A call the library refuses and the exact message it refuses it with.
struct Refusal {
    std::function<void()> call;
    const char* message;
};

inline void expectRefusals(const std::vector<Refusal>& refusals) {
    for (const Refusal& refusal : refusals)
        EXPECT_EQ(refusal.message, messageOf(refusal.call));
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

/// A parameter of a catalog model, for tests of the parameter as the catalog
/// declares it.
inline const XEVLibrary::XEVParam& catalogParam(unsigned model, const char* name) {
    return *XEVLibrary::XEVCatalog::getInstance()->getModelConfiguration(model)->getParam(name);
}

} // namespace XEVTest
