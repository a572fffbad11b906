// Renders a synthetic short-wave infrared scene, runs it through the toolbox
// stages and chains, and writes one PNG per result plus a contact sheet.
//
//   xev-toolbox-gallery <output folder>

#include "XEVAGCROI.h"
#include "XEVAddText.h"
#include "XEVAutomaticGainControl.h"
#include "XEVBPR.h"
#include "XEVCameralessDevice.h"
#include "XEVColorMap.h"
#include "XEVDemosaicing.h"
#include "XEVDevice.h"
#include "XEVException.h"
#include "XEVFlipH.h"
#include "XEVFlipV.h"
#include "XEVGamma.h"
#include "XEVImageOverlay.h"
#include "XEVInterpolatedNuc.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"
#include "XEVNUC2Points.h"
#include "XEVParam.h"
#include "XEVSyntheticScene.h"
#include "XEVTimestamp.h"
#include "toolbox/NucTable.h"
#include "toolbox/NucTableText.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;

namespace {

constexpr std::chrono::seconds StageDeadline{10};

/// Final observer that keeps the last frame it received.
class LastFrame : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo&) override {
        std::lock_guard<std::mutex> guard(m_lock);
        frame.copyTo(m_last);
        ++m_count;
        m_changed.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, StageDeadline, [&] { return m_count >= count; });
    }
    cv::Mat last() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_last.clone();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    cv::Mat m_last;
    std::size_t m_count = 0;
};

/// Runs @p frames copies of @p input through the chain source -> filters ->
/// observer, one frame at a time, and returns the last frame out.
cv::Mat runChain(const std::vector<XEVFilter*>& filters, const cv::Mat& input, int frames = 1) {
    XEVFrameProducer source(4);
    LastFrame last;
    XEVFrameProducer* tail = &source;
    for (XEVFilter* filter : filters) {
        *tail << *filter;
        tail = filter;
    }
    *tail << last;
    source.startProduction();
    bool delivered = true;
    for (int i = 0; i < frames && delivered; ++i) {
        source.ensureFrameFormat(input.cols, input.rows, input.type(), 0);
        input.copyTo(*source.lockFrameForWrite());
        XEVFrameInfo info;
        info.frameNumber = uint64_t(i + 1);
        info.width = input.cols;
        info.height = input.rows;
        source.unlockFrameForWrite(info);
        delivered = last.waitFor(std::size_t(i + 1));
    }
    source.stopProduction(true);
    std::string errors;
    for (XEVFilter* filter : filters)
        if (filter->lastError() != nullptr)
            errors += filter->lastErrorMessage() + "\n";
    if (!delivered)
        throw std::runtime_error("a stage delivered no frame\n" + errors);
    return last.last();
}

/// Raw frame stretched between its minimum and maximum.
cv::Mat stretchMinMax(const cv::Mat& raw) {
    double low = 0, high = 0;
    cv::minMaxLoc(raw, &low, &high);
    cv::Mat out;
    raw.convertTo(out, CV_8U, 255.0 / std::max(1.0, high - low),
                  -low * 255.0 / std::max(1.0, high - low));
    return out;
}

/// The grey picture the overlay stage blends in.
cv::Mat overlayPicture() {
    cv::Mat picture(120, 200, CV_8UC1, cv::Scalar(30));
    cv::circle(picture, cv::Point(60, 60), 48, cv::Scalar(230), 8, cv::LINE_AA);
    cv::circle(picture, cv::Point(60, 60), 20, cv::Scalar(160), cv::FILLED, cv::LINE_AA);
    cv::putText(picture, "XEV", cv::Point(112, 76), cv::FONT_HERSHEY_SIMPLEX, 1.2, cv::Scalar(240),
                3, cv::LINE_AA);
    cv::rectangle(picture, cv::Rect(0, 0, 200, 120), cv::Scalar(255), 2);
    return picture;
}

/// A dark current that grows with the exposure time (DN per millisecond),
/// in columns, so that a table measured at one exposure misses it at another.
cv::Mat darkCurrent(int width, int height) {
    cv::Mat current(height, width, CV_32FC1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            current.at<float>(y, x) =
                120.0f + 180.0f * float((x * 37 + (y / 64) * 11) % 17) / 17.0f;
    return current;
}

/// A raw frame of @p scene at @p exposureUs (1000 us: the scene's own
/// exposure) with the dark current added.
cv::Mat rawAt(const XEVLibrary::Emulator::XEVSyntheticScene& scene, const cv::Mat& current,
              double exposureUs) {
    cv::Mat raw;
    scene.renderRaw(exposureUs / 1000.0).convertTo(raw, CV_32FC1);
    raw += current * (exposureUs / 1000.0);
    raw.convertTo(raw, CV_16UC1); // rounds, saturates
    return raw;
}

/// Writes the table of the exposure @p exposureUs, as a calibration measures
/// it: dark = offset + dark current, gain = 1 / the pixel's gain.
void writeNucTable(const XEVLibrary::Emulator::XEVSyntheticScene& scene, const cv::Mat& current,
                   double exposureUs, const std::filesystem::path& directory) {
    XEVToolBox::detail::Nuc table;
    table.rows = uint16_t(scene.offsetMap().rows);
    table.cols = uint16_t(scene.offsetMap().cols);
    table.allocate();
    std::size_t i = 0;
    for (int y = 0; y < table.rows; ++y)
        for (int x = 0; x < table.cols; ++x, ++i) {
            const double dark =
                scene.offsetMap().at<float>(y, x) + current.at<float>(y, x) * exposureUs / 1000.0;
            table.set1.dark[i] = cv::saturate_cast<uint16_t>(dark);
            table.set1.gain[i] = 1.0f / std::max(0.05f, scene.gainMap().at<float>(y, x));
        }
    std::filesystem::create_directories(directory);
    std::ofstream(directory / ("NUCFactory_" + std::to_string(int(exposureUs)) + ".yml"))
        << XEVToolBox::detail::formatNucText(table);
}

struct Tile {
    std::string file;
    std::string label;
    cv::Mat image;
};

class Gallery {
public:
    explicit Gallery(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    void add(const std::string& file, const std::string& label, const cv::Mat& image) {
        const std::string path = (m_folder / (file + ".png")).string();
        if (!cv::imwrite(path, image))
            throw std::runtime_error("cannot write " + path);
        std::printf("%-34s %4dx%-4d %s\n", (file + ".png").c_str(), image.cols, image.rows,
                    label.c_str());
        m_tiles.push_back({file, label, image});
    }

    void writeContactSheet(const std::string& title) const {
        constexpr int Columns = 5, TileW = 320, TileH = 256, Label = 26, Gap = 8, Header = 44;
        const int rows = (int(m_tiles.size()) + Columns - 1) / Columns;
        cv::Mat sheet(Header + rows * (TileH + Label + Gap) + Gap, Gap + Columns * (TileW + Gap),
                      CV_8UC3, cv::Scalar(32, 32, 32));
        cv::putText(sheet, title, cv::Point(Gap, 30), cv::FONT_HERSHEY_SIMPLEX, 0.8,
                    cv::Scalar(240, 240, 240), 2, cv::LINE_AA);
        for (std::size_t i = 0; i < m_tiles.size(); ++i) {
            const Tile& tile = m_tiles[i];
            const int x = Gap + int(i % Columns) * (TileW + Gap);
            const int y = Header + int(i / Columns) * (TileH + Label + Gap);
            cv::Mat colour;
            if (tile.image.channels() == 1)
                cv::cvtColor(tile.image, colour, cv::COLOR_GRAY2BGR);
            else
                colour = tile.image;
            // Fit inside the tile, keeping the aspect ratio.
            const double scale = std::min(double(TileW) / colour.cols, double(TileH) / colour.rows);
            cv::Mat scaled;
            cv::resize(colour, scaled, cv::Size(), scale, scale, cv::INTER_AREA);
            const int ox = x + (TileW - scaled.cols) / 2, oy = y + (TileH - scaled.rows) / 2;
            scaled.copyTo(sheet(cv::Rect(ox, oy, scaled.cols, scaled.rows)));
            cv::putText(sheet, tile.label, cv::Point(x + 2, y + TileH + 18),
                        cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar(235, 235, 235), 1, cv::LINE_AA);
        }
        const std::string path = (m_folder / "contact-sheet.png").string();
        if (!cv::imwrite(path, sheet))
            throw std::runtime_error("cannot write " + path);
        std::printf("%-34s %4dx%-4d contact sheet of %zu images\n", "contact-sheet.png", sheet.cols,
                    sheet.rows, m_tiles.size());
    }

private:
    std::filesystem::path m_folder;
    std::vector<Tile> m_tiles;
};

int run(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    constexpr int W = 640, H = 512;
    XEVLibrary::Emulator::XEVSyntheticScene::Options options;
    options.width = W;
    options.height = H;
    options.seed = 7;
    // A strong fixed pattern, so that what the corrections remove shows.
    options.offsetSpread = 220.0;
    options.gainSpread = 0.08;
    const XEVLibrary::Emulator::XEVSyntheticScene scene(options);

    const std::string nucMaps = (folder / "nuc-maps.yml.gz").string();
    const std::string badPixels = (folder / "bad-pixels.yml").string();
    const std::string picture = (folder / "overlay-picture.png").string();
    scene.writeNucMaps(nucMaps);
    scene.writeBadPixelMap(badPixels);
    cv::imwrite(picture, overlayPicture());

    const cv::Mat raw = scene.renderRaw();
    Gallery gallery(folder);

    cv::Mat ideal;
    scene.radiance().convertTo(ideal, CV_8U, 255.0 / 11000.0);
    gallery.add("00-ideal-scene", "Ideal scene (no sensor)", ideal);
    gallery.add("01-raw-stretched", "Raw, min-max stretch", stretchMinMax(raw));
    {
        XEVAutomaticGainControl agc(14, 4);
        gallery.add("02-raw-agc", "Raw > AGC", runChain({&agc}, raw));
    }
    {
        XEVNUC1Point nuc(nucMaps, W, H, 0, 0, 4);
        XEVAutomaticGainControl agc(14, 4);
        gallery.add("03-nuc1-agc", "NUC 1 point > AGC", runChain({&nuc, &agc}, raw));
    }
    {
        XEVNUC2Points nuc(nucMaps, W, H, 0, 0, 4);
        XEVAutomaticGainControl agc(14, 4);
        gallery.add("04-nuc2-agc", "NUC 2 points > AGC", runChain({&nuc, &agc}, raw));
    }
    cv::Mat clean;
    {
        XEVNUC2Points nuc(nucMaps, W, H, 0, 0, 4);
        XEVBPR bpr(badPixels, W, H, 0, 0, 4);
        XEVAutomaticGainControl agc(14, 4);
        clean = runChain({&nuc, &bpr, &agc}, raw);
        gallery.add("05-nuc2-bpr-agc", "NUC 2 points > BPR > AGC", clean);
    }
    cv::Mat corrected;
    {
        XEVNUC2Points nuc(nucMaps, W, H, 0, 0, 4);
        XEVBPR bpr(badPixels, W, H, 0, 0, 4);
        corrected = runChain({&nuc, &bpr}, raw);
    }
    {
        XEVAGCROI roi(1, 4); // bounds of the frame before: two frames
        gallery.add("06-agc-roi-quarter", "NUC2 > BPR > AGC ROI (quarter)",
                    runChain({&roi}, corrected, 2));
    }
    {
        XEVManualAGC manual(4, 3000.0, 9000.0);
        gallery.add("07-manual-agc", "NUC2 > BPR > manual AGC 3000-9000",
                    runChain({&manual}, corrected));
    }
    const std::pair<int, const char*> maps[] = {
        {1, "rainbow"}, {2, "jet"}, {4, "hot"}, {8, "bone"}, {11, "ocean"}};
    for (const auto& map : maps) {
        XEVColorMap colour(4, map.first);
        gallery.add("08-colormap-" + std::to_string(map.first) + "-" + map.second,
                    std::string("Colour map ") + std::to_string(map.first) + " (" + map.second +
                        ")",
                    runChain({&colour}, clean));
    }
    {
        XEVFlipH flip(4);
        gallery.add("09-flip-h", "Flip H (rows reversed)", runChain({&flip}, clean));
    }
    {
        XEVFlipV flip(4);
        gallery.add("10-flip-v", "Flip V (columns reversed)", runChain({&flip}, clean));
    }
    {
        XEVGamma gamma(0.5, 128, 4);
        gallery.add("11-gamma-0.5", "Gamma 0.5, threshold 128", runChain({&gamma}, clean));
    }
    {
        XEVGamma gamma(2.0, 128, 4);
        gallery.add("12-gamma-2.0", "Gamma 2.0, threshold 128", runChain({&gamma}, clean));
    }
    {
        XEVTimestamp stamp(12, 34, 0.9, 4);
        XEVAddText text("XEV synthetic SWIR 640x512", 12, 496, 0.8, 4);
        gallery.add("13-timestamp-text", "Time stamp + text", runChain({&stamp, &text}, clean));
    }
    {
        XEVImageOverlay corner(picture, -60, -30, 0.6, 4);
        XEVImageOverlay edge(picture, 520, 420, 1.0, 4);
        gallery.add("14-overlay", "Overlays: 0.6 at (-60,-30), 1 at (520,420)",
                    runChain({&corner, &edge}, clean));
    }
    {
        XEVNUC2Points nuc(nucMaps, W, H, 0, 0, 4);
        XEVBPR bpr(badPixels, W, H, 0, 0, 4);
        XEVAutomaticGainControl agc(14, 4);
        XEVGamma gamma(0.7, 128, 4);
        XEVTimestamp stamp(12, 34, 0.9, 4);
        XEVImageOverlay logo(picture, 430, 380, 0.5, 4);
        XEVColorMap colour(4, 2);
        gallery.add("15-full-chain", "Chain: NUC2 BPR AGC gamma stamp logo jet",
                    runChain({&nuc, &bpr, &agc, &gamma, &stamp, &logo, &colour}, raw));
    }
    gallery.add("16-bayer-scene", "Colour scene behind the Bayer filter", scene.colourScene());
    {
        const cv::Mat bayer = scene.renderBayer();
        gallery.add("17-bayer-raw", "Bayer raw (BG), min-max stretch", stretchMinMax(bayer));
        XEVDemosaicing demosaic(W, H, 1.0f, XEVDemosaicing::BayerBG, 14, 4);
        // White balance follows the frames before and settles slowly.
        gallery.add("18-demosaiced", "Demosaiced Bayer (BG), 60th frame",
                    runChain({&demosaic}, bayer, 60));
    }
    {
        // A calibration tree at 1000 and 2000 us, a frame at 1500 us.
        const cv::Mat current = darkCurrent(W, H);
        const std::filesystem::path tree = folder / "nuc-tree";
        for (const double exposure : {1000.0, 2000.0})
            writeNucTable(scene, current, exposure, tree / "NUC" / "synthetic");
        const cv::Mat frame = rawAt(scene, current, 1500.0);
        Emulator::XEVCameralessDevice device;
        XEVInterpolatedNuc nuc(device, tree.string().c_str(), 4);
        XEVAutomaticGainControl agc(14, 4);
        std::string directory = "synthetic";
        nuc.Update(directory, 1000.0, 0.0);
        gallery.add("19-nuc-1000-at-1500", "NUC of 1000 us on a 1500 us frame > AGC",
                    runChain({&nuc, &agc}, frame));
        nuc.Update(directory, 1500.0, 0.0);
        gallery.add("20-interpolated-nuc", "Interpolated NUC (1000, 2000 us) at 1500 us > AGC",
                    runChain({&nuc, &agc}, frame));
    }
    gallery.writeContactSheet("XEV toolbox gallery: synthetic SWIR scene 640x512, 14-bit");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    try {
        return run(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "xev-toolbox-gallery: %s\n",
                     XEVLibrary::XEVParam::toUtf8(error.what()).c_str());
        return 1;
    }
}
