#pragma once

#include "XEVGigeCameraEmulator.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace XEVLibrary {
namespace Emulator {

/// One feature of an emulated camera's GenICam description, and its register.
struct GigeFeature {
    enum class Kind { Integer, Float, Enumeration, String, Command };
    enum Visibility { Beginner, Expert, Guru, Invisible };

    std::string name;
    Kind kind = Kind::Integer;
    uint32_t address = 0;
    /// "RO", "RW" or "WO".
    std::string access = "RW";
    std::string category;
    Visibility visibility = Beginner;
    double min = 0;
    double max = 0;
    double inc = 0; ///< 0: no Inc element
    /// Initial register value (single-precision bits for floats).
    uint32_t initial = 0;
    std::vector<std::pair<std::string, uint32_t>> entries;
    uint32_t length = 4; ///< string registers: bytes
    std::string text;    ///< string registers: initial text
    uint32_t commandValue = 1;
    std::string unit;
};

/**
 * The GenICam description of one model and firmware: the features of the
 * camera with their registers, grouped in categories, rendered as the XML
 * text the camera serves. Registers of the bootstrap area keep their
 * standard addresses; the camera's own features live from CustomBase on.
 */
struct GigeDescription {
    static constexpr uint32_t CustomBase = 0x10000;

    std::string modelName;
    std::vector<std::string> categories; ///< in the order of the Root category
    std::vector<GigeFeature> features;

    const GigeFeature* find(const std::string& name) const;
    /// The description as a GenICam XML text.
    std::string xml() const;
};

/// The description of @p config's model and firmware; @p sensorWidth and
/// @p sensorHeight bound the window features.
GigeDescription describeGigeModel(const XEVGigeCameraConfig& config, unsigned sensorWidth,
                                  unsigned sensorHeight);

/// A zip archive (one file, deflated) holding @p text as @p fileName.
std::vector<uint8_t> zipArchive(const std::string& fileName, const std::string& text);

/// Single-precision bits of @p value.
uint32_t floatBits(float value);

} // namespace Emulator
} // namespace XEVLibrary
