#pragma once

#include "XEVFilter.h"
#include "XEVFrameInfo.h"

#include <opencv2/core/mat.hpp>
#include <pybind11/numpy.h>

#include <mutex>
#include <utility>

namespace XEVPython {

/**
 * A toolbox stage owned by a Python object. It is used in one of two ways at
 * a time: applied to numpy arrays (apply()), or connected into a capture
 * chain by a StageChain (frames(stages=...) and observe(stages=...)).
 *
 * The stage's lock serialises the arrays applied from several Python threads
 * and keeps a chain from taking the stage while an array is being worked on;
 * a stage in a chain refuses arrays, since its reading thread owns its state.
 */
class Stage {
public:
    virtual ~Stage() = default;
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    /// The stage's work on @p image, into a new array; interpreter lock held
    /// on entry, released during the work.
    pybind11::array apply(pybind11::array image, const XEVLibrary::XEVFrameInfo& info);

    /// The library's filter, for connecting it.
    virtual XEVLibrary::XEVFilter& filter() = 0;

    /// Marks the stage as taken by a chain; raises when it already is.
    void enterChain();
    /// Gives the stage back to arrays.
    void leaveChain();
    bool inChain() const;

protected:
    Stage() = default;
    /// The filter's process(): false for an image it does not take.
    virtual bool process(const cv::Mat& in, cv::Mat& out, const XEVLibrary::XEVFrameInfo& info) = 0;

private:
    mutable std::mutex m_lock;
    bool m_inChain = false;
};

/// The stage of one filter type, constructed in place.
template <typename Filter>
class FilterStage : public Stage {
public:
    template <typename... Args>
    explicit FilterStage(Args&&... args) : m_filter(std::forward<Args>(args)...) {}

    XEVLibrary::XEVFilter& filter() override { return m_filter; }
    Filter& get() { return m_filter; }

protected:
    bool process(const cv::Mat& in, cv::Mat& out, const XEVLibrary::XEVFrameInfo& info) override {
        return m_filter.process(in, out, info);
    }

private:
    Filter m_filter;
};

} // namespace XEVPython
