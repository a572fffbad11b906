#include "toolbox/NucTableCache.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

namespace {

template <class T>
void put(std::vector<char>& bytes, const T* values, std::size_t count) {
    const char* raw = reinterpret_cast<const char*>(values);
    bytes.insert(bytes.end(), raw, raw + count * sizeof(T));
}

template <class T>
const char* get(const char* at, T* values, std::size_t count) {
    std::memcpy(values, at, count * sizeof(T));
    return at + count * sizeof(T);
}

bool gainsSound(const std::vector<float>& gains) {
    for (float g : gains)
        if (!(g >= 0.0f) || !std::isfinite(g))
            return false;
    return true;
}

/// Writes all of @p bytes to @p fd.
bool writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= std::size_t(n);
    }
    return true;
}

} // namespace

std::vector<char> encodeNucCache(const Nuc& table) {
    std::vector<char> bytes;
    const std::size_t n = table.pixels();
    bytes.reserve(NucCacheHeader + n * 6 * (table.isDouble ? 2 : 1));
    bytes.push_back(table.isDouble ? '1' : '0');
    put(bytes, &table.rows, 1);
    put(bytes, &table.cols, 1);
    put(bytes, &table.exposure, 1);
    put(bytes, table.set1.dark.data(), n);
    put(bytes, table.set1.gain.data(), n);
    if (table.isDouble) {
        put(bytes, table.set2.dark.data(), n);
        put(bytes, table.set2.gain.data(), n);
    }
    return bytes;
}

bool decodeNucCache(const char* data, std::size_t size, Nuc& out, std::string& why) {
    if (size < NucCacheHeader) {
        why = "shorter than its header";
        return false;
    }
    if (data[0] != '0' && data[0] != '1') {
        why = "no double flag";
        return false;
    }
    Nuc table;
    table.isDouble = data[0] == '1';
    const char* at = get(data + 1, &table.rows, 1);
    at = get(at, &table.cols, 1);
    at = get(at, &table.exposure, 1);
    if (table.rows == 0 || table.cols == 0 || table.rows > MaxNucSide || table.cols > MaxNucSide) {
        why = "a table of " + std::to_string(table.rows) + "x" + std::to_string(table.cols);
        return false;
    }
    const std::size_t expected = NucCacheHeader + table.pixels() * 6 * (table.isDouble ? 2 : 1);
    if (size != expected) {
        why =
            std::to_string(size) + " bytes where its header announces " + std::to_string(expected);
        return false;
    }
    if (!std::isfinite(table.exposure)) {
        why = "no exposure";
        return false;
    }
    table.allocate();
    const std::size_t n = table.pixels();
    at = get(at, table.set1.dark.data(), n);
    at = get(at, table.set1.gain.data(), n);
    if (table.isDouble) {
        at = get(at, table.set2.dark.data(), n);
        get(at, table.set2.gain.data(), n);
    }
    if (!gainsSound(table.set1.gain) || !gainsSound(table.set2.gain)) {
        why = "a gain that is not finite or negative";
        return false;
    }
    out = std::move(table);
    return true;
}

bool loadNucCache(const std::string& path, Nuc& out, std::string& why) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        why = "cannot be opened";
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
    if (file.bad()) {
        why = "cannot be read";
        return false;
    }
    return decodeNucCache(bytes.data(), bytes.size(), out, why);
}

bool saveNucCache(const std::string& path, const Nuc& table, std::string& why) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path target(path);
    fs::create_directories(target.parent_path(), error);
    if (error) {
        why = error.message();
        return false;
    }
    // A name of its own per process and call, next to the target so that the
    // rename stays on one file system.
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    const std::vector<char> bytes = encodeNucCache(table);
    // On disk before the rename, so that no crash leaves a named half cache.
    bool written = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    int savedErrno = written ? 0 : errno;
    if (::close(fd) != 0 && written) {
        written = false;
        savedErrno = errno;
    }
    if (written && std::rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        savedErrno = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        why = savedErrno != 0 ? std::strerror(savedErrno) : "short write";
        return false;
    }
    return true;
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
