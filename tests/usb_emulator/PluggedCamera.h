#pragma once

#include "XEVUsbCameraEmulator.h"
#include "usb/UsbSeam.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

namespace XEVTest {

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;
using Clock = std::chrono::steady_clock;

/// A bulk read: its result, its byte count and the buffer, 64 bytes longer
/// than asked and filled with 0xEE so that an overrun shows.
struct Read {
    int result = 0;
    int transferred = 0;
    std::vector<uint8_t> data;

    /// Little-endian word @p k from byte @p offset.
    uint16_t word(std::size_t offset, std::size_t k) const {
        return uint16_t(data[offset + 2 * k] | data[offset + 2 * k + 1] << 8);
    }
    /// The 24-bit frame counter of the info line that starts at byte @p info.
    uint32_t counter(std::size_t info) const {
        return uint32_t(word(info, 13)) << 12 | word(info, 14);
    }
};

/// One emulated camera on a bus, driven through its device side as the host
/// stack would.
class PluggedCamera : public ::testing::Test {
protected:
    void plug(const XEVUsbCameraConfig& config) { camera = bus.plug(config); }
    int vendor(uint8_t request, uint16_t value = 0) {
        unsigned char zero = 0;
        return camera->controlTransfer(0x40, request, value, 0, &zero, 0);
    }
    /// One block request of (address, value) pairs, value first on the wire.
    void writeRegisters(const std::vector<std::pair<uint8_t, uint8_t>>& registers) {
        std::vector<uint8_t> block;
        for (const auto& r : registers) {
            block.push_back(r.second);
            block.push_back(r.first);
        }
        ASSERT_EQ(int(block.size()),
                  camera->controlTransfer(0x40, 0xD6, 0, 0, block.data(), uint16_t(block.size())));
    }
    Read read(int length, unsigned timeoutMs = 1000) {
        Read r{0, 0, std::vector<uint8_t>(std::size_t(length) + 64, 0xEE)};
        r.result = camera->bulkRead(camera->config().bulkEndpoint(), r.data.data(), length,
                                    &r.transferred, timeoutMs);
        return r;
    }

    XEVUsbEmulatedBus bus;
    std::shared_ptr<XEVUsbEmulatedCamera> camera;
};

inline double microseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::micro>(elapsed).count();
}

} // namespace XEVTest
