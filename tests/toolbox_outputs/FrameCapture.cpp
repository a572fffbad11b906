#include "FrameCapture.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace XEVTest {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "xev-outputs-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace XEVTest

// OpenCV's image and video codecs run their own threads inside libraries
// built without ThreadSanitizer, whose synchronisation it cannot see.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libavutil.so\nrace:libavcodec.so\nrace:libavformat.so\n"
           "called_from_lib:libgdal.so\ndeadlock:libgdal.so\n";
}
