#pragma once

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace XEVLibrary {
namespace Emulator {

/**
 * A synthetic short-wave infrared scene as a camera would deliver it.
 *
 * The ideal picture (radiance, in digital numbers) has smooth gradients (a
 * sky over a darker ground), a few warm objects and some fine detail. The
 * sensor adds a per-pixel fixed pattern, raw = offset + gain x radiance, with
 * column structure and random spread, plus a few dead pixels (stuck near 0)
 * and hot pixels (stuck at the top of the range). Raw frames hold 14-bit
 * values in 16-bit words. Everything derives from the seed: the same options
 * give the same frames.
 */
class XEVSyntheticScene {
public:
    /// What the scene is made of; the defaults are a 640 x 512 sensor.
    struct Options {
        ///@{
        /// Frame size in pixels.
        int width = 640;
        int height = 512;
        ///@}
        /// Seed of everything random in the scene.
        uint32_t seed = 1;
        /// Mean and spread (one sigma) of the per-pixel offset, in DN.
        ///@{
        double offsetMean = 1200.0;
        double offsetSpread = 60.0;
        ///@}
        /// Spread (one sigma) of the per-pixel gain around 1.
        double gainSpread = 0.04;
        /// Share of dead and of hot pixels.
        ///@{
        double deadFraction = 0.0005;
        double hotFraction = 0.0005;
        ///@}
        /// Temporal noise (one sigma, DN) of each rendered frame; 0 for none.
        double temporalNoise = 0.0;
    };

    /// Builds the scene and the sensor's fixed pattern from @p options.
    explicit XEVSyntheticScene(const Options& options);

    ///@{
    /// Frame size in pixels.
    int width() const { return m_options.width; }
    int height() const { return m_options.height; }
    ///@}

    /// The ideal picture, 32-bit float DN, before the fixed pattern.
    const cv::Mat& radiance() const { return m_radiance; }
    /// Per-pixel offset (DN) and gain of the sensor, 32-bit float.
    ///@{
    const cv::Mat& offsetMap() const { return m_offset; }
    const cv::Mat& gainMap() const { return m_gain; }
    ///@}
    /// Positions of the dead and hot pixels.
    ///@{
    const std::vector<cv::Point>& deadPixels() const { return m_dead; }
    const std::vector<cv::Point>& hotPixels() const { return m_hot; }
    ///@}

    /// A raw frame (16-bit, 14 significant bits): offset + gain x radiance x
    /// @p exposure, with defects, temporal noise for @p frameIndex, clamped
    /// to 0..16383.
    cv::Mat renderRaw(double exposure = 1.0, uint64_t frameIndex = 0) const;

    /// The scene in colour (8-bit BGR): the warm objects get hues.
    cv::Mat colourScene() const;
    /// The colour scene seen through a Bayer filter whose (even row, even
    /// column) site is red and (odd, odd) site blue (OpenCV's BayerBG code),
    /// as 14-bit raw values in 16-bit words, without fixed pattern.
    cv::Mat renderBayer() const;

    /// Writes the calibration a two-point correction needs to flatten the
    /// fixed pattern into an OpenCV persistence file: "NUCDark" (16-bit,
    /// the raw frame of a black scene) and "GainMap" (float, 1 / gain).
    void writeNucMaps(const std::string& path) const;
    /// Writes a bad-pixel map ("BPmap", one row x, y, x1, y1, x2, y2 per
    /// defect, the two neighbours being good pixels of the same row or
    /// column).
    void writeBadPixelMap(const std::string& path) const;

private:
    Options m_options;
    cv::Mat m_radiance;
    cv::Mat m_offset;
    cv::Mat m_gain;
    std::vector<cv::Point> m_dead;
    std::vector<cv::Point> m_hot;
};

} // namespace Emulator
} // namespace XEVLibrary
