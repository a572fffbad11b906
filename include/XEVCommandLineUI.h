#pragma once

#include <iosfwd>
#include <string>

namespace XEVLibrary {

class XEVDevice;

namespace XEVToolBox {

/**
 * A line-oriented console over any pair of streams: the user picks a camera,
 * opens it, reads and sets its parameters and runs captures by typing
 * commands.
 *
 * Two loops: chooseDevice() works on the manager and returns the device that
 * an "open" command opened; controlDevice() works on that device until "quit"
 * or "exit". Each prints its banner, then a prompt before every line it
 * reads. A line is a command, possibly followed by a comment ("# ..."); an
 * empty or comment-only line does nothing; anything else prints "Command
 * unrecognized..". The error of a command (its exception's text) is printed
 * and the loop goes on.
 *
 * End of input ends either loop (chooseDevice() then returns null) after a
 * line end, so that what follows starts on a line of its own. A carriage
 * return ending a line is dropped (scripts with CRLF line ends); a line
 * longer than 64 KiB is unrecognized as a whole. Nothing is echoed: the
 * console prints its prompts, banners and answers only.
 *
 * The console holds references to its streams and owns nothing; it runs on
 * the caller's thread, captures run on the device's threads. "waitEndCapture"
 * waits without limit: after "start", until another thread stops the capture
 * or the camera is lost.
 */
class XEVCommandLineUI {
public:
    /// A console reading commands from @p in and writing to @p out; both
    /// streams must outlive it.
    XEVCommandLineUI(std::istream& in, std::ostream& out);

    /// Runs the manager loop; the device an "open" command opened, or null
    /// at the end of input.
    XEVDevice* chooseDevice();
    /// Runs the device loop until "quit", "exit" or the end of input.
    void controlDevice(XEVDevice& device);

    // Texts the commands print, each line ending with a line end.

    /// The commands of the manager loop and what they do.
    std::string helpChoose() const;
    /// The commands of the device loop and what they do.
    std::string helpControl() const;
    /// One line per enumerated camera: number, connector, model, serial.
    std::string list() const;
    /// The model ids of the catalog; raises the manager's error when camera
    /// @p deviceNumber does not exist.
    std::string listModelId(unsigned int deviceNumber) const;
    /// Every parameter of @p device with its applied value, then fps().
    std::string config(XEVDevice& device) const;
    /// The frame-rate range and the frame rate of @p device.
    std::string fps(XEVDevice& device) const;

private:
    enum class Input { Line, Skipped, End };
    /// Prints @p text and reads one @p line; Skipped when it was too long
    /// (and has been answered), End at the end of input.
    Input prompt(const std::string& text, std::string& line);
    /// Runs @p line in the manager loop; the device it opened, if any.
    XEVDevice* runManagerCommand(const std::string& line);
    /// Runs @p line in the device loop; false when it ends the loop.
    bool runDeviceCommand(XEVDevice& device, const std::string& line);

    std::istream& m_in;
    std::ostream& m_out;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
