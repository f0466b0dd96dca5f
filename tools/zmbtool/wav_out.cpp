// SPDX-License-Identifier: MIT
// zmbtool's WAV writer.
#include "wav_out.h"

#include <algorithm>
#include <array>

namespace zmbtool {

namespace {

constexpr std::size_t kHeaderBytes = 44;
// Sizes past what the 32-bit fields hold are written as "unknown", as for a stream.
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFu;

void Put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::uint8_t* at, std::uint32_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

std::array<std::uint8_t, kHeaderBytes> Header(const WavFormat& format, std::uint32_t riffBytes,
                                              std::uint32_t dataBytes) {
    std::array<std::uint8_t, kHeaderBytes> h{};
    const std::uint32_t blockAlign = format.channels * (format.bits / 8u);
    std::copy_n("RIFF", 4, h.begin());
    Put32(&h[4], riffBytes);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    Put32(&h[16], 16);
    Put16(&h[20], 1);  // integer PCM
    Put16(&h[22], format.channels);
    Put32(&h[24], format.rate);
    Put32(&h[28], format.rate * blockAlign);
    Put16(&h[32], blockAlign);
    Put16(&h[34], format.bits);
    std::copy_n("data", 4, h.begin() + 36);
    Put32(&h[40], dataBytes);
    return h;
}

}  // namespace

bool WavWriter::Open(const std::string& path, const WavFormat& format, std::string* error) {
    dataBytes_ = 0;
    format_ = format;
    if (!out_.Open(path, error)) return false;
    const auto header = Header(format, kUnknownSize, kUnknownSize);
    out_.Write(header.data(), header.size());
    return true;
}

bool WavWriter::Append(const std::uint8_t* bytes, std::size_t count) {
    dataBytes_ += count;
    return out_.Write(bytes, count);
}

bool WavWriter::Commit(std::string* error) {
    if (!out_.IsOpen()) return true;
    if (!out_.IsStream()) {
        // RIFF chunks are padded to an even length.
        const std::uint8_t pad = 0;
        if (dataBytes_ % 2) out_.Write(&pad, 1);
        const std::uint64_t riff = 36 + dataBytes_ + dataBytes_ % 2;
        const bool fits = riff <= 0xFFFFFFFEu;
        const auto header = Header(format_, fits ? static_cast<std::uint32_t>(riff) : kUnknownSize,
                                   fits ? static_cast<std::uint32_t>(dataBytes_) : kUnknownSize);
        out_.Overwrite(0, header.data(), header.size());
    }
    return out_.Commit(error);
}

}  // namespace zmbtool
