#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace XEVLibrary {

/**
 * The camera's description file as its bootstrap registers announce it, and
 * its extraction from the zip archive the camera serves.
 *
 * Everything here comes from the camera and is checked before it is used:
 * the announced length, every offset and size inside the archive, the
 * compression method and the inflated size. A refusal is a message for the
 * diagnostics, never a crash or an allocation the camera chose.
 */
class DescriptionFile {
public:
    /// Largest description file read from a camera.
    static constexpr uint32_t MaxLength = 16u << 20;
    /// Largest description text inflated from an archive.
    static constexpr uint32_t MaxInflated = 64u << 20;
    /// Size of a zip local file header before the file name.
    static constexpr std::size_t LocalHeaderSize = 30;

    /// Reads a first URL of the form "local:<file name>;<address>;<length>"
    /// (address and length hexadecimal; only the low 16 bits of the address
    /// are used). False, with the reason in @p error, for another scheme, a
    /// malformed text or a length of 0 or beyond MaxLength.
    bool ParseUrl(const std::string& url, std::string& error);

    /// Inflates the first file of the zip @p archive into @p xml. False,
    /// with @p xml empty and the reason in @p error, for anything but a
    /// well-formed local file stored or deflated within the archive.
    static bool Unzip(const std::vector<char>& archive, std::vector<char>& xml, std::string& error);

    const std::string& FileName() const { return m_fileName; }
    uint16_t Address() const { return m_address; }
    uint32_t Length() const { return m_length; }

private:
    std::string m_fileName;
    uint16_t m_address = 0;
    uint32_t m_length = 0;
};

} // namespace XEVLibrary
