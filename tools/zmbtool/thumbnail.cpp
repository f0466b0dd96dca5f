// SPDX-License-Identifier: MIT
// zmbtool thumbnail: one frame of a movie as an RGB PNG that fits a square, for file
// managers' thumbnailers.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command.h"
#include "movie_file.h"
#include "options.h"
#include "output.h"
#include "png_io.h"
#include "zambrel/decoder.h"

namespace {

const char kHelp[] =
    "usage: zmbtool thumbnail MOVIE OUTPUT.png [OPTIONS]\n"
    "  --size N    the longer side of the picture in pixels, the other in proportion\n"
    "              (default 256)\n"
    "  --frame N   the frame to show, counted from 0 (default: a third of the way in,\n"
    "              past the fade-in many movies open with)\n"
    "  --force     replace OUTPUT.png if it exists (-f; file managers' thumbnailer entry\n"
    "              passes it, as they may create the file before they call)\n"
    "Exit status 3: the movie is damaged before the frame asked for, and the last whole\n"
    "frame before the damage was drawn; 1: no frame could be drawn, and nothing was written.\n";

struct ThumbnailOptions {
    std::string movie, output;
    long size = 256;
    long frame = -1;
};

// A thumbnail beyond this is no thumbnail, and the limit keeps the picture's memory small.
constexpr long kLargestSize = 4096;

bool ReadCount(const std::string& text, long low, long high, long* out) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) return false;
    *out = value;
    return true;
}

using Option = zmbtool::Option<ThumbnailOptions>;
const Option kOptions[] = {
    {"--size", true,
     [](ThumbnailOptions& o, const std::string& v) {
         return ReadCount(v, 1, kLargestSize, &o.size);
     }},
    {"--frame", true,
     [](ThumbnailOptions& o, const std::string& v) {
         return ReadCount(v, 0, 0x7FFFFFFF, &o.frame);
     }},
};

// An 8-bit picture as red, green, blue through its palette.
struct RgbPicture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};

// What could be drawn: the frame asked for, or the last whole one before the damage.
struct Drawn {
    long frame = -1;     // -1: none
    std::string damage;  // why the frame asked for was not reached; empty when it was
};

// Decodes frames from the first up to `frame`, since each frame builds on the one before;
// a damaged frame stops it, and OUT keeps the last whole one.
Drawn DecodeFrame(zmbtool::MovieFile& movie, std::uint32_t frame, RgbPicture* out) {
    const ZambMovieInfo& info = movie.Info();
    out->width = info.Width;
    out->height = info.Height;
    std::vector<std::uint8_t> rgb(std::size_t{info.Width} * info.Height * 3);
    Drawn drawn;
    const zmbtool::FrameCheck& check = movie.Check();
    for (std::uint32_t f = 0; f <= frame; ++f) {
        // A frame the file's own tables show damaged is where a player stops, too.
        std::string damage =
            f >= check.whole && check.whole < check.stored      ? check.faults.front().reason
            : ZambDecoderNextFrame(movie.Get()) != ZAMBERR_NONE ? "it could not be read"
                                                                : movie.PictureDamage();
        if (damage.empty() &&
            ZambDecoderGetPicture(movie.Get(), ZAMBPIX_RGB24, rgb.data(),
                                  std::size_t{info.Width} * 3, rgb.size(), 0) != ZAMBERR_NONE)
            damage = "its picture could not be decoded";
        if (!damage.empty()) {
            drawn.damage = "damaged at frame " + std::to_string(f) + ": " + damage;
            return drawn;
        }
        out->rgb.swap(rgb);
        rgb.resize(out->rgb.size());
        drawn.frame = f;
    }
    return drawn;
}

// Each output pixel is the mean of the source pixels it covers (at least one), so a small
// thumbnail of a detailed frame stays smooth and a large one of a small frame stays sharp.
RgbPicture Resize(const RgbPicture& in, std::uint32_t width, std::uint32_t height) {
    RgbPicture out{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
    auto span = [](std::uint32_t i, std::uint32_t to, std::uint32_t from, std::uint32_t* first,
                   std::uint32_t* last) {
        *first = static_cast<std::uint32_t>(std::uint64_t{i} * from / to);
        *last = std::max(*first + 1, static_cast<std::uint32_t>(std::uint64_t{i + 1} * from / to));
    };
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint32_t top, bottom;
        span(y, height, in.height, &top, &bottom);
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint32_t left, right;
            span(x, width, in.width, &left, &right);
            std::uint64_t sum[3] = {0, 0, 0};
            for (std::uint32_t sy = top; sy < bottom; ++sy)
                for (std::uint32_t sx = left; sx < right; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += in.rgb[(std::size_t{sy} * in.width + sx) * 3 + c];
            const std::uint64_t count = std::uint64_t{bottom - top} * (right - left);
            for (int c = 0; c < 3; ++c)
                out.rgb[(std::size_t{y} * width + x) * 3 + c] =
                    static_cast<std::uint8_t>((sum[c] + count / 2) / count);
        }
    }
    return out;
}

// The longer side becomes `size`, the shorter one follows in proportion (at least 1).
void FitSquare(std::uint32_t width, std::uint32_t height, std::uint32_t size, std::uint32_t* w,
               std::uint32_t* h) {
    if (width >= height) {
        *w = size;
        *h = static_cast<std::uint32_t>(
            std::max<std::uint64_t>(1, std::uint64_t{height} * size / width));
    } else {
        *h = size;
        *w = static_cast<std::uint32_t>(
            std::max<std::uint64_t>(1, std::uint64_t{width} * size / height));
    }
}

// An interlaced movie is shown with every other row black; its thumbnail shows each row
// twice instead, at the same height, so it looks like the picture rather than like stripes.
bool OpenForThumbnail(const std::string& path, zmbtool::MovieFile* movie, std::string* error) {
    if (!movie->Open(path, ZAMBOPEN_NO_SOUND, error)) return false;
    if ((movie->Info().Flags & ZAMBINFO_INTERLACED) == 0) return true;
    return movie->Open(path, ZAMBOPEN_NO_SOUND | ZAMBOPEN_DOUBLED, error);
}

// The picture fitted to the square and written.
int WriteThumbnail(const ThumbnailOptions& o, const RgbPicture& picture, std::string* error) {
    std::uint32_t width, height;
    FitSquare(picture.width, picture.height, static_cast<std::uint32_t>(o.size), &width, &height);
    const RgbPicture thumbnail = Resize(picture, width, height);
    return zmbtool::WriteRgbPng(o.output, width, height, thumbnail.rgb.data(), error) ? 0 : 1;
}

int Run(const std::vector<std::string>& args) {
    ThumbnailOptions o;
    std::vector<std::string> positional;
    if (const int status = zmbtool::ParseOptions<ThumbnailOptions>("thumbnail", kHelp, args,
                                                                   kOptions, o, positional, 2))
        return status == zmbtool::kHelpShown ? 0 : status;
    if (positional.size() != 2)
        return zmbtool::Fail(
            "thumbnail: needs a movie and an output file (see zmbtool thumbnail --help)");
    o.movie = positional[0];
    o.output = positional[1];
    zmbtool::NoteInput(o.movie);
    std::string refusal;
    if (!zmbtool::CheckOutputs({o.output}, &refusal) ||
        !zmbtool::CheckMovieInput(o.movie, &refusal))
        return zmbtool::Fail("thumbnail: " + refusal);
    zmbtool::MovieFile movie;
    if (!OpenForThumbnail(o.movie, &movie, &refusal)) return zmbtool::Fail("thumbnail: " + refusal);
    const ZambMovieInfo& info = movie.Info();
    if (info.FrameCount == 0 || o.frame >= static_cast<long>(info.FrameCount)) {
        const long frame = std::max(o.frame, 0L);
        return zmbtool::Fail("thumbnail: " + o.movie + " has no frame " + std::to_string(frame));
    }
    const auto frame = static_cast<std::uint32_t>(o.frame >= 0 ? o.frame : info.FrameCount / 3);
    RgbPicture picture;
    const Drawn drawn = DecodeFrame(movie, frame, &picture);
    if (drawn.frame < 0)
        return zmbtool::Fail("thumbnail: " + o.movie + " has no picture to draw: it is " +
                             drawn.damage);
    const int status = WriteThumbnail(o, picture, &refusal);
    if (status != 0) return zmbtool::Fail("thumbnail: " + refusal);
    if (drawn.damage.empty()) return 0;
    std::fprintf(stderr, "zmbtool: thumbnail: %s is %s; frame %ld was drawn instead\n",
                 o.movie.c_str(), drawn.damage.c_str(), drawn.frame);
    return zmbtool::kSalvaged;
}

zmbtool::Registration registration{
    {"thumbnail", "write one frame of a movie as a PNG that fits a square (for file managers)", Run,
     true}};

}  // namespace
