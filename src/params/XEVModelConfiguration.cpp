#include "XEVModelConfiguration.h"

#include "XEVException.h"
#include "XEVParam.h"
#include "params/ValueList.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace XEVLibrary {

XEVModelConfiguration::XEVModelConfiguration(ConnectorType connector, const std::string& modelId,
                                             unsigned width, unsigned height)
    : m_modelId(modelId), m_connector(connector), m_width(width),
      m_height(height), m_lineTimes{}, m_defaultRegistry{} {}

XEVModelConfiguration::XEVModelConfiguration(const XEVModelConfiguration& other) = default;
XEVModelConfiguration&
XEVModelConfiguration::operator=(const XEVModelConfiguration& other) = default;
XEVModelConfiguration::~XEVModelConfiguration() = default;

uint32_t XEVModelConfiguration::Width() const {
    return m_width;
}
uint32_t XEVModelConfiguration::Height() const {
    return m_height;
}

XEVParam* XEVModelConfiguration::addParam(XEVParam* param) {
    if (getParam(param->name()))
        XEVException::throwCriticalError("For Model(%s), param(%s) already exists.",
                                         m_modelId.c_str(), param->name().c_str());
    m_paramsByName.emplace(param->name(), param);
    m_params.push_back(param);
    return param;
}

XEVParam* XEVModelConfiguration::getParam(const std::string& name) const {
    const auto found = m_paramsByName.find(name);
    return found == m_paramsByName.end() ? nullptr : found->second;
}

void XEVModelConfiguration::setLineTime(const double* times) {
    std::copy(times, times + LineTimeCount, m_lineTimes);
}

void XEVModelConfiguration::setDefaultRegistry(const uint8_t* registry) {
    std::memcpy(m_defaultRegistry, registry, RegistrySize);
}

std::string XEVModelConfiguration::manual() const {
    std::size_t width = 10;
    for (const XEVParam* param : m_params)
        width = std::max(width, param->name().size());
    const std::string dashes(width + 10, '-');

    std::ostringstream os;
    os << dashes << std::endl;
    os << "Connector" << std::string(width - 4, ' ') << connectorTypeToString(m_connector)
       << std::endl;
    os << "Model" << std::string(width, ' ') << m_modelId << std::endl;
    os << dashes << std::endl;
    for (const XEVParam* param : m_params)
        os << param->name() << " :" << std::string(width + 3 - param->name().size(), ' ')
           << formatValueList(*param) << std::endl;
    os << dashes;
    return os.str();
}

} // namespace XEVLibrary
