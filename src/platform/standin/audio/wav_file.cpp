// SPDX-License-Identifier: MIT
// A WAV file that is valid after every append, so a capture survives a killed process.
#include <cstdio>
#include <cstring>

#include "platform/standin/audio/devices.h"

namespace standin::audio {

struct WavFile {
    std::FILE* File = nullptr;
    std::uint32_t DataBytes = 0;
};

namespace {

void PutLittle(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void WriteHeader(WavFile* file, const OutputFormat& format) {
    std::uint8_t header[44] = {};
    std::memcpy(header, "RIFF", 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLittle(header + 16, 16, 4);
    PutLittle(header + 20, WAVE_FORMAT_PCM, 2);
    PutLittle(header + 22, format.Channels, 2);
    PutLittle(header + 24, format.Rate, 4);
    PutLittle(header + 28, format.Rate * format.BlockAlign(), 4);
    PutLittle(header + 32, format.BlockAlign(), 2);
    PutLittle(header + 34, format.Bits, 2);
    std::memcpy(header + 36, "data", 4);
    std::fwrite(header, 1, sizeof header, file->File);
}

void PatchSizes(WavFile* file) {
    std::uint8_t size[4];
    PutLittle(size, 36 + file->DataBytes, 4);
    std::fseek(file->File, 4, SEEK_SET);
    std::fwrite(size, 1, 4, file->File);
    PutLittle(size, file->DataBytes, 4);
    std::fseek(file->File, 40, SEEK_SET);
    std::fwrite(size, 1, 4, file->File);
    std::fseek(file->File, 0, SEEK_END);
}

}  // namespace

WavFile* WavCreate(const char* path, const OutputFormat& format) {
    std::FILE* handle = std::fopen(path, "wb");
    if (!handle) return nullptr;
    auto* file = new WavFile{handle, 0};
    WriteHeader(file, format);
    return file;
}

void WavAppend(WavFile* file, const std::uint8_t* bytes, std::size_t count) {
    if (!file || count == 0) return;
    std::fwrite(bytes, 1, count, file->File);
    file->DataBytes += static_cast<std::uint32_t>(count);
    PatchSizes(file);
    std::fflush(file->File);
}

void WavFinish(WavFile* file) {
    if (!file) return;
    std::fclose(file->File);
    delete file;
}

}  // namespace standin::audio
