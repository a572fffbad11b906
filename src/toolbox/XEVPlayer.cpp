#include "XEVPlayer.h"

#include "XEVException.h"
#include "toolbox/MultiPlayer.h"

namespace XEVLibrary {
namespace XEVToolBox {

struct XEVPlayer::Window {
    MultiPlayer* player = nullptr;
    int number = -1;
    std::string name;
};

XEVPlayer::XEVPlayer(const char* windowName) : m_window(new Window) {
    if (windowName == nullptr || windowName[0] == '\0')
        XEVException::throwError("XEVPlayer: the window name cannot be empty.");
    m_window->name = windowName;
    m_window->player = &MultiPlayer::Instance();
    m_window->number = m_window->player->Register(m_window->name);
}

XEVPlayer::~XEVPlayer() {
    m_window->player->Unregister(m_window->number);
}

void XEVPlayer::onNewFrame(const cv::Mat& frame, const XEVFrameInfo&) {
    m_window->player->onNewFrame(m_window->number, frame);
}

int XEVPlayer::windowNumber() const {
    return m_window->number;
}

const std::string& XEVPlayer::windowName() const {
    return m_window->name;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
