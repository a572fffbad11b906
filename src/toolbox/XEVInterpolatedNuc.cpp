#include "XEVInterpolatedNuc.h"

#include "XEVDevice.h"
#include "device/DeviceImpl.h"
#include "toolbox/FrameOutput.h"
#include "toolbox/NucCatalogue.h"
#include "toolbox/NucMaps.h"

#include <boost/signals2/connection.hpp>

#include <limits>
#include <mutex>
#include <system_error>

namespace XEVLibrary {
namespace XEVToolBox {

struct XEVInterpolatedNuc::State {
    std::string root;
    detail::NucCatalogue catalogue;
    std::size_t tables = 0;

    /// Guards the current table and the window derived from it.
    std::mutex lock;
    std::shared_ptr<const detail::Nuc> current;
    bool tableChanged = true;

    // The frame window last seen and its overlap with the current table.
    int64_t windowX = -1;
    int64_t windowY = -1;
    int windowWidth = -1;
    int windowHeight = -1;
    detail::NucOverlap overlap;

    boost::signals2::scoped_connection connection;

    /// Recomputes the overlap when the window or the table changed.
    void recalcSubFrames(int64_t x, int64_t y, int width, int height);
};

void XEVInterpolatedNuc::State::recalcSubFrames(int64_t x, int64_t y, int width, int height) {
    if (!tableChanged && x == windowX && y == windowY && width == windowWidth &&
        height == windowHeight)
        return;
    windowX = x;
    windowY = y;
    windowWidth = width;
    windowHeight = height;
    tableChanged = false;
    overlap = current ? detail::nucOverlap(x, y, width, height, current->rows, current->cols)
                      : detail::NucOverlap();
}

XEVInterpolatedNuc::XEVInterpolatedNuc(XEVDevice& device, const char* basePath,
                                       unsigned int fifoSize)
    : XEVInterpolatedNuc(fifoSize) {
    m_state->root = detail::nucRoot(basePath ? basePath : "");
    m_state->catalogue = detail::buildNucCatalogue(m_state->root);
    for (const auto& directory : m_state->catalogue)
        m_state->tables += directory.second.size();
    m_state->connection = device.impl()->nucSignal.connect(
        [this](std::string& nucPath, double exposure, double minExposure) {
            return Update(nucPath, exposure, minExposure);
        });
}

XEVInterpolatedNuc::XEVInterpolatedNuc(unsigned int fifoSize)
    : XEVFilter(fifoSize), m_state(std::make_unique<State>()) {}

XEVInterpolatedNuc::~XEVInterpolatedNuc() = default;

bool XEVInterpolatedNuc::Update(std::string& nucPath, double exposure, double) {
    namespace fs = std::filesystem;
    const fs::path wanted(m_state->root + nucPath);
    const detail::NucTables* tables = nullptr;
    for (const auto& [directory, found] : m_state->catalogue) {
        std::error_code error;
        if (fs::equivalent(directory, wanted, error) && !error) {
            tables = &found;
            break;
        }
    }
    if (tables == nullptr || tables->empty())
        return false;
    std::shared_ptr<const detail::Nuc> chosen = detail::chooseNuc(*tables, exposure);
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        std::swap(m_state->current, chosen);
        m_state->tableChanged = true;
    }
    return true; // the table replaced is freed here, outside the lock
}

void XEVInterpolatedNuc::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::isImageOf(frame, CV_16UC1))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_16UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVInterpolatedNuc::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info) {
    if (!detail::isImageOf(frame, CV_16UC1))
        return false;
    out.create(frame.rows, frame.cols, CV_16UC1);
    if (frame.empty())
        return true;

    std::lock_guard<std::mutex> guard(m_state->lock);
    State& s = *m_state;
    s.recalcSubFrames(info.offsetX, info.offsetY, frame.cols, frame.rows);
    static const detail::Nuc none; // no table yet: every pixel passes
    detail::applyNuc(s.current ? *s.current : none, s.overlap, frame, out);
    return true;
}

const std::string& XEVInterpolatedNuc::nucRoot() const {
    return m_state->root;
}

std::size_t XEVInterpolatedNuc::tableCount() const {
    return m_state->tables;
}

double XEVInterpolatedNuc::currentExposure() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->current ? m_state->current->exposure : std::numeric_limits<double>::quiet_NaN();
}

} // namespace XEVToolBox
} // namespace XEVLibrary
