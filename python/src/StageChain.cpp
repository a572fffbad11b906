#include "StageChain.h"

#include "Stage.h"
#include "XEVDevice.h"

namespace py = pybind11;

namespace XEVPython {

StageChain::StageChain(const py::sequence& stages) {
    try {
        for (const py::handle item : stages) {
            if (!py::isinstance<Stage>(item))
                throw py::type_error("stages must be toolbox stages, such as toolbox.FlipH()");
            Stage* stage = item.cast<Stage*>();
            stage->enterChain(); // a stage listed twice is refused here
            m_owners.push_back(py::reinterpret_borrow<py::object>(item));
            m_stages.push_back(stage);
        }
    } catch (...) {
        for (Stage* stage : m_stages)
            stage->leaveChain();
        throw;
    }
}

StageChain::~StageChain() {
    release();
}

void StageChain::release() {
    if (m_released)
        return;
    m_released = true;
    for (Stage* stage : m_stages)
        stage->leaveChain();
}

void StageChain::connect(XEVLibrary::XEVDevice& device, XEVLibrary::XEVObserver& last) {
    XEVLibrary::XEVFrameProducer* producer = &device;
    for (Stage* stage : m_stages) {
        *producer << stage->filter();
        producer = &stage->filter();
    }
    *producer << last;
}

void StageChain::disconnect(XEVLibrary::XEVObserver& last) {
    last.disconnect();
    for (Stage* stage : m_stages)
        stage->filter().disconnect();
    release();
}

} // namespace XEVPython
