#pragma once

#include <cstdint>

namespace XEVLibrary {

/**
 * The record that travels with every frame through the pipeline.
 *
 * It is copied into a FIFO slot when the frame is committed and handed by
 * reference, together with the slot's image, to every observer. Filters pass
 * the record of their input frame on unchanged.
 */
struct XEVFrameInfo {
    /// Temperature value meaning "no temperature available".
    static constexpr float NoTemperature = -128.0f;

    /// Camera frame number: the USB camera's running frame counter, or the
    /// 16-bit GVSP block id of a GigE image.
    uint64_t frameNumber = 0;
    /// Sensor temperature in degrees Celsius, or NoTemperature.
    float temperature = NoTemperature;
    /// Image columns (filled by GigE cameras).
    int32_t width = 0;
    /// Image rows (filled by GigE cameras).
    int32_t height = 0;
    /// First column of the frame on the sensor.
    uint32_t offsetX = 0;
    /// First line of the frame on the sensor.
    uint32_t offsetY = 0;
};

} // namespace XEVLibrary
