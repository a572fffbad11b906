#pragma once

#include "TestSupport.h"
#include "XEVCameralessDevice.h"
#include "XEVDevice.h"
#include "XEVFrameInfo.h"
#include "XEVInterpolatedNuc.h"
#include "device/DeviceImpl.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace XEVNucTest {

namespace fs = std::filesystem;
using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;

/// A device without camera: the tests raise its NUC signal themselves.
using SignalDevice = Emulator::XEVCameralessDevice;

/// A calibration tree in a directory of its own, removed with everything in
/// it when the test ends. base() is the base path handed to the stage.
class TempTree {
public:
    TempTree() {
        std::string pattern = (fs::temp_directory_path() / "xev-inuc-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_base = pattern;
    }
    ~TempTree() {
        std::error_code ignored;
        fs::permissions(m_base, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_base, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& base() const { return m_base; }
    /// <base>/NUC/<relative>
    std::string nuc(const std::string& relative) const { return m_base + "/NUC/" + relative; }
    /// <base>/NUC/Bin/<relative>
    std::string bin(const std::string& relative) const { return m_base + "/NUC/Bin/" + relative; }

    /// Writes @p text at <base>/NUC/<relative>, creating the directories.
    std::string write(const std::string& relative, const std::string& text) const {
        const std::string path = nuc(relative);
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

private:
    std::string m_base;
};

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/// Moves the modification time of @p path to @p reference + @p shift.
inline void touchRelative(const std::string& path, const std::string& reference,
                          std::chrono::seconds shift) {
    fs::last_write_time(path, fs::last_write_time(reference) + shift);
}

/// The text of one matrix: "<name>: !!opencv-matrix", rows, cols, dt, data.
inline std::string matrix(const std::string& name, int rows, int cols, char type,
                          const std::string& values) {
    std::ostringstream text;
    text << name << ": !!opencv-matrix\n   rows: " << rows << "\n   cols: " << cols
         << "\n   dt: " << type << "\n   data: [ " << values << " ]\n";
    return text.str();
}

/// A single table of rows x cols: dark values and gains as written.
inline std::string singleTable(int rows, int cols, const std::string& dark,
                               const std::string& gain) {
    return "%YAML:1.0\n---\n" + matrix("NUCDark", rows, cols, 'w', dark) +
           matrix("GainMap", rows, cols, 'f', gain);
}

/// A double table of rows x cols.
inline std::string doubleTable(int rows, int cols, const std::string& darkOdd,
                               const std::string& darkEven, const std::string& gainOdd,
                               const std::string& gainEven) {
    return "%YAML:1.0\n---\n" + matrix("NUCDarkOdd", rows, cols, 'w', darkOdd) +
           matrix("NUCDarkEven", rows, cols, 'w', darkEven) +
           matrix("GainMapOdd", rows, cols, 'f', gainOdd) +
           matrix("GainMapEven", rows, cols, 'f', gainEven);
}

/// A 16-bit frame of rows x cols holding @p values row after row.
inline cv::Mat frameOf(int rows, int cols, std::initializer_list<int> values) {
    cv::Mat frame(rows, cols, CV_16UC1, cv::Scalar(0));
    int i = 0;
    for (int v : values)
        frame.at<uint16_t>(i / cols, i % cols) = uint16_t(v), ++i;
    return frame;
}

/// A 16-bit frame of rows x cols filled with @p value.
inline cv::Mat flatFrame(int rows, int cols, int value) {
    return cv::Mat(rows, cols, CV_16UC1, cv::Scalar(value));
}

/// The pixels of a 16-bit frame, row after row.
inline std::vector<int> pixels(const cv::Mat& frame) {
    std::vector<int> out;
    for (int r = 0; r < frame.rows; ++r)
        for (int c = 0; c < frame.cols; ++c)
            out.push_back(frame.at<uint16_t>(r, c));
    return out;
}

inline XEVFrameInfo at(uint32_t x, uint32_t y) {
    XEVFrameInfo info;
    info.offsetX = x;
    info.offsetY = y;
    return info;
}

/// The stage's output for @p frame, into an output that held 7777 before
/// (so that a pixel the stage leaves alone shows).
inline std::vector<int> corrected(XEVInterpolatedNuc& stage, const cv::Mat& frame,
                                  const XEVFrameInfo& info = XEVFrameInfo()) {
    cv::Mat out(frame.rows, frame.cols, CV_16UC1, cv::Scalar(7777));
    if (!stage.process(frame, out, info))
        return {-1};
    return pixels(out);
}

/// Selects the table of @p path at @p exposure; whether the stage knew it.
inline bool select(XEVInterpolatedNuc& stage, std::string path, double exposure) {
    return stage.Update(path, exposure, 0.0);
}

} // namespace XEVNucTest
