#include "XEVUsbCameraEmulator.h"

#include "UsbCameraScene.h"
#include "UsbCameraTiming.h"
#include "usb/UsbSeam.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>

namespace XEVLibrary {
namespace Emulator {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t HeaderWords[8] = {0x0555, 0x0AAA, 0x0555, 0x0AAA,
                                     0x0555, 0x0AAA, 0x0000, 0x0FFF};
constexpr std::size_t MaxEvents = 4096;
constexpr std::size_t MaxScenes = 4;
constexpr uint8_t StringManufacturer = 1;
constexpr uint8_t StringProduct = 2;
constexpr uint8_t StringSerial = 3;

void putWord(uint8_t* base, std::size_t limit, std::size_t offset, uint16_t word) {
    if (offset + 1 < limit) {
        base[offset] = uint8_t(word & 0xFF);
        base[offset + 1] = uint8_t(word >> 8);
    }
}

} // namespace

namespace {

/// The camera's 24-bit frame counter after @p steps frames. It runs through
/// 1 .. 0xFFFFFF and skips 0 when it wraps, or, for a camera that wraps to
/// zero, through 0 .. 0xFFFFFF.
uint32_t advanceCounter(uint32_t counter, uint64_t steps, bool wrapsToZero) {
    if (wrapsToZero)
        return uint32_t((uint64_t(counter) + steps) % 0x1000000);
    const uint64_t position = (counter == 0 ? 0 : uint64_t(counter) - 1) + steps;
    if (counter == 0 && steps > 0)
        return uint32_t(((steps - 1) % 0xFFFFFF) + 1);
    return uint32_t((position % 0xFFFFFF) + 1);
}

} // namespace

XEVUsbCameraConfig XEVUsbCameraConfig::forModel(UsbModel model, UsbLink link) {
    XEVUsbCameraConfig c;
    if (link == UsbLink::USB2) {
        c.productId = 0x1003;
        c.bcdUSB = 0x0200;
        c.productString = "FX2";
        c.bridgeFirmware = "v001.003.000";
    } else {
        c.productId = 0x00F1;
        c.bcdUSB = 0x0300;
        c.productString = "FX3";
        c.bridgeFirmware = "v002.001.010";
    }
    c.referenceId = static_cast<uint16_t>(model);
    struct Size {
        uint16_t w, h;
    };
    Size size{640, 512};
    switch (model) {
    case UsbModel::Auklet:
    case UsbModel::Jacana:
    case UsbModel::Egret:
        size = {320, 256};
        break;
    case UsbModel::Bittern:
    case UsbModel::Fulmar:
        size = {768, 576};
        break;
    case UsbModel::Lapwing:
        size = link == UsbLink::USB2 ? Size{640, 480} : Size{648, 488};
        break;
    case UsbModel::Dunlin:
        size = {1280, 720};
        break;
    case UsbModel::Curlew:
    case UsbModel::Gannet:
        size = {1280, 1024};
        break;
    case UsbModel::Merlin:
        size = {1288, 1032};
        break;
    default:
        break;
    }
    c.sensorWidth = size.w;
    c.sensorHeight = size.h;
    c.firmwareVersion = 0x0082; // 2.2
    c.serialNumber = 0x010000u + uint32_t(c.referenceId) * 0x100u + 1u;
    c.capacity = UsbCapacity::Present;
    c.rawTemperature = 400; // 25 degrees at 1/16 degree per unit
    if (model == UsbModel::Kestrel) {
        c.firmwareVersion = 0x00C5; // 3.5: fine exposure steps
        c.capacity |= UsbCapacity::SoftTrigger | UsbCapacity::LongExposure | UsbCapacity::Gated |
                      UsbCapacity::ExtendedFps | UsbCapacity::Tec;
        c.rawTemperature = 0xD81 - 103; // about 15 degrees
    } else if (model == UsbModel::Ibis) {
        c.capacity |= UsbCapacity::Tec;
        c.rawTemperature = 0x3D7 - 37; // about 20 degrees
    }
    c.sceneSeed = c.referenceId;
    return c;
}

XEVUsbCameraConfig XEVUsbCameraConfig::forModel(UsbModel model) {
    const bool usb2 =
        model == UsbModel::Auklet || model == UsbModel::Bittern || model == UsbModel::Fulmar;
    return forModel(model, usb2 ? UsbLink::USB2 : UsbLink::USB3);
}

struct XEVUsbEmulatedCamera::State {
    explicit State(const XEVUsbCameraConfig& c)
        : config(c), rawTemperature(c.rawTemperature), counter(c.initialFrameCounter & 0xFFFFFF) {
        registers[1] = 8;
        registers[8] = uint8_t(std::min(255, c.sensorWidth / 8));
        registers[10] = uint8_t(std::min(255, c.sensorHeight / 8));
        timing = decodeRegisters(config, registers);
        UsbSceneKey key;
        key.seed = c.sceneSeed;
        key.sensorWidth = c.sensorWidth;
        key.sensorHeight = c.sensorHeight;
        sensor = sensorScene(key);
    }

    const XEVUsbCameraConfig config;
    mutable std::mutex lock;
    std::condition_variable changed;

    std::array<uint8_t, 16> registers{};
    UsbCameraTiming timing;
    bool plugged = false;
    uint64_t generation = 0;
    bool streaming = false;
    Clock::time_point nextFrame = Clock::now();
    XEVUsbPacing pacing = XEVUsbPacing::Registers;
    uint16_t rawTemperature;
    uint32_t counter;
    uint64_t delivered = 0;
    bool flatField = false;
    uint16_t flatLevel = 0;
    uint16_t lineWord = 0;
    bool line8 = false;
    unsigned triggered = 0;
    /// The scenes rendered last, newest first: live view that toggles between
    /// windows or pixel depths finds its images again without rendering.
    std::deque<std::shared_ptr<const UsbSceneImage>> scenes;
    std::shared_ptr<const XEVSyntheticScene> sensor;

    // Faults.
    unsigned bulkErrors = 0;
    int bulkErrorCode = UsbError::IO;
    std::chrono::milliseconds timeoutDelay{0};
    unsigned shortReads = 0;
    int shortBytes = 0;
    unsigned emptyReads = 0;
    unsigned overlongReports = 0;
    std::vector<uint64_t> brokenFrames;
    unsigned controlErrors = 0;
    int controlErrorCode = UsbError::IO;
    bool halted = false;
    unsigned repeatedCounters = 0;
    bool repeatArmed = false;
    uint32_t lastCounter = 0;
    bool interfaceHeld = false;
    unsigned bulkExceptions = 0;

    std::deque<XEVUsbCameraEvent> events;

    void record(XEVUsbCameraEvent event) {
        if (events.size() >= MaxEvents)
            events.pop_front();
        events.push_back(std::move(event));
    }

    void writeRegister(unsigned address, uint8_t value) {
        if (address >= registers.size())
            return; // the sensor has no such register
        const unsigned oldTrigger = timing.triggerMode;
        registers[address] = value;
        timing = decodeRegisters(config, registers);
        if (timing.triggerMode != oldTrigger)
            triggered = 0;
        // Register 13 cleared fires a burst of ((12 >> 5) + 1) frames in soft
        // trigger mode (a burst under way ignores it).
        if (address == 13 && value == 0 && timing.triggerMode == 3 && triggered == 0) {
            triggered = ((registers[12] >> 5) & 7) + 1;
            nextFrame = std::max(nextFrame, Clock::now());
        }
    }

    bool triggeredMode() const {
        return !timing.identification && (timing.triggerMode == 1 || timing.triggerMode == 3);
    }

    std::vector<uint8_t> deviceDescriptor() const {
        const bool usb3 = config.bcdUSB > 0x02FF;
        return {0x12,
                0x01,
                uint8_t(config.bcdUSB & 0xFF),
                uint8_t(config.bcdUSB >> 8),
                0xFF,
                0x00,
                0x00,
                uint8_t(usb3 ? 9 : 64),
                uint8_t(config.vendorId & 0xFF),
                uint8_t(config.vendorId >> 8),
                uint8_t(config.productId & 0xFF),
                uint8_t(config.productId >> 8),
                0x00,
                0x01,
                StringManufacturer,
                StringProduct,
                uint8_t(config.bridgeFirmware.empty() ? 0 : StringSerial),
                0x01};
    }

    std::vector<uint8_t> configDescriptor() const {
        const uint16_t packet = config.bcdUSB > 0x02FF ? 1024 : 512;
        return {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
                // interface 0, one bulk IN endpoint, vendor class
                0x09, 0x04, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00,
                //
                0x07, 0x05, config.bulkEndpoint(), 0x02, uint8_t(packet & 0xFF),
                uint8_t(packet >> 8), 0x00};
    }

    std::string stringDescriptor(uint8_t index) const {
        switch (index) {
        case StringManufacturer:
            return "XEV emulated camera";
        case StringProduct:
            return config.productString;
        case StringSerial:
            return config.bridgeFirmware;
        default:
            return {};
        }
    }

    int standardRequest(uint8_t requestType, uint8_t request, uint16_t value, unsigned char* data,
                        uint16_t length) {
        if (requestType == 0x80 && request == 0x06) {
            std::vector<uint8_t> answer;
            const uint8_t type = value >> 8;
            const uint8_t index = value & 0xFF;
            if (type == 1) {
                answer = deviceDescriptor();
            } else if (type == 2 && index == 0) {
                answer = configDescriptor();
            } else if (type == 3 && index == 0) {
                answer = {4, 3, 0x09, 0x04};
            } else if (type == 3) {
                const std::string text = stringDescriptor(index);
                if (text.empty())
                    return UsbError::Pipe;
                answer.push_back(uint8_t(std::min<std::size_t>(2 + 2 * text.size(), 254)));
                answer.push_back(3);
                for (char c : text) {
                    if (answer.size() + 2 > 254)
                        break;
                    answer.push_back(uint8_t(c));
                    answer.push_back(0);
                }
            } else {
                return UsbError::Pipe;
            }
            const std::size_t n = std::min<std::size_t>(answer.size(), length);
            if (n)
                std::memcpy(data, answer.data(), n);
            return int(n);
        }
        if ((requestType & 0x60) == 0 && (requestType & 0x80) == 0)
            return length; // SET_CONFIGURATION, SET_INTERFACE ...: accepted
        return UsbError::Pipe;
    }

    int vendorRequest(uint8_t request, uint16_t value, const unsigned char* data, uint16_t length) {
        switch (request) {
        case 0xD0:
            streaming = true;
            nextFrame = Clock::now();
            break;
        case 0xD1:
            streaming = false;
            break;
        case 0xD3:
            writeRegister(value >> 8, uint8_t(value & 0xFF));
            break;
        case 0xD4:
        case 0xD5:
            lineWord = value;
            line8 = request == 0xD5;
            break;
        case 0xD6:
            for (uint16_t i = 0; i + 1 < length; i += 2)
                writeRegister(data[i + 1], data[i]);
            break;
        case 0xD7:
            break;
        default:
            return UsbError::Pipe;
        }
        changed.notify_all();
        return length;
    }

    std::shared_ptr<const UsbSceneImage> currentScene() {
        UsbSceneKey key;
        key.firstColumn = timing.firstColumn;
        key.columns = timing.identification ? 0 : timing.columns;
        key.firstLine = timing.firstLine;
        key.lines = timing.identification ? 0 : timing.lines;
        key.eightBit = timing.eightBit;
        key.exposureUs = timing.exposureUs;
        key.flatField = flatField;
        key.flatLevel = flatLevel;
        key.seed = config.sceneSeed;
        key.sensorWidth = config.sensorWidth;
        key.sensorHeight = config.sensorHeight;
        auto found = std::find_if(scenes.begin(), scenes.end(),
                                  [&](const auto& scene) { return scene->key == key; });
        std::shared_ptr<const UsbSceneImage> scene;
        if (found != scenes.end()) {
            scene = *found;
            scenes.erase(found);
        } else {
            scene = renderScene(key, *sensor);
            if (scenes.size() >= MaxScenes)
                scenes.pop_back();
        }
        scenes.push_front(scene);
        return scene;
    }
};

XEVUsbEmulatedCamera::XEVUsbEmulatedCamera(const XEVUsbCameraConfig& config)
    : m_state(std::make_unique<State>(config)) {}

XEVUsbEmulatedCamera::~XEVUsbEmulatedCamera() = default;

const XEVUsbCameraConfig& XEVUsbEmulatedCamera::config() const {
    return m_state->config;
}

void XEVUsbEmulatedCamera::setRawTemperature(uint16_t raw) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->rawTemperature = raw;
}

void XEVUsbEmulatedCamera::setFrameCounter(uint32_t counter) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->counter = counter & 0xFFFFFF;
}

void XEVUsbEmulatedCamera::setFlatField(uint16_t level) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->flatField = true;
    m_state->flatLevel = level;
}

void XEVUsbEmulatedCamera::clearFlatField() {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->flatField = false;
}

void XEVUsbEmulatedCamera::setPacing(XEVUsbPacing pacing) {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->pacing = pacing;
        m_state->nextFrame = Clock::now();
    }
    m_state->changed.notify_all();
}

double XEVUsbEmulatedCamera::framePeriodMicroseconds() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->timing.framePeriodUs;
}

double XEVUsbEmulatedCamera::exposureMicroseconds() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->timing.exposureUs;
}

void XEVUsbEmulatedCamera::fireExternalTrigger(unsigned frames) {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (m_state->timing.triggerMode != 1)
            return;
        m_state->triggered += frames;
        m_state->nextFrame = std::max(m_state->nextFrame, Clock::now());
    }
    m_state->changed.notify_all();
}

void XEVUsbEmulatedCamera::injectBulkErrors(unsigned count, int code) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->bulkErrors = count;
    m_state->bulkErrorCode = code;
}

void XEVUsbEmulatedCamera::setTimeoutFaultDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->timeoutDelay = delay;
}

void XEVUsbEmulatedCamera::injectShortReads(unsigned count, int bytes) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->shortReads = count;
    m_state->shortBytes = std::max(0, bytes);
}

void XEVUsbEmulatedCamera::injectEmptyReads(unsigned count) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->emptyReads = count;
}

void XEVUsbEmulatedCamera::injectOverlongReports(unsigned count) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->overlongReports = count;
}

void XEVUsbEmulatedCamera::breakInfoLineInFrame(unsigned n) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    if (n > 0)
        m_state->brokenFrames.push_back(m_state->delivered + n);
}

void XEVUsbEmulatedCamera::injectControlErrors(unsigned count, int code) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->controlErrors = count;
    m_state->controlErrorCode = code;
}

void XEVUsbEmulatedCamera::haltBulkEndpoint() {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->halted = true;
    }
    m_state->changed.notify_all();
}

void XEVUsbEmulatedCamera::repeatFrameCounter(unsigned count) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->repeatedCounters = count;
    m_state->repeatArmed = false;
}

void XEVUsbEmulatedCamera::holdInterface(bool held) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->interfaceHeld = held;
}

void XEVUsbEmulatedCamera::injectBulkExceptions(unsigned count) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->bulkExceptions = count;
}

std::array<uint8_t, 16> XEVUsbEmulatedCamera::registers() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->registers;
}

uint8_t XEVUsbEmulatedCamera::registerValue(unsigned address) const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return address < 16 ? m_state->registers[address] : 0;
}

bool XEVUsbEmulatedCamera::isStreaming() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->streaming;
}

bool XEVUsbEmulatedCamera::isPlugged() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->plugged;
}

uint16_t XEVUsbEmulatedCamera::lineFormatWord() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->lineWord;
}

bool XEVUsbEmulatedCamera::lineFormatIs8Bit() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->line8;
}

uint64_t XEVUsbEmulatedCamera::deliveredFrames() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->delivered;
}

uint32_t XEVUsbEmulatedCamera::frameCounter() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->counter;
}

std::vector<XEVUsbCameraEvent> XEVUsbEmulatedCamera::events() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return {m_state->events.begin(), m_state->events.end()};
}

void XEVUsbEmulatedCamera::clearEvents() {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->events.clear();
}

std::vector<XEVUsbCameraEvent> XEVUsbEmulatedCamera::vendorRequests() const {
    std::vector<XEVUsbCameraEvent> result;
    for (auto& event : events())
        if (event.kind == XEVUsbCameraEvent::Kind::Control && (event.requestType & 0x60) == 0x40)
            result.push_back(std::move(event));
    return result;
}

int XEVUsbEmulatedCamera::controlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                          uint16_t index, unsigned char* data, uint16_t length) {
    if (length > 0 && !data)
        return UsbError::InvalidParam;
    State& s = *m_state;
    std::lock_guard<std::mutex> guard(s.lock);
    XEVUsbCameraEvent event;
    event.requestType = requestType;
    event.request = request;
    event.value = value;
    event.index = index;
    if (!(requestType & 0x80) && length > 0)
        event.data.assign(data, data + length);
    int result;
    if (!s.plugged) {
        result = UsbError::NoDevice;
    } else if ((requestType & 0x60) == 0x40) {
        if (s.controlErrors > 0) {
            --s.controlErrors;
            result = s.controlErrorCode;
        } else if (requestType != 0x40) {
            result = UsbError::Pipe; // every vendor request is host-to-device to the device
        } else {
            result = s.vendorRequest(request, value, data, length);
        }
    } else {
        result = s.standardRequest(requestType, request, value, data, length);
    }
    event.result = result;
    s.record(std::move(event));
    return result;
}

int XEVUsbEmulatedCamera::bulkRead(uint8_t endpoint, unsigned char* data, int length,
                                   int* transferred, unsigned int timeoutMs,
                                   const std::atomic<bool>* cancel) {
    int moved = 0;
    if (transferred)
        *transferred = 0;
    if (!data || length < 0)
        return UsbError::InvalidParam;
    State& s = *m_state;
    std::unique_lock<std::mutex> lock(s.lock);
    const uint64_t generation = s.generation;
    const auto start = Clock::now();
    const auto deadline =
        timeoutMs ? start + std::chrono::milliseconds(timeoutMs) : Clock::time_point::max();
    auto gone = [&] { return !s.plugged || s.generation != generation; };
    auto cancelled = [&] { return cancel && cancel->load(); };
    // Waits in bounded slices so that nothing depends on a single notification.
    auto waitUntil = [&](Clock::time_point until) {
        const auto slice = Clock::now() + std::chrono::milliseconds(100);
        s.changed.wait_until(lock, std::min(until, slice));
    };

    if (gone())
        return UsbError::NoDevice;
    if (endpoint != s.config.bulkEndpoint())
        return UsbError::IO;
    if (s.bulkExceptions > 0) {
        --s.bulkExceptions;
        throw XEVUsbEmulatorFault();
    }
    if (s.halted)
        return UsbError::Pipe;
    if (s.bulkErrors > 0) {
        --s.bulkErrors;
        const int code = s.bulkErrorCode;
        if (code == UsbError::Timeout) {
            const auto until = std::min(deadline, start + s.timeoutDelay);
            while (!gone() && !cancelled() && Clock::now() < until)
                waitUntil(until);
            if (gone())
                return UsbError::NoDevice;
        }
        return code;
    }
    if (s.emptyReads > 0) {
        --s.emptyReads;
        return UsbError::Success;
    }

    // Wait for a frame.
    for (;;) {
        if (gone())
            return UsbError::NoDevice;
        if (s.halted)
            return UsbError::Pipe;
        if (cancelled())
            return UsbError::Timeout;
        const auto now = Clock::now();
        const bool fastest = s.pacing == XEVUsbPacing::Fastest;
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::micro>(s.timing.framePeriodUs));
        if (s.triggeredMode()) {
            if (s.triggered > 0 && (fastest || now >= s.nextFrame))
                break;
        } else if (s.streaming) {
            if (fastest)
                break;
            if (now >= s.nextFrame + period && period.count() > 0) {
                // Frames nobody read are overwritten; the counter shows the loss.
                const auto missed = (now - s.nextFrame) / period;
                s.counter =
                    advanceCounter(s.counter, uint64_t(missed), s.config.counterWrapsToZero);
                s.nextFrame += missed * period;
            }
            if (now >= s.nextFrame)
                break;
        }
        if (now >= deadline)
            return UsbError::Timeout;
        Clock::time_point until = deadline;
        if ((s.streaming || s.triggered > 0) && !fastest)
            until = std::min(until, s.nextFrame);
        waitUntil(until);
    }

    // One frame leaves the camera.
    const bool fastest = s.pacing == XEVUsbPacing::Fastest;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::micro>(s.timing.framePeriodUs));
    const uint64_t ordinal = ++s.delivered;
    uint32_t counter = s.counter;
    if (s.repeatArmed && s.repeatedCounters > 0) {
        --s.repeatedCounters;
        counter = s.lastCounter;
    } else {
        s.counter = advanceCounter(s.counter, 1, s.config.counterWrapsToZero);
        s.repeatArmed = s.repeatedCounters > 0;
    }
    s.lastCounter = counter;
    s.nextFrame = fastest ? Clock::now() : s.nextFrame + period;
    if (s.triggeredMode() && s.triggered > 0)
        --s.triggered;
    bool broken = false;
    auto found = std::find(s.brokenFrames.begin(), s.brokenFrames.end(), ordinal);
    if (found != s.brokenFrames.end()) {
        broken = true;
        s.brokenFrames.erase(found);
    }
    int limit = length;
    if (s.shortReads > 0) {
        --s.shortReads;
        limit = std::min(length, s.shortBytes);
    }
    bool overlong = false;
    if (s.overlongReports > 0) {
        --s.overlongReports;
        overlong = true;
    }
    const UsbCameraTiming timing = s.timing;
    const uint16_t temperature = s.rawTemperature;
    const XEVUsbCameraConfig& config = s.config;
    std::shared_ptr<const UsbSceneImage> scene = s.currentScene();
    lock.unlock();

    // Image, then the info line, then padding up to what was asked.
    const std::size_t size = std::size_t(limit);
    const std::size_t imageBytes = std::min(size, scene->bytes);
    if (imageBytes)
        std::memcpy(data, scene->variant(ordinal), imageBytes);
    const bool eightBit = timing.eightBit && !timing.identification;
    const std::size_t infoBytes = std::size_t(timing.columns) * (eightBit ? 1 : 2);
    const std::size_t infoStart = scene->bytes;
    const std::size_t infoEnd = std::min(size, infoStart + infoBytes);
    if (infoEnd > infoStart)
        std::memset(data + infoStart, 0, infoEnd - infoStart);
    if (infoEnd < size)
        std::memset(data + std::max(infoEnd, imageBytes), 0, size - std::max(infoEnd, imageBytes));
    if (infoEnd > infoStart) {
        uint8_t* line = data + infoStart;
        const std::size_t lineLimit = infoEnd - infoStart;
        uint16_t words[15];
        std::copy(std::begin(HeaderWords), std::end(HeaderWords), words);
        words[0] = config.infoLineWord0;
        if (broken)
            words[3] ^= 0x0100;
        words[8] = config.referenceId;
        words[9] = config.sensorWidth;
        words[10] = config.sensorHeight;
        words[11] = config.firmwareVersion;
        words[12] = temperature;
        words[13] = uint16_t((counter >> 12) & 0xFFF);
        words[14] = uint16_t(counter & 0xFFF);
        if (!eightBit) {
            for (std::size_t k = 0; k < 15; ++k)
                putWord(line, lineLimit, 2 * k, words[k]);
            putWord(line, lineLimit, 100, uint16_t((config.serialNumber >> 16) & 0xFFFF));
            putWord(line, lineLimit, 102, uint16_t((config.serialNumber >> 8) & 0xFF));
            putWord(line, lineLimit, 104, uint16_t(config.serialNumber & 0xFF));
            putWord(line, lineLimit, 106, uint16_t(config.capacity >> 8));
            putWord(line, lineLimit, 108, uint16_t(config.capacity & 0xFF));
        } else {
            // 8-bit lines carry each 12-bit word k in two bytes: its high 8
            // bits in byte k and its low 4 bits in byte k + 32, so that the
            // host reads word k as byte k x 16 + byte (k + 32).
            for (std::size_t k = 0; k < 15; ++k) {
                if (k + 32 >= lineLimit)
                    break;
                line[k] = uint8_t((words[k] >> 4) & 0xFF);
                line[k + 32] = uint8_t(words[k] & 0x0F);
            }
        }
    }
    moved = limit;
    if (transferred)
        *transferred = overlong ? length + 1 : moved;
    return UsbError::Success;
}

void XEVUsbEmulatedCamera::wakeReaders() {
    { std::lock_guard<std::mutex> guard(m_state->lock); }
    m_state->changed.notify_all();
}

int XEVUsbEmulatedCamera::claimInterface(int interfaceNumber) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    if (!m_state->plugged)
        return UsbError::NoDevice;
    if (interfaceNumber != 0)
        return UsbError::NotFound;
    return m_state->interfaceHeld ? UsbError::Busy : UsbError::Success;
}

int XEVUsbEmulatedCamera::resetDevice() {
    std::lock_guard<std::mutex> guard(m_state->lock);
    XEVUsbCameraEvent event;
    event.kind = XEVUsbCameraEvent::Kind::Reset;
    event.result = m_state->plugged ? UsbError::Success : UsbError::NoDevice;
    if (m_state->plugged)
        m_state->halted = false;
    m_state->record(event);
    return event.result;
}

int XEVUsbEmulatedCamera::clearHalt(uint8_t endpoint) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    XEVUsbCameraEvent event;
    event.kind = XEVUsbCameraEvent::Kind::ClearHalt;
    event.data = {endpoint};
    if (!m_state->plugged) {
        event.result = UsbError::NoDevice;
    } else if (endpoint != m_state->config.bulkEndpoint()) {
        event.result = UsbError::NotFound;
    } else {
        m_state->halted = false;
        event.result = UsbError::Success;
    }
    m_state->record(event);
    return event.result;
}

std::vector<uint8_t> XEVUsbEmulatedCamera::descriptors() const {
    std::vector<uint8_t> bytes = m_state->deviceDescriptor();
    const std::vector<uint8_t> configuration = m_state->configDescriptor();
    bytes.insert(bytes.end(), configuration.begin(), configuration.end());
    return bytes;
}

std::string XEVUsbEmulatedCamera::stringDescriptor(uint8_t index) const {
    return m_state->stringDescriptor(index);
}

uint64_t XEVUsbEmulatedCamera::generation() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->generation;
}

void XEVUsbEmulatedCamera::setPlugged(bool plugged) {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (m_state->plugged == plugged)
            return;
        m_state->plugged = plugged;
        ++m_state->generation;
        // Power comes and goes with the cable.
        m_state->streaming = false;
        m_state->halted = false;
        m_state->triggered = 0;
    }
    m_state->changed.notify_all();
}

} // namespace Emulator
} // namespace XEVLibrary
