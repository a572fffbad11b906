#include "Gige/DescriptionFile.h"

#include <zlib.h>

#include <cerrno>
#include <cstdlib>

namespace XEVLibrary {

namespace {

uint32_t LoadLe32(const std::vector<char>& bytes, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

uint16_t LoadLe16(const std::vector<char>& bytes, std::size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 static_cast<unsigned char>(bytes[at + 1]) << 8);
}

/// A whole hexadecimal field of at most 32 bits.
bool ParseHex(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10)
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 16);
    if (errno != 0 || *end != '\0' || text[0] == '-' || text[0] == '+' || parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

constexpr uint32_t ZipSignature = 0x04034B50;
constexpr uint16_t MethodStored = 0;
constexpr uint16_t MethodDeflate = 8;

bool Inflate(const char* data, uint32_t size, std::vector<char>& xml, std::string& error) {
    z_stream stream{};
    int code = inflateInit2(&stream, -15); // raw deflate, as zip stores it
    if (code != Z_OK) {
        error = "InflatInit Error: " + std::to_string(code);
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = size;
    stream.next_out = reinterpret_cast<Bytef*>(xml.data());
    stream.avail_out = static_cast<uInt>(xml.size());
    do {
        code = inflate(&stream, Z_FINISH);
    } while (code == Z_OK && stream.avail_in > 0 && stream.avail_out > 0);
    const uLong produced = stream.total_out;
    const std::string message = stream.msg ? stream.msg : "";
    inflateEnd(&stream);
    if (code != Z_STREAM_END && code != Z_OK && code != Z_BUF_ERROR) {
        error = "inflate error: " + std::to_string(code) + ": " + message;
        return false;
    }
    if (code != Z_STREAM_END || produced != xml.size()) {
        error = "Bad zip file: " + std::to_string(produced) + " bytes inflated where " +
                std::to_string(xml.size()) + " were announced";
        return false;
    }
    return true;
}

} // namespace

bool DescriptionFile::ParseUrl(const std::string& url, std::string& error) {
    if (url.compare(0, 6, "local:") != 0) {
        error = "description File not of type local";
        return false;
    }
    const std::size_t nameEnd = url.find(';', 6);
    const std::size_t addressEnd =
        nameEnd == std::string::npos ? nameEnd : url.find(';', nameEnd + 1);
    uint32_t address = 0;
    uint32_t length = 0;
    if (addressEnd == std::string::npos ||
        !ParseHex(url.substr(nameEnd + 1, addressEnd - nameEnd - 1), address) ||
        !ParseHex(url.substr(addressEnd + 1), length)) {
        error = "description File URL malformed: " + url;
        return false;
    }
    if (length == 0 || length > MaxLength) {
        error = "description File length " + std::to_string(length) +
                " refused: it must be between 1 and " + std::to_string(MaxLength) + " bytes";
        return false;
    }
    m_fileName = url.substr(6, nameEnd - 6);
    m_address = static_cast<uint16_t>(address);
    m_length = length;
    return true;
}

bool DescriptionFile::Unzip(const std::vector<char>& archive, std::vector<char>& xml,
                            std::string& error) {
    xml.clear();
    if (archive.size() < 4 || LoadLe32(archive, 0) != ZipSignature) {
        error = "Bad zip file signature";
        return false;
    }
    if (archive.size() < LocalHeaderSize) {
        error = "Bad zip file: its header is cut short";
        return false;
    }
    const uint16_t method = LoadLe16(archive, 8);
    const uint32_t compressed = LoadLe32(archive, 18);
    const uint32_t uncompressed = LoadLe32(archive, 22);
    const std::size_t dataStart =
        LocalHeaderSize + LoadLe16(archive, 26) + std::size_t(LoadLe16(archive, 28));
    if (dataStart > archive.size() || compressed > archive.size() - dataStart) {
        error = "Bad zip file: the compressed data run beyond the " +
                std::to_string(archive.size()) + " bytes of the file";
        return false;
    }
    if (method != MethodStored && method != MethodDeflate) {
        error = "Bad zip file: compression method " + std::to_string(method) +
                " is neither stored nor deflate";
        return false;
    }
    if (uncompressed == 0 || uncompressed > MaxInflated) {
        error = "Bad zip file: an uncompressed size of " + std::to_string(uncompressed) +
                " bytes is refused (at most " + std::to_string(MaxInflated) + ")";
        return false;
    }
    const char* data = archive.data() + dataStart;
    if (method == MethodStored) {
        if (compressed != uncompressed) {
            error = "Bad zip file: a stored file of " + std::to_string(compressed) +
                    " bytes announced as " + std::to_string(uncompressed);
            return false;
        }
        xml.assign(data, data + compressed);
        return true;
    }
    // The announced size bounds the output: inflating never writes beyond it.
    xml.resize(uncompressed);
    if (!Inflate(data, compressed, xml, error)) {
        xml.clear();
        return false;
    }
    return true;
}

} // namespace XEVLibrary
