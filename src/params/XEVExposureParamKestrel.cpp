#include "XEVExposureParamKestrel.h"

#include "ExpoRangesKestrel.h"

#include <ostream>

namespace XEVLibrary {

namespace {

const char* const ManualText =
    "Exposure Time :\n"
    "This parameter is dependant from the options of the camera( 'Gated', 'Fine Step', 'Long Expo' "
    ")\n"
    "-Gated Mode(optional):\n"
    "  0.1us to 0.9us inclusive, steps: 0.1us\n"
    "  1us   to   9us inclusive, steps: 1us\n"
    "-Global Mode:\n"
    "  -LIN mode:\n"
    "    -Without Fine Step option:\n"
    "        10us to    90us inclusive, steps:   10us\n"
    "       100us to   900us inclusive, steps:  100us\n"
    "      1000us to 22000us inclusive, steps: 1000us\n"
    "    -With Fine Step option:\n"
    "        10us to    102.75us inclusive, steps:   10us, fine steps: 0.05us\n"
    "       100us to   1002.00us inclusive, steps:  100us, fine steps: 0.4us\n"
    "      1000us to 220020.00us inclusive, steps: 1000us, fine steps: 4us\n"
    "      -With Long Exposure option:\n"
    "        220000us to 5320000us inclusive, steps: 20000us\n"
    "  -LOG mode:\n"
    "    -Without Fine Step option:\n"
    "       100us to   900us inclusive, steps:  100us\n"
    "      1000us to 11000us inclusive, steps: 1000us\n"
    "    -With Fine Step option:\n"
    "       100us to  1002us inclusive, steps:  100us, fine steps: 0.4us\n"
    "      1000us to 12020us inclusive, steps: 1000us, fine steps: 4us\n"
    "\n"
    "If external trigger is set and Exposure Time >= 220000us:\n"
    "  The real exposure time is defined by the trigger width.\n"
    "  In this case paramStrValueOf( \"Exposure Time\" ) return \"Trigger Width\".\n"
    "You can set any value, the library will allways choose the nearest valid one.\n"
    "  Example:\n"
    "    If you call setParamValueOf( \"Exposure Time\", 100.3 ):\n"
    "      the effective Exposure Time will be:\n"
    "        100.4us with fineStep option\n"
    "        100us without fineStep option.\n"
    "If you set the value in double format, the value must be in microseconds.\n"
    "You can also set the value in string format.\n"
    "  In this case the value must be followed by the unit with or without a space.\n"
    "  Valid unit values are \"ns,us,\265s,ms,s\".\n"
    "  Examples:\n"
    "    setParamValueOf( \"Exposure Time\", \"100.3ms\" )\n"
    "    setParamValueOf( \"Exposure Time\", \"100.3 ms\" )\n"
    "    setParamValueOf( \"Exposure Time\", \"100300 us\" )\n"
    "    setParamValueOf( \"Exposure Time\", \"0.1003s\" )\n"
    "\n";

} // namespace

XEVExposureParamKestrel::XEVExposureParamKestrel(bool gated, bool fineStep, bool longExposure,
                                                 bool highGain, bool linear, bool trigger)
    : XEVExposureParam(
          new ExpoRangesKestrel(gated, fineStep, longExposure, highGain, linear, trigger)) {}

XEVExposureParamKestrel::~XEVExposureParamKestrel() = default;

void XEVExposureParamKestrel::ChangeRanges(bool gated, bool fineStep, bool longExposure,
                                           bool highGain, bool linear, bool trigger) {
    SetExpoRanges(new ExpoRangesKestrel(gated, fineStep, longExposure, highGain, linear, trigger));
}

namespace {

template <typename Setter>
void changeOption(const std::shared_ptr<ExpoRanges>& ranges, Setter setter) {
    if (auto* kestrel = dynamic_cast<ExpoRangesKestrel*>(ranges.get()))
        setter(*kestrel);
}

} // namespace

void XEVExposureParamKestrel::ModeChange(bool gated) {
    changeOption(expoRanges(), [gated](ExpoRangesKestrel& r) { r.setGated(gated); });
}

void XEVExposureParamKestrel::LinLogChange(bool linear) {
    changeOption(expoRanges(), [linear](ExpoRangesKestrel& r) { r.setLinear(linear); });
}

void XEVExposureParamKestrel::GainChange(bool highGain) {
    changeOption(expoRanges(), [highGain](ExpoRangesKestrel& r) { r.setHighGain(highGain); });
}

void XEVExposureParamKestrel::TriggerChange(bool trigger) {
    changeOption(expoRanges(), [trigger](ExpoRangesKestrel& r) { r.setTrigger(trigger); });
}

void XEVExposureParamKestrel::manual(std::ostream& os, int) const {
    os << ManualText;
}

} // namespace XEVLibrary
