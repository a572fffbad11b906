// Builds a calibration tree for the exposure-following NUC from an emulated
// camera.
//
// Plugs an emulated Kestrel, and for each exposure time averages frames of
// two flat fields: the dark map is the low field's response, the gain brings
// the difference between the two fields to what an ideal pixel shows. The
// tables go to <out>/NUC/<the NUC path the camera announces>/
// NUCFactory_<exposure>.yml; the tree is then loaded by XEVInterpolatedNuc as
// a check, and the spread of a flat field is shown before and after its
// correction with a table interpolated between the first two exposures.

#include <XEVLibrary.h>
#include <XEVUsbCameraEmulator.h>

#include "FrameAverager.h"
#include "XEVInterpolatedNuc.h"
#include "device/DeviceImpl.h"
#include "toolbox/NucTable.h"
#include "toolbox/NucTableText.h"

#include <boost/program_options.hpp>
#include <boost/signals2/connection.hpp>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVLibrary::Emulator;
using XEVLibrary::XEVToolBox::detail::formatNucText;
using XEVLibrary::XEVToolBox::detail::Nuc;
namespace po = boost::program_options;

namespace {

/// The NUC path and exposure the device announced last.
struct Announcement {
    std::mutex lock;
    std::string path;
    double exposure = 0.0;
};

cv::Mat averageFlatField(XEVDevice& camera, XEVUsbEmulatedCamera& emulated, uint16_t level,
                         int frames) {
    FrameAverager averager;
    camera << averager;
    emulated.setFlatField(level);
    camera.captureNFrames(frames);
    camera.waitEndCapture(-1);
    averager.disconnect();
    return averager.mean();
}

/// The table that maps the low field to 1000 and the high one to
/// 1000 + (high - low): dark = low response, gain = (high - low) / measured
/// difference (0 for a pixel that does not respond, which then shows 1000).
Nuc calibrate(const cv::Mat& low, const cv::Mat& high, int lowLevel, int highLevel) {
    Nuc table;
    table.rows = uint16_t(low.rows);
    table.cols = uint16_t(low.cols);
    table.allocate();
    std::size_t i = 0;
    for (int r = 0; r < low.rows; ++r)
        for (int c = 0; c < low.cols; ++c, ++i) {
            const double dark = low.at<double>(r, c);
            const double span = high.at<double>(r, c) - dark;
            table.set1.dark[i] = cv::saturate_cast<uint16_t>(dark);
            table.set1.gain[i] = span >= 1.0 ? float((highLevel - lowLevel) / span) : 0.0f;
        }
    return table;
}

std::string exposureName(double exposure) {
    char text[64];
    std::snprintf(text, sizeof text, "NUCFactory_%.10g.yml", exposure);
    return text;
}

/// Mean and standard deviation of a frame's pixels where @p mask is set.
std::string spread(const cv::Mat& frame, const cv::Mat& mask) {
    cv::Scalar mean, deviation;
    cv::meanStdDev(frame, mean, deviation, mask);
    std::ostringstream text;
    text.precision(1);
    text << std::fixed << "mean " << mean[0] << ", spread " << deviation[0];
    return text.str();
}

std::vector<double> parseExposures(const std::string& list) {
    std::vector<double> exposures;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const double value = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !(value > 0.0))
            throw std::runtime_error("not an exposure time: \"" + item + "\"");
        exposures.push_back(value);
    }
    if (exposures.empty())
        throw std::runtime_error("no exposure time");
    return exposures;
}

int run(const std::string& out, const std::vector<double>& exposures, int frames, int lowLevel,
        int highLevel) {
    XEVUsbEmulatedBus bus;
    auto emulated = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel, UsbLink::USB3));
    emulated->setPacing(XEVUsbPacing::Fastest);
    XEVManager* manager = XEVManager::getInstance();
    if (manager->deviceCount() == 0) {
        std::cerr << "xev-nuc-calibrate: no camera found\n";
        return 1;
    }
    XEVDevice* camera = manager->openDevice(0, 0, 8);
    Announcement announced;
    const boost::signals2::scoped_connection listening =
        camera->impl()->nucSignal.connect([&](std::string& path, double exposure, double) {
            std::lock_guard<std::mutex> guard(announced.lock);
            announced.path = path;
            announced.exposure = exposure;
            return true;
        });

    std::string nucPath;
    std::vector<double> written;
    cv::Mat firstHigh; // the check below corrects it
    for (double exposure : exposures) {
        camera->setParamValueOf("Exposure Time", exposure, true);
        const cv::Mat low = averageFlatField(*camera, *emulated, uint16_t(lowLevel), frames);
        const cv::Mat high = averageFlatField(*camera, *emulated, uint16_t(highLevel), frames);
        if (firstHigh.empty())
            firstHigh = high;
        // Every capture announces the path and the exposure the camera took.
        std::lock_guard<std::mutex> guard(announced.lock);
        nucPath = announced.path;
        Nuc table = calibrate(low, high, lowLevel, highLevel);
        table.exposure = announced.exposure;
        const std::filesystem::path directory = std::filesystem::path(out) / "NUC" / nucPath;
        std::filesystem::create_directories(directory);
        const std::filesystem::path file = directory / exposureName(announced.exposure);
        std::ofstream(file, std::ios::binary) << formatNucText(table);
        std::cout << file.string() << "\n";
        written.push_back(announced.exposure);
    }
    emulated->clearFlatField();

    // The check: the stage loads the tree and corrects the first high flat
    // field with the table between the first two exposures (the emulated
    // sensor's fixed pattern does not change with the exposure time).
    XEVInterpolatedNuc stage(*camera, out.c_str(), 4);
    if (stage.tableCount() < written.size()) {
        std::cerr << "xev-nuc-calibrate: the stage loaded " << stage.tableCount() << " of "
                  << written.size() << " tables\n";
        return 1;
    }
    const double between = written.size() > 1 ? (written[0] + written[1]) / 2 : written[0];
    if (!stage.Update(nucPath, between, 0.0)) {
        std::cerr << "xev-nuc-calibrate: the stage does not know " << nucPath << "\n";
        return 1;
    }
    cv::Mat raw, corrected;
    firstHigh.convertTo(raw, CV_16UC1);
    stage.process(raw, corrected, XEVFrameInfo());
    // Stuck pixels (dead or saturated) are left to the bad-pixel stage.
    const cv::Mat responding = (raw > 100) & (raw < 16000);
    std::cout << "Loaded " << stage.tableCount() << " tables of " << nucPath
              << "; high flat field with the table at " << between << " us: raw "
              << spread(raw, responding) << ", corrected " << spread(corrected, responding) << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    po::options_description options("Options");
    std::string out = "xev-nuc";
    std::string exposureList = "500,1000,2000,4000";
    int frames = 8, lowLevel = 3000, highLevel = 9000;
    options.add_options()("help,h", "show this help")("out,o", po::value(&out)->default_value(out),
                                                      "base directory of the calibration tree")(
        "exposures,e", po::value(&exposureList)->default_value(exposureList),
        "exposure times in microseconds, separated by commas")(
        "frames,n", po::value(&frames)->default_value(frames), "frames averaged per flat field")(
        "low", po::value(&lowLevel)->default_value(lowLevel),
        "low flat-field level (14-bit DN)")("high", po::value(&highLevel)->default_value(highLevel),
                                            "high flat-field level (14-bit DN)");
    po::variables_map values;
    std::vector<double> exposures;
    try {
        po::store(po::parse_command_line(argc, argv, options), values);
        po::notify(values);
        exposures = parseExposures(exposureList);
        if (frames < 1 || lowLevel < 0 || highLevel <= lowLevel || highLevel > 16383)
            throw std::runtime_error("need frames >= 1 and 0 <= low < high <= 16383");
    } catch (const std::exception& error) {
        std::cerr << "xev-nuc-calibrate: " << error.what() << "\n";
        return 2;
    }
    if (values.count("help")) {
        std::cout << "Usage: xev-nuc-calibrate [options]\n\n"
                     "Measures NUC tables of an emulated Kestrel at several exposure times from\n"
                     "two flat fields and writes them as <out>/NUC/<NUC path>/"
                     "NUCFactory_<exposure>.yml,\nthe calibration tree of XEVInterpolatedNuc.\n\n"
                  << options << "\n";
        return 0;
    }
    try {
        const int status = run(out, exposures, frames, lowLevel, highLevel);
        XEVManager::destroyInstance();
        return status;
    } catch (const std::exception& error) {
        std::cerr << "xev-nuc-calibrate: " << error.what() << "\n";
        XEVManager::destroyInstance();
        return 1;
    }
}
