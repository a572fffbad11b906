#include "XEVUsbCameraEmulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace XEVLibrary::Emulator;

namespace {

// The library's side: the coarse and fine frame period registers it writes
// for a frame rate, per model family, from line count L, line time T,
// exposure term E, pixel clock F and its reference clock R (worked out by
// hand for each case below).
enum class Rule { Heron, Jacana, Lapwing, Merlin, Kestrel, Other16, Other32 };

struct Case {
    const char* name;
    UsbModel model;
    UsbLink link;
    std::vector<std::pair<unsigned, uint8_t>> registers;
    Rule rule;
    double lines, lineTime, exposureTerm, clock, refClock, numberOfLines, fps;
};

std::vector<std::pair<unsigned, uint8_t>> periodRegisters(const Case& c) {
    const double pf = 1000000.0 / c.fps;
    const double lt = c.lines * c.lineTime;
    auto trunc = [](double v) { return std::trunc(v); };
    std::vector<std::pair<unsigned, uint8_t>> out;
    switch (c.rule) {
    case Rule::Heron: {
        const double d = trunc(pf - (lt + c.exposureTerm));
        const long q = long(d / c.lineTime);
        out = {{5, uint8_t(q / 4)},
               {6, uint8_t(long(trunc((d - 4 * (q / 4) * c.lineTime) * c.clock)) / 16)}};
        break;
    }
    case Rule::Jacana: {
        const double d = trunc(pf - ((c.numberOfLines + 4) * c.lineTime + c.exposureTerm));
        const long q = long(d / c.lineTime);
        out = {{5, uint8_t(q / 16)},
               {6, uint8_t(long(trunc((d - 16 * (q / 16) * c.lineTime) * c.refClock)) / 32)}};
        break;
    }
    case Rule::Lapwing:
    case Rule::Merlin: {
        const double d = trunc(pf - (lt + c.exposureTerm + 13));
        const long q = long(d / c.lineTime);
        out = {{5, uint8_t(c.rule == Rule::Lapwing ? q / 8 : q / 4)},
               {6, uint8_t(long(trunc((d - 8 * (q / 8) * c.lineTime) * c.refClock)) / 32)}};
        break;
    }
    case Rule::Kestrel: {
        const double d = trunc(pf - (lt + c.exposureTerm));
        const long q = long(d / c.lineTime);
        const long v = q / 8 ? q / 8 : 1;
        out = {{5, uint8_t(v)},
               {12, uint8_t((v >> 8) & 0x0F)},
               {6, uint8_t(long(trunc((d - (8 * (q / 8) - 1) * c.lineTime) * c.refClock)) / 36)}};
        break;
    }
    case Rule::Other16:
    case Rule::Other32: {
        const double divisor = c.rule == Rule::Other16 ? 16 : 32;
        const long k = long(std::floor(((pf - c.exposureTerm) / c.lineTime - c.lines) * 0.25));
        out = {{5, uint8_t((k & 0xFF) ? k : 1)},
               {6, uint8_t(std::floor(c.refClock *
                                      (pf - ((c.lines + 4 * k) * c.lineTime + c.exposureTerm)) /
                                      divisor))}};
        break;
    }
    }
    return out;
}

} // namespace

TEST(UsbEmulatorTiming, DecodesTheFramePeriodTheLibraryProgramsForEachFamily) {
    const double kestrelT = 992.0 / 120; // max(840, 8 x 124) / F for 640 columns
    const std::vector<Case> cases = {
        {"Heron",
         UsbModel::Heron,
         UsbLink::USB3,
         {{1, 8}, {4, 19}, {8, 80}, {10, 64}},
         Rule::Heron,
         516,
         29.4,
         3400,
         25,
         12.5,
         512,
         40},
        {"Heron slow",
         UsbModel::Heron,
         UsbLink::USB3,
         {{1, 8}, {4, 19}, {8, 80}, {10, 64}},
         Rule::Heron,
         516,
         29.4,
         3400,
         25,
         12.5,
         512,
         22},
        {"Heron USB2 bridge",
         UsbModel::Heron,
         UsbLink::USB2,
         {{1, 12}, {4, 9}, {8, 80}, {10, 64}},
         Rule::Heron,
         516,
         74.88,
         2400,
         12.5,
         12.5,
         512,
         20},
        {"Ibis",
         UsbModel::Ibis,
         UsbLink::USB3,
         {{1, 8}, {4, 19}, {8, 80}, {10, 64}},
         Rule::Other32,
         516,
         29.4,
         0,
         25,
         12.5,
         512,
         50},
        {"Jacana",
         UsbModel::Jacana,
         UsbLink::USB2,
         {{1, 12}, {4, 19}, {8, 40}, {10, 32}},
         Rule::Jacana,
         256 + 4093,
         30,
         300,
         12.5,
         12.5,
         256,
         100},
        {"Lapwing",
         UsbModel::Lapwing,
         UsbLink::USB3,
         {{1, 8}, {4, 37}, {8, 81}, {10, 60}},
         Rule::Lapwing,
         481,
         22.5,
         2000,
         40,
         20,
         480,
         60},
        {"Merlin",
         UsbModel::Merlin,
         UsbLink::USB3,
         {{1, 8}, {4, 37}, {8, 161}, {10, 128}},
         Rule::Merlin,
         1025,
         33.75,
         2000,
         40,
         20,
         1024,
         20},
        {"Kestrel",
         UsbModel::Kestrel,
         UsbLink::USB3,
         {{1, 0}, {3, 0}, {4, 36}, {8, 80}, {10, 64}},
         Rule::Kestrel,
         514,
         kestrelT,
         1122,
         120,
         120,
         512,
         100},
        {"Kestrel extended",
         UsbModel::Kestrel,
         UsbLink::USB3,
         {{1, 0}, {3, 0}, {4, 36}, {8, 80}, {10, 64}},
         Rule::Kestrel,
         514,
         kestrelT,
         1122,
         120,
         120,
         512,
         5},
        {"Bittern",
         UsbModel::Bittern,
         UsbLink::USB2,
         {{1, 8}, {8, 96}, {10, 72}},
         Rule::Other16,
         577,
         39.12,
         0,
         25,
         12.5,
         576,
         30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> block;
        auto add = [&](unsigned address, uint8_t value) {
            block.push_back(value);
            block.push_back(uint8_t(address));
        };
        for (const auto& r : c.registers)
            add(r.first, r.second);
        for (const auto& r : periodRegisters(c))
            add(r.first, r.second);
        // A camera that is not plugged refuses requests: plug it on a bus.
        XEVUsbEmulatedBus bus;
        auto plugged = bus.plug(XEVUsbCameraConfig::forModel(c.model, c.link));
        ASSERT_EQ(int(block.size()),
                  plugged->controlTransfer(0x40, 0xD6, 0, 0, block.data(), uint16_t(block.size())));
        const double asked = 1000000.0 / c.fps;
        EXPECT_NEAR(asked, plugged->framePeriodMicroseconds(), 0.002 * asked);
    }
}
