#pragma once

#include "TestSupport.h"
#include "XEVFrameInfo.h"
#include "toolbox/CpuFeatures.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

namespace XEVFilterTest {

/// A directory removed with everything in it when the test ends.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "xevtool-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// A 16-bit (or, of @p type CV_8UC1, 8-bit) frame of values drawn in low..high.
inline cv::Mat randomWords(int rows, int cols, int low, int high, uint32_t seed,
                           int type = CV_16UC1) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(low, high);
    cv::Mat m(rows, cols, CV_32SC1);
    for (int i = 0; i < rows * cols; ++i)
        m.at<int>(i) = value(random);
    m.convertTo(m, type);
    return m;
}

inline cv::Mat randomBytes(int rows, int cols, uint32_t seed) {
    return randomWords(rows, cols, 0, 255, seed, CV_8UC1);
}

/// A pixel of a one-channel 8- or 16-bit frame.
inline int px(const cv::Mat& m, int r, int c) {
    return m.depth() == CV_16U ? m.at<uint16_t>(r, c) : m.at<uint8_t>(r, c);
}

/// A frame of @p size whose pixel (r, c) is value(r, c), saturated to T.
template <class T, class F>
cv::Mat eachPixel(cv::Size size, F value) {
    cv::Mat out(size, cv::DataType<T>::type);
    for (int r = 0; r < size.height; ++r)
        for (int c = 0; c < size.width; ++c)
            out.at<T>(r, c) = cv::saturate_cast<T>(value(r, c));
    return out;
}

/// Number of elements that differ between two images of the same size and type.
inline int differences(const cv::Mat& a, const cv::Mat& b) {
    if (a.size() != b.size() || a.type() != b.type())
        return -1;
    cv::Mat diff;
    cv::compare(a.reshape(1), b.reshape(1), diff, cv::CMP_NE);
    return cv::countNonZero(diff);
}

inline XEVLibrary::XEVFrameInfo origin(uint32_t offsetX, uint32_t offsetY) {
    XEVLibrary::XEVFrameInfo info;
    info.offsetX = offsetX;
    info.offsetY = offsetY;
    return info;
}

/// The documented stretch of a level: rint(clamp((p - low) / (high - low) * 255,
/// 0, 255)) in double precision, or in single precision (window gain controls).
inline uint8_t stretchOf(double p, double low, double high) {
    return uint8_t(std::rint(std::min(255.0, std::max(0.0, (p - low) / (high - low) * 255.0))));
}
inline uint8_t floatStretchOf(int p, int low, int high) {
    return cv::saturate_cast<uint8_t>((float(p) - float(low)) / float(high - low) * 255.0f);
}

/// Labels (1, 2: the two colours, 3, 4: green) at (even, even), (even, odd),
/// (odd, even) and (odd, odd) for the Bayer codes 46 to 49.
constexpr int BayerLabels[4][4] = {{1, 3, 4, 2}, {3, 1, 2, 4}, {2, 4, 3, 1}, {4, 2, 1, 3}};

/// Writes map nodes into an OpenCV persistence file.
inline void writeMaps(const std::string& path,
                      std::initializer_list<std::pair<const char*, cv::Mat>> maps) {
    cv::FileStorage file(path, cv::FileStorage::WRITE);
    for (const auto& map : maps)
        file << map.first << map.second;
}

/// Runs @p body with the processor's features, then with the portable paths.
template <class Body>
void onEveryPath(Body body) {
    namespace d = XEVLibrary::XEVToolBox::detail;
    d::restoreCpuFeatures();
    body("own features");
    d::overrideCpuFeatures(d::CpuFeatures{});
    body("portable");
    d::restoreCpuFeatures();
}

} // namespace XEVFilterTest
