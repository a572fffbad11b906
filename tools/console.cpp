// The interactive console on the terminal: pick a camera, open it, read and
// set its parameters, run captures.
//
// Emulated cameras may be plugged for the session (--usb, --gige), so that it
// runs without hardware. Standard output carries the console alone (the
// library's diagnostics go to standard error unless XEV_LOG says otherwise),
// so that a session with its commands piped in reads cleanly.

#include <XEVCommandLineUI.h>
#include <XEVDevice.h>
#include <XEVGigeCameraEmulator.h>
#include <XEVManager.h>
#include <XEVUsbCameraEmulator.h>

#include <boost/program_options.hpp>

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

namespace po = boost::program_options;
using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

namespace {

const std::map<std::string, UsbModel> UsbModels{
    {"Auklet", UsbModel::Auklet},   {"Bittern", UsbModel::Bittern}, {"Fulmar", UsbModel::Fulmar},
    {"Heron", UsbModel::Heron},     {"Ibis", UsbModel::Ibis},       {"Jacana", UsbModel::Jacana},
    {"Lapwing", UsbModel::Lapwing}, {"Dunlin", UsbModel::Dunlin},   {"Curlew", UsbModel::Curlew},
    {"Gannet", UsbModel::Gannet},   {"Kestrel", UsbModel::Kestrel}, {"Merlin", UsbModel::Merlin},
    {"Egret", UsbModel::Egret},
};

const std::map<std::string, GigeModel> GigeModels{
    {"CurlewGigE", GigeModel::CurlewGigE},        {"CurlewcGigE", GigeModel::CurlewcGigE},
    {"FulmarGigE", GigeModel::FulmarGigE},        {"HeronGigE", GigeModel::HeronGigE},
    {"HeronGigE-SPOT", GigeModel::HeronGigESpot}, {"KestrelGigE", GigeModel::KestrelGigE},
};

/// Discovery then lasts its whole time, whatever answers first.
constexpr int AllCameras = 255;

template <class Table>
std::string names(const Table& table) {
    std::string text;
    for (const auto& entry : table)
        text += (text.empty() ? "" : ", ") + entry.first;
    return text;
}

/// An emulated GigE camera's address and model, from "<address>[:<model>]".
XEVGigeCameraConfig gigeCamera(const std::string& option) {
    const std::size_t colon = option.find(':');
    const std::string address = option.substr(0, colon);
    const std::string model = colon == std::string::npos ? "HeronGigE" : option.substr(colon + 1);
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        throw std::invalid_argument("--gige " + option + ": " + address +
                                    " is not an IPv4 address");
    if (!GigeModels.count(model))
        throw std::invalid_argument("--gige " + option + ": unknown model " + model);
    XEVGigeCameraConfig config = XEVGigeCameraConfig::forModel(GigeModels.at(model), address);
    // Loopback carries jumbo packets: the stream's packet size is found at
    // the first try.
    config.mtu = 9000;
    return config;
}

/// Passes the console's output on with the Latin-1 micro sign of the
/// library's units (byte 0xB5) in UTF-8, as terminals and editors read it.
class MicroSignToUtf8 : public std::streambuf {
public:
    explicit MicroSignToUtf8(std::streambuf* target) : m_target(target) {}

protected:
    int overflow(int c) override {
        if (c == traits_type::eof())
            return traits_type::not_eof(c);
        // A 0xB5 after 0xC2 already is UTF-8 (a text typed by the user).
        if (c == 0xB5 && m_previous != 0xC2 && m_target->sputc('\xC2') == traits_type::eof())
            return traits_type::eof();
        m_previous = c;
        return m_target->sputc(static_cast<char>(c));
    }
    int sync() override { return m_target->pubsync(); }

private:
    std::streambuf* m_target;
    int m_previous = 0;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> usb, gige;
    int discovery = 0;
    po::options_description options("Options");
    options.add_options()("help,h", "print this help and exit")(
        "usb", po::value(&usb)->composing(),
        ("plug an emulated USB camera of this model (repeatable): " + names(UsbModels)).c_str())(
        "gige", po::value(&gige)->composing(),
        ("start an emulated GigE camera on <address>[:<model>] (repeatable; a 127.0.0.x "
         "address; model HeronGigE unless given): " +
         names(GigeModels))
            .c_str())("gige-discovery", po::value(&discovery),
                      "also look for real GigE cameras by broadcast, for at most this many "
                      "seconds");
    po::variables_map values;
    try {
        po::store(po::parse_command_line(argc, argv, options), values);
        po::notify(values);
    } catch (const std::exception& error) {
        std::cerr << "xev-console: " << error.what() << " (see --help)\n";
        return 2;
    }
    if (values.count("help")) {
        std::cout << "Usage: xev-console [options] [< script]\n\n"
                     "The interactive console of XEVLibrary: list the cameras, open one, read and\n"
                     "set its parameters, run captures ('help' lists the commands). Commands are\n"
                     "read from standard input until 'quit', 'exit' or its end, so a script can\n"
                     "be piped in. Without options it uses the cameras of this computer (USB,\n"
                     "and GigE with --gige-discovery); emulated cameras are listed after them.\n\n"
                  << options << "\n";
        return 0;
    }
    // Diagnostics (enumeration steps, the opening of a GigE camera) stay out
    // of the console's output, unless the user chose where they go.
    if (!std::getenv("XEV_LOG"))
        XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::StandardError);

    XEVUsbEmulatedBus bus;
    std::vector<std::unique_ptr<XEVGigeEmulatedCamera>> gigeCameras;
    try {
        for (std::size_t i = 0; i < usb.size(); ++i) {
            if (!UsbModels.count(usb[i]))
                throw std::invalid_argument("--usb: unknown model " + usb[i]);
            XEVUsbCameraConfig config = XEVUsbCameraConfig::forModel(UsbModels.at(usb[i]));
            config.serialNumber += static_cast<uint32_t>(i); // one serial number per camera
            bus.plug(config);
        }
        std::vector<std::string> addresses;
        for (const std::string& option : gige) {
            gigeCameras.push_back(std::make_unique<XEVGigeEmulatedCamera>(gigeCamera(option)));
            addresses.push_back(gigeCameras.back()->address());
        }
        if (!addresses.empty()) {
            // Cameras on loopback are asked directly; discovery stops once
            // they have all answered.
            XEVManager::useGige = true;
            XEVManager::gigeBroadcast = discovery > 0;
            XEVManager::gigeCameraAddresses = addresses;
            XEVManager::gigeDiscoveryTimeInSeconds = std::max(discovery, 3);
            XEVManager::numberGigeDevicesToDiscover =
                discovery > 0 ? AllCameras : static_cast<int>(addresses.size());
        } else if (discovery > 0) {
            XEVManager::useGige = true;
            XEVManager::gigeDiscoveryTimeInSeconds = discovery;
            XEVManager::numberGigeDevicesToDiscover = AllCameras;
        }
    } catch (const std::exception& error) {
        std::cerr << "xev-console: " << error.what() << "\n";
        return 2;
    }

    MicroSignToUtf8 utf8(std::cout.rdbuf());
    std::ostream out(&utf8);
    XEVToolBox::XEVCommandLineUI console(std::cin, out);
    if (XEVDevice* device = console.chooseDevice())
        console.controlDevice(*device);
    out.flush();
    XEVManager::destroyInstance(); // stops a capture still running
    return 0;
}
