#pragma once

#include "XEVGigeNUC.h"

namespace XEVLibrary {
namespace Gige {

/**
 * A two-point NUC computed by the camera from a dark then a bright uniform
 * scene. Only HeronGigE, HeronGigE-SPOT and KestrelGigE compute one: Connect
 * refuses other models with a std::runtime_error.
 */
class NUC2Points : public NUC {
public:
    /// @p index: the table Connect loads, or -1 for none.
    explicit NUC2Points(int index = -1) : NUC(index) {}

    void Connect(XEVDeviceGige* device) override;
    /// The dark scene, into table @p index ("NucCompute2Pts1").
    void ComputeDark(int index = -1);
    /// The bright scene ("NucCompute2Pts2"); activates the table.
    void ComputeWhite();
};

} // namespace Gige
} // namespace XEVLibrary
