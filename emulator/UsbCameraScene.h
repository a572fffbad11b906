#pragma once

#include "XEVSyntheticScene.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace XEVLibrary {
namespace Emulator {

/// What a rendered image depends on.
struct UsbSceneKey {
    unsigned firstColumn = 0;
    unsigned columns = 0;
    unsigned firstLine = 0;
    unsigned lines = 0;
    bool eightBit = false;
    double exposureUs = 0;
    bool flatField = false;
    uint16_t flatLevel = 0;
    uint32_t seed = 0;
    unsigned sensorWidth = 0;
    unsigned sensorHeight = 0;

    bool operator==(const UsbSceneKey& other) const;
};

/**
 * A rendered window of the synthetic short-wave infrared scene: a few noise
 * variants of the same picture, ready to be copied into bulk transfers.
 * Each pixel is offset(x, y) + gain(x, y) x radiance(x, y) x exposure /
 * ReferenceExposureUs (or x level in flat-field mode) plus temporal noise,
 * dead and hot pixels stuck, in 14 bits (8 bits: >> 6).
 */
struct UsbSceneImage {
    static constexpr unsigned Variants = 4;
    UsbSceneKey key;
    std::size_t bytes = 0;     ///< bytes of one variant (lines x columns x pixel size)
    std::vector<uint8_t> data; ///< Variants images one after the other

    const uint8_t* variant(uint64_t index) const {
        return data.data() + (index % Variants) * bytes;
    }
};

/// The exposure at which the scene shows its nominal radiance.
constexpr double ReferenceExposureUs = 2000.0;

/// The whole sensor's scene of a camera (key.seed, key.sensorWidth, key.sensorHeight).
std::shared_ptr<const XEVSyntheticScene> sensorScene(const UsbSceneKey& key);

std::shared_ptr<const UsbSceneImage> renderScene(const UsbSceneKey& key,
                                                 const XEVSyntheticScene& scene);

} // namespace Emulator
} // namespace XEVLibrary
