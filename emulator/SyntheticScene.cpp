#include "XEVSyntheticScene.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

namespace XEVLibrary {
namespace Emulator {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int MaxRaw = 16383;

enum Region { Sky, Ground, Sun, Person, Vehicle, Engine, Building, Window, Chart };

// Soft step: 0 well inside, 1 well outside, over about one pixel.
double edge(double distance, double softness) {
    return 1.0 / (1.0 + std::exp(-distance / softness));
}

struct Sample {
    double value;
    Region region;
};

Sample sampleScene(double x, double y, double w, double h) {
    const double u = x / w;
    const double v = y / h;
    const double horizon =
        0.56 + 0.04 * std::sin(2 * Pi * u * 1.3) + 0.02 * std::sin(2 * Pi * u * 4.1);
    Sample s;
    if (v < horizon) {
        s = {7200.0 - 3400.0 * v / horizon + 900.0 * u, Sky};
    } else {
        const double depth = (v - horizon) / (1.0 - horizon);
        s = {2600.0 + 1800.0 * depth + 250.0 * std::sin(u * 60.0) * std::sin(v * 45.0), Ground};
    }

    // A building with lit windows.
    if (u > 0.05 && u < 0.22 && v > 0.28 && v < horizon + 0.02) {
        s = {1900.0, Building};
        const double wx = std::fmod((u - 0.05) * w, 18.0);
        const double wy = std::fmod((v - 0.28) * h, 22.0);
        if (wx > 6 && wx < 13 && wy > 7 && wy < 15)
            s = {6200.0, Window};
    }

    // The sun: a warm disc with a soft rim.
    {
        const double d = std::hypot(x - 0.80 * w, y - 0.18 * h) - 0.065 * h;
        const double inside = 1.0 - edge(d, 1.5);
        if (inside > 0.01) {
            s.value = s.value * (1 - inside) + 10800.0 * inside;
            if (inside > 0.5)
                s.region = Sun;
        }
    }

    // Two people: upright ellipses warmer than the ground.
    for (double cx : {0.30, 0.36}) {
        const double dx = (x - cx * w) / (0.022 * w);
        const double dy = (y - 0.70 * h) / (0.085 * h);
        const double r = std::sqrt(dx * dx + dy * dy);
        if (r < 1.2) {
            const double inside = 1.0 - edge((r - 1.0) * 0.085 * h, 1.0);
            s.value = s.value * (1 - inside) + 9200.0 * inside;
            if (inside > 0.5)
                s.region = Person;
        }
    }

    // A vehicle with a hot engine at its front.
    if (u > 0.52 && u < 0.72 && v > 0.72 && v < 0.82) {
        s = {7600.0, Vehicle};
        const double d = std::hypot(x - 0.69 * w, y - 0.77 * h);
        if (d < 0.03 * h)
            s = {7600.0 + 3200.0 * (1.0 - d / (0.03 * h)), Engine};
    }

    // A bar chart of rising frequency: fine detail for the filters.
    if (u > 0.78 && u < 0.97 && v > 0.62 && v < 0.92) {
        const double band = (v - 0.62) / 0.30; // 0 .. 1, top to bottom
        const double period = 16.0 - 12.0 * band;
        const bool bright = std::fmod(x, period) < period / 2;
        s = {bright ? 6800.0 : 2400.0, Chart};
    }
    return s;
}

cv::Vec3f tintOf(Region region, double u) {
    switch (region) { // B, G, R
    case Sky:
        return {1.0f, 0.85f, 0.65f - 0.2f * float(u)};
    case Ground:
        return {0.45f, 0.75f, 0.65f};
    case Sun:
        return {0.3f, 0.9f, 1.0f};
    case Person:
        return {0.35f, 0.35f, 1.0f};
    case Vehicle:
        return {1.0f, 0.45f, 0.3f};
    case Engine:
        return {0.2f, 0.6f, 1.0f};
    case Building:
        return {0.7f, 0.7f, 0.7f};
    case Window:
        return {0.3f, 0.95f, 1.0f};
    case Chart:
        return {1.0f, 1.0f, 1.0f};
    }
    return {1.0f, 1.0f, 1.0f};
}

} // namespace

XEVSyntheticScene::XEVSyntheticScene(const Options& options) : m_options(options) {
    const int w = std::max(1, options.width);
    const int h = std::max(1, options.height);
    m_options.width = w;
    m_options.height = h;
    m_radiance.create(h, w, CV_32FC1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            m_radiance.at<float>(y, x) = float(sampleScene(x + 0.5, y + 0.5, w, h).value);

    std::mt19937 random(options.seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> columnOffset(w), columnGain(w);
    for (int x = 0; x < w; ++x) {
        columnOffset[x] = 0.6 * options.offsetSpread * normal(random);
        columnGain[x] = 0.4 * options.gainSpread * normal(random);
    }
    m_offset.create(h, w, CV_32FC1);
    m_gain.create(h, w, CV_32FC1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double offset =
                options.offsetMean + columnOffset[x] + options.offsetSpread * normal(random);
            const double gain = 1.0 + columnGain[x] + options.gainSpread * normal(random);
            m_offset.at<float>(y, x) = float(std::clamp(offset, 0.0, 4000.0));
            m_gain.at<float>(y, x) = float(std::clamp(gain, 0.6, 1.4));
        }
    }

    // Defects away from the border, so that each has good neighbours.
    std::set<std::pair<int, int>> taken;
    auto pick = [&](double fraction, std::vector<cv::Point>& into) {
        if (w < 5 || h < 5)
            return;
        const int count = int(std::lround(fraction * w * h));
        std::uniform_int_distribution<int> px(2, w - 3), py(2, h - 3);
        for (int i = 0, guard = 0; i < count && guard < count * 20; ++guard) {
            const cv::Point p(px(random), py(random));
            // No two defects side by side: each keeps its row neighbours.
            if (taken.count({p.x, p.y}) || taken.count({p.x - 1, p.y}) ||
                taken.count({p.x + 1, p.y}))
                continue;
            taken.insert({p.x, p.y});
            into.push_back(p);
            ++i;
        }
    };
    pick(options.deadFraction, m_dead);
    pick(options.hotFraction, m_hot);
}

cv::Mat XEVSyntheticScene::renderRaw(double exposure, uint64_t frameIndex) const {
    const int w = m_options.width, h = m_options.height;
    cv::Mat raw(h, w, CV_16UC1);
    std::mt19937 random(m_options.seed * 7919u + uint32_t(frameIndex) * 104729u + 1u);
    std::normal_distribution<double> noise(0.0, 1.0);
    const bool noisy = m_options.temporalNoise > 0.0;
    for (int y = 0; y < h; ++y) {
        const float* r = m_radiance.ptr<float>(y);
        const float* o = m_offset.ptr<float>(y);
        const float* g = m_gain.ptr<float>(y);
        uint16_t* out = raw.ptr<uint16_t>(y);
        for (int x = 0; x < w; ++x) {
            double value = o[x] + g[x] * r[x] * exposure;
            if (noisy)
                value += m_options.temporalNoise * noise(random);
            out[x] = uint16_t(std::clamp<long>(std::lround(value), 0, MaxRaw));
        }
    }
    for (const cv::Point& p : m_dead)
        raw.at<uint16_t>(p) = 20;
    for (const cv::Point& p : m_hot)
        raw.at<uint16_t>(p) = MaxRaw;
    return raw;
}

cv::Mat XEVSyntheticScene::colourScene() const {
    const int w = m_options.width, h = m_options.height;
    cv::Mat colour(h, w, CV_8UC3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Sample s = sampleScene(x + 0.5, y + 0.5, w, h);
            const double level = std::clamp(s.value / 11000.0, 0.0, 1.0) * 255.0;
            const cv::Vec3f tint = tintOf(s.region, double(x) / w);
            colour.at<cv::Vec3b>(y, x) = cv::Vec3b(cv::saturate_cast<uint8_t>(level * tint[0]),
                                                   cv::saturate_cast<uint8_t>(level * tint[1]),
                                                   cv::saturate_cast<uint8_t>(level * tint[2]));
        }
    }
    return colour;
}

cv::Mat XEVSyntheticScene::renderBayer() const {
    const cv::Mat colour = colourScene();
    cv::Mat raw(colour.rows, colour.cols, CV_16UC1);
    for (int y = 0; y < colour.rows; ++y) {
        for (int x = 0; x < colour.cols; ++x) {
            const cv::Vec3b bgr = colour.at<cv::Vec3b>(y, x);
            int channel = 1; // green
            if ((y & 1) == 0 && (x & 1) == 0)
                channel = 2; // red
            else if ((y & 1) == 1 && (x & 1) == 1)
                channel = 0; // blue
            raw.at<uint16_t>(y, x) = uint16_t(400 + bgr[channel] * 56);
        }
    }
    return raw;
}

void XEVSyntheticScene::writeNucMaps(const std::string& path) const {
    cv::Mat dark;
    m_offset.convertTo(dark, CV_16UC1); // rounds, saturates
    for (const cv::Point& p : m_dead)
        dark.at<uint16_t>(p) = 20;
    for (const cv::Point& p : m_hot)
        dark.at<uint16_t>(p) = MaxRaw;
    cv::Mat gain;
    cv::divide(1.0, m_gain, gain, CV_32F);
    cv::FileStorage file(path, cv::FileStorage::WRITE);
    file << "NUCDark" << dark;
    file << "GainMap" << gain;
}

void XEVSyntheticScene::writeBadPixelMap(const std::string& path) const {
    std::vector<cv::Point> defects = m_dead;
    defects.insert(defects.end(), m_hot.begin(), m_hot.end());
    cv::Mat map(int(defects.size()), 6, CV_32SC1);
    for (int i = 0; i < map.rows; ++i) {
        const cv::Point& p = defects[std::size_t(i)];
        const int row[6] = {p.x, p.y, p.x - 1, p.y, p.x + 1, p.y};
        for (int c = 0; c < 6; ++c)
            map.at<int32_t>(i, c) = row[c];
    }
    cv::FileStorage file(path, cv::FileStorage::WRITE);
    file << "BPmap" << map;
}

} // namespace Emulator
} // namespace XEVLibrary
