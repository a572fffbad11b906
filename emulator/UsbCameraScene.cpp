#include "UsbCameraScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace XEVLibrary {
namespace Emulator {
namespace {

uint32_t mix(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t h =
        a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

double unit(uint32_t h) {
    return (h & 0xFFFFFF) / double(0x1000000);
}

constexpr double MaxDn = 16383.0;
// DN per microsecond of exposure for the brightest part of the scene.
constexpr double Sensitivity = 4.0;

} // namespace

bool UsbSceneKey::operator==(const UsbSceneKey& o) const {
    return firstColumn == o.firstColumn && columns == o.columns && firstLine == o.firstLine &&
           lines == o.lines && eightBit == o.eightBit && exposureUs == o.exposureUs &&
           flatField == o.flatField && flatLevel == o.flatLevel && seed == o.seed &&
           sensorWidth == o.sensorWidth && sensorHeight == o.sensorHeight;
}

void fixedPattern(unsigned x, unsigned y, uint32_t seed, double& offset, double& gain) {
    const uint32_t h = mix(x, y, seed);
    offset = 200.0 + 300.0 * unit(h);
    gain = 0.8 + 0.4 * unit(mix(y, x, seed ^ 0xA5A5A5A5u));
    // About one pixel in 2000 is hot.
    if ((h >> 24) == 0 && (h & 0x7) == 0)
        offset = 12000.0;
}

double sceneRadianceDn(unsigned x, unsigned y, unsigned width, unsigned height, double exposureUs) {
    const double u = width ? double(x) / width : 0.0;
    const double v = height ? double(y) / height : 0.0;
    // Sky above a horizon, a darker ground, two warm objects and a bar target.
    double radiance = v < 0.45 ? 0.55 - 0.3 * v : 0.25 + 0.1 * std::sin(12.0 * u + 3.0 * v);
    const double d1 = (u - 0.3) * (u - 0.3) + (v - 0.6) * (v - 0.6);
    const double d2 = (u - 0.72) * (u - 0.72) + (v - 0.35) * (v - 0.35);
    radiance += 0.6 * std::exp(-d1 / 0.004) + 0.35 * std::exp(-d2 / 0.01);
    if (u > 0.82 && u < 0.95 && v > 0.7 && v < 0.9)
        radiance += (int(u * 160) % 2) ? 0.3 : 0.0;
    return std::min(radiance, 1.0) * Sensitivity * exposureUs;
}

std::shared_ptr<const UsbSceneImage> renderScene(const UsbSceneKey& key) {
    auto image = std::make_shared<UsbSceneImage>();
    image->key = key;
    const std::size_t pixelBytes = key.eightBit ? 1 : 2;
    image->bytes = std::size_t(key.lines) * key.columns * pixelBytes;
    image->data.assign(image->bytes * UsbSceneImage::Variants, 0);
    std::vector<double> ideal(std::size_t(key.lines) * key.columns);
    for (unsigned row = 0; row < key.lines; ++row) {
        for (unsigned column = 0; column < key.columns; ++column) {
            const unsigned x = key.firstColumn + column;
            const unsigned y = key.firstLine + row;
            double offset, gain;
            fixedPattern(x, y, key.seed, offset, gain);
            const double signal = key.flatField ? key.flatLevel
                                                : sceneRadianceDn(x, y, key.sensorWidth,
                                                                  key.sensorHeight, key.exposureUs);
            ideal[std::size_t(row) * key.columns + column] = offset + gain * signal;
        }
    }
    for (unsigned variant = 0; variant < UsbSceneImage::Variants; ++variant) {
        uint8_t* out = image->data.data() + variant * image->bytes;
        for (std::size_t i = 0; i < ideal.size(); ++i) {
            const double noise = 12.0 * (unit(mix(uint32_t(i), variant, key.seed + 7)) - 0.5);
            const auto dn = uint16_t(std::clamp(ideal[i] + noise, 0.0, MaxDn));
            if (key.eightBit) {
                out[i] = uint8_t(dn >> 6);
            } else {
                out[2 * i] = uint8_t(dn & 0xFF);
                out[2 * i + 1] = uint8_t(dn >> 8);
            }
        }
    }
    return image;
}

} // namespace Emulator
} // namespace XEVLibrary
