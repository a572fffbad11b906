#pragma once

#include "Gige/GenicamFeature.h"

#include <vector>

namespace XEVLibrary {

/// A "Category" of a "Group": the names of the features it gathers.
class Category : public Feature {
public:
    using Feature::Feature;

    /// The texts of its "pFeature" elements, in the order of the description.
    std::vector<std::string> FeatureNames() const;
};

} // namespace XEVLibrary
