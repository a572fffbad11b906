// A minimal application built against the installed library.
#include <XEVLibrary.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

namespace {

class Counter : public XEVLibrary::XEVObserver {
public:
    void onNewFrame(const cv::Mat&, const XEVLibrary::XEVFrameInfo&) override { ++frames; }
    std::atomic<int> frames{0};
};

} // namespace

int main() {
    XEVLibrary::XEVFrameProducer producer(4);
    Counter counter;
    producer << counter;
    producer.ensureFrameFormat(8, 8, CV_16UC1, 0);
    producer.startProduction();
    for (int i = 0; i < 3; ++i) {
        producer.lockFrameForWrite()->setTo(i);
        producer.unlockFrameForWrite(XEVLibrary::XEVFrameInfo());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (counter.frames.load() <= i && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    producer.stopProduction(false);
    std::cout << "consumer received " << counter.frames.load() << " frames" << std::endl;
    return counter.frames.load() == 3 ? 0 : 1;
}
