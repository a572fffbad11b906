#include "XEVDemosaicing.h"

#include "XEVException.h"
#include "toolbox/FrameOutput.h"
#include "toolbox/GainControl.h"
#include "toolbox/PixelKernels.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

constexpr int Border = 2;
constexpr double InitialMean = 8191.0;

/// Row and column parity of the label-1 sites of each Bayer code.
void firstLabelSite(int code, int& row, int& column) {
    row = (code == 48 || code == 49) ? 1 : 0;
    column = (code == 47 || code == 48) ? 1 : 0;
}

/// Channel of a label: 0 for label 1, 1 for green (3, 4), 2 for label 2.
inline int channelOf(int label) {
    return label == 1 ? 0 : (label == 2 ? 2 : 1);
}

} // namespace

struct XEVDemosaicing::State {
    struct Channel {
        std::vector<uint32_t> histogram;
        std::vector<uint8_t> table;
        uint64_t sum = 0;
        int low = 0;
        int high = 0;
        int lowHistory[2] = {0, 0};
        int highHistory[2] = {0, 0};
        double mean = InitialMean;
        double meanHistory[2] = {InitialMean, InitialMean};
    };

    int width;
    int height;
    float saturation;
    int code;
    int levels;
    cv::Mat labels;
    cv::Mat raw;
    cv::Mat mosaic;
    cv::Mat colour;
    /// Green-balanced values of the current row.
    std::vector<uint16_t> balanced;
    std::vector<uint32_t> columnSums;
    /// The colour image split into planes, and the saturated planes.
    cv::Mat planes[3];
    cv::Mat saturated[3];
    Channel channels[3];
};

namespace {

/// One mosaic site: green sites take their balanced value, the others their
/// raw value (values beyond the level count would index past the tables).
template <bool Green>
inline void mosaicSite(const uint16_t* row, const uint16_t* balanced, int c, int maxLevel,
                       uint64_t& sum, uint32_t* histogram, const uint8_t* table, uint8_t* out) {
    const int v = Green ? int(balanced[c]) : std::min<int>(row[c], maxLevel);
    sum += uint32_t(v);
    ++histogram[v];
    *out = table[v];
}

/// What the mosaic loop needs of one channel.
struct SiteChannel {
    uint32_t* histogram;
    const uint8_t* table;
    uint64_t sum;
};

template <bool GreenEven>
void mosaicRow(const uint16_t* row, const uint16_t* balanced, int width, int maxLevel,
               SiteChannel& even, SiteChannel& odd, uint8_t* out) {
    uint64_t evenSum = 0, oddSum = 0;
    const int end = width - Border; // columns Border .. width - Border - 1
    int c = Border;
    for (; c + 1 < end; c += 2) {
        mosaicSite<GreenEven>(row, balanced, c, maxLevel, evenSum, even.histogram, even.table,
                              out + (c - Border));
        mosaicSite<!GreenEven>(row, balanced, c + 1, maxLevel, oddSum, odd.histogram, odd.table,
                               out + (c + 1 - Border));
    }
    if (c < end)
        mosaicSite<GreenEven>(row, balanced, c, maxLevel, evenSum, even.histogram, even.table,
                              out + (c - Border));
    even.sum += evenSum;
    odd.sum += oddSum;
}

} // namespace

XEVDemosaicing::XEVDemosaicing(int width, int height, float saturation, unsigned int fifoSize)
    : XEVDemosaicing(width, height, saturation, BayerBG, 14, fifoSize) {}

XEVDemosaicing::XEVDemosaicing(int width, int height, float saturation, Epattern pattern,
                               unsigned int bitDepth, unsigned int fifoSize)
    : XEVFilter(fifoSize), m_state(std::make_unique<State>()) {
    if (width < 6 || height < 6)
        XEVException::throwError("For XEVDemosaicing, frame size(%dx%d) must be at least 6x6.",
                                 width, height);
    if (pattern < BayerBG || pattern > BayerGR)
        XEVException::throwError("For XEVDemosaicing, Bayer pattern(%d) must be 46, 47, 48 or 49.",
                                 int(pattern));
    if (bitDepth < 1 || bitDepth > 16)
        XEVException::throwError("For XEVDemosaicing, bit depth(%u) must be between 1 and 16.",
                                 bitDepth);
    State& s = *m_state;
    s.width = width;
    s.height = height;
    s.saturation = saturation;
    s.code = int(pattern);
    s.levels = 1 << bitDepth;
    s.labels.create(height, width, CV_8UC1);
    s.raw.create(height, width, CV_16UC1);
    s.mosaic.create(height - 2 * Border, width - 2 * Border, CV_8UC1);
    s.colour.create(height - 2 * Border, width - 2 * Border, CV_8UC3);
    s.balanced.assign(std::size_t(width), 0);
    s.columnSums.assign(2 * std::size_t(width), 0);
    for (int c = 0; c < 3; ++c) {
        s.planes[c].create(height - 2 * Border, width - 2 * Border, CV_8UC1);
        s.saturated[c].create(height - 2 * Border, width - 2 * Border, CV_8UC1);
    }
    for (State::Channel& channel : s.channels) {
        channel.histogram.assign(std::size_t(s.levels), 0);
        channel.table.assign(std::size_t(s.levels), 0);
    }
    InitDemosaicing();
}

XEVDemosaicing::~XEVDemosaicing() = default;

void XEVDemosaicing::InitDemosaicing() {
    State& s = *m_state;
    int row1, column1;
    firstLabelSite(s.code, row1, column1);
    for (int r = 0; r < s.height; ++r) {
        uint8_t* labels = s.labels.ptr<uint8_t>(r);
        for (int c = 0; c < s.width; ++c) {
            const bool sameRow = (r & 1) == row1;
            const bool sameColumn = (c & 1) == column1;
            labels[c] = sameRow ? (sameColumn ? 1 : 3) : (sameColumn ? 4 : 2);
        }
    }
    s.mosaic.setTo(0);
    for (State::Channel& channel : s.channels) {
        std::fill(channel.histogram.begin(), channel.histogram.end(), 0u);
        std::fill(channel.table.begin(), channel.table.end(), uint8_t(0));
        channel.sum = 0;
        channel.low = 0;
        channel.high = s.levels - 1;
        channel.lowHistory[0] = channel.lowHistory[1] = 0;
        channel.highHistory[0] = channel.highHistory[1] = 0;
        channel.mean = InitialMean;
        channel.meanHistory[0] = channel.meanHistory[1] = InitialMean;
    }
}

void XEVDemosaicing::onStart() {
    InitDemosaicing();
}

const cv::Mat& XEVDemosaicing::labelMap() const {
    return m_state->labels;
}
int XEVDemosaicing::low(int channel) const {
    return m_state->channels[channel].low;
}
int XEVDemosaicing::high(int channel) const {
    return m_state->channels[channel].high;
}
double XEVDemosaicing::mean(int channel) const {
    return m_state->channels[channel].mean;
}
int XEVDemosaicing::levels() const {
    return m_state->levels;
}

void XEVDemosaicing::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    const State& s = *m_state;
    if (frame.dims != 2 || frame.channels() != 1 || frame.cols != s.width || frame.rows != s.height)
        return;
    detail::deliverFrame(*this, s.width - 2 * Border, s.height - 2 * Border, CV_8UC3, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVDemosaicing::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    State& s = *m_state;
    if (frame.dims != 2 || frame.channels() != 1 || frame.cols != s.width || frame.rows != s.height)
        return false;
    const cv::Mat* raw = &frame;
    if (frame.depth() != CV_16U) {
        frame.convertTo(s.raw, CV_16U);
        raw = &s.raw;
    }

    // Tables from the statistics of the frames before.
    double spans[3];
    double shift = -std::numeric_limits<double>::infinity();
    for (int c = 0; c < 3; ++c) {
        spans[c] = double(s.channels[c].high - s.channels[c].low);
        shift = std::max(shift, (s.channels[c].mean - s.channels[c].low) / spans[c]);
    }
    const double greenRatio = double(s.levels - 1) / spans[1];
    const double k = greenRatio <= 30.0 ? 255.0 : 30.0 / greenRatio * 255.0;
    for (int c = 0; c < 3; ++c) {
        State::Channel& channel = s.channels[c];
        detail::demosaicTable(channel.table.data(), s.levels, channel.mean, spans[c], shift, k);
        std::fill(channel.histogram.begin(), channel.histogram.end(), 0u);
        channel.sum = 0;
    }

    // Mosaic of the frame without its 2-pixel border.
    const std::ptrdiff_t stride = std::ptrdiff_t(raw->step1());
    const int maxLevel = s.levels - 1;
    SiteChannel sites[3];
    for (int c = 0; c < 3; ++c)
        sites[c] = SiteChannel{s.channels[c].histogram.data(), s.channels[c].table.data(), 0};
    for (int r = Border; r < s.height - Border; ++r) {
        const uint8_t* labels = s.labels.ptr<uint8_t>(r);
        const int evenChannel = channelOf(labels[Border]);
        const int oddChannel = channelOf(labels[Border + 1]);
        uint8_t* mosaic = s.mosaic.ptr<uint8_t>(r - Border);
        const uint16_t* row = raw->ptr<uint16_t>(r);
        // Balanced values for every column, in one vector pass; the site
        // loop takes them at the green sites only.
        detail::greenBalanceRow(row, stride, s.balanced.data(), Border,
                                std::size_t(s.width - Border), maxLevel, s.columnSums.data(),
                                s.columnSums.data() + s.width);
        if (evenChannel == 1)
            mosaicRow<true>(row, s.balanced.data(), s.width, maxLevel, sites[evenChannel],
                            sites[oddChannel], mosaic);
        else
            mosaicRow<false>(row, s.balanced.data(), s.width, maxLevel, sites[evenChannel],
                             sites[oddChannel], mosaic);
    }
    for (int c = 0; c < 3; ++c)
        s.channels[c].sum = sites[c].sum;

    out.create(s.height - 2 * Border, s.width - 2 * Border, CV_8UC3);
    if (s.saturation == 1.0f) {
        // a = 3 and d = 0: every channel comes out unchanged, exactly.
        cv::cvtColor(s.mosaic, out, s.code);
    } else {
        // Saturation on planes, where it vectorises; the planes are reused.
        cv::cvtColor(s.mosaic, s.colour, s.code);
        const float a = 2.0f * s.saturation + 1.0f;
        const float d = s.saturation - 1.0f;
        cv::split(s.colour, s.planes);
        detail::saturatePlanes(s.planes[0].ptr<uint8_t>(0), s.planes[1].ptr<uint8_t>(0),
                               s.planes[2].ptr<uint8_t>(0), s.saturated[0].ptr<uint8_t>(0),
                               s.saturated[1].ptr<uint8_t>(0), s.saturated[2].ptr<uint8_t>(0),
                               s.colour.total(), a, d);
        cv::merge(s.saturated, 3, out);
    }

    // Statistics for the next frame, smoothed over three frames.
    const int siteCount = int(s.mosaic.total());
    for (int c = 0; c < 3; ++c) {
        State::Channel& channel = s.channels[c];
        const bool green = c == 1;
        const int divisor = green ? siteCount / 2 : siteCount / 4;
        const uint32_t threshold = green ? 100 : 50;
        const double meanNow = double(channel.sum) / double(divisor);
        const int lowNow = detail::lowerBound(channel.histogram.data(), s.levels, threshold);
        const int highNow = detail::upperBound(channel.histogram.data(), maxLevel, threshold);

        channel.low = (lowNow + 2 * (channel.lowHistory[0] + channel.lowHistory[1])) / 5;
        channel.lowHistory[1] = channel.lowHistory[0];
        channel.lowHistory[0] = channel.low;
        channel.high = (highNow + 2 * (channel.highHistory[0] + channel.highHistory[1])) / 5;
        channel.highHistory[1] = channel.highHistory[0];
        channel.highHistory[0] = channel.high;
        channel.mean = 0.1 * meanNow + 0.5 * channel.meanHistory[0] + 0.4 * channel.meanHistory[1];
        channel.meanHistory[1] = channel.meanHistory[0];
        channel.meanHistory[0] = channel.mean;
    }
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
