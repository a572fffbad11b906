#pragma once

#include "XEVGigeAgcROI.h"

#include <cstdint>

namespace XEVLibrary {
namespace Gige {

/**
 * A custom gain-control region ("CUSTOM_FRAME"): its bounds in sensor
 * pixels, written to "AgcRoiCustomLeft", "AgcRoiCustomTop",
 * "AgcRoiCustomRight" and "AgcRoiCustomBottom".
 */
class AgcROICustom : public AgcROI {
public:
    /// The region from (@p left, @p top) to (@p right, @p bottom), in sensor pixels.
    AgcROICustom(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom)
        : AgcROI("CUSTOM_FRAME"), m_left(left), m_top(top), m_right(right), m_bottom(bottom) {}

    ///@{
    /// The bounds given at construction.
    uint32_t Left() const { return m_left; }
    uint32_t Top() const { return m_top; }
    uint32_t Right() const { return m_right; }
    uint32_t Bottom() const { return m_bottom; }
    ///@}
    std::unique_ptr<AgcROI> Clone() const override { return std::make_unique<AgcROICustom>(*this); }

private:
    uint32_t m_left;
    uint32_t m_top;
    uint32_t m_right;
    uint32_t m_bottom;
};

} // namespace Gige
} // namespace XEVLibrary
