#pragma once

#include <unistd.h>

#include <string>

namespace XEVTest {

/// A loopback address of its own for each emulated GigE camera: test
/// programs run in parallel, and every camera binds port 3956 of its address.
inline std::string cameraAddress() {
    static int next = 0;
    return "127." + std::to_string(20 + getpid() % 200) + "." + std::to_string(++next % 250 + 1) +
           ".2";
}

} // namespace XEVTest
