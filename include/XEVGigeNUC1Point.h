#pragma once

#include "XEVGigeNUC.h"

namespace XEVLibrary {
namespace Gige {

/**
 * A one-point NUC computed by the camera from the scene it sees (a uniform
 * one, such as a closed shutter).
 */
class NUC1Point : public NUC {
public:
    /// @p index: the table Connect loads, or -1 for none.
    explicit NUC1Point(int index = -1) : NUC(index) {}

    /// Computes table @p index ("NucCompute1Pts") and activates it.
    void Compute(int index = -1);
};

} // namespace Gige
} // namespace XEVLibrary
