// Feeds arbitrary first URLs and archives to the description file reader:
// both come from the camera.
#include "Gige/DescriptionFile.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string error;
    XEVLibrary::DescriptionFile file;
    const std::string url(reinterpret_cast<const char*>(data), size);
    if (file.ParseUrl(url, error) && (file.Length() == 0 || file.Length() > file.MaxLength))
        __builtin_trap();
    const std::vector<char> archive(data, data + size);
    std::vector<char> xml;
    if (XEVLibrary::DescriptionFile::Unzip(archive, xml, error) &&
        (xml.empty() || xml.size() > file.MaxInflated))
        __builtin_trap();
    return 0;
}
