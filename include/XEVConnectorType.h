#pragma once

#include <cstdint>
#include <string>

namespace XEVLibrary {

/// How a camera is attached to the computer.
enum ConnectorType : int32_t {
    USB2 = 0, ///< "USB 2.0"
    USB3 = 1, ///< "USB 3.0"
    GIGE = 2, ///< "GIGE"
};

/// The display text of a connector type: "USB 2.0", "USB 3.0", "GIGE", or
/// "UNKNOWN_CONNECTOR_TYPE" for any other value.
std::string connectorTypeToString(ConnectorType type);

} // namespace XEVLibrary
