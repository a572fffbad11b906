#pragma once

#include "XEVObserver.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <mutex>

/// Averages the raw frames it receives, for flat-field calibrations: the
/// mean is taken in double precision, per pixel.
class FrameAverager : public XEVLibrary::XEVObserver {
public:
    ~FrameAverager() override { disconnect(); }
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo&) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_sum.empty())
            m_sum = cv::Mat::zeros(frame.size(), CV_64FC1);
        cv::accumulate(frame, m_sum);
        ++m_count;
    }
    cv::Mat mean() const {
        std::lock_guard<std::mutex> guard(m_lock);
        cv::Mat result;
        m_sum.convertTo(result, CV_64FC1, m_count ? 1.0 / m_count : 0.0);
        return result;
    }
    void reset() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_sum.release();
        m_count = 0;
    }

private:
    mutable std::mutex m_lock;
    cv::Mat m_sum;
    int m_count = 0;
};
