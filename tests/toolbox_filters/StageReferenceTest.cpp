// Every pixel stage against a plain per-pixel version of its documented
// behaviour on every kernel path: a 32-pixel block and a tail, a window of a
// larger frame (rows not continuous), 0 and the top of the type, 8 and 16
// bits. HandWorkedTest.cpp keeps frames worked out by hand.
#include "FilterTestUtil.h"

#include "XEVAGCROI.h"
#include "XEVAGCROICustom.h"
#include "XEVAutomaticGainControl.h"
#include "XEVBPR.h"
#include "XEVColorMap.h"
#include "XEVDemosaicing.h"
#include "XEVFlipH.h"
#include "XEVFlipV.h"
#include "XEVGamma.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"
#include "XEVNUC2Points.h"
#include "XEVNUCDoubleOnePoint.h"
#include "XEVNUCDoubleTwoPoints.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <functional>
#include <memory>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

namespace {

constexpr int Cols = 37, Rows = 45; // 37 = one 32-pixel block and a tail
constexpr int OffX = 3, OffY = 2;   // the window on a sensor of (Cols + 6) x (Rows + 4)

struct Frame {
    const char* what;
    cv::Mat image;
    XEVFrameInfo info; // whole-frame gain control counts the border off the origin
};

/// The frames every stage meets; their first pixels are odd, even, odd, so
/// that the double corrections use both map sets.
std::vector<Frame> frames(int depth) {
    const bool w = depth == CV_16U;
    const int type = CV_MAKETYPE(depth, 1), top = w ? 65535 : 255;
    const cv::Mat larger =
        randomWords(Rows + 5, Cols + 11, w ? 2000 : 20, w ? 12000 : 200, 2, type);
    cv::Mat gradient = eachPixel<uint16_t>({Cols, Rows}, [&](int r, int c) {
        return w ? 2000 + 150 * c + 90 * r + r * c % 7 * 13 : 3 * c + 2 * r + r * c % 7;
    });
    gradient.convertTo(gradient, type);
    gradient.col(4).setTo(0);
    gradient.col(33).setTo(top);
    std::vector<Frame> all = {{"wide", randomWords(Rows, Cols, 0, w ? 18000 : 255, 1, type), {}},
                              {"window", larger(cv::Rect(7, 3, Cols, Rows)), origin(3, 0)},
                              {"gradient with 0 and top", gradient, origin(0, 5)}};
    for (int i = 0; i < 3; ++i) {
        cv::Mat first = all[std::size_t(i)].image(cv::Rect(0, 0, 1, 1));
        first.setTo((px(first, 0, 0) & ~1) | (1 - i % 2));
    }
    return all;
}

/// Calibration files for the window on a larger sensor.
struct Maps {
    TempDir dir;
    std::string nuc = dir.file("nuc.yml"), bad = dir.file("bp.yml"), none = dir.file("none.yml");
    cv::Mat dark[3], gain[3]; // single, even, odd
    cv::Mat badPixels = cv::Mat(42, 6, CV_16UC1);

    Maps() {
        cv::RNG random(7);
        for (int i = 0; i < 3; ++i) {
            dark[i] = randomWords(Rows + 4, Cols + 6, 0, 16383, 11 + uint32_t(i));
            gain[i].create(Rows + 4, Cols + 6, CV_32FC1);
            random.fill(gain[i], cv::RNG::UNIFORM, 0.25, 2.5);
        }
        writeMaps(nuc, {{"NUCDark", dark[0]},
                        {"GainMap", gain[0]},
                        {"NUCDarkEven", dark[1]},
                        {"GainMapEven", gain[1]},
                        {"NUCDarkOdd", dark[2]},
                        {"GainMapOdd", gain[2]}});
        // Pixels and neighbours on and around the window; the last two rows
        // are each other's neighbours, so they must read the input frame.
        for (int i = 0; i < 40; ++i)
            for (int c = 0; c < 6; ++c)
                badPixels.at<uint16_t>(i, c) =
                    uint16_t(c % 2 ? OffY - 2 + random.uniform(0, Rows + 4)
                                   : OffX - 2 + random.uniform(0, Cols + 4));
        const int y = OffY + 1, x = OffX + 5;
        const int pair[12] = {x, y, x + 1, y, x - 1, y, x + 1, y, x, y, x + 2, y};
        for (int i = 0; i < 12; ++i)
            badPixels.at<uint16_t>(40 + i / 6, i % 6) = uint16_t(pair[i]);
        writeMaps(bad, {{"BPmap", badPixels}});
    }
};

const Maps& maps() {
    static const Maps m;
    return m;
}

using Reference = std::function<cv::Mat(const cv::Mat&, const XEVFrameInfo&)>;
const std::vector<int> Raw = {CV_16U}, Both = {CV_16U, CV_8U}, Bytes = {CV_8U};
const std::vector<int> NotRaw = {CV_8UC1, CV_16UC3, CV_32FC1},
                       NotByte = {CV_16UC1, CV_8UC3, CV_32FC1};

/// Runs the frames of each of @p depths twice (the second time with the
/// state the first left) through a stage from @p make and a fresh copy of
/// @p reference, with the processor's features and with the portable paths.
/// Frames of the @p refused types give no frame and leave the output alone
/// (or, @p passed, a frame without pixel work).
template <class Make>
void expectReference(Make make, const Reference& reference, const std::vector<int>& depths,
                     const std::vector<int>& refused, bool passed = false) {
    onEveryPath([&](const char* path) {
        for (int depth : depths) {
            auto stage = make(depth);
            Reference fresh = reference;
            for (int round = 0; round < 2; ++round)
                for (const Frame& frame : frames(depth)) {
                    SCOPED_TRACE(testing::Message() << path << ", " << (depth ? 16 : 8) << " bits, "
                                                    << frame.what << ", " << round);
                    cv::Mat out;
                    ASSERT_TRUE(stage->process(frame.image, out, frame.info));
                    const cv::Mat expected = fresh(frame.image, frame.info);
                    EXPECT_EQ(differences(out, expected), 0);
                    double lowest, highest; // a flat frame would say little
                    cv::minMaxLoc(expected.reshape(1), &lowest, &highest);
                    EXPECT_LT(lowest, highest);
                }
        }
        auto stage = make(depths.front());
        for (int type : refused) {
            cv::Mat out(Rows, Cols, CV_8UC1, cv::Scalar(77));
            const cv::Mat frame(Rows, Cols, type, cv::Scalar::all(9));
            EXPECT_EQ(stage->process(frame, out, {}), passed) << path << " " << type;
            EXPECT_TRUE(out.type() == CV_8UC1 && cv::countNonZero(out != 77) == 0) << type;
        }
    });
}

/// A stage made fresh for every depth.
template <class S, class... Args>
auto fresh(Args... args) {
    return [=](int) { return std::make_unique<S>(args...); };
}

template <class S>
auto onWindow(const std::string& path) {
    return [path](int) {
        auto stage = std::make_unique<S>(path, Cols, Rows, OffX, OffY, 4);
        stage->onStart(); // where the one-point correction reads its map
        return stage;
    };
}

/// in - dark + 1000, or rint((in - dark) * gain + 1000) with the product in
/// single precision, clamped to 0..16383; maps by the first pixel's parity.
Reference nuc(int even, int odd, bool twoPoints, bool withMaps = true) {
    return [=](const cv::Mat& in, const XEVFrameInfo&) {
        const int set = px(in, 0, 0) & 1 ? odd : even;
        return eachPixel<uint16_t>(in.size(), [&](int r, int c) {
            const int d = withMaps ? maps().dark[set].at<uint16_t>(r + OffY, c + OffX) : 0;
            const float g = withMaps ? maps().gain[set].at<float>(r + OffY, c + OffX) : 0.0f;
            const double v = twoPoints ? std::rint(double(float(px(in, r, c) - d) * g) + 1000.0)
                                       : px(in, r, c) - d + 1000;
            return std::max(0.0, std::min(16383.0, v));
        });
    };
}

/// A bad pixel inside the frame gets the truncated mean of its neighbours in
/// the input frame.
cv::Mat repaired(const cv::Mat& in, const cv::Mat& map) {
    cv::Mat out = in.clone();
    for (int i = 0; i < map.rows; ++i) {
        int p[6];
        bool inside = true;
        for (int c = 0; c < 6; ++c) {
            p[c] = map.at<uint16_t>(i, c) - (c % 2 ? OffY : OffX);
            inside = inside && p[c] >= 0 && p[c] < (c % 2 ? in.rows : in.cols);
        }
        if (inside)
            out.at<uint16_t>(p[1], p[0]) = uint16_t(
                std::trunc((in.at<uint16_t>(p[3], p[2]) + in.at<uint16_t>(p[5], p[4])) * 0.5));
    }
    return out;
}

/// The first bin from @p from on (in steps of @p step) where the running sum
/// of @p histogram reaches @p count, or @p from when it never does.
int tail(const std::vector<int>& histogram, int from, int step, int count) {
    for (int i = from, sum = 0; i >= 0 && i < int(histogram.size()); i += step)
        if ((sum += histogram[std::size_t(i)]) >= count)
            return i;
    return from;
}

/// low and high from the 200-pixel tails of the histogram of @p window
/// (values above the last bin count in it), the top tail from bin @p start
/// down; a span under 300 becomes 300.
std::pair<int, int> tailBounds(const cv::Mat& in, cv::Rect window, int bins, int start) {
    std::vector<int> histogram(std::size_t(bins), 0);
    window &= cv::Rect(0, 0, in.cols, in.rows);
    for (int r = window.y; r < window.br().y; ++r)
        for (int c = window.x; c < window.br().x; ++c)
            ++histogram[std::size_t(std::min(px(in, r, c), bins - 1))];
    const int low = tail(histogram, 0, 1, 200), top = tail(histogram, start, -1, 200);
    return {low, top - low < 300 ? low + 300 : top};
}

cv::Mat stretched(const cv::Mat& in, double low, double high) {
    return eachPixel<uint8_t>(in.size(),
                              [&](int r, int c) { return stretchOf(px(in, r, c), low, high); });
}

/// Window gain control: each frame stretched in single precision by the
/// bounds of the frame before, 0..16383 at first.
Reference windowed(std::function<cv::Rect(const cv::Mat&)> window) {
    std::pair<int, int> bounds(0, 16383);
    return [=](const cv::Mat& in, const XEVFrameInfo&) mutable {
        const cv::Mat out = eachPixel<uint8_t>(in.size(), [&](int r, int c) {
            return floatStretchOf(px(in, r, c), bounds.first, bounds.second);
        });
        bounds = tailBounds(in, window(in), 16384, 16382);
        return out;
    };
}

/// The sharpened frame (2 in - its 3x3 Gaussian blur) in @p colourMap, or
/// grey in three channels.
Reference sharpened(int colourMap) {
    return [=](const cv::Mat& in, const XEVFrameInfo&) {
        cv::Mat blurred, sharp, out;
        cv::GaussianBlur(in, blurred, cv::Size(3, 3), 1.0, 0.0,
                         cv::BORDER_REFLECT_101 | cv::BORDER_ISOLATED);
        cv::addWeighted(in, 2.0, blurred, -1.0, 0.0, sharp);
        if (colourMap < 0)
            cv::cvtColor(sharp, out, cv::COLOR_GRAY2BGR);
        else
            cv::applyColorMap(sharp, out, colourMap);
        return out;
    };
}

/// Puts @p now first in a two-frame history and returns it.
template <class T>
T pushed(T (&history)[2], T now) {
    history[1] = history[0];
    return history[0] = now;
}

/// Demosaicing written out plainly, with its statistics from frame to frame.
struct DemosaicingReference {
    int code, N;
    float s;
    int low[3] = {0, 0, 0}, high[3] = {N - 1, N - 1, N - 1};
    int lowHistory[3][2] = {}, highHistory[3][2] = {};
    double mean[3] = {8191, 8191, 8191},
           meanHistory[3][2] = {{8191, 8191}, {8191, 8191}, {8191, 8191}};

    cv::Mat operator()(const cv::Mat& input, const XEVFrameInfo&) {
        cv::Mat raw;
        input.convertTo(raw, CV_16U);
        double span[3], shift = -1e300;
        for (int c = 0; c < 3; ++c) {
            span[c] = high[c] - low[c];
            shift = std::max(shift, (mean[c] - low[c]) / span[c]);
        }
        const double g = (N - 1) / span[1], k = g <= 30 ? 255 : 30 / g * 255;
        std::vector<int> histogram[3];
        double sum[3] = {0, 0, 0};
        for (auto& h : histogram)
            h.assign(std::size_t(N), 0);
        cv::Mat mosaic(raw.rows - 4, raw.cols - 4, CV_8UC1);
        auto at = [&](int r, int c) { return int(raw.at<uint16_t>(r, c)); };
        for (int r = 2; r < raw.rows - 2; ++r)
            for (int c = 2; c < raw.cols - 2; ++c) {
                const int label = BayerLabels[code - 46][r % 2 * 2 + c % 2];
                const int ch = label == 1 ? 0 : label == 2 ? 2 : 1;
                int v = std::min(N - 1, at(r, c));
                if (label >= 3) { // green: balanced by its diagonal and same-colour neighbours
                    const int diagonal = (at(r - 1, c - 1) + at(r - 1, c + 1) + at(r + 1, c - 1) +
                                          at(r + 1, c + 1)) >>
                                         2;
                    int nine = 0;
                    for (int dr = -2; dr <= 2; dr += 2)
                        for (int dc = -2; dc <= 2; dc += 2)
                            nine += at(r + dr, c + dc);
                    v = std::max(0, std::min(N - 1, at(r, c) + (diagonal - nine / 9) / 2));
                }
                sum[ch] += v;
                ++histogram[ch][std::size_t(v)];
                const double t = (v - mean[ch]) / span[ch] + shift;
                const double e = t <= 1 ? std::rint(t * k) : std::rint(k);
                mosaic.at<uint8_t>(r - 2, c - 2) =
                    std::isnan(e) ? 0 : cv::saturate_cast<uint8_t>(e);
            }
        cv::Mat colour;
        cv::cvtColor(mosaic, colour, code);
        const float a = 2 * s + 1, d = s - 1;
        cv::Mat out(colour.size(), CV_8UC3);
        for (int r = 0; r < colour.rows; ++r)
            for (int c = 0; c < colour.cols; ++c) {
                const cv::Vec3f p = colour.at<cv::Vec3b>(r, c);
                const float others[3] = {p[1] - p[2], p[0] - p[2], p[1] - p[0]};
                for (int i = 0; i < 3; ++i) { // rounded after every operation, never fused
                    const volatile float own = p[i] * a, other = others[i] * d;
                    out.at<cv::Vec3b>(r, c)[i] = cv::saturate_cast<uint8_t>((own - other) / 3);
                }
            }
        for (int c = 0; c < 3; ++c) { // the statistics of this frame, smoothed
            const int threshold = c == 1 ? 100 : 50;
            const int lowNow = tail(histogram[c], 0, 1, threshold);
            const int highNow = tail(histogram[c], N - 1, -1, threshold);
            const double meanNow = sum[c] / (int(mosaic.total()) / (c == 1 ? 2 : 4));
            low[c] =
                pushed(lowHistory[c], (lowNow + 2 * (lowHistory[c][0] + lowHistory[c][1])) / 5);
            high[c] =
                pushed(highHistory[c], (highNow + 2 * (highHistory[c][0] + highHistory[c][1])) / 5);
            mean[c] = pushed(meanHistory[c],
                             0.1 * meanNow + 0.5 * meanHistory[c][0] + 0.4 * meanHistory[c][1]);
        }
        return out;
    }
};

} // namespace

TEST(StageAgainstReference, NonUniformityCorrections) {
    const std::string& path = maps().nuc;
    expectReference(onWindow<XEVNUC1Point>(path), nuc(0, 0, false), Raw, NotRaw);
    expectReference(onWindow<XEVNUC1Point>(maps().none), nuc(0, 0, false, false), Raw, NotRaw);
    expectReference(onWindow<XEVNUC2Points>(path), nuc(0, 0, true), Raw, NotRaw);
    expectReference(onWindow<XEVNUCDoubleOnePoint>(path), nuc(1, 2, false), Raw, NotRaw);
    expectReference(onWindow<XEVNUCDoubleTwoPoints>(path), nuc(1, 2, true), Raw, NotRaw);
}

TEST(StageAgainstReference, BadPixelReplacement) {
    const auto repair = [](const cv::Mat& in, const XEVFrameInfo&) {
        return repaired(in, maps().badPixels);
    };
    expectReference(onWindow<XEVBPR>(maps().bad), repair, Raw, NotRaw);
    const auto copy = [](const cv::Mat& in, const XEVFrameInfo&) { return in.clone(); };
    expectReference(onWindow<XEVBPR>(maps().none), copy, Raw, {CV_8UC1});
}

TEST(StageAgainstReference, WholeFrameGainControl) {
    // 1 << bitDepth bins for 16-bit frames, 256 for 8-bit ones; the first
    // column and line and the last two are left out at the origin.
    for (const unsigned bitDepth : {14u, 12u, 16u}) {
        SCOPED_TRACE(bitDepth);
        const auto reference = [bitDepth](const cv::Mat& in, const XEVFrameInfo& info) {
            const int x = info.offsetX == 0, y = info.offsetY == 0;
            const int bins = in.depth() == CV_16U ? 1 << bitDepth : 256;
            const auto bounds =
                tailBounds(in, cv::Rect(x, y, in.cols - 3 * x, in.rows - 3 * y), bins, bins - 1);
            return stretched(in, bounds.first, bounds.second);
        };
        expectReference(fresh<XEVAutomaticGainControl>(bitDepth, 4u), reference,
                        bitDepth == 14 ? Both : Raw, {CV_8UC3, CV_32FC1});
    }
}

TEST(StageAgainstReference, WindowGainControl) {
    for (const int mode : {0, 1}) { // the centred window is pinned by hand in HandWorkedTest.cpp
        SCOPED_TRACE(mode);
        XEVAGCROI shape(mode, 4);
        const auto window = [&shape](const cv::Mat& in) {
            cv::Mat out;
            shape.process(in, out, {});
            return shape.window();
        };
        expectReference(fresh<XEVAGCROI>(mode, 4u), windowed(window), Raw, NotRaw);
    }
    expectReference(fresh<XEVAGCROICustom>(5, 2, 40, 50, 4u), // partly outside the frame
                    windowed([](const cv::Mat&) { return cv::Rect(5, 2, 40, 50); }), Raw, NotRaw);
}

TEST(StageAgainstReference, ManualGainControl) {
    const auto bounds = [](int depth) {
        return depth == CV_16U ? std::make_pair(1234.5, 9876.25) : std::make_pair(10.5, 200.25);
    };
    const auto reference = [&](const cv::Mat& in, const XEVFrameInfo&) {
        return stretched(in, bounds(in.depth()).first, bounds(in.depth()).second);
    };
    const auto make = [&](int depth) {
        return std::make_unique<XEVManualAGC>(4, bounds(depth).first, bounds(depth).second);
    };
    expectReference(make, reference, Both, {CV_32FC1}, true);
}

TEST(StageAgainstReference, ByteStages) {
    // rint((i / T)^g T) up to T, rint(255 - ((255 - i) / (255 - T))^g (255 - T)) above.
    const auto gamma = [](const cv::Mat& in, const XEVFrameInfo&) {
        return eachPixel<uint8_t>(in.size(), [&](int r, int c) {
            const double i = px(in, r, c);
            return std::rint(i <= 100 ? std::pow(i / 100, 2.2) * 100
                                      : 255 - std::pow((255 - i) / 155, 2.2) * 255 * (155.0 / 255));
        });
    };
    expectReference(fresh<XEVGamma>(2.2, 100, 4u), gamma, Bytes, NotByte);
    const auto flipped = [](int axis) {
        return [axis](const cv::Mat& in, const XEVFrameInfo&) {
            cv::Mat out;
            cv::flip(in, out, axis);
            return out;
        };
    };
    expectReference(fresh<XEVFlipH>(4u), flipped(0), Bytes, NotByte); // rows reversed
    expectReference(fresh<XEVFlipV>(4u), flipped(1), Bytes, NotByte); // columns reversed
    const int colourMaps[] = {cv::COLORMAP_RAINBOW, cv::COLORMAP_JET,    cv::COLORMAP_HSV,
                              cv::COLORMAP_HOT,     cv::COLORMAP_SUMMER, cv::COLORMAP_WINTER,
                              cv::COLORMAP_COOL,    cv::COLORMAP_BONE,   cv::COLORMAP_SPRING,
                              cv::COLORMAP_AUTUMN,  cv::COLORMAP_OCEAN};
    for (int mode = 0; mode <= 12; ++mode) // 1 to 11 in colour, the others in grey
        expectReference(fresh<XEVColorMap>(4u, mode),
                        sharpened(mode >= 1 && mode <= 11 ? colourMaps[mode - 1] : -1), Bytes,
                        NotByte);
}

TEST(StageAgainstReference, ColourMapBlurAtEverySizeAndEdge) {
    // Single pixels, rows and columns, and a window of a larger frame blurred
    // on its own: its edges mirror rather than reach out.
    for (const cv::Mat& frame : {randomBytes(1, 1, 1), randomBytes(1, 29, 2), randomBytes(31, 1, 3),
                                 randomBytes(2, 2, 4), randomBytes(120, 160, 8)({3, 7, 101, 77})}) {
        cv::Mat out;
        ASSERT_TRUE(XEVColorMap(4, 12).process(frame, out, {}));
        EXPECT_EQ(differences(out, sharpened(-1)(frame, {})), 0) << frame.size();
    }
}

TEST(StageAgainstReference, Demosaicing) {
    // Saturations with inexact products (1.3, 0.37) find a fused multiply and
    // subtraction in the kernels; 2.5 gives exact halves.
    const struct {
        XEVDemosaicing::Epattern code;
        unsigned bitDepth; // 8-bit frames: 8
        float saturation;
    } cases[] = {{XEVDemosaicing::BayerBG, 14, 1.0f},
                 {XEVDemosaicing::BayerGB, 14, 1.3f},
                 {XEVDemosaicing::BayerRG, 15, 0.37f},
                 {XEVDemosaicing::BayerGR, 16, 2.5f}};
    for (const auto& c : cases)
        for (const int depth : {CV_16U, CV_8U}) {
            SCOPED_TRACE(testing::Message() << int(c.code) << ", depth " << depth);
            const unsigned bits = depth == CV_8U ? 8 : c.bitDepth;
            const XEVDemosaicing* stage = nullptr; // the one under test
            const auto make = [&](int) {
                auto made =
                    std::make_unique<XEVDemosaicing>(Cols, Rows, c.saturation, c.code, bits, 4);
                stage = made.get();
                return made;
            };
            // Bounds and means of channel 0 (label-1 sites), 1 (green), 2 (label 2).
            const auto reference = [plain =
                                        DemosaicingReference{int(c.code), 1 << bits, c.saturation},
                                    &stage](const cv::Mat& in, const XEVFrameInfo& info) mutable {
                const cv::Mat out = plain(in, info);
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_TRUE(stage->low(ch) == plain.low[ch] &&
                                stage->high(ch) == plain.high[ch] &&
                                stage->mean(ch) == plain.mean[ch])
                        << "channel " << ch;
                return out;
            };
            expectReference(make, reference, {depth}, {CV_8UC3, CV_16UC3});
        }
}

TEST(StageAgainstReference, DemosaicingCapsTheGreenTableGainAtThirty) {
    // Frame 1: rows 0-11 at 0, the others at 2685. Green sites of rows 2-10
    // are 0 (over 100 of them, the balance of row 10 clamps to 0), those of
    // rows 14-42 stay 2685 (over 100), and only row 13's 16 or 17 are
    // balanced above: 2685 + (2685 - 1790) / 2 = 3132. So the green bounds
    // measured are 0 and 2685, smoothed with zero histories to 0 and 537:
    // the next tables stretch green 16383 / 537 = 30.5 times, over the cap.
    XEVDemosaicing stage(Cols, Rows, 1.0f, XEVDemosaicing::BayerBG, 14, 4);
    DemosaicingReference reference{46, 16384, 1.0f};
    cv::Mat first(Rows, Cols, CV_16UC1, cv::Scalar(0)), out;
    first.rowRange(12, Rows).setTo(2685);
    ASSERT_TRUE(stage.process(first, out, {}));
    reference(first, {});
    ASSERT_EQ(std::make_pair(stage.low(1), stage.high(1)), std::make_pair(0, 537));
    const cv::Mat second = frames(CV_16U)[2].image;
    ASSERT_TRUE(stage.process(second, out, {}));
    EXPECT_EQ(differences(out, reference(second, {})), 0);
}
