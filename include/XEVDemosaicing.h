#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <memory>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Turns raw Bayer-pattern frames of a colour sensor into 8-bit colour images
 * with automatic white balance and a saturation control.
 *
 * Each pixel has a label by the parity of its row and column and the Bayer
 * code (labels 1 and 2: the two non-green sites, 3 and 4: green):
 *
 *   code 46: label 1 at (even row, even column), 2 at (odd, odd),
 *            3 at (even, odd), 4 at (odd, even);
 *   code 47: 1 at (even, odd), 2 at (odd, even), 3 at (even, even), 4 at (odd, odd);
 *   code 48: 1 at (odd, odd), 2 at (even, even), 3 at (odd, even), 4 at (even, odd);
 *   code 49: 1 at (odd, even), 2 at (even, odd), 3 at (odd, odd), 4 at (even, even).
 *
 * Per frame (W x H, any single-channel depth, converted to 16-bit): every
 * pixel but a 2-pixel border is mapped through its channel's table into an
 * 8-bit mosaic (green sites first get a green-balance correction from their
 * diagonal and same-colour neighbours); the mosaic is demosaiced with the
 * image library's conversion of the Bayer code and saturated with factor s.
 * The tables come from per-channel bounds and means measured on the frames
 * before (smoothed over three frames), so white balance follows the scene.
 * Raw values above the last of the N levels count as the last level.
 *
 * Output frames are (W - 4) x (H - 4), 8-bit three-channel, with the input's
 * XEVFrameInfo. Frames of another size or with more than one channel are
 * dropped.
 */
class XEVDemosaicing : public XEVFilter {
public:
    /// The Bayer codes: the image library's conversion codes to BGR.
    enum Epattern { BayerBG = 46, BayerGB = 47, BayerRG = 48, BayerGR = 49 };

    /// Code 46 and 16384 levels. Refuses frames smaller than 6 x 6 with an
    /// XEVException.
    XEVDemosaicing(int width, int height, float saturation, unsigned int fifoSize);
    /// Refuses a pattern other than the four codes, a @p bitDepth of 0 or
    /// above 16, and frames smaller than 6 x 6 with an XEVException.
    XEVDemosaicing(int width, int height, float saturation, Epattern pattern, unsigned int bitDepth,
                   unsigned int fifoSize);
    ~XEVDemosaicing() override;

    /// (Re)initialises the state: InitDemosaicing().
    void onStart() override;
    /// Demosaics one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame this
    /// filter does not handle.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    /// Resets labels, mosaic, histograms, tables, bounds (0 and N - 1) and
    /// the smoothing histories (bounds 0, means 8191.0).
    void InitDemosaicing();

    /// The H x W label map (values 1 to 4).
    const cv::Mat& labelMap() const;
    /// The stored bounds and mean of a channel: 0 for the label-1 sites, 1
    /// for green, 2 for the label-2 sites.
    ///@{
    int low(int channel) const;
    int high(int channel) const;
    double mean(int channel) const;
    ///@}
    /// Number of output levels of the stretch.
    int levels() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
