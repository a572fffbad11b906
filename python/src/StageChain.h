#pragma once

#include <pybind11/pybind11.h>

#include <vector>

namespace XEVLibrary {
class XEVDevice;
class XEVFrameProducer;
class XEVObserver;
} // namespace XEVLibrary

namespace XEVPython {

class Stage;

/**
 * The stages a capture runs its frames through, in order, between the device
 * and a final observer: device << stages[0] << ... << final.
 *
 * The chain keeps a reference to each stage's Python object, so that no stage
 * is destroyed while it is connected; it is created and destroyed with the
 * interpreter lock held. connect() and disconnect() touch only the library's
 * objects and run without it.
 */
class StageChain {
public:
    /// Takes the stages of @p stages (a sequence of toolbox stages, possibly
    /// empty); raises when one is already in a chain, or listed twice.
    explicit StageChain(const pybind11::sequence& stages);
    /// Interpreter lock held.
    ~StageChain();
    StageChain(const StageChain&) = delete;
    StageChain& operator=(const StageChain&) = delete;

    /// Connects @p device, the stages and @p last.
    void connect(XEVLibrary::XEVDevice& device, XEVLibrary::XEVObserver& last);
    /// Disconnects @p last and the stages and gives the stages back to arrays.
    void disconnect(XEVLibrary::XEVObserver& last);

private:
    void release();

    std::vector<pybind11::object> m_owners;
    std::vector<Stage*> m_stages;
    bool m_released = false;
};

} // namespace XEVPython
