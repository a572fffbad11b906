#include "FilterTestUtil.h"

#include "XEVDemosaicing.h"
#include "XEVException.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

namespace {

/// The label of a site from the table of Bayer codes, by row and column parity.
int referenceLabel(int code, int row, int col) {
    const bool re = row % 2 == 0, ce = col % 2 == 0;
    switch (code) {
    case 46:
        return re && ce ? 1 : (!re && !ce ? 2 : (re ? 3 : 4));
    case 47:
        return re && !ce ? 1 : (!re && ce ? 2 : (re ? 3 : 4));
    case 48:
        return !re && !ce ? 1 : (re && ce ? 2 : (!re ? 3 : 4));
    default:
        return !re && ce ? 1 : (re && !ce ? 2 : (!re ? 3 : 4));
    }
}

/// The whole algorithm written out plainly.
class ReferenceDemosaicing {
public:
    ReferenceDemosaicing(int width, int height, float saturation, int code, int levels)
        : W(width), H(height), s(saturation), code(code), N(levels) {
        for (int c = 0; c < 3; ++c) {
            low[c] = 0;
            high[c] = N - 1;
            mean[c] = 8191.0;
            meanHistory[c][0] = meanHistory[c][1] = 8191.0;
            lowHistory[c][0] = lowHistory[c][1] = highHistory[c][0] = highHistory[c][1] = 0;
        }
    }

    cv::Mat run(const cv::Mat& input) {
        cv::Mat raw;
        input.convertTo(raw, CV_16U);
        double span[3], T = -1e300;
        for (int c = 0; c < 3; ++c) {
            span[c] = high[c] - low[c];
            T = std::max(T, (mean[c] - low[c]) / span[c]);
        }
        const double g = (N - 1) / span[1];
        const double k = g <= 30 ? 255 : 30 / g * 255;
        std::vector<std::vector<int>> table(3, std::vector<int>(N));
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < N; ++i) {
                const double t = (i - mean[c]) / span[c] + T;
                double e = t <= 1 ? std::rint(t * k) : std::rint(k);
                e = std::isnan(e) ? 0 : std::min(255.0, std::max(0.0, e));
                table[c][i] = int(e);
            }
        std::vector<std::vector<uint64_t>> histogram(3, std::vector<uint64_t>(N, 0));
        double sum[3] = {0, 0, 0};
        cv::Mat mosaic(H - 4, W - 4, CV_8UC1);
        auto at = [&](int r, int c) { return int(raw.at<uint16_t>(r, c)); };
        for (int r = 2; r <= H - 3; ++r)
            for (int c = 2; c <= W - 3; ++c) {
                const int label = referenceLabel(code, r, c);
                const int ch = label == 1 ? 0 : (label == 2 ? 2 : 1);
                int v;
                if (label >= 3) {
                    const int diagonal = (at(r - 1, c - 1) + at(r - 1, c + 1) + at(r + 1, c - 1) +
                                          at(r + 1, c + 1)) >>
                                         2;
                    int nine = 0;
                    for (int dr = -2; dr <= 2; dr += 2)
                        for (int dc = -2; dc <= 2; dc += 2)
                            nine += at(r + dr, c + dc);
                    v = at(r, c) + (diagonal - nine / 9) / 2;
                    v = std::min(N - 1, std::max(0, v));
                } else {
                    v = std::min(N - 1, at(r, c));
                }
                sum[ch] += v;
                ++histogram[ch][v];
                mosaic.at<uint8_t>(r - 2, c - 2) = uint8_t(table[ch][v]);
            }
        cv::Mat colour;
        cv::cvtColor(mosaic, colour, code);
        const float a = 2 * s + 1, d = s - 1;
        cv::Mat out(colour.size(), CV_8UC3);
        for (int r = 0; r < colour.rows; ++r)
            for (int c = 0; c < colour.cols; ++c) {
                const cv::Vec3b p = colour.at<cv::Vec3b>(r, c);
                const float c0 = p[0], c1 = p[1], c2 = p[2];
                out.at<cv::Vec3b>(r, c) =
                    cv::Vec3b(cv::saturate_cast<uint8_t>((c0 * a - (c1 - c2) * d) / 3),
                              cv::saturate_cast<uint8_t>((c1 * a - (c0 - c2) * d) / 3),
                              cv::saturate_cast<uint8_t>((c2 * a - (c1 - c0) * d) / 3));
            }
        const int count = int(mosaic.total());
        for (int c = 0; c < 3; ++c) {
            const int threshold = c == 1 ? 100 : 50;
            const double meanNow = sum[c] / (c == 1 ? count / 2 : count / 4);
            int lowNow = 0, highNow = N - 1;
            uint64_t run = 0;
            for (int i = 0; i < N; ++i)
                if ((run += histogram[c][i]) >= uint64_t(threshold)) {
                    lowNow = i;
                    break;
                }
            run = 0;
            for (int i = N - 1; i >= 0; --i)
                if ((run += histogram[c][i]) >= uint64_t(threshold)) {
                    highNow = i;
                    break;
                }
            low[c] = (lowNow + 2 * (lowHistory[c][0] + lowHistory[c][1])) / 5;
            lowHistory[c][1] = lowHistory[c][0];
            lowHistory[c][0] = low[c];
            high[c] = (highNow + 2 * (highHistory[c][0] + highHistory[c][1])) / 5;
            highHistory[c][1] = highHistory[c][0];
            highHistory[c][0] = high[c];
            mean[c] = 0.1 * meanNow + 0.5 * meanHistory[c][0] + 0.4 * meanHistory[c][1];
            meanHistory[c][1] = meanHistory[c][0];
            meanHistory[c][0] = mean[c];
        }
        return out;
    }

    int W, H;
    float s;
    int code, N;
    int low[3], high[3], lowHistory[3][2], highHistory[3][2];
    double mean[3], meanHistory[3][2];
};

/// A smooth scene with a Bayer-like modulation and some noise.
cv::Mat scene(int rows, int cols, int maxValue, uint32_t seed) {
    cv::Mat m = randomWords(rows, cols, 0, maxValue / 8, seed);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int base =
                (r * 37 + c * 53) % (maxValue / 2) + ((r % 2) * 1000) + ((c % 2) * 500);
            m.at<uint16_t>(r, c) = uint16_t(std::min(65535, m.at<uint16_t>(r, c) + base));
        }
    return m;
}

} // namespace

TEST(Demosaicing, LabelLayoutPerBayerCode) {
    // Labels at (even, even), (even, odd), (odd, even), (odd, odd).
    struct Case {
        XEVDemosaicing::Epattern code;
        int ee, eo, oe, oo;
    };
    const Case cases[] = {{XEVDemosaicing::BayerBG, 1, 3, 4, 2},
                          {XEVDemosaicing::BayerGB, 3, 1, 2, 4},
                          {XEVDemosaicing::BayerRG, 2, 4, 3, 1},
                          {XEVDemosaicing::BayerGR, 4, 2, 1, 3}};
    for (const Case& c : cases) {
        XEVDemosaicing demosaicing(10, 8, 1.0f, c.code, 14, 4);
        const cv::Mat& labels = demosaicing.labelMap();
        ASSERT_EQ(labels.size(), cv::Size(10, 8));
        for (int r = 0; r < 8; ++r)
            for (int col = 0; col < 10; ++col) {
                const int expected =
                    r % 2 == 0 ? (col % 2 == 0 ? c.ee : c.eo) : (col % 2 == 0 ? c.oe : c.oo);
                ASSERT_EQ(labels.at<uint8_t>(r, col), expected)
                    << int(c.code) << " " << r << "," << col;
            }
    }
    EXPECT_EQ(int(XEVDemosaicing::BayerBG), cv::COLOR_BayerBG2BGR);
    EXPECT_EQ(int(XEVDemosaicing::BayerGR), cv::COLOR_BayerGR2BGR);
}

TEST(Demosaicing, OutputIsFourPixelsSmallerAndStartsFromInitialState) {
    XEVDemosaicing demosaicing(21, 14, 1.0f, 4);
    EXPECT_EQ(demosaicing.levels(), 16384);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(demosaicing.low(c), 0);
        EXPECT_EQ(demosaicing.high(c), 16383);
        EXPECT_EQ(demosaicing.mean(c), 8191.0);
    }
    cv::Mat out;
    ASSERT_TRUE(demosaicing.process(scene(14, 21, 16383, 1), out, XEVFrameInfo()));
    EXPECT_EQ(out.size(), cv::Size(17, 10));
    EXPECT_EQ(out.type(), CV_8UC3);
    // Other sizes and multi-channel frames are not handled.
    cv::Mat none;
    EXPECT_FALSE(
        demosaicing.process(cv::Mat(14, 20, CV_16UC1, cv::Scalar(0)), none, XEVFrameInfo()));
    EXPECT_FALSE(
        demosaicing.process(cv::Mat(14, 21, CV_16UC3, cv::Scalar::all(0)), none, XEVFrameInfo()));
    EXPECT_TRUE(none.empty());
}

TEST(Demosaicing, SuccessiveFramesMatchTheFormulaForEveryCode) {
    struct Case {
        XEVDemosaicing::Epattern code;
        unsigned bitDepth;
        float saturation;
        int width, height, maxValue;
    };
    const Case cases[] = {{XEVDemosaicing::BayerBG, 14, 1.0f, 36, 28, 16383},
                          {XEVDemosaicing::BayerGB, 14, 1.6f, 33, 27, 20000},
                          {XEVDemosaicing::BayerRG, 12, 0.4f, 40, 30, 4095},
                          {XEVDemosaicing::BayerGR, 16, 2.5f, 31, 26, 65535}};
    uint32_t seed = 40;
    for (const Case& c : cases) {
        XEVDemosaicing demosaicing(c.width, c.height, c.saturation, c.code, c.bitDepth, 4);
        demosaicing.onStart();
        ReferenceDemosaicing reference(c.width, c.height, c.saturation, int(c.code),
                                       1 << c.bitDepth);
        for (int frame = 0; frame < 6; ++frame) {
            const cv::Mat raw = scene(c.height, c.width, c.maxValue, ++seed);
            const cv::Mat expected = reference.run(raw);
            cv::Mat out;
            ASSERT_TRUE(demosaicing.process(raw, out, XEVFrameInfo()));
            EXPECT_EQ(differences(out, expected), 0) << int(c.code) << " frame " << frame;
            if (frame == 5) {
                // Once the statistics settled the picture is no flat colour.
                double lowest, highest;
                cv::minMaxLoc(out.reshape(1), &lowest, &highest);
                EXPECT_GT(highest - lowest, 60) << int(c.code);
            }
            for (int ch = 0; ch < 3; ++ch) {
                EXPECT_EQ(demosaicing.low(ch), reference.low[ch]) << int(c.code) << " " << ch;
                EXPECT_EQ(demosaicing.high(ch), reference.high[ch]) << int(c.code) << " " << ch;
                EXPECT_EQ(demosaicing.mean(ch), reference.mean[ch]) << int(c.code) << " " << ch;
            }
        }
        // onStart starts over.
        demosaicing.onStart();
        EXPECT_EQ(demosaicing.high(1), (1 << c.bitDepth) - 1);
    }
}

TEST(Demosaicing, ByteFramesAreConvertedFirst) {
    XEVDemosaicing demosaicing(16, 12, 1.2f, XEVDemosaicing::BayerRG, 8, 4);
    ReferenceDemosaicing reference(16, 12, 1.2f, 48, 256);
    const cv::Mat frame = randomBytes(12, 16, 8);
    cv::Mat out;
    ASSERT_TRUE(demosaicing.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, reference.run(frame)), 0);
}

TEST(Demosaicing, Refusals) {
    struct Case {
        std::function<void()> make;
        std::string message;
    };
    const Case cases[] = {
        {[] { XEVDemosaicing(5, 8, 1.0f, 4); },
         "Error : For XEVDemosaicing, frame size(5x8) must be at least 6x6."},
        {[] { XEVDemosaicing(8, 8, 1.0f, XEVDemosaicing::Epattern(45), 14, 4); },
         "Error : For XEVDemosaicing, Bayer pattern(45) must be 46, 47, 48 or 49."},
        {[] { XEVDemosaicing(8, 8, 1.0f, XEVDemosaicing::BayerBG, 17, 4); },
         "Error : For XEVDemosaicing, bit depth(17) must be between 1 and 16."},
        {[] { XEVDemosaicing(8, 8, 1.0f, XEVDemosaicing::BayerBG, 0, 4); },
         "Error : For XEVDemosaicing, bit depth(0) must be between 1 and 16."},
    };
    for (const Case& c : cases) {
        try {
            c.make();
            ADD_FAILURE() << "no exception: " << c.message;
        } catch (const XEVException& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
}
