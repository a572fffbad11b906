#include "DeviceConsumer.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace py = pybind11;

namespace XEVPython {
namespace {

std::mutex s_listLock;
std::vector<DeviceConsumer*>& openConsumers() {
    static std::vector<DeviceConsumer*> consumers;
    return consumers;
}

} // namespace

DeviceConsumer::DeviceConsumer(XEVLibrary::XEVDevice& device) : m_device(&device) {
    std::lock_guard<std::mutex> guard(s_listLock);
    openConsumers().push_back(this);
}

DeviceConsumer::~DeviceConsumer() {
    unlist();
}

void DeviceConsumer::unlist() {
    std::lock_guard<std::mutex> guard(s_listLock);
    auto& list = openConsumers();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void DeviceConsumer::raisePendingOf(const XEVLibrary::XEVDevice& device) {
    std::vector<DeviceConsumer*> consumers;
    {
        std::lock_guard<std::mutex> guard(s_listLock);
        for (DeviceConsumer* consumer : openConsumers())
            if (consumer->m_device == &device)
                consumers.push_back(consumer);
    }
    // The interpreter lock is held throughout: no consumer goes meanwhile.
    for (DeviceConsumer* consumer : consumers)
        consumer->raisePending();
}

void DeviceConsumer::closeAll() {
    for (;;) {
        DeviceConsumer* consumer;
        {
            std::lock_guard<std::mutex> guard(s_listLock);
            if (openConsumers().empty())
                return;
            consumer = openConsumers().front();
        }
        // Shutting down releases the interpreter lock while the device stops; the
        // reference keeps another thread from destroying the consumer then.
        py::object keep = consumer->self();
        consumer->unlist();
        consumer->shutDown();
    }
}

} // namespace XEVPython
