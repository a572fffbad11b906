#pragma once

#include "XEVFrameProducer.h"
#include "XEVObserver.h"

namespace XEVLibrary {

/**
 * A processing stage: an observer of the stage before it and a producer for
 * the stages after it.
 *
 * Its reading thread takes frames from its source and, inside onNewFrame(),
 * writes results into its own FIFO with the writer protocol of
 * XEVFrameProducer; its own observers read that FIFO on their threads.
 * Starting a filter starts its own thread, then its observers; stopping it
 * stops and joins its observers first, then asks its own thread to stop (the
 * producer above joins it).
 *
 * Destroying a filter that is still reading is the same fatal usage error as
 * for any observer, detected before its FIFO is freed.
 */
class XEVFilter : public XEVObserver, public XEVFrameProducer {
public:
    /// @p fifoSize is the size of the filter's output FIFO (at least 3).
    explicit XEVFilter(unsigned int fifoSize);
    ~XEVFilter() override;

    /// True when nobody is connected after this filter.
    bool IsFinal() const override;
    /// Descends into the filter's own observers.
    void FindFinalObservers(std::vector<XEVObserver*>& out) override;
    /// Starts the filter's thread, then its observers. When the observers
    /// cannot start, the error is raised with the filter's own thread still
    /// running; the caller stops and joins it (XEVFrameProducer does).
    void startReading() override;
    /// Stops and joins the observers below, then asks the own thread to stop.
    void stopReading(bool resetCounters) override;

    using XEVFrameProducer::operator<<;

protected:
    void onEndOfStream() override;
};

} // namespace XEVLibrary
