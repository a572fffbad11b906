#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>

namespace XEVTest {

/// A loopback address of its own for each emulated GigE camera: test
/// programs run in parallel, and every camera binds port 3956 of its address.
/// The process id fills the address, with the last three bits counting the
/// cameras of the process (1 to 6, so the last byte is never 0 or 255).
inline std::string cameraAddress() {
    static unsigned next = 0;
    const uint32_t host = (static_cast<uint32_t>(getpid()) * 8 + next++ % 6 + 1) & 0xFFFFFF;
    return "127." + std::to_string(host >> 16) + "." + std::to_string((host >> 8) & 0xFF) + "." +
           std::to_string(host & 0xFF);
}

} // namespace XEVTest
