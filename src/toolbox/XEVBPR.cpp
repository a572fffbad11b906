#include "XEVBPR.h"

#include "XEVException.h"
#include "toolbox/FrameOutput.h"

#include <opencv2/core.hpp>

#include <cstring>
#include <fstream>
#include <utility>

namespace XEVLibrary {
namespace XEVToolBox {

XEVBPR::XEVBPR(std::string path, int width, int height, int offsetX, int offsetY,
               unsigned int fifoSize)
    : XEVFilter(fifoSize), m_path(std::move(path)), m_width(width), m_height(height),
      m_offsetX(offsetX), m_offsetY(offsetY) {
    cv::Mat loaded;
    try {
        cv::FileStorage file;
        if (std::ifstream(m_path).good() && file.open(m_path, cv::FileStorage::READ))
            file["BPmap"] >> loaded;
    } catch (const cv::Exception& error) {
        XEVException::throwError("For XEVBPR(%s), the map file cannot be read: %s", m_path.c_str(),
                                 error.what());
    }
    if (loaded.empty())
        return;
    if (loaded.dims != 2 || loaded.channels() != 1 || loaded.cols != 6)
        XEVException::throwError("For XEVBPR(%s), BPmap must have 6 columns, not %d.",
                                 m_path.c_str(), loaded.channels() * loaded.cols);
    loaded.convertTo(m_map, CV_32S);
}

void XEVBPR::prepareRepairs(int cols, int rows) {
    m_repairs.clear();
    m_cols = cols;
    m_rows = rows;
    const auto inside = [cols, rows](int x, int y) {
        return x >= 0 && x < cols && y >= 0 && y < rows;
    };
    for (int i = 0; i < m_map.rows; ++i) {
        const int32_t* row = m_map.ptr<int32_t>(i);
        const int x = row[0];
        const int y = row[1];
        if (!(y >= m_offsetY && y < m_offsetY + m_height && x >= m_offsetX &&
              x < m_offsetX + m_width))
            continue;
        const int tx = x - m_offsetX, ty = y - m_offsetY;
        const int x1 = row[2] - m_offsetX, y1 = row[3] - m_offsetY;
        const int x2 = row[4] - m_offsetX, y2 = row[5] - m_offsetY;
        // Neighbours outside the frame cannot be read: such a row is skipped.
        if (!inside(tx, ty) || !inside(x1, y1) || !inside(x2, y2))
            continue;
        m_repairs.push_back(Repair{ty * cols + tx, y1 * cols + x1, y2 * cols + x2});
    }
}

void XEVBPR::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::isImageOf(frame, CV_16UC1))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_16UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVBPR::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    if (!detail::isImageOf(frame, CV_16UC1))
        return false;
    out.create(frame.rows, frame.cols, CV_16UC1);
    if (frame.cols != m_cols || frame.rows != m_rows)
        prepareRepairs(frame.cols, frame.rows);
    if (frame.isContinuous() && out.isContinuous()) {
        std::memcpy(out.data, frame.data, frame.total() * frame.elemSize());
        const uint16_t* in = frame.ptr<uint16_t>(0);
        uint16_t* dst = out.ptr<uint16_t>(0);
        for (const Repair& repair : m_repairs)
            dst[repair.target] = uint16_t((uint32_t(in[repair.first]) + in[repair.second]) >> 1);
        return true;
    }
    frame.copyTo(out);
    const int cols = frame.cols;
    for (const Repair& repair : m_repairs)
        out.at<uint16_t>(repair.target / cols, repair.target % cols) =
            uint16_t((uint32_t(frame.at<uint16_t>(repair.first / cols, repair.first % cols)) +
                      frame.at<uint16_t>(repair.second / cols, repair.second % cols)) >>
                     1);
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
