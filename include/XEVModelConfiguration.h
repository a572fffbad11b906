#pragma once

#include "XEVConnectorType.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace XEVLibrary {

class XEVParam;
class XEVDeviceDescriptor;

/**
 * Describes one camera model: its model id, connector, sensor size, its
 * parameters in a fixed order, the time of one sensor line for each of the
 * nine pixel-clock classes (indexed by XEVCatalog::getRefTLine) and the
 * registry image holding the model's default settings.
 *
 * A configuration refers to its parameters but does not delete them: the
 * catalog that built them does. Copies share the same parameter objects, so
 * a change to a parameter's description made through one copy is seen by
 * all of them; register values live outside the configuration (in the
 * caller's registry). Nothing here is locked: reads may run concurrently
 * while nobody adds parameters.
 *
 * Line times are 0 until setLineTime is called (the GigE models never set
 * them: their frame rate does not use them); the default registry is zero
 * until setDefaultRegistry.
 */
class XEVModelConfiguration {
public:
    ///@{
    /// The parameters in list order, by name, and an iterator over the list.
    using ParamList = std::vector<XEVParam*>;
    using ParamMap = std::map<std::string, XEVParam*>;
    using const_iterator = ParamList::const_iterator;
    ///@}

    /// Number of pixel-clock classes of the line-time table.
    static constexpr unsigned LineTimeCount = 9;
    /// Number of bytes of the registry image.
    static constexpr unsigned RegistrySize = 16;

    /// No parameters, zero line times, zero default registry.
    XEVModelConfiguration(ConnectorType connector, const std::string& modelId, unsigned width,
                          unsigned height);
    /// Copies everything; the parameter pointers are shared, not cloned.
    XEVModelConfiguration(const XEVModelConfiguration& other);
    /// Copies everything; the parameter pointers are shared, not cloned.
    XEVModelConfiguration& operator=(const XEVModelConfiguration& other);
    virtual ~XEVModelConfiguration();

    /// A text manual: a header with connector and model, then one line per
    /// parameter with its walked values.
    virtual std::string manual() const;
    /// The sensor size; devices may report it from the camera instead.
    ///@{
    virtual uint32_t Width() const;
    virtual uint32_t Height() const;
    ///@}

    /// Appends @p param and returns it. A name already present is a critical
    /// error "For Model(%s), param(%s) already exists." and nothing is added.
    XEVParam* addParam(XEVParam* param);
    /// The parameter of exactly @p name, or null.
    XEVParam* getParam(const std::string& name) const;
    /// The parameters in the order they were added.
    ///@{
    const_iterator begin() const { return m_params.begin(); }
    const_iterator end() const { return m_params.end(); }
    ///@}
    /// Number of parameters.
    std::size_t paramCount() const { return m_params.size(); }

    /// The model id ("Kestrel" ...).
    std::string modelId() const { return m_modelId; }
    /// The connector of the model: USB or GigE.
    ConnectorType connectorType() const { return m_connector; }
    /// Width() and Height() of the dynamic type, cut to 16 bits.
    ///@{
    uint16_t width() const { return static_cast<uint16_t>(Width()); }
    uint16_t height() const { return static_cast<uint16_t>(Height()); }
    ///@}

    /// Copies LineTimeCount values.
    void setLineTime(const double* times);
    /// The LineTimeCount line times, one per pixel-clock class.
    const double* lineTime() const { return m_lineTimes; }
    /// Copies RegistrySize bytes.
    void setDefaultRegistry(const uint8_t* registry);
    /// The RegistrySize bytes of the default registry.
    const uint8_t* defaultRegistry() const { return m_defaultRegistry; }

private:
    // Descriptors adapt a configuration to the camera they describe: they get
    // non-const access to the parameter list and map.
    friend class XEVDeviceDescriptor;
    // The catalog deletes the parameters of the configurations it built.
    friend class XEVCatalog;

    std::string m_modelId;
    ConnectorType m_connector;
    uint32_t m_width;
    uint32_t m_height;
    double m_lineTimes[LineTimeCount];
    ParamList m_params;
    ParamMap m_paramsByName;
    uint8_t m_defaultRegistry[RegistrySize];
};

} // namespace XEVLibrary
