#pragma once

#include "Gige/GenicamFeature.h"

#include <iosfwd>

namespace XEVLibrary {

/// Diagnostics: an XML subtree, one node per line, each line starting with
/// @p indentation tabs and children one level deeper.
void Print(const GenicamNode* node, std::ostream& os, int indentation);
/// Diagnostics: the same, announcing the subtree as @p name.
void PrintCategories(const GenicamNode* node, const char* name, std::ostream& os, int indentation);
/// Diagnostics: the node's attributes, one per line, one tab deeper.
void PrintAttributes(const GenicamNode* node, std::ostream& os, int indentation);

} // namespace XEVLibrary
