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
