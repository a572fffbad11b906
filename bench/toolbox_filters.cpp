// Per-frame cost of the toolbox filters, next to two references measured in
// the same run: a memcpy moving as many bytes as the stage must read and
// write (it copies half of that sum, reading and writing each byte once), and
// the same arithmetic composed from OpenCV's own vectorised routines (not
// bit-identical: OpenCV rounds its own way).
#include "XEVAGCROI.h"
#include "XEVAutomaticGainControl.h"
#include "XEVBPR.h"
#include "XEVCameralessDevice.h"
#include "XEVDemosaicing.h"
#include "XEVDevice.h"
#include "XEVGamma.h"
#include "XEVInterpolatedNuc.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"
#include "XEVNUC2Points.h"
#include "toolbox/NucTable.h"
#include "toolbox/NucTableText.h"

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;

namespace {

/// A raw 14-bit scene: a smooth gradient, a warm disc and pixel noise.
cv::Mat rawScene(int cols, int rows) {
    cv::Mat m(rows, cols, CV_16UC1);
    std::mt19937 random(1234);
    std::normal_distribution<double> noise(0.0, 60.0);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            double v = 3000.0 + 4000.0 * c / cols + 1500.0 * r / rows + noise(random);
            const double dx = c - cols * 0.6, dy = r - rows * 0.4;
            if (dx * dx + dy * dy < double(rows * rows) / 36.0)
                v += 3500.0;
            m.at<uint16_t>(r, c) = cv::saturate_cast<uint16_t>(v);
        }
    return m;
}

cv::Mat byteScene(int cols, int rows) {
    cv::Mat bytes;
    rawScene(cols, rows).convertTo(bytes, CV_8U, 255.0 / 16383.0);
    return bytes;
}

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("xev-bench-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

/// A map file removed when the benchmark that wrote it ends.
struct TempFile {
    std::string path;
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

/// Dark values and gains of a plausible sensor, in matrices of the caller's
/// size.
void randomNucMaps(cv::Mat& dark, cv::Mat& gain) {
    cv::randu(dark, 1500, 2500);
    cv::randu(gain, 0.8, 1.2);
}

/// What an OpenCV reference of a NUC needs, allocated before its timed
/// loop: a raw frame of the benchmark's size, random maps, the single
/// precision product and the 16-bit output.
struct NucReferenceData {
    explicit NucReferenceData(const benchmark::State& state)
        : in(rawScene(int(state.range(0)), int(state.range(1)))), dark(in.size(), CV_16UC1),
          gain(in.size(), CV_32FC1), product(in.size(), CV_32FC1), out(in.size(), CV_16UC1) {
        randomNucMaps(dark, gain);
    }
    cv::Mat in, dark, gain, product, out;
};

/// Writes the maps of a sensor of cols x rows and returns the file path.
std::string nucFile(int cols, int rows) {
    const std::string path = tempPath("nuc-" + std::to_string(cols) + ".yml");
    cv::Mat dark(rows, cols, CV_16UC1), gain(rows, cols, CV_32FC1);
    randomNucMaps(dark, gain);
    cv::FileStorage file(path, cv::FileStorage::WRITE);
    file << "NUCDark" << dark << "GainMap" << gain;
    return path;
}

/// A bad-pixel map with 1 % of the pixels, each replaced by its left and
/// right neighbours.
std::string badPixelFile(int cols, int rows) {
    const std::string path = tempPath("bp-" + std::to_string(cols) + ".yml");
    std::mt19937 random(99);
    std::uniform_int_distribution<int> x(1, cols - 2), y(0, rows - 1);
    cv::Mat map(cols * rows / 100, 6, CV_16UC1);
    for (int i = 0; i < map.rows; ++i) {
        const int px = x(random), py = y(random);
        const uint16_t row[6] = {uint16_t(px), uint16_t(py),     uint16_t(px - 1),
                                 uint16_t(py), uint16_t(px + 1), uint16_t(py)};
        std::memcpy(map.ptr<uint16_t>(i), row, sizeof(row));
    }
    cv::FileStorage file(path, cv::FileStorage::WRITE);
    file << "BPmap" << map;
    return path;
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({640, 512})->Args({1280, 1024})->Unit(benchmark::kMicrosecond);
}

/// memcpy reference: (read + written) / 2 bytes per pixel.
void memcpyReference(benchmark::State& state, double bytesPerPixel) {
    const std::size_t bytes = std::size_t(state.range(0) * state.range(1) * bytesPerPixel);
    std::vector<uint8_t> source(bytes, 1), target(bytes, 0);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

// Bytes per pixel each stage must move: its input, maps and output once each
// (read + written), halved for the memcpy that reads and writes them.
constexpr double Nuc1Bytes = (2 + 2 + 2) / 2.0;     // in, dark -> out
constexpr double Nuc2Bytes = (2 + 2 + 4 + 2) / 2.0; // in, dark, gain -> out
constexpr double AgcBytes = (2 + 1) / 2.0;          // in -> out
constexpr double RoiBytes = (2 + 1) / 2.0;
constexpr double ManualBytes = (2 + 1) / 2.0;
constexpr double GammaBytes = (1 + 1) / 2.0;
constexpr double BprBytes = (2 + 2) / 2.0;      // copy; repairs are sparse
constexpr double DemosaicBytes = (2 + 3) / 2.0; // raw -> colour

template <class Stage>
void runStage(benchmark::State& state, Stage& stage, const cv::Mat& in, cv::Mat& out,
              const XEVFrameInfo& info = XEVFrameInfo()) {
    stage.process(in, out, info); // format set up once, as in the pipeline
    for (auto _ : state) {
        stage.process(in, out, info);
        benchmark::DoNotOptimize(out.data);
        benchmark::ClobberMemory();
    }
}

int boundsSearch(const cv::Mat& histogram, bool fromTop, int start) {
    double sum = 0;
    if (!fromTop) {
        for (int i = 0; i < histogram.rows; ++i)
            if ((sum += histogram.at<float>(i)) >= 200)
                return i;
        return 0;
    }
    for (int i = start; i >= 0; --i)
        if ((sum += histogram.at<float>(i)) >= 200)
            return i;
    return start;
}

void opencvStretch(const cv::Mat& in, const cv::Mat& window, cv::Mat& histogram, cv::Mat& out) {
    const int channels[] = {0};
    const int bins[] = {16384};
    const float range[] = {0, 16384};
    const float* ranges[] = {range};
    cv::calcHist(&window, 1, channels, cv::Mat(), histogram, 1, bins, ranges);
    const int low = boundsSearch(histogram, false, 0);
    int high = boundsSearch(histogram, true, 16383);
    if (high - low < 300)
        high = low + 300;
    const double alpha = 255.0 / (high - low);
    in.convertTo(out, CV_8U, alpha, -low * alpha);
}

// ---------------------------------------------------------------- NUC
void BM_NUC1Point(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const TempFile file{nucFile(cols, rows)};
    XEVNUC1Point nuc(file.path, cols, rows, 0, 0, 4);
    nuc.onStart();
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out;
    runStage(state, nuc, in, out);
}
void BM_NUC1Point_Memcpy(benchmark::State& state) {
    memcpyReference(state, Nuc1Bytes);
}
void BM_NUC1Point_OpenCV(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat dark(rows, cols, CV_16UC1), wide(rows, cols, CV_32SC1), out(rows, cols, CV_16UC1);
    cv::randu(dark, 1500, 2500);
    for (auto _ : state) {
        cv::subtract(in, dark, wide, cv::noArray(), CV_32S);
        wide.convertTo(out, CV_16U, 1.0, 1000.0);
        cv::min(out, 16383, out);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_NUC2Points(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const TempFile file{nucFile(cols, rows)};
    XEVNUC2Points nuc(file.path, cols, rows, 0, 0, 4);
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out;
    runStage(state, nuc, in, out);
}
void BM_NUC2Points_Memcpy(benchmark::State& state) {
    memcpyReference(state, Nuc2Bytes);
}
void BM_NUC2Points_OpenCV(benchmark::State& state) {
    NucReferenceData d(state);
    for (auto _ : state) {
        cv::subtract(d.in, d.dark, d.product, cv::noArray(), CV_32F);
        cv::multiply(d.product, d.gain, d.product);
        d.product.convertTo(d.out, CV_16U, 1.0, 1000.0);
        cv::min(d.out, 16383, d.out);
        benchmark::DoNotOptimize(d.out.data);
    }
}

/// A calibration tree removed when the benchmark that wrote it ends: tables
/// of cols x rows at 1000 and 2000 us.
struct TempTree {
    std::string base;
    TempTree(int cols, int rows) : base(tempPath("tree-" + std::to_string(cols))) {
        for (const int exposure : {1000, 2000}) {
            detail::Nuc table;
            table.rows = uint16_t(rows);
            table.cols = uint16_t(cols);
            table.allocate();
            cv::Mat dark(rows, cols, CV_16UC1, table.set1.dark.data());
            cv::Mat gain(rows, cols, CV_32FC1, table.set1.gain.data());
            randomNucMaps(dark, gain);
            std::filesystem::create_directories(base + "/NUC/bench");
            std::ofstream(base + "/NUC/bench/NUCFactory_" + std::to_string(exposure) + ".yml")
                << detail::formatNucText(table);
        }
    }
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(base, ignored);
    }
};

void BM_InterpolatedNuc(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const TempTree tree(cols, rows);
    Emulator::XEVCameralessDevice device;
    XEVInterpolatedNuc nuc(device, tree.base.c_str(), 4);
    std::string directory = "bench";
    nuc.Update(directory, 1500.0, 0.0); // an interpolated table
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out;
    runStage(state, nuc, in, out);
}
void BM_InterpolatedNuc_Memcpy(benchmark::State& state) {
    memcpyReference(state, Nuc2Bytes); // in, dark, gain -> out, as two points
}
void BM_InterpolatedNuc_OpenCV(benchmark::State& state) {
    NucReferenceData d(state);
    for (auto _ : state) {
        cv::subtract(d.in, d.dark, d.product, cv::noArray(), CV_32F);
        cv::max(d.product, 0.0, d.product);
        cv::multiply(d.product, d.gain, d.product);
        cv::add(d.product, 1000.0, d.product);
        d.product.convertTo(d.out, CV_16U);
        cv::min(d.out, 16383, d.out);
        benchmark::DoNotOptimize(d.out.data);
    }
}

// ---------------------------------------------------------------- AGC
void BM_AutomaticGainControl(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    XEVAutomaticGainControl agc(14, 4);
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out;
    runStage(state, agc, in, out);
}
void BM_AutomaticGainControl_Memcpy(benchmark::State& state) {
    memcpyReference(state, AgcBytes);
}
void BM_AutomaticGainControl_OpenCV(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const cv::Mat in = rawScene(cols, rows);
    const cv::Mat window = in(cv::Rect(1, 1, cols - 3, rows - 3));
    cv::Mat histogram, out(rows, cols, CV_8UC1);
    for (auto _ : state) {
        opencvStretch(in, window, histogram, out);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_AGCROI(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    XEVAGCROI agc(0, 4);
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out;
    runStage(state, agc, in, out);
}
void BM_AGCROI_Memcpy(benchmark::State& state) {
    memcpyReference(state, RoiBytes);
}
void BM_AGCROI_OpenCV(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const cv::Mat in = rawScene(cols, rows);
    const cv::Mat window = in(cv::Rect(cols / 4, rows / 4, cols / 2, rows / 2));
    cv::Mat histogram, floats(rows, cols, CV_32FC1), out(rows, cols, CV_8UC1);
    const int channels[] = {0};
    const int bins[] = {16384};
    const float range[] = {0, 16384};
    const float* ranges[] = {range};
    int low = 0, high = 16383;
    for (auto _ : state) {
        const double alpha = 255.0 / (high - low);
        in.convertTo(floats, CV_32F, alpha, -low * alpha);
        floats.convertTo(out, CV_8U);
        cv::calcHist(&window, 1, channels, cv::Mat(), histogram, 1, bins, ranges);
        low = boundsSearch(histogram, false, 0);
        high = boundsSearch(histogram, true, 16382);
        if (high - low < 300)
            high = low + 300;
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_ManualAGC(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    XEVManualAGC agc(4, 2500.0, 11000.0);
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out;
    runStage(state, agc, in, out);
}
void BM_ManualAGC_Memcpy(benchmark::State& state) {
    memcpyReference(state, ManualBytes);
}
void BM_ManualAGC_OpenCV(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out(rows, cols, CV_8UC1);
    const double alpha = 255.0 / (11000.0 - 2500.0);
    for (auto _ : state) {
        in.convertTo(out, CV_8U, alpha, -2500.0 * alpha);
        benchmark::DoNotOptimize(out.data);
    }
}

// ---------------------------------------------------------------- pixel filters
void BM_Gamma(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    XEVGamma gamma(0.7, 100, 4);
    const cv::Mat in = byteScene(cols, rows);
    cv::Mat out;
    runStage(state, gamma, in, out);
}
void BM_Gamma_Memcpy(benchmark::State& state) {
    memcpyReference(state, GammaBytes);
}
void BM_Gamma_OpenCV(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    XEVGamma gamma(0.7, 100, 4);
    const cv::Mat table(1, 256, CV_8UC1, const_cast<uint8_t*>(gamma.table().data()));
    const cv::Mat in = byteScene(cols, rows);
    cv::Mat out(rows, cols, CV_8UC1);
    for (auto _ : state) {
        cv::LUT(in, table, out);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_BPR(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const TempFile file{badPixelFile(cols, rows)};
    XEVBPR bpr(file.path, cols, rows, 0, 0, 4);
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out;
    runStage(state, bpr, in, out);
}
void BM_BPR_Memcpy(benchmark::State& state) {
    memcpyReference(state, BprBytes);
}
void BM_BPR_OpenCV(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    cv::Mat map;
    {
        const TempFile bad{badPixelFile(cols, rows)};
        cv::FileStorage file(bad.path, cv::FileStorage::READ);
        file["BPmap"] >> map;
    }
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out(rows, cols, CV_16UC1);
    for (auto _ : state) {
        in.copyTo(out);
        for (int i = 0; i < map.rows; ++i) {
            const uint16_t* p = map.ptr<uint16_t>(i);
            out.at<uint16_t>(p[1], p[0]) =
                uint16_t((in.at<uint16_t>(p[3], p[2]) + in.at<uint16_t>(p[5], p[4])) / 2);
        }
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_Demosaicing(benchmark::State& state) {
    const int cols = int(state.range(0)), rows = int(state.range(1));
    XEVDemosaicing demosaicing(cols, rows, 1.3f, 4);
    const cv::Mat in = rawScene(cols, rows);
    cv::Mat out;
    runStage(state, demosaicing, in, out);
}
void BM_Demosaicing_Memcpy(benchmark::State& state) {
    memcpyReference(state, DemosaicBytes);
}
void BM_Demosaicing_OpenCV(benchmark::State& state) {
    // Table look-up as a scaled conversion, the statistics as a histogram,
    // then the same colour conversion and the saturation as a 3x3 transform.
    const int cols = int(state.range(0)), rows = int(state.range(1));
    const cv::Mat in = rawScene(cols, rows);
    const cv::Mat inner = in(cv::Rect(2, 2, cols - 4, rows - 4));
    cv::Mat mosaic(rows - 4, cols - 4, CV_8UC1), colour(rows - 4, cols - 4, CV_8UC3),
        out(rows - 4, cols - 4, CV_8UC3), histogram;
    const float s = 1.3f, a = 2 * s + 1, d = s - 1;
    const cv::Matx33f saturation(a / 3, -d / 3, d / 3, -d / 3, a / 3, d / 3, d / 3, -d / 3, a / 3);
    const int channels[] = {0};
    const int bins[] = {16384};
    const float range[] = {0, 16384};
    const float* ranges[] = {range};
    for (auto _ : state) {
        inner.convertTo(mosaic, CV_8U, 255.0 / 16383.0);
        cv::calcHist(&inner, 1, channels, cv::Mat(), histogram, 1, bins, ranges);
        cv::cvtColor(mosaic, colour, cv::COLOR_BayerBG2BGR);
        cv::transform(colour, out, saturation);
        benchmark::DoNotOptimize(out.data);
    }
}

} // namespace

BENCHMARK(BM_NUC1Point)->Apply(sizes);
BENCHMARK(BM_NUC1Point_Memcpy)->Apply(sizes);
BENCHMARK(BM_NUC1Point_OpenCV)->Apply(sizes);
BENCHMARK(BM_NUC2Points)->Apply(sizes);
BENCHMARK(BM_NUC2Points_Memcpy)->Apply(sizes);
BENCHMARK(BM_NUC2Points_OpenCV)->Apply(sizes);
BENCHMARK(BM_InterpolatedNuc)->Apply(sizes);
BENCHMARK(BM_InterpolatedNuc_Memcpy)->Apply(sizes);
BENCHMARK(BM_InterpolatedNuc_OpenCV)->Apply(sizes);
BENCHMARK(BM_AutomaticGainControl)->Apply(sizes);
BENCHMARK(BM_AutomaticGainControl_Memcpy)->Apply(sizes);
BENCHMARK(BM_AutomaticGainControl_OpenCV)->Apply(sizes);
BENCHMARK(BM_AGCROI)->Apply(sizes);
BENCHMARK(BM_AGCROI_Memcpy)->Apply(sizes);
BENCHMARK(BM_AGCROI_OpenCV)->Apply(sizes);
BENCHMARK(BM_ManualAGC)->Apply(sizes);
BENCHMARK(BM_ManualAGC_Memcpy)->Apply(sizes);
BENCHMARK(BM_ManualAGC_OpenCV)->Apply(sizes);
BENCHMARK(BM_Gamma)->Apply(sizes);
BENCHMARK(BM_Gamma_Memcpy)->Apply(sizes);
BENCHMARK(BM_Gamma_OpenCV)->Apply(sizes);
BENCHMARK(BM_BPR)->Apply(sizes);
BENCHMARK(BM_BPR_Memcpy)->Apply(sizes);
BENCHMARK(BM_BPR_OpenCV)->Apply(sizes);
BENCHMARK(BM_Demosaicing)->Apply(sizes);
BENCHMARK(BM_Demosaicing_Memcpy)->Apply(sizes);
BENCHMARK(BM_Demosaicing_OpenCV)->Apply(sizes);

BENCHMARK_MAIN();
