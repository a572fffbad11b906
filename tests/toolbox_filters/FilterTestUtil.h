#pragma once

#include "XEVFrameInfo.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace XEVFilterTest {

/// A directory removed with everything in it when the test ends.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "xevfilters-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

/// A 16-bit frame from a list of rows.
inline cv::Mat words(std::initializer_list<std::initializer_list<int>> rows) {
    cv::Mat m(int(rows.size()), int(rows.begin()->size()), CV_16UC1);
    int r = 0;
    for (const auto& row : rows) {
        int c = 0;
        for (int v : row)
            m.at<uint16_t>(r, c++) = uint16_t(v);
        ++r;
    }
    return m;
}

inline cv::Mat randomWords(int rows, int cols, int low, int high, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(low, high);
    cv::Mat m(rows, cols, CV_16UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            m.at<uint16_t>(r, c) = uint16_t(value(random));
    return m;
}

inline cv::Mat randomBytes(int rows, int cols, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, 255);
    cv::Mat m(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            m.at<uint8_t>(r, c) = uint8_t(value(random));
    return m;
}

/// Number of elements that differ between two images of the same size and type.
inline int differences(const cv::Mat& a, const cv::Mat& b) {
    if (a.size() != b.size() || a.type() != b.type())
        return -1;
    cv::Mat diff;
    cv::compare(a.reshape(1), b.reshape(1), diff, cv::CMP_NE);
    return cv::countNonZero(diff);
}

inline XEVLibrary::XEVFrameInfo infoAt(uint32_t offsetX, uint32_t offsetY) {
    XEVLibrary::XEVFrameInfo info;
    info.offsetX = offsetX;
    info.offsetY = offsetY;
    return info;
}

} // namespace XEVFilterTest
