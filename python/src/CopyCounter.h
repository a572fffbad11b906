#pragma once

#include "XEVObserver.h"

#include <opencv2/core/mat.hpp>

#include <atomic>

namespace XEVPython {

/**
 * The C++ side of the Python capture benchmark: a final observer that copies
 * every frame once into a buffer of its own, as FrameQueue does, and counts.
 */
class CopyCounter : public XEVLibrary::XEVObserver {
public:
    ~CopyCounter() override { disconnect(); }
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo&) override {
        frame.copyTo(m_copy);
        m_frames.fetch_add(1);
    }
    long frames() const { return m_frames.load(); }

private:
    cv::Mat m_copy;
    std::atomic<long> m_frames{0};
};

} // namespace XEVPython
