// SPDX-License-Identifier: MIT
// A small PNG writer for screen dumps: RGB, 8 bits a channel, stored (uncompressed) deflate.
#include <algorithm>
#include <cstdio>

#include "platform/standin/gui/desktop_state.h"

namespace standin::gui {
namespace {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBig32(std::vector<std::uint8_t>* out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutChunk(std::vector<std::uint8_t>* out, const char* type,
              const std::vector<std::uint8_t>& data) {
    PutBig32(out, static_cast<std::uint32_t>(data.size()));
    std::size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    PutBig32(out, Crc32(out->data() + start, out->size() - start));
}

// A zlib stream of stored blocks: no compression, so no library is needed.
std::vector<std::uint8_t> StoredZlib(const std::vector<std::uint8_t>& raw) {
    std::vector<std::uint8_t> out = {0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    std::size_t offset = 0;
    do {
        std::size_t length = std::min<std::size_t>(65535, raw.size() - offset);
        bool last = offset + length == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<std::uint8_t>(length));
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.push_back(static_cast<std::uint8_t>(~length));
        out.push_back(static_cast<std::uint8_t>(~length >> 8));
        out.insert(out.end(), raw.begin() + offset, raw.begin() + offset + length);
        offset += length;
    } while (offset < raw.size());
    PutBig32(&out, (b << 16) | a);
    return out;
}

}  // namespace

bool WritePng(const std::string& path, int width, int height,
              const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> raw;
    raw.reserve((static_cast<std::size_t>(width) * 3 + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        auto row = rgb.begin() + static_cast<std::ptrdiff_t>(y) * width * 3;
        raw.insert(raw.end(), row, row + width * 3);
    }
    std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    PutBig32(&header, static_cast<std::uint32_t>(width));
    PutBig32(&header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    PutChunk(&file, "IHDR", header);
    PutChunk(&file, "IDAT", StoredZlib(raw));
    PutChunk(&file, "IEND", {});
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && ok;
}

}  // namespace standin::gui
