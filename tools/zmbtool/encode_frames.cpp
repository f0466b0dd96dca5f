// SPDX-License-Identifier: MIT
// zmbtool encode's pictures from JPEG files and Y4M streams.
#include "encode_frames.h"

#include <jpeglib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstring>

namespace zmbtool {
namespace {

bool EndsWith(const std::string& text, const char* end) {
    const std::size_t n = std::strlen(end);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != end[i])
            return false;
    return true;
}

// libjpeg reports faults through a callback that must not return; it jumps back here with
// the library's own words.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void JumpBack(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    info->err->format_message(info, error->message);
    std::longjmp(error->back, 1);
}

// The decoding itself, apart from the jump target, so that nothing with a destructor lives
// in the frame a longjmp leaves.
void DecodeJpeg(jpeg_decompress_struct& info, SourcePicture* picture) {
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    picture->width = info.output_width;
    picture->height = info.output_height;
    picture->indexed = false;
    picture->translucent = false;
    std::vector<std::uint8_t> row(std::size_t{info.output_width} * 3);
    picture->pixels.resize(std::size_t{info.output_width} * info.output_height * 4);
    std::uint8_t* to = picture->pixels.data();
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (std::size_t x = 0; x < row.size(); x += 3, to += 4)
            to[0] = row[x], to[1] = row[x + 1], to[2] = row[x + 2], to[3] = 255;
    }
    jpeg_finish_decompress(&info);
}

std::uint8_t Clamp(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// Reads one line of a Y4M stream (its header or a frame's), which is short by the format.
bool ReadLine(std::FILE* file, std::string* line) {
    line->clear();
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c == '\n') return true;
        if (line->size() > 4096) return false;
        line->push_back(static_cast<char>(c));
    }
    return false;
}

}  // namespace

bool IsJpegName(const std::string& path) {
    return EndsWith(path, ".jpg") || EndsWith(path, ".jpeg");
}

bool ReadSourceJpeg(const std::string& path, SourcePicture* picture, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return *error = path + ": " + std::strerror(errno), false;
    jpeg_decompress_struct info{};
    JpegError failure{};
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = JumpBack;
    failure.manager.output_message = [](j_common_ptr) {};
    bool ok = false;
    if (setjmp(failure.back) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        DecodeJpeg(info, picture);
        ok = picture->width <= kLargestPngSide && picture->height <= kLargestPngSide;
        if (!ok) std::snprintf(failure.message, sizeof failure.message, "too large a picture");
    }
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    if (!ok) *error = path + ": not a readable JPEG (" + failure.message + ")";
    return ok;
}

bool ReadSourcePicture(const std::string& path, SourcePicture* picture, std::string* error) {
    return IsJpegName(path) ? ReadSourceJpeg(path, picture, error)
                            : ReadSourcePng(path, picture, error);
}

bool IsY4mInput(const std::string& path) {
    return path == "-" || EndsWith(path, ".y4m");
}

Y4mStream::~Y4mStream() {
    if (ownsFile_ && file_ != nullptr) std::fclose(file_);
}

bool Y4mStream::Open(const std::string& path, std::string* error) {
    name_ = path == "-" ? "standard input" : path;
    ownsFile_ = path != "-";
    file_ = ownsFile_ ? std::fopen(path.c_str(), "rb") : stdin;
    if (file_ == nullptr) return *error = path + ": " + std::strerror(errno), false;
    std::string line;
    if (!ReadLine(file_, &line) || line.rfind("YUV4MPEG2 ", 0) != 0)
        return *error = name_ + ": not a Y4M stream (no YUV4MPEG2 header)", false;
    return ParseHeader(line, error);
}

bool Y4mStream::ParseHeader(const std::string& line, std::string* error) {
    for (std::size_t at = 10; at < line.size();) {
        std::size_t end = line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        const std::string field = line.substr(at, end - at);
        at = end + 1;
        if (field.empty()) continue;
        const char* value = field.c_str() + 1;
        if (field[0] == 'W') width_ = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10));
        if (field[0] == 'H') height_ = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10));
        if (field[0] == 'C') {
            const std::string c = value;
            if (c.rfind("420", 0) == 0)
                chroma_ = Chroma::C420;
            else if (c == "444")
                chroma_ = Chroma::C444;
            else if (c == "mono")
                chroma_ = Chroma::Mono;
            else
                return *error = name_ + ": Y4M chroma " + c + " is not 420, 444 or mono", false;
        }
        if (field[0] == 'F') {
            unsigned long num = 0, den = 0;
            if (std::sscanf(value, "%lu:%lu", &num, &den) == 2 && num != 0 && den != 0) {
                const double hundredths = std::round(100000.0 * static_cast<double>(den) / num);
                if (hundredths >= 1 && hundredths <= 2147483647.0)
                    periodCode_ = -static_cast<std::int32_t>(hundredths);
            }
        }
    }
    const bool even = chroma_ != Chroma::C420 || (width_ % 2 == 0 && height_ % 2 == 0);
    if (width_ == 0 || height_ == 0 || width_ > kLargestPngSide || height_ > kLargestPngSide ||
        !even)
        return *error = name_ + ": the Y4M header gives no usable size", false;
    return true;
}

bool Y4mStream::Next(SourcePicture* picture, std::string* error) {
    error->clear();
    std::string line;
    if (!ReadLine(file_, &line)) {
        if (!line.empty() || std::ferror(file_))
            *error = name_ + ": frame " + std::to_string(frame_) + " is cut short";
        return false;
    }
    if (line.rfind("FRAME", 0) != 0)
        return *error = name_ + ": frame " + std::to_string(frame_) + " has no FRAME mark", false;
    const std::size_t luma = std::size_t{width_} * height_;
    const std::size_t chroma = chroma_ == Chroma::C444   ? luma
                               : chroma_ == Chroma::C420 ? luma / 4
                                                         : 0;
    planes_.resize(luma + 2 * chroma);
    if (std::fread(planes_.data(), 1, planes_.size(), file_) != planes_.size())
        return *error = name_ + ": frame " + std::to_string(frame_) + " is cut short", false;
    ++frame_;
    picture->width = width_;
    picture->height = height_;
    picture->indexed = false;
    picture->translucent = false;
    picture->pixels.resize(luma * 4);
    const std::uint8_t* y = planes_.data();
    for (std::uint32_t row = 0; row < height_; ++row)
        for (std::uint32_t x = 0; x < width_; ++x) {
            const std::size_t i = std::size_t{row} * width_ + x;
            std::size_t c = i;
            if (chroma_ == Chroma::C420) c = std::size_t{row / 2} * (width_ / 2) + x / 2;
            const double l = (y[i] - 16) * 255.0 / 219.0;
            const double cb = chroma == 0 ? 0 : (y[luma + c] - 128) * 255.0 / 224.0;
            const double cr = chroma == 0 ? 0 : (y[luma + chroma + c] - 128) * 255.0 / 224.0;
            std::uint8_t* to = &picture->pixels[i * 4];
            to[0] = Clamp(l + 1.402 * cr);
            to[1] = Clamp(l - 0.344136 * cb - 0.714136 * cr);
            to[2] = Clamp(l + 1.772 * cb);
            to[3] = 255;
        }
    return true;
}

}  // namespace zmbtool
