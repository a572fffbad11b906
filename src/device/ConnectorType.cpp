#include "XEVConnectorType.h"

namespace XEVLibrary {

std::string connectorTypeToString(ConnectorType type) {
    switch (type) {
    case USB2:
        return "USB 2.0";
    case USB3:
        return "USB 3.0";
    case GIGE:
        return "GIGE";
    }
    return "UNKNOWN_CONNECTOR_TYPE";
}

} // namespace XEVLibrary
