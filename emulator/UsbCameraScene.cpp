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

constexpr int MaxDn = 16383;
constexpr double TemporalNoise = 4.0;

} // namespace

bool UsbSceneKey::operator==(const UsbSceneKey& o) const {
    return firstColumn == o.firstColumn && columns == o.columns && firstLine == o.firstLine &&
           lines == o.lines && eightBit == o.eightBit && exposureUs == o.exposureUs &&
           flatField == o.flatField && flatLevel == o.flatLevel && seed == o.seed &&
           sensorWidth == o.sensorWidth && sensorHeight == o.sensorHeight;
}

std::shared_ptr<const XEVSyntheticScene> sensorScene(const UsbSceneKey& key) {
    XEVSyntheticScene::Options options;
    options.width = int(std::max(1u, key.sensorWidth));
    options.height = int(std::max(1u, key.sensorHeight));
    options.seed = key.seed;
    options.temporalNoise = 0.0; // added per frame variant here
    return std::make_shared<const XEVSyntheticScene>(options);
}

std::shared_ptr<const UsbSceneImage> renderScene(const UsbSceneKey& key,
                                                 const XEVSyntheticScene& scene) {
    auto image = std::make_shared<UsbSceneImage>();
    image->key = key;
    const std::size_t pixelBytes = key.eightBit ? 1 : 2;
    image->bytes = std::size_t(key.lines) * key.columns * pixelBytes;
    image->data.assign(image->bytes * UsbSceneImage::Variants, 0);
    if (image->bytes == 0)
        return image;

    // The picture without temporal noise, for the whole sensor.
    const double signal = key.flatField ? 1.0 : key.exposureUs / ReferenceExposureUs;
    cv::Mat ideal;
    if (key.flatField)
        ideal = scene.offsetMap() + scene.gainMap() * double(key.flatLevel);
    else
        ideal = scene.offsetMap() + scene.gainMap().mul(scene.radiance()) * signal;
    cv::Mat raw;
    ideal.convertTo(raw, CV_16UC1); // rounds, saturates
    cv::Mat stuck(raw.size(), CV_8UC1, cv::Scalar(0));
    for (const cv::Point& p : scene.deadPixels()) {
        raw.at<uint16_t>(p) = 20;
        stuck.at<uint8_t>(p) = 1;
    }
    for (const cv::Point& p : scene.hotPixels()) {
        raw.at<uint16_t>(p) = MaxDn;
        stuck.at<uint8_t>(p) = 1;
    }
    for (unsigned variant = 0; variant < UsbSceneImage::Variants; ++variant) {
        uint8_t* out = image->data.data() + variant * image->bytes;
        for (unsigned row = 0; row < key.lines; ++row) {
            const unsigned y = key.firstLine + row;
            for (unsigned column = 0; column < key.columns; ++column) {
                const unsigned x = key.firstColumn + column;
                int dn = 0; // outside the sensor
                if (int(y) < raw.rows && int(x) < raw.cols) {
                    dn = raw.at<uint16_t>(int(y), int(x));
                    if (!stuck.at<uint8_t>(int(y), int(x)))
                        dn += int(std::lround(
                            2 * TemporalNoise *
                            ((mix(x, y, variant + key.seed) & 0xFFFF) / 65536.0 - 0.5)));
                }
                dn = std::clamp(dn, 0, MaxDn);
                const std::size_t i = std::size_t(row) * key.columns + column;
                if (key.eightBit) {
                    out[i] = uint8_t(dn >> 6);
                } else {
                    out[2 * i] = uint8_t(dn & 0xFF);
                    out[2 * i + 1] = uint8_t(dn >> 8);
                }
            }
        }
    }
    return image;
}

} // namespace Emulator
} // namespace XEVLibrary
