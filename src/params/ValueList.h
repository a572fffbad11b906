#pragma once

#include "XEVParam.h"

#include <string>

namespace XEVLibrary {

/// The walked values of @p param as one manual entry: fewer than 8 values
/// between "{ " and " }" in reverse walk order, more as the first two and the
/// last two in walk order around ", ... , ".
std::string formatValueList(const XEVParam& param);

} // namespace XEVLibrary
