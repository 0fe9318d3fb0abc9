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
    std::uint64_t listedSize = 0;  // what the archive claims it unpacks to, when not the data's size
    unsigned madeBy = 3;  // the system that made the entry: 3 Unix, 2 VMS, 0 DOS
    // Deflated (8): data is the raw deflate stream, and listedSize and crc
    // describe what it claims to inflate to.
    unsigned method = 0;
    std::uint32_t crc = 0;
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
    auto put = [](std::string& out, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    std::string out, central;
    for (const auto& e : entries) {
        const bool folder = !e.name.empty() && e.name.back() == '/';
        const std::uint32_t crc = e.method ? e.crc : crc32(e.data), size = static_cast<std::uint32_t>(e.data.size());
        const std::uint64_t listed = e.listedSize ? e.listedSize : size;
        // Sizes past 32 bits travel in a zip64 field, both of them.
        const bool zip64 = listed > 0xFFFFFFFEu;
        std::string extra;
        if (zip64) {
            put(extra, 0x0001, 2);
            put(extra, 16, 2);
            put(extra, listed, 8);
            put(extra, size, 8);
        }
        const unsigned needed = zip64 ? 45u : 20u;
        const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        put(out, 0x04034b50, 4);
        for (unsigned v : {needed, 0u, e.method, 0u, 0x21u}) put(out, v, 2);
        put(out, crc, 4);
        put(out, zip64 ? 0xFFFFFFFFu : size, 4);
        put(out, zip64 ? 0xFFFFFFFFu : listed, 4);
        put(out, e.name.size(), 2);
        put(out, extra.size(), 2);
        out += e.name + extra + e.data;

        put(central, 0x02014b50, 4);
        for (unsigned v : {(e.madeBy << 8) | needed, needed, 0u, e.method, 0u, 0x21u}) put(central, v, 2);
        put(central, crc, 4);
        put(central, zip64 ? 0xFFFFFFFFu : size, 4);
        put(central, zip64 ? 0xFFFFFFFFu : listed, 4);
        put(central, e.name.size(), 2);
        put(central, extra.size(), 2);
        for (int i = 0; i < 3; ++i) put(central, 0, 2);
        const unsigned type = (e.mode & 0170000u) ? 0u : folder ? 0040000u : 0100000u;
        put(central, (type | e.mode) << 16, 4);
        put(central, offset, 4);
        central += e.name + extra;
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
