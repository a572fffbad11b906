#include "XEVFilter.h"

#include <cstdio>
#include <cstdlib>

namespace XEVLibrary {

XEVFilter::XEVFilter(unsigned int fifoSize) : XEVObserver(), XEVFrameProducer(fifoSize) {
    m_observerSide = this;
}

XEVFilter::~XEVFilter() {
    if (hasReadingThread()) {
        // Checked here, before the producer part frees the FIFO that the
        // reading thread writes into.
        std::fputs("CriticalError : Impossible to destroy a XEVObserver while is reading.\n",
                   stderr);
        std::fflush(stderr);
        std::abort();
    }
}

bool XEVFilter::IsFinal() const {
    return observerCount() == 0;
}

void XEVFilter::FindFinalObservers(std::vector<XEVObserver*>& out) {
    XEVFrameProducer::FindFinalObservers(out);
}

void XEVFilter::startReading() {
    XEVObserver::startReading();
    // When the stages below cannot start, the own thread is left running: it
    // waits for the lock of the producer above, which the caller holds, so
    // only the caller can stop and join it (startProduction does).
    XEVFrameProducer::startProduction();
}

void XEVFilter::stopReading(bool resetCounters) {
    XEVFrameProducer::stopProduction(resetCounters);
    XEVObserver::stopReading(resetCounters);
}

void XEVFilter::onEndOfStream() {
    signalEndOfStream();
}

} // namespace XEVLibrary
