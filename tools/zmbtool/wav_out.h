// SPDX-License-Identifier: MIT
// WAV files and streams of PCM as a track stores it (8-bit unsigned or 16-bit signed
// little-endian, interleaved), written through zmbtool's output rules.
#pragma once

#include <cstdint>
#include <string>

#include "output.h"

namespace zmbtool {

struct WavFormat {
    std::uint32_t rate = 0;
    std::uint16_t channels = 1;
    std::uint16_t bits = 8;  // 8 or 16
};

// The header goes out first with the sizes unknown; a file gets its real sizes on Commit,
// while a stream keeps the "unknown" sizes (all ones) that readers of piped WAV expect.
class WavWriter {
  public:
    bool Open(const std::string& path, const WavFormat& format, std::string* error);
    bool IsOpen() const { return out_.IsOpen(); }
    bool Append(const std::uint8_t* bytes, std::size_t count);
    bool Commit(std::string* error);
    void Discard() { out_.Discard(); }
    bool Failed() const { return out_.Failed(); }
    std::string Failure() const { return out_.Failure(); }

  private:
    OutputFile out_;
    WavFormat format_;
    std::uint64_t dataBytes_ = 0;
};

}  // namespace zmbtool
