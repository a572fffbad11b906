#pragma once

#include "TestSupport.h"
#include "XEVFrameInfo.h"
#include "toolbox/CpuFeatures.h"

#include <opencv2/core.hpp>

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
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// A 16-bit frame from a list of rows.
inline cv::Mat words(std::initializer_list<std::initializer_list<int>> rows) {
    cv::Mat m(int(rows.size()), int(rows.begin()->size()), CV_16UC1);
    int i = 0;
    for (const auto& row : rows)
        for (int v : row)
            m.at<uint16_t>(i++) = uint16_t(v);
    return m;
}

/// A 16-bit (or, of @p type CV_8UC1, 8-bit) frame of values drawn in low..high.
inline cv::Mat randomWords(int rows, int cols, int low, int high, uint32_t seed,
                           int type = CV_16UC1) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(low, high);
    cv::Mat m(rows, cols, type);
    for (int i = 0; i < rows * cols; ++i)
        if (type == CV_16UC1)
            m.at<uint16_t>(i) = uint16_t(value(random));
        else
            m.at<uint8_t>(i) = uint8_t(value(random));
    return m;
}

inline cv::Mat randomBytes(int rows, int cols, uint32_t seed) {
    return randomWords(rows, cols, 0, 255, seed, CV_8UC1);
}

/// Number of elements that differ between two images of the same size and type.
inline int differences(const cv::Mat& a, const cv::Mat& b) {
    if (a.size() != b.size() || a.type() != b.type())
        return -1;
    cv::Mat diff;
    cv::compare(a.reshape(1), b.reshape(1), diff, cv::CMP_NE);
    return cv::countNonZero(diff);
}

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
