#include "UsbCameraTiming.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace XEVLibrary {
namespace Emulator {
namespace {

// Line times (microseconds) per pixel clock class 12.5, 16.666, 20, 25,
// 33.333, 40, 50, 66.666, 80 MHz, as the catalog holds them (the sets of the
// older sensors run at twice the 33.333 and 40 MHz clocks' speed at 66.666
// and 80 MHz).
using LineTimes = std::array<double, 9>;
constexpr LineTimes TableA{37.84, 31.0212, 27.75, 25.04, 21.4209, 19.75, 18.64, 10.71045, 9.875};
constexpr LineTimes TableB{69.84, 54.0622, 46.15, 39.12, 31.0212, 26.95, 23.76, 15.5106, 13.475};
constexpr LineTimes TableC{74.88, 56.162246, 46.8, 37.44, 28.080281, 23.4, 18.72, 14.0401405, 11.7};
constexpr LineTimes TableD{30, 22.5009, 18.75, 15, 11.250113, 9.375, 7.5, 5.6250565, 4.6875};
constexpr LineTimes TableDJ{30, 22.5009, 18.75, 15, 11.250113, 9.375, 7.5, 11.02511, 9.1875};
constexpr LineTimes TableE{72, 54.00216, 45, 36, 27.00027, 22.5, 18, 13.500135, 11.25};
constexpr LineTimes TableF{108.08, 81.783271, 68.65,     56.56, 43.141726,
                           36.45,  30.8,      23.820953, 20.35};
constexpr LineTimes TableG{104.64, 78.483139, 65.4,      52.32, 39.240392,
                           32.7,   26.16,     19.620196, 16.35};
constexpr LineTimes TableH{107.84, 81.783271, 68.9,      56.64, 43.381735,
                           36.9,   31.04,     24.180967, 19.15};
constexpr LineTimes TableI{56.64, 43.381735, 36.9, 31.04, 24.180967, 20.9, 18.24, 14.580583, 11.15};
constexpr LineTimes TableJ{58.8, 44.101764, 36.75, 29.4, 22.050221, 18.375, 14.7, 11.02511, 9.1875};
constexpr LineTimes TableJp{58.8,   44.101764, 36.75,     29.4,  22.050221,
                            18.375, 14.7,      11.026103, 9.1875};
constexpr LineTimes TableK{108, 81.00324, 67.5, 54, 40.500405, 33.75, 27, 20.250203, 16.875};
constexpr LineTimes TableL{35.0 / 12, 23.0 / 12, 3.35, 3.35, 3.35, 3.35, 3.35, 3.35, 3.35};

int clockClass(double mhz) {
    static constexpr double clocks[] = {12.5, 16.666, 20, 25, 33.333, 40, 50, 66.666, 80};
    for (int i = 0; i < 9; ++i)
        if (clocks[i] == mhz)
            return i;
    return 0; // 120 MHz
}

double referenceClock(double mhz) {
    if (mhz == 12.5 || mhz == 25 || mhz == 50)
        return 12.5;
    if (mhz == 16.666 || mhz == 33.333 || mhz == 66.666)
        return 16.666;
    if (mhz == 20 || mhz == 40 || mhz == 80)
        return 20;
    return mhz;
}

double tableLineTime(const LineTimes& table, double mhz) {
    return table[clockClass(mhz)];
}

double standardClock(uint8_t code) {
    switch (code & 0x0F) {
    case 12:
        return 12.5;
    case 14:
        return 16.666;
    case 15:
        return 20;
    case 8:
        return 25;
    case 10:
        return 33.333;
    case 11:
        return 40;
    case 0:
        return 50;
    case 2:
        return 66.666;
    case 3:
        return 80;
    default:
        return 25;
    }
}

std::string firmwareText(uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u", unsigned(version >> 6), unsigned(version & 63));
    return text;
}

double kestrelExposure(uint8_t code, uint8_t fine, bool fineStep) {
    if (code <= 8)
        return 0.1 * (code + 1);
    if (code <= 17)
        return code - 8;
    if (!fineStep)
        fine = 0;
    if (code <= 26)
        return 10.0 * (code - 17) + 0.05 * fine;
    if (code <= 35)
        return 100.0 * (code - 26) + 0.4 * fine;
    if (code <= 46)
        return 1000.0 * (code - 35) + 4.0 * fine;
    if (code < 255 || !fineStep)
        return 12000.0 + 1000.0 * (code - 47) + 4.0 * fine;
    return 220000.0 + 20000.0 * fine;
}

double multiRangeExposure(uint8_t code) {
    if (code <= 8)
        return 0.1 * (code + 1);
    if (code <= 17)
        return code - 8;
    if (code <= 26)
        return 10.0 * (code - 17);
    if (code <= 35)
        return 100.0 * (code - 26);
    return 1000.0 * (code - 35);
}

double lowExposure(uint8_t code) {
    static constexpr double values[] = {0.2, 0.4, 1, 2, 5, 10, 20, 40, 50};
    return code < 9 ? values[code] : 50.0;
}

} // namespace

UsbCameraTiming decodeRegisters(const XEVUsbCameraConfig& config,
                                const std::array<uint8_t, 16>& r) {
    UsbCameraTiming t;
    const auto model = static_cast<UsbModel>(config.referenceId);
    const bool usb3 = config.bcdUSB > 0x02FF;
    t.firstColumn = r[7] * 4u;
    t.columns = r[8] * 8u;
    t.firstLine = r[9] * 4u;
    t.lines = r[10] * 8u;
    t.eightBit = (r[0] & 0x80) != 0;
    t.identification = (r[0] & 0x60) == 0x60;
    t.triggerMode = (r[0] >> 3) & 3;
    const unsigned mode = r[0] & 3;
    const double n = t.lines;

    // Pixel clock.
    double f;
    switch (model) {
    case UsbModel::Auklet:
        f = 20;
        break;
    case UsbModel::Kestrel:
        f = 120;
        break;
    case UsbModel::Lapwing:
    case UsbModel::Merlin:
        f = r[1] == 0 ? 80 : 40;
        break;
    default:
        f = standardClock(r[1]);
    }
    t.pixelClockMHz = f;
    const double refClk = referenceClock(f);

    // Line time.
    const LineTimes* table = &TableJ;
    switch (model) {
    case UsbModel::Auklet:
        table = &TableA;
        break;
    case UsbModel::Bittern:
    case UsbModel::Fulmar:
        table = &TableB;
        break;
    case UsbModel::Heron:
        table = usb3 ? &TableJ : &TableC;
        break;
    case UsbModel::Ibis:
        table = usb3 ? &TableJp : &TableC;
        break;
    case UsbModel::Jacana:
        table = usb3 ? &TableDJ : &TableD;
        break;
    case UsbModel::Lapwing:
        table = &TableE;
        break;
    case UsbModel::Dunlin:
        table = &TableF;
        break;
    case UsbModel::Curlew:
        table = &TableG;
        break;
    case UsbModel::Gannet:
        table = config.sensorWidth >= 1280 ? &TableH : &TableI;
        break;
    case UsbModel::Merlin:
        table = &TableK;
        break;
    case UsbModel::Kestrel:
        table = &TableL;
        break;
    default:
        table = &TableJ;
    }
    double lineTime = tableLineTime(*table, f);
    const bool heronLike =
        model == UsbModel::Heron || model == UsbModel::Egret || model == UsbModel::Ibis;
    const bool kestrel = model == UsbModel::Kestrel;
    const bool iwr = kestrel && (r[1] & 0x20) != 0;
    const std::string firmware = firmwareText(config.firmwareVersion);
    if (heronLike && config.newBridge() && !usb3)
        lineTime = 735.0 / f;
    if (kestrel) {
        const double c = std::trunc(double(t.columns));
        if (firmware < "3.4")
            lineTime = tableLineTime(TableL, f) + std::trunc(c / f);
        else
            lineTime = std::max(c + 200, 8 * std::trunc(((c + 16) * f / 80 + 8) * 0.125)) / f;
    }
    t.lineTimeUs = lineTime;

    // Exposure.
    switch (model) {
    case UsbModel::Kestrel:
        t.exposureUs = kestrelExposure(r[4], r[3], firmware >= "3.4");
        break;
    case UsbModel::Lapwing:
    case UsbModel::Merlin:
        t.exposureUs = multiRangeExposure(r[4]);
        break;
    case UsbModel::Heron:
    case UsbModel::Ibis:
    case UsbModel::Jacana:
    case UsbModel::Egret:
        t.exposureUs = mode == 1 ? lowExposure(r[4]) : 100.0 + 100.0 * r[4];
        break;
    case UsbModel::Curlew:
        t.exposureUs = 100.0 + 100.0 * r[4];
        break;
    default:
        // Rolling shutters without an exposure register integrate for a fixed time.
        t.exposureUs = 5000.0;
    }
    const double expo = t.exposureUs;

    // Lines read per frame and the exposure term of the period.
    double lineCount = n + 1;
    if (heronLike)
        lineCount = n + 4;
    else if (kestrel)
        lineCount = iwr ? n + 4 : n + 2;
    const bool snapshotFamily =
        model == UsbModel::Curlew || model == UsbModel::Lapwing || model == UsbModel::Merlin;
    double e = 0;
    if (model == UsbModel::Jacana) {
        e = 300;
    } else if (kestrel) {
        if (mode == 1)
            e = std::trunc(expo) + (firmware < "3.3" ? 204 : 34);
        else if (iwr)
            e = expo <= lineCount * lineTime ? 143.5 : expo - lineCount * lineTime - 7.5 + 143.5;
        else
            e = expo + 122;
    } else if (model == UsbModel::Heron || model == UsbModel::Egret || model == UsbModel::Ibis) {
        if (mode == 1)
            e = std::trunc(expo);
        else if (model != UsbModel::Ibis)
            e = std::trunc(expo) + 1400;
    } else if (snapshotFamily && mode == 0) {
        e = std::trunc(expo);
    }

    // Frame period from the coarse (5) and fine (6) registers.
    const double b5 = r[5];
    const double b6 = r[6];
    double period;
    switch (model) {
    case UsbModel::Heron:
    case UsbModel::Egret:
        period = lineCount * lineTime + e + 4 * b5 * lineTime + 16 * b6 / f;
        break;
    case UsbModel::Jacana:
        period = (n + 4) * lineTime + e + 16 * b5 * lineTime + 32 * b6 / refClk;
        break;
    case UsbModel::Lapwing:
        period = lineCount * lineTime + e + 13 + 8 * b5 * lineTime + 32 * b6 / refClk;
        break;
    case UsbModel::Merlin:
        period =
            lineCount * lineTime + e + 13 + 8 * std::floor(b5 / 2) * lineTime + 32 * b6 / refClk;
        break;
    case UsbModel::Kestrel: {
        double v = b5;
        if (config.capacity & UsbCapacity::ExtendedFps)
            v += 256.0 * (r[12] & 0x0F);
        period = lineCount * lineTime + e + (8 * v - 1) * lineTime + 36 * b6 / refClk;
        break;
    }
    default: {
        const double divisor =
            (model == UsbModel::Bittern || model == UsbModel::Fulmar) ? 16.0 : 32.0;
        period = (lineCount + 4 * b5) * lineTime + e + b6 * divisor / refClk;
    }
    }
    // A sensor cannot read out faster than its lines.
    t.framePeriodUs = std::max(period, std::max(100.0, lineCount * lineTime));
    return t;
}

} // namespace Emulator
} // namespace XEVLibrary
