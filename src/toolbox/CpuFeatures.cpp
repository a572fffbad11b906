#include "toolbox/CpuFeatures.h"

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

namespace {

CpuFeatures detect() {
    CpuFeatures features;
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    features.byteLookup = avx512 && __builtin_cpu_supports("avx512vbmi");
    features.wideStretch = avx512 && __builtin_cpu_supports("avx512dq");
    features.laneCompress = avx512 && __builtin_cpu_supports("avx512vbmi2");
#endif
    return features;
}

const CpuFeatures& detected() {
    static const CpuFeatures features = detect();
    return features;
}

CpuFeatures& inUse() {
    static CpuFeatures features = detected();
    return features;
}

} // namespace

const CpuFeatures& cpuFeatures() {
    return inUse();
}

void overrideCpuFeatures(const CpuFeatures& features) {
    inUse().byteLookup = features.byteLookup && detected().byteLookup;
    inUse().wideStretch = features.wideStretch && detected().wideStretch;
    inUse().laneCompress = features.laneCompress && detected().laneCompress;
}

void restoreCpuFeatures() {
    inUse() = detected();
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
