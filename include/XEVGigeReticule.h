#pragma once

#include "XEVGigeInternalFilter.h"

namespace XEVLibrary {

class XEVDevice;

namespace Gige {

/**
 * The reticle the camera draws over its image: a cross with its centre,
 * horizontal and vertical lengths and thicknesses, a colour (luminance) and
 * a switch ("RetCenterPosx", "RetCenterPosy", "RetLengthH", "RetLengthV",
 * "RetThickH", "RetThickV", "RetYcolor", "RetOn"). KestrelGigE has none.
 *
 * The control takes its device at construction: a device that is not a
 * GigE one is refused with an XEVException. Setters write at once.
 */
class Reticule : public InternalFilter {
public:
    /// Luminances, written as their numbers.
    enum Color : unsigned { Black = 0, Gray = 128, White = 255 };

    /// The default values (centre 320, 256; lengths 40, 40; thicknesses 2,
    /// 4; black; off); nothing is written.
    explicit Reticule(XEVDevice* device);
    /// Writes every value; KestrelGigE is refused with a std::runtime_error.
    Reticule(XEVDevice* device, unsigned posX, unsigned posY, unsigned hLength, unsigned vLength,
             unsigned hThickness, unsigned vThickness, const Color& color, bool active);

    /// Moves the control to @p device and writes every value there, as the
    /// full constructor does.
    void Connect(XEVDeviceGige* device) override;

    /// The centre ("RetCenterPosx", "RetCenterPosy").
    void SetPos(unsigned x, unsigned y);
    /// The lengths ("RetLengthH", "RetLengthV").
    void SetLength(unsigned horizontal, unsigned vertical);
    /// The thicknesses ("RetThickH", "RetThickV").
    void SetThickness(unsigned horizontal, unsigned vertical);
    /// HeronGigE before firmware 02.00 first gets 128 in "RetCrCbColor"
    /// (no chrominance).
    void SetColor(const Color& color);
    /// "RetOn".
    void Activate(bool active);
    /// The camera's own defaults ("RetResetProperties"); the control's
    /// values go back to its defaults, without writing them.
    void Reset();

    ///@{
    /// The values last written (or the defaults).
    unsigned PosX() const { return m_posX; }
    unsigned PosY() const { return m_posY; }
    unsigned LengthH() const { return m_lengthH; }
    unsigned LengthV() const { return m_lengthV; }
    unsigned ThicknessH() const { return m_thickH; }
    unsigned ThicknessV() const { return m_thickV; }
    Color GetColor() const { return m_color; }
    bool Active() const { return m_active; }
    ///@}

private:
    void restoreDefaults();
    void writeAll();

    XEVDeviceGige* m_device;
    bool m_active = false;
    unsigned m_posX = 320;
    unsigned m_posY = 256;
    unsigned m_lengthH = 40;
    unsigned m_lengthV = 40;
    unsigned m_thickH = 2;
    unsigned m_thickV = 4;
    Color m_color = Black;
};

} // namespace Gige
} // namespace XEVLibrary
