#pragma once
// Writes small stored (uncompressed) zip archives with any entry names, so
// that tests can build the hostile ones no zip tool would make.
#include <cstdint>
#include <string>
#include <vector>

namespace hw::test {

struct ZipEntry {
    std::string name;  // a folder ends in "/"
    std::string data;
    unsigned mode = 0644;  // with a file type (0120000 a link) or without
    std::uint32_t listedSize = 0;  // what the archive claims it unpacks to, when not the data's size
};

inline std::string zipArchive(const std::vector<ZipEntry>& entries) {
    auto crc32 = [](const std::string& s) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (unsigned char b : s) {
            c ^= b;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return ~c;
    };
    auto put = [](std::string& out, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    std::string out, central;
    for (const auto& e : entries) {
        const bool folder = !e.name.empty() && e.name.back() == '/';
        const std::uint32_t crc = crc32(e.data), size = static_cast<std::uint32_t>(e.data.size());
        const std::uint32_t listed = e.listedSize ? e.listedSize : size;
        const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        put(out, 0x04034b50, 4);
        for (std::uint32_t v : {20u, 0u, 0u, 0u, 0x21u}) put(out, v, 2);
        put(out, crc, 4);
        put(out, size, 4);
        put(out, listed, 4);
        put(out, static_cast<std::uint32_t>(e.name.size()), 2);
        put(out, 0, 2);
        out += e.name + e.data;

        put(central, 0x02014b50, 4);
        for (std::uint32_t v : {(3u << 8) | 20u, 20u, 0u, 0u, 0u, 0x21u}) put(central, v, 2);
        put(central, crc, 4);
        put(central, size, 4);
        put(central, listed, 4);
        put(central, static_cast<std::uint32_t>(e.name.size()), 2);
        for (int i = 0; i < 4; ++i) put(central, 0, 2);
        const unsigned type = (e.mode & 0170000u) ? 0u : folder ? 0040000u : 0100000u;
        put(central, (type | e.mode) << 16, 4);
        put(central, offset, 4);
        central += e.name;
    }
    const std::uint32_t cdOffset = static_cast<std::uint32_t>(out.size());
    out += central;
    put(out, 0x06054b50, 4);
    put(out, 0, 2);
    put(out, 0, 2);
    put(out, static_cast<std::uint32_t>(entries.size()), 2);
    put(out, static_cast<std::uint32_t>(entries.size()), 2);
    put(out, static_cast<std::uint32_t>(central.size()), 4);
    put(out, cdOffset, 4);
    put(out, 0, 2);
    return out;
}

}  // namespace hw::test
