#pragma once

#include "XEVGigeInternalFilter.h"

namespace XEVLibrary {
namespace Gige {

/**
 * The camera's enhancement filter: its type ("EnhancFilter"), its kernel
 * size ("EnhancCoef", odd) and its switch ("EnhancActivate"). KestrelGigE
 * has none: Connect refuses it with a std::runtime_error. Before Connect
 * the setters only keep their values.
 */
class EnhancementFilter : public InternalFilter {
public:
    /// The filters the camera offers, written as their numbers.
    enum FilterType : unsigned { Sharpen = 0, Smooth = 1, EdgeEnhance = 2, Median = 3 };

    /// Keeps the values until Connect.
    EnhancementFilter(const FilterType& type, unsigned kernelSize, bool active)
        : m_type(type), m_kernelSize(kernelSize), m_active(active) {}

    /// Sends the switch (and, when on, the type and kernel size first).
    void Connect(XEVDeviceGige* device) override;

    ///@{
    /// The filter type ("EnhancFilter").
    void SetFilterType(const FilterType& type);
    FilterType GetFilterType() const { return m_type; }
    ///@}
    ///@{
    /// The kernel size ("EnhancCoef", odd).
    void SetKernelSize(unsigned kernelSize);
    unsigned KernelSize() const { return m_kernelSize; }
    ///@}
    /// Switching on writes the type and the kernel size, then "On".
    void Activate(bool active);
    /// True while the filter is on.
    bool Active() const { return m_active; }

private:
    XEVDeviceGige* m_device = nullptr;
    FilterType m_type;
    unsigned m_kernelSize;
    bool m_active;
};

} // namespace Gige
} // namespace XEVLibrary
