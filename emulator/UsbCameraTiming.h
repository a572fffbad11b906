#pragma once

#include "XEVUsbCameraEmulator.h"

#include <array>
#include <cstdint>

namespace XEVLibrary {
namespace Emulator {

/// The camera's own reading of its registers: window, pixel format, clock,
/// exposure and frame period, per model family.
struct UsbCameraTiming {
    unsigned firstColumn = 0;
    unsigned columns = 0;
    unsigned firstLine = 0;
    unsigned lines = 0;
    bool eightBit = false;
    /// Registers 0 bits 5 and 6: the identification stream (info line only).
    bool identification = false;
    /// "Trigger Mode" field: 0 free run, 1 input, 2 output, 3 soft.
    unsigned triggerMode = 0;
    double pixelClockMHz = 25.0;
    double lineTimeUs = 0.0;
    double exposureUs = 0.0;
    double framePeriodUs = 0.0;
};

UsbCameraTiming decodeRegisters(const XEVUsbCameraConfig& config,
                                const std::array<uint8_t, 16>& registers);

} // namespace Emulator
} // namespace XEVLibrary
