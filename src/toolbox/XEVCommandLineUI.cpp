#include "XEVCommandLineUI.h"

#include "XEVCatalog.h"
#include "XEVConnectorType.h"
#include "XEVDevice.h"
#include "XEVDeviceDescriptor.h"
#include "XEVManager.h"
#include "XEVModelConfiguration.h"
#include "XEVParam.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <exception>
#include <istream>
#include <limits>
#include <ostream>
#include <string>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

// Groups of the manager loop's pattern.
enum ManagerGroup : int {
    M_HELP = 1,
    M_LIST = 2,
    M_OPEN = 3,
    M_OPEN_N = 4,
    M_OPEN_NUMBER = 5,
    M_FIFO = 6,
    M_FIFO_SIZE = 7,
    M_FORCE = 8,
    M_FORCE_NUMBER = 9,
    M_FORCE_MODEL = 10,
    M_LIST_MODELS = 11,
};

// Groups of the device loop's pattern.
enum DeviceGroup : int {
    D_HELP = 1,
    D_MANUAL = 2,
    D_CONFIG = 3,
    D_FPS = 4,
    D_SET = 5,
    D_SET_NAME = 6,
    D_SET_VALUE = 7,
    D_SET_FPS = 8,
    D_SET_FPS_VALUE = 9,
    D_START = 10,
    D_STOP = 11,
    D_CAPTURE = 12,
    D_CAPTURE_FRAMES = 13,
    D_START_FOR = 14,
    D_START_FOR_DURATION = 15,
    D_WAIT_END = 16,
    D_QUIT = 17,
};

// The digit limits of the patterns keep every number inside its target type.
static_assert(std::numeric_limits<long>::max() >= 999999999999999999LL, "capture n");
static_assert(std::numeric_limits<unsigned long>::max() >= 999999999999999999ULL, "startFor d");
static_assert(std::numeric_limits<unsigned int>::max() >= 99999u, "setFps n");
static_assert(std::numeric_limits<long>::max() >= 9999999L, "setFifoSize n");

// ECMAScript-compatible Perl syntax; ^ and $ at the ends of the line only,
// '.' not across line separators. Boost matches without recursion, so a long
// line cannot exhaust the stack.
const boost::regex::flag_type PatternSyntax =
    boost::regex::perl | boost::regex::no_mod_m | boost::regex::no_mod_s;

const boost::regex& managerPattern() {
    static const boost::regex pattern(
        R"re(^\s*(?:(help)|(list)|(open)|(open (\d{1,2}))|(setFifoSize (\d{1,7}))|(forceModel (\d{1,2}) '(\S+)')|(listModels)|(?:))\s*(#.*)?$)re",
        PatternSyntax);
    return pattern;
}

const boost::regex& devicePattern() {
    static const boost::regex pattern(
        R"re(^\s*(?:(help)|(manual)|(config)|(fps)|(set '([^']+)' '([^']+)')|(setFps (\d{1,5}))|(start)|(stop)|(capture (\d{1,18}))|(startFor (\d{1,18}))|(waitEndCapture)|((?:quit)|(?:exit))|(?:))\s*(#.*)?$)re",
        PatternSyntax);
    return pattern;
}

/// The decimal digits of a group, which the pattern limits to fit @p Number.
template <typename Number>
Number numberOf(const boost::ssub_match& digits) {
    Number value = 0;
    const std::string text = digits.str();
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

constexpr std::size_t MaxLineLength = 64 * 1024;
const char* const Unrecognized = "Command unrecognized..\n";
const std::string Dashes40(40, '-');

/// @p text ending with a line end, so that the prompt starts a line.
std::string lines(std::string text) {
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return text;
}

std::string banner(const char* title, const char* subtitle) {
    const std::string frame(54, '*');
    return frame + "\n" + title + "\n" + subtitle + "\n" +
           "*         (for any help type command 'help')         *\n" + frame + "\n";
}

} // namespace

XEVCommandLineUI::XEVCommandLineUI(std::istream& in, std::ostream& out) : m_in(in), m_out(out) {}

XEVCommandLineUI::Input XEVCommandLineUI::prompt(const std::string& text, std::string& line) {
    m_out << text << std::flush;
    line.clear();
    bool read = false, overlong = false;
    char c;
    while (m_in.get(c)) {
        read = true;
        if (c == '\n')
            break;
        if (line.size() < MaxLineLength)
            line += c;
        else
            overlong = true;
    }
    if (!read) {
        m_out << '\n' << std::flush;
        return Input::End;
    }
    if (overlong) {
        m_out << Unrecognized;
        return Input::Skipped;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return Input::Line;
}

XEVDevice* XEVCommandLineUI::chooseDevice() {
    m_out << banner("*            Welcome to XEVManager Console           *",
                    "*             Choose a connected Device              *");
    std::string line;
    for (Input input; (input = prompt("XEV@Manager> ", line)) != Input::End;) {
        if (input == Input::Skipped)
            continue;
        try {
            if (XEVDevice* device = runManagerCommand(line))
                return device;
        } catch (const std::exception& error) {
            // XEVExceptions and the others alike (a socket error when a GigE
            // camera is opened): the user reads it and goes on.
            m_out << error.what() << '\n';
        }
    }
    return nullptr;
}

void XEVCommandLineUI::controlDevice(XEVDevice& device) {
    m_out << banner("*            Welcome to XEVDevice Console            *",
                    "*           Configure and Control XEVDevice          *");
    const std::string devicePrompt = "XEV@" + device.modelId() + "> ";
    std::string line;
    for (Input input; (input = prompt(devicePrompt, line)) != Input::End;) {
        if (input == Input::Skipped)
            continue;
        try {
            if (!runDeviceCommand(device, line)) {
                m_out << std::flush;
                return;
            }
        } catch (const std::exception& error) {
            m_out << error.what() << '\n';
        }
    }
}

XEVDevice* XEVCommandLineUI::runManagerCommand(const std::string& line) {
    boost::smatch match;
    if (!boost::regex_search(line, match, managerPattern())) {
        m_out << Unrecognized;
        return nullptr;
    }
    // The GigE port and FIFO size of every opening.
    constexpr unsigned short Port = 65000;
    constexpr long FifoSize = 10;
    if (match[M_HELP].matched) {
        m_out << helpChoose();
    } else if (match[M_LIST].matched) {
        m_out << list();
    } else if (match[M_OPEN].matched) {
        return XEVManager::getInstance()->openOneDevice(Port, FifoSize);
    } else if (match[M_OPEN_N].matched) {
        return XEVManager::getInstance()->openDevice(numberOf<unsigned int>(match[M_OPEN_NUMBER]),
                                                     Port, FifoSize);
    } else if (match[M_FIFO].matched) {
        // Accepted for the scripts that use it; openings keep their size.
        (void)numberOf<long>(match[M_FIFO_SIZE]);
    } else if (match[M_FORCE].matched) {
        XEVManager::getInstance()->forceDeviceModel(numberOf<unsigned int>(match[M_FORCE_NUMBER]),
                                                    match[M_FORCE_MODEL].str());
    } else if (match[M_LIST_MODELS].matched) {
        m_out << listModelId(0);
    }
    return nullptr;
}

bool XEVCommandLineUI::runDeviceCommand(XEVDevice& device, const std::string& line) {
    boost::smatch match;
    if (!boost::regex_search(line, match, devicePattern())) {
        m_out << Unrecognized;
        return true;
    }
    if (match[D_HELP].matched)
        m_out << helpControl();
    else if (match[D_MANUAL].matched)
        m_out << lines(device.manual());
    else if (match[D_CONFIG].matched)
        m_out << config(device);
    else if (match[D_FPS].matched)
        m_out << fps(device);
    else if (match[D_SET].matched)
        device.setParamValueOf(match[D_SET_NAME].str(), match[D_SET_VALUE].str(), true);
    else if (match[D_SET_FPS].matched)
        device.setFps(numberOf<unsigned int>(match[D_SET_FPS_VALUE]), true);
    else if (match[D_START].matched)
        device.start();
    else if (match[D_STOP].matched)
        device.stop(false);
    else if (match[D_CAPTURE].matched)
        device.captureNFrames(numberOf<long>(match[D_CAPTURE_FRAMES]));
    else if (match[D_START_FOR].matched)
        device.captureForDuration(numberOf<unsigned long>(match[D_START_FOR_DURATION]));
    else if (match[D_WAIT_END].matched)
        device.waitEndCapture(-1);
    else if (match[D_QUIT].matched)
        return false;
    return true;
}

std::string XEVCommandLineUI::helpChoose() const {
    return " help\n"
           "\tDisplay this message.\n"
           " list\n"
           "\tList connected XEV Device.\n"
           " open\n"
           "\tOpen device number 0 if exist (equivalent\n"
           "\tto XEVManager::openOneDevice()).\n"
           " open <number>\n"
           "\tOpen device number <number> if exist.\n"
           " listModels\n"
           "\tList all models known by this version.\n"
           " forceModel <number> '<modelId>'\n"
           "\tForce model of device <number> to <modelId>\n"
           "\t(ex: \"forceModel 0 'Plover320'\").\n"
           " setFifoSize <number>\n"
           "\tSet fifoSize to <number> for next\n"
           "\tDevice opening.\n";
}

std::string XEVCommandLineUI::helpControl() const {
    return " help\n"
           "\tDisplay this message.\n"
           " manual\n"
           "\tDisplay device's properties and list his\n"
           "\tparameters and their possible values.\n"
           " config\n"
           "\tDisplay device's parameters and their\n"
           "\tcurrent value.\n"
           " fps\n"
           "\tDisplay current fps range and fps value.\n"
           " set '<paramName>' '<paramValue>'\n"
           "\tSet parameter <paramName> to <paramValue>.\n"
           " setFps <integer>\n"
           "\tSet fps value to <integer>.\n"
           " start\n"
           "\tStart capture.\n"
           " stop\n"
           "\tStop capture.\n"
           " capture <numberOfFrame>\n"
           "\tCapture <numberOfFrame> frames.\n"
           " startFor <duration>\n"
           "\tCapture during <duration> milliseconds.\n"
           " waitEndCapture\n"
           "\tWait for end of current capture if device is capturing.\n"
           " quit\n"
           "\tBreak this interactive loop.\n";
}

std::string XEVCommandLineUI::list() const {
    XEVManager* manager = XEVManager::getInstance();
    std::string text = Dashes40 + "\n";
    const unsigned int count = manager->deviceCount();
    for (unsigned int i = 0; i < count; ++i) {
        const XEVDeviceDescriptor* descriptor = manager->getDeviceDescriptor(i);
        const std::string model = descriptor->modelId();
        const std::string serial = descriptor->serialNumberAsString();
        text += " " + std::to_string(i) + ". " +
                connectorTypeToString(descriptor->connectorType()) + " -- " +
                (model.empty() ? std::string("Unknown") : model);
        if (!serial.empty())
            text += " : " + serial;
        text += "\n";
    }
    return text + Dashes40 + "\n";
}

std::string XEVCommandLineUI::listModelId(unsigned int deviceNumber) const {
    XEVManager::getInstance()->getDeviceDescriptor(deviceNumber); // raises for a bad number
    const XEVCatalog* catalog = XEVCatalog::getInstance();
    std::string text = Dashes40 + "\n";
    for (unsigned int i = 0; i < catalog->modelCount(); ++i)
        text += catalog->getModelConfiguration(i)->modelId() + "\n";
    return text + Dashes40 + "\n";
}

std::string XEVCommandLineUI::fps(XEVDevice& device) const {
    return "[MinFps = " + std::to_string(device.minFps()) +
           "]---[Fps = " + std::to_string(device.fps()) +
           "]---[MaxFps = " + std::to_string(device.maxFps()) + "]\n";
}

std::string XEVCommandLineUI::config(XEVDevice& device) const {
    std::size_t width = 0;
    for (const XEVParam* param : device)
        width = std::max(width, param->name().size());
    std::string text;
    for (const XEVParam* param : device) {
        const std::string& name = param->name();
        text += name + std::string(width - name.size(), ' ') + " :" + device.paramStrValueOf(name) +
                "\n";
    }
    return text + fps(device) + std::string(27, '-') + "\n";
}

} // namespace XEVToolBox
} // namespace XEVLibrary
