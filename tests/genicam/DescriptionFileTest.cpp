#include "Gige/DescriptionFile.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace XEVLibrary {
namespace {

struct UrlCase {
    const char* url;
    const char* error; // empty when accepted
};

TEST(DescriptionFile, FirstUrlIsLocalWithHexAddressAndBoundedLength) {
    const UrlCase cases[] = {
        {"local:XEV.zip;1000;3e8", ""},
        {"Local:XEV.zip;1000;3e8", "description File not of type local"},
        {"file:///XEV.zip", "description File not of type local"},
        {"local:XEV.zip;1000", "description File URL malformed: local:XEV.zip;1000"},
        {"local:XEV.zip;zz;10", "description File URL malformed: local:XEV.zip;zz;10"},
        {"local:XEV.zip;10;-1", "description File URL malformed: local:XEV.zip;10;-1"},
        {"local:XEV.zip;10;0",
         "description File length 0 refused: it must be between 1 and 16777216 bytes"},
        {"local:XEV.zip;10;1000001",
         "description File length 16777217 refused: it must be between 1 and 16777216 bytes"},
    };
    for (const UrlCase& c : cases) {
        DescriptionFile file;
        std::string error;
        const bool accepted = file.ParseUrl(c.url, error);
        EXPECT_EQ(accepted, error.empty()) << c.url;
        EXPECT_EQ(error, c.error) << c.url;
    }
    DescriptionFile file;
    std::string error;
    ASSERT_TRUE(file.ParseUrl("local:Heron.zip;1A2000;1000000", error));
    EXPECT_EQ(file.FileName(), "Heron.zip");
    EXPECT_EQ(file.Address(), 0x2000); // the low 16 bits
    EXPECT_EQ(file.Length(), 16u << 20);
}

void PutLe(std::vector<char>& bytes, std::size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes[at + std::size_t(i)] = static_cast<char>(value >> (8 * i));
}

/// A zip holding @p text under "d.xml", deflated (method 8) or stored (0),
/// with the sizes its header announces.
std::vector<char> Zip(const std::string& text, uint16_t method, uint32_t announced) {
    std::vector<char> data(text.begin(), text.end());
    if (method == 8) {
        z_stream stream{};
        deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        data.resize(deflateBound(&stream, text.size()));
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        stream.avail_in = static_cast<uInt>(text.size());
        stream.next_out = reinterpret_cast<Bytef*>(data.data());
        stream.avail_out = static_cast<uInt>(data.size());
        deflate(&stream, Z_FINISH);
        data.resize(stream.total_out);
        deflateEnd(&stream);
    }
    std::vector<char> zip(35, 0);
    PutLe(zip, 0, 0x04034B50, 4);
    PutLe(zip, 8, method, 2);
    PutLe(zip, 18, static_cast<uint32_t>(data.size()), 4);
    PutLe(zip, 22, announced, 4);
    PutLe(zip, 26, 5, 2);
    zip.insert(zip.begin() + 30, {'d', '.', 'x', 'm', 'l'});
    zip.resize(35);
    zip.insert(zip.end(), data.begin(), data.end());
    return zip;
}

std::string Unzipped(const std::vector<char>& archive) {
    std::vector<char> xml{'o', 'l', 'd'};
    std::string error;
    const bool accepted = DescriptionFile::Unzip(archive, xml, error);
    EXPECT_EQ(accepted, error.empty());
    if (!accepted) {
        EXPECT_TRUE(xml.empty()) << error;
    }
    return accepted ? std::string(xml.begin(), xml.end()) : error;
}

TEST(DescriptionFile, ArchivesAreCheckedBeforeTheyAreInflated) {
    const std::string text =
        "<RegisterDescription>" + std::string(3000, 'x') + "</RegisterDescription>";
    const uint32_t size = static_cast<uint32_t>(text.size());
    EXPECT_EQ(Unzipped(Zip(text, 8, size)), text);
    EXPECT_EQ(Unzipped(Zip(text, 0, size)), text);
    EXPECT_EQ(Unzipped({text.begin(), text.end()}), "Bad zip file signature");

    std::vector<char> cut = Zip(text, 8, size);
    cut.resize(cut.size() - 1);
    EXPECT_EQ(Unzipped(cut), "Bad zip file: the compressed data run beyond the " +
                                 std::to_string(cut.size()) + " bytes of the file");
    std::vector<char> longName = Zip(text, 8, size);
    PutLe(longName, 26, 0xFFFF, 2);
    EXPECT_NE(Unzipped(longName).find("beyond"), std::string::npos);
    EXPECT_EQ(Unzipped(Zip(text, 12, size)),
              "Bad zip file: compression method 12 is neither stored nor deflate");
    EXPECT_EQ(Unzipped(Zip(text, 8, 0x4000001)),
              "Bad zip file: an uncompressed size of 67108865 bytes is refused (at most 67108864)");
    EXPECT_EQ(Unzipped(Zip(text, 8, size + 1)), "Bad zip file: " + std::to_string(size) +
                                                    " bytes inflated where " +
                                                    std::to_string(size + 1) + " were announced");
    EXPECT_EQ(Unzipped(Zip(text, 8, size - 1)), "Bad zip file: " + std::to_string(size - 1) +
                                                    " bytes inflated where " +
                                                    std::to_string(size - 1) + " were announced");
    EXPECT_EQ(Unzipped(Zip(text, 0, size - 1)), "Bad zip file: a stored file of " +
                                                    std::to_string(size) + " bytes announced as " +
                                                    std::to_string(size - 1));
    std::vector<char> corrupt = Zip(text, 8, size);
    corrupt[35] = static_cast<char>(0xFF); // block type 3 does not exist
    EXPECT_EQ(Unzipped(corrupt).rfind("inflate error: -3: ", 0), 0u);
}

} // namespace
} // namespace XEVLibrary
