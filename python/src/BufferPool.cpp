#include "BufferPool.h"

#include "NumpyFrame.h"

namespace py = pybind11;

namespace XEVPython {
namespace {

/// What a lent array's capsule owns: the buffer and the way back.
struct Loan {
    cv::Mat image;
    std::shared_ptr<BufferPool> pool;
};

} // namespace

std::shared_ptr<BufferPool> BufferPool::create(std::size_t capacity) {
    return std::shared_ptr<BufferPool>(new BufferPool(capacity));
}

cv::Mat BufferPool::take(int rows, int cols, int type) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        while (!m_free.empty()) {
            cv::Mat image = std::move(m_free.back());
            m_free.pop_back();
            if (image.rows == rows && image.cols == cols && image.type() == type)
                return image;
            // Another format: the free buffers are of the old one.
            m_free.clear();
        }
        ++m_allocations;
    }
    return cv::Mat(rows, cols, type);
}

py::array BufferPool::lend(cv::Mat&& image) {
    auto* loan = new Loan{std::move(image), shared_from_this()};
    py::capsule owner(loan, [](void* p) {
        auto* returned = static_cast<Loan*>(p);
        returned->pool->giveBack(std::move(returned->image));
        delete returned;
    });
    return arrayOver(loan->image, owner);
}

void BufferPool::giveBack(cv::Mat&& image) {
    // Only a buffer nobody else holds is lent again.
    if (image.u != nullptr && image.u->refcount != 1)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_free.size() < m_capacity)
        m_free.push_back(std::move(image));
}

std::size_t BufferPool::allocations() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_allocations;
}

} // namespace XEVPython
