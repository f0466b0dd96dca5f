// SPDX-License-Identifier: MIT
// zmbtool encode's pictures from beyond PNG: JPEG files, and Y4M streams from any decoder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "encode_png.h"

namespace zmbtool {

// True for a name that `encode` reads as JPEG (.jpg, .jpeg, any case).
bool IsJpegName(const std::string& path);

// Reads a baseline or progressive JPEG, greyscale or colour, as opaque red, green, blue,
// alpha. Fails with one line naming the file.
bool ReadSourceJpeg(const std::string& path, SourcePicture* picture, std::string* error);

// A picture file by its kind: JPEG by its name, else PNG.
bool ReadSourcePicture(const std::string& path, SourcePicture* picture, std::string* error);

// True for an input that is a Y4M stream: `-` (standard input) or a name ending in .y4m.
bool IsY4mInput(const std::string& path);

// A YUV4MPEG2 stream, read one frame at a time so that only one is ever in memory. 4:2:0
// (any siting, taken as the mean of its 2x2 pixels), 4:4:4 and monochrome, 8 bits a sample,
// converted with the BT.601 matrix at limited range, as zmbtool's own Y4M output writes it.
class Y4mStream {
  public:
    Y4mStream() = default;
    Y4mStream(const Y4mStream&) = delete;
    Y4mStream& operator=(const Y4mStream&) = delete;
    ~Y4mStream();

    bool Open(const std::string& path, std::string* error);
    // The next frame; false at the end of the stream (`error` empty) or on a fault.
    bool Next(SourcePicture* picture, std::string* error);
    std::uint32_t Width() const { return width_; }
    std::uint32_t Height() const { return height_; }
    // The stream's frame rate as a period code (minus 1/100 ms), or 0 when it gives none.
    std::int32_t PeriodCode() const { return periodCode_; }

  private:
    bool ParseHeader(const std::string& line, std::string* error);

    std::string name_;
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    std::uint32_t width_ = 0, height_ = 0, frame_ = 0;
    std::int32_t periodCode_ = 0;
    enum class Chroma { C420, C444, Mono } chroma_ = Chroma::C420;
    std::vector<std::uint8_t> planes_;
};

}  // namespace zmbtool
