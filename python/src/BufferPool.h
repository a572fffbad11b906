#pragma once

#include <opencv2/core/mat.hpp>
#include <pybind11/numpy.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace XEVPython {

/**
 * Frame buffers lent to numpy arrays and given back when numpy frees them,
 * so that a capture whose frames Python drops after use allocates nothing
 * per frame once running.
 *
 * The pool lives as long as its owner or any array it lent, whichever is
 * longer (each array's owner keeps a reference to it). It keeps at most
 * @p capacity free buffers, all of the format last asked for.
 */
class BufferPool : public std::enable_shared_from_this<BufferPool> {
public:
    static std::shared_ptr<BufferPool> create(std::size_t capacity);

    /// A buffer of @p rows x @p cols of OpenCV @p type: a free one, or a new one.
    cv::Mat take(int rows, int cols, int type);
    /// A numpy array over @p image's buffer (no copy), which comes back to
    /// the pool when numpy frees the array.
    pybind11::array lend(cv::Mat&& image);

    /// Buffers allocated by take() so far.
    std::size_t allocations() const;

private:
    explicit BufferPool(std::size_t capacity) : m_capacity(capacity) {}
    void giveBack(cv::Mat&& image);

    mutable std::mutex m_lock;
    std::vector<cv::Mat> m_free;
    std::size_t m_capacity;
    std::size_t m_allocations = 0;
};

} // namespace XEVPython
