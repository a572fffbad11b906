#pragma once

#include <memory>
#include <string>

namespace XEVLibrary {
namespace Gige {

/**
 * The region of the image from which a camera's gain control takes its
 * statistics: the text written to the camera's "AgcRoiMode" ("FULL_FRAME",
 * "CENTER_FRAME" or "CUSTOM_FRAME"). AgcROICustom adds the bounds of a
 * custom region.
 */
class AgcROI {
public:
    /// The region of mode @p mode.
    explicit AgcROI(const std::string& mode = "FULL_FRAME") : m_mode(mode) {}
    virtual ~AgcROI() = default;

    /// The text written to "AgcRoiMode".
    const std::string& Mode() const { return m_mode; }
    /// A copy of its own class, for the controls that keep one.
    virtual std::unique_ptr<AgcROI> Clone() const { return std::make_unique<AgcROI>(*this); }

protected:
    /// The text written to "AgcRoiMode".
    std::string m_mode;
};

} // namespace Gige
} // namespace XEVLibrary
