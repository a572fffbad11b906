// Feeds arbitrary texts to the GenICam description parser, then asks every
// feature, command and category of what it accepted for everything the
// library asks of a camera's description.
#include "Gige/GenicamXml.h"
#include "XEVManager.h"

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

volatile std::size_t sink;
volatile double doubleSink;

template <class Action>
void Guarded(Action action) {
    try {
        action();
    } catch (const std::exception&) {
        // Refusals are the expected answer to most inputs.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        XEVLibrary::XEVManager::setDiagnosticsHandler([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    uint32_t value = 0;
    if (size >= 4) {
        std::memcpy(&value, data, 4);
    }
    const std::vector<char> text(data, data + size);
    XEVLibrary::GenicamXml xml;
    bool parsed = false;
    Guarded([&] { parsed = xml.Parse(text); });
    if (!parsed)
        return 0;
    std::ostringstream out;
    for (auto it = xml.FeaturesBegin(); it != xml.FeaturesEnd(); ++it) {
        const XEVLibrary::Feature& feature = *it->second;
        Guarded([&] { xml.FeatureManual(it->first, out); });
        Guarded([&] { sink = sink + feature.FeatureValueAsString(value).size(); });
        Guarded([&] { doubleSink = doubleSink + feature.FeatureValueAsDouble(value); });
        Guarded([&] { sink = sink + feature.FeatureValueFromString(std::to_string(value)); });
        Guarded([&] { sink = sink + feature.FeatureValueFromDouble(value * 0.5); });
        Guarded([&] { sink = sink + xml.GetFeatureRegister(it->first)->Address(); });
    }
    for (auto it = xml.CommandsBegin(); it != xml.CommandsEnd(); ++it) {
        Guarded([&] { xml.FeatureManual(it->first, out); });
        Guarded([&] { sink = sink + xml.GetCommandRegister(it->first)->Address(); });
    }
    for (auto it = xml.CategoriesBegin(); it != xml.CategoriesEnd(); ++it)
        sink = sink + it->second->FeatureNames().size();
    Guarded([&] { sink = sink + xml.FeaturesNames2Reg().size(); });
    Guarded([&] { sink = sink + xml.WritableFeaturesNames2Reg().size(); });
    return 0;
}
