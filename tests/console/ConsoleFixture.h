#pragma once

#include "TestSupport.h"

#include "XEVCommandLineUI.h"
#include "XEVDevice.h"
#include "XEVException.h"
#include "XEVInertParam.h"
#include "XEVManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace XEVTest {

using namespace XEVLibrary;
using XEVLibrary::XEVToolBox::XEVCommandLineUI;

const std::string Stars(54, '*');
const std::string Dashes(40, '-');
const std::string Unrecognized = "Command unrecognized..\n";
const std::string ManagerPrompt = "XEV@Manager> ";

const std::string ManagerBanner = Stars + "\n" +
                                  "*            Welcome to XEVManager Console           *\n"
                                  "*             Choose a connected Device              *\n"
                                  "*         (for any help type command 'help')         *\n" +
                                  Stars + "\n";
const std::string DeviceBanner = Stars + "\n" +
                                 "*            Welcome to XEVDevice Console            *\n"
                                 "*           Configure and Control XEVDevice          *\n"
                                 "*         (for any help type command 'help')         *\n" +
                                 Stars + "\n";

/// "Error : The device number(n) does not exist, device count is c." and a line end.
inline std::string noDevice(unsigned number, unsigned count) {
    return "Error : The device number(" + std::to_string(number) +
           ") does not exist, device count is " + std::to_string(count) + ".\n";
}

/**
 * A device that records the calls the console makes, as text lines, and
 * answers from values the test sets. A call named in `failures` throws the
 * exception given there instead.
 */
class RecordingDevice : public XEVDevice {
public:
    RecordingDevice() : XEVDevice(configuration(), 3) {}

    std::vector<std::string> calls;
    std::map<std::string, std::string> values{
        {"Gain", "1.00"}, {"Exposure Time", "2ms"}, {"Trigger Delay Output", "-10.0us"}};
    double fps = 24.9, minFps = 4.2, maxFps = 223.7;
    std::map<std::string, std::function<void()>> failures;

protected:
    const XEVDeviceDescriptor* GetDeviceDescriptor() const override { return nullptr; }
    double GetFps(bool) const override { return fps; }
    double GetMinFps(bool) const override { return minFps; }
    double GetMaxFps(bool) const override { return maxFps; }
    double GetParamValueOf(const std::string&, bool) const override { return 0; }
    std::string GetParamStrValueOf(const std::string& name, bool applied) const override {
        return values.at(name) + (applied ? "" : " (pending)");
    }
    std::string GetManual() const override { return "A manual without line end"; }
    void SetFps(double value, bool apply) override {
        record("SetFps", std::to_string(value) + (apply ? " apply" : ""));
    }
    void SetParamValueOf(const std::string& name, double value, bool apply) override {
        record("SetParamValueOf", name + "=" + std::to_string(value) + (apply ? " apply" : ""));
    }
    void SetParamValueOf(const std::string& name, const std::string& value, bool apply) override {
        record("SetParamValueOf", name + "='" + value + "'" + (apply ? " apply" : ""));
    }
    bool UpdateConfig(bool) override { return true; }
    bool IsCapturing() const override { return false; }
    void Start() override { record("Start", ""); }
    void CaptureNFrames(long n, bool wait) override {
        record("CaptureNFrames", std::to_string(n) + (wait ? " wait" : ""));
    }
    void CaptureForDuration(unsigned long milliseconds, bool wait) override {
        record("CaptureForDuration", std::to_string(milliseconds) + (wait ? " wait" : ""));
    }
    void Stop(bool reset) override { record("Stop", reset ? "reset" : "keep"); }
    bool WaitEndCapture(int milliseconds) override {
        record("WaitEndCapture", std::to_string(milliseconds));
        return true;
    }
    void Synchronize() override {}

private:
    /// A USB 3.0 "Osprey" with three parameters, in this order.
    static const XEVModelConfiguration& configuration() {
        static XEVInertParam gain("Gain", 1, "1.00");
        static XEVInertParam exposure("Exposure Time", 2000, "2ms");
        static XEVInertParam delay("Trigger Delay Output", -10, "-10.0us");
        static const XEVModelConfiguration osprey = [] {
            XEVModelConfiguration made(USB3, "Osprey", 320, 256);
            made.addParam(&gain);
            made.addParam(&exposure);
            made.addParam(&delay);
            return made;
        }();
        return osprey;
    }
    void record(const std::string& call, const std::string& arguments) {
        calls.push_back(call + "(" + arguments + ")");
        const auto failure = failures.find(call);
        if (failure != failures.end())
            failure->second();
    }
};

/// What a console answers to @p script: its output, and the device the
/// manager loop returned. Runs under a deadline.
struct Session {
    std::string output;
    XEVDevice* opened = nullptr;
    /// What the console left unread.
    std::string rest;
};

/// Runs the manager loop on @p script and, when it opens a device, the
/// device loop on the rest.
inline Session runConsole(const std::string& script) {
    Session session;
    finishesWithin("the console", [&] {
        std::istringstream in(script);
        std::ostringstream out;
        XEVCommandLineUI console(in, out);
        session.opened = console.chooseDevice();
        if (session.opened)
            console.controlDevice(*session.opened);
        session.output = out.str();
        session.rest.assign(std::istreambuf_iterator<char>(in), {});
    });
    return session;
}

/// Runs the device loop alone on @p device.
inline Session runDeviceLoop(XEVDevice& device, const std::string& script) {
    Session session;
    finishesWithin("the device loop", [&] {
        std::istringstream in(script);
        std::ostringstream out;
        XEVCommandLineUI(in, out).controlDevice(device);
        session.output = out.str();
        session.rest.assign(std::istreambuf_iterator<char>(in), {});
    });
    return session;
}

/// One line of a script and the console's whole answer to it.
struct Exchange {
    std::string line;
    std::string answer;
};

/// The script of @p exchanges, one per line.
inline std::string scriptOf(const std::vector<Exchange>& exchanges) {
    std::string script;
    for (const Exchange& exchange : exchanges)
        script += exchange.line + "\n";
    return script;
}

/// What the console prints for @p exchanges after @p prompt each.
inline std::string answersOf(const std::vector<Exchange>& exchanges, const std::string& prompt) {
    std::string text;
    for (const Exchange& exchange : exchanges)
        text += prompt + exchange.answer;
    return text;
}

} // namespace XEVTest
