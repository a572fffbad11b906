#pragma once

namespace XEVLibrary {

class XEVDevice;
class XEVDeviceGige;

namespace Gige {

/**
 * A processing stage that runs inside a GigE camera (gain control, NUC
 * tables, bad-pixel replacement, gamma, equalisation, enhancement, reticle).
 *
 * No frame passes through it: it is a client of the device's parameters and
 * commands, attached to an opened GigE device with `device << control` as
 * host-side filters are chained. It does not own the device and never
 * detaches; the device must outlive its use. Controls run on the caller's
 * thread and block while the camera works (at most BusyWait::timeout() per
 * wait).
 */
class InternalFilter {
public:
    virtual ~InternalFilter() = default;

    /// Attaches the control to @p device and sends its settings. A null
    /// device is refused with an XEVException ("Camera-side controls need a
    /// GigE device."), as are models that lack the control's features.
    virtual void Connect(XEVDeviceGige* device) = 0;
};

} // namespace Gige

/// Connects @p control to @p device, a GigE device (another is refused with
/// an XEVException), and returns the device so that chains go on:
/// `*device << agc << nuc`.
XEVDevice& operator<<(XEVDevice& device, Gige::InternalFilter& control);

} // namespace XEVLibrary
