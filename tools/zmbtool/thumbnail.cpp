// SPDX-License-Identifier: MIT
// zmbtool thumbnail: one frame of a movie as an RGB PNG that fits a square, for file
// managers' thumbnailers.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    "  --sheet CxR a contact sheet instead: C columns and R rows of evenly spaced frames,\n"
    "              from the first on, each with its time (minutes:seconds) beneath it;\n"
    "              --size is then each picture's longer side (default 160)\n"
    "       zmbtool thumbnail --sheet CxR MOVIE... FOLDER   one sheet per movie, FOLDER/NAME.png\n"
    "Exit status 3: the movie is damaged before the frame asked for, and the last whole\n"
    "frame before the damage was drawn; 1: no frame could be drawn, and nothing was written.\n";

struct ThumbnailOptions {
    std::string movie, output;
    long size = -1;  // -1: the default for a thumbnail or a sheet
    long frame = -1;
    long columns = 0, rows = 0;  // a contact sheet's; 0: a thumbnail
};

constexpr long kThumbnailSize = 256;
constexpr long kSheetPictureSize = 160;
// A sheet of more pictures than this is a slide show, not something to look over.
constexpr long kMostSheetSide = 16;

// A thumbnail beyond this is no thumbnail, and the limit keeps the picture's memory small.
constexpr long kLargestSize = 4096;

bool ReadCount(const std::string& text, long low, long high, long* out) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) return false;
    *out = value;
    return true;
}

// "4x4": columns, then rows.
bool ReadSheet(ThumbnailOptions& o, const std::string& text) {
    const std::size_t x = text.find('x');
    return x != std::string::npos && ReadCount(text.substr(0, x), 1, kMostSheetSide, &o.columns) &&
           ReadCount(text.substr(x + 1), 1, kMostSheetSide, &o.rows);
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
    {"--sheet", true, ReadSheet},
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

// Decodes frame F, the one after the last decoded, into RGB; empty, or why it is damaged.
std::string DecodeNext(zmbtool::MovieFile& movie, std::uint32_t f, std::vector<std::uint8_t>* rgb) {
    const ZambMovieInfo& info = movie.Info();
    const zmbtool::FrameCheck& check = movie.Check();
    rgb->resize(std::size_t{info.Width} * info.Height * 3);
    // A frame the file's own tables show damaged is where a player stops, too.
    std::string damage =
        f >= check.whole && check.whole < check.stored      ? check.faults.front().reason
        : ZambDecoderNextFrame(movie.Get()) != ZAMBERR_NONE ? "it could not be read"
                                                            : movie.PictureDamage();
    if (damage.empty() &&
        ZambDecoderGetPicture(movie.Get(), ZAMBPIX_RGB24, rgb->data(), std::size_t{info.Width} * 3,
                              rgb->size(), 0) != ZAMBERR_NONE)
        damage = "its picture could not be decoded";
    return damage.empty() ? "" : "damaged at frame " + std::to_string(f) + ": " + damage;
}

// Decodes frames from the first up to `frame`, since each frame builds on the one before;
// a damaged frame stops it, and OUT keeps the last whole one.
Drawn DecodeFrame(zmbtool::MovieFile& movie, std::uint32_t frame, RgbPicture* out) {
    out->width = movie.Info().Width;
    out->height = movie.Info().Height;
    std::vector<std::uint8_t> rgb;
    Drawn drawn;
    for (std::uint32_t f = 0; f <= frame; ++f) {
        drawn.damage = DecodeNext(movie, f, &rgb);
        if (!drawn.damage.empty()) return drawn;
        out->rgb.swap(rgb);
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

// The digits, ':' and '.' of a sheet's times, 3 x 5 pixels, a row a number, high bit left.
constexpr std::uint8_t kGlyphs[12][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 2, 2, 2},
    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {0, 2, 0, 2, 0}, {0, 0, 0, 0, 2},
};
// Each glyph pixel is a square of this many, so that the times read at a glance.
constexpr std::uint32_t kGlyphScale = 2;
constexpr std::uint32_t kGap = 6;  // around the pictures, in pixels
constexpr std::uint32_t kLabelHeight = 5 * kGlyphScale + 4;
constexpr std::uint8_t kSheetBackground = 32, kLabelColour = 224;

// A frame's time as minutes:seconds.tenths (hours too when it has any); an untimed movie's
// frames are numbered instead.
std::string TimeOf(std::uint32_t frame, std::uint64_t period) {
    if (period == 0) return std::to_string(frame);
    const std::uint64_t tenths = (std::uint64_t{frame} * period + 5000) / 10000;
    const std::uint64_t seconds = tenths / 10, minutes = seconds / 60;
    char text[48];
    if (minutes >= 60)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%llu",
                      static_cast<unsigned long long>(minutes / 60),
                      static_cast<unsigned long long>(minutes % 60),
                      static_cast<unsigned long long>(seconds % 60),
                      static_cast<unsigned long long>(tenths % 10));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu.%llu",
                      static_cast<unsigned long long>(minutes),
                      static_cast<unsigned long long>(seconds % 60),
                      static_cast<unsigned long long>(tenths % 10));
    return text;
}

void DrawText(RgbPicture* sheet, std::uint32_t left, std::uint32_t top, const std::string& text) {
    for (const char c : text) {
        const int glyph = c == ':' ? 10 : c == '.' ? 11 : c - '0';
        for (std::uint32_t y = 0; y < 5 * kGlyphScale; ++y)
            for (std::uint32_t x = 0; x < 3 * kGlyphScale; ++x) {
                const std::uint32_t px = left + x, py = top + y;
                if (px >= sheet->width || py >= sheet->height ||
                    !(kGlyphs[glyph][y / kGlyphScale] >> (2 - x / kGlyphScale) & 1))
                    continue;
                std::fill_n(
                    sheet->rgb.begin() + std::ptrdiff_t((std::size_t{py} * sheet->width + px) * 3),
                    3, kLabelColour);
            }
        left += 4 * kGlyphScale;
    }
}

// A contact sheet being drawn: the grid, and where each picture goes.
struct Sheet {
    RgbPicture picture;
    std::uint32_t columns = 0, cellWidth = 0, cellHeight = 0;
    void Place(std::size_t cell, const RgbPicture& frame, const std::string& time) {
        const std::uint32_t left = kGap + std::uint32_t(cell % columns) * (cellWidth + kGap);
        const std::uint32_t top =
            kGap + std::uint32_t(cell / columns) * (cellHeight + kLabelHeight + kGap);
        const RgbPicture small = Resize(frame, cellWidth, cellHeight);
        for (std::uint32_t y = 0; y < cellHeight; ++y)
            std::copy_n(small.rgb.begin() + std::ptrdiff_t(std::size_t{y} * cellWidth * 3),
                        cellWidth * 3,
                        picture.rgb.begin() +
                            std::ptrdiff_t((std::size_t{top + y} * picture.width + left) * 3));
        DrawText(&picture, left, top + cellHeight + 3, time);
    }
};

// C x R frames evenly spaced from the first (fewer when the movie has fewer), decoded in
// one pass. Returns the status: 3 when damage stopped it early, 1 when nothing was drawn.
int DrawSheet(const ThumbnailOptions& o, const std::string& path, const std::string& output) {
    zmbtool::MovieFile movie;
    std::string error;
    if (!OpenForThumbnail(path, &movie, &error)) return zmbtool::Fail("thumbnail: " + error);
    const ZambMovieInfo& info = movie.Info();
    const std::uint32_t count = info.FrameCount;
    if (count == 0) return zmbtool::Fail("thumbnail: " + path + " has no frame");
    const std::size_t cells = std::min<std::size_t>(std::size_t(o.columns * o.rows), count);
    Sheet sheet;
    sheet.columns = static_cast<std::uint32_t>(std::min<long>(o.columns, long(cells)));
    FitSquare(info.Width, info.Height, static_cast<std::uint32_t>(o.size), &sheet.cellWidth,
              &sheet.cellHeight);
    const std::uint32_t rows =
        static_cast<std::uint32_t>((cells + sheet.columns - 1) / sheet.columns);
    sheet.picture.width = kGap + sheet.columns * (sheet.cellWidth + kGap);
    sheet.picture.height = kGap + rows * (sheet.cellHeight + kLabelHeight + kGap);
    sheet.picture.rgb.assign(std::size_t{sheet.picture.width} * sheet.picture.height * 3,
                             kSheetBackground);
    RgbPicture frame{info.Width, info.Height, {}};
    const std::uint64_t period = zmbtool::FramePeriodOf(info);
    std::string damage;
    std::size_t drawn = 0;
    for (std::uint32_t f = 0; drawn < cells && damage.empty(); ++f) {
        damage = DecodeNext(movie, f, &frame.rgb);
        if (damage.empty() && f == std::uint64_t{drawn} * count / cells)
            sheet.Place(drawn++, frame, TimeOf(f, period));
    }
    if (drawn == 0)
        return zmbtool::Fail("thumbnail: " + path + " has no picture to draw: it is " + damage);
    if (!zmbtool::WriteRgbPng(output, sheet.picture.width, sheet.picture.height,
                              sheet.picture.rgb.data(), &error))
        return zmbtool::Fail("thumbnail: " + error);
    if (damage.empty()) return 0;
    std::fprintf(stderr, "zmbtool: thumbnail: %s is %s; %zu of its %zu pictures were drawn\n",
                 path.c_str(), damage.c_str(), drawn, cells);
    return zmbtool::kSalvaged;
}

// Several movies, one sheet each in FOLDER, named after them: each is drawn whatever becomes
// of the others; the status is the worst of theirs.
int DrawSheets(const ThumbnailOptions& o, const std::vector<std::string>& movies,
               const std::string& folder) {
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored))
        return zmbtool::Fail(
            "thumbnail: with several movies, the last argument must be an "
            "existing folder for their sheets; " +
            folder + " is not one");
    int worst = 0;
    for (const std::string& movie : movies) {
        const std::string output =
            (std::filesystem::path(folder) / std::filesystem::path(movie).stem()).string() + ".png";
        std::string refusal;
        zmbtool::NoteInput(movie);
        int status = 1;
        if (!zmbtool::CheckOutputs({output}, &refusal) ||
            !zmbtool::CheckMovieInput(movie, &refusal))
            zmbtool::Fail("thumbnail: " + refusal);
        else
            status = DrawSheet(o, movie, output);
        if (status == 1 || worst == 0) worst = status;
    }
    // The sheets drawn are kept, even when another movie's failed.
    std::string error;
    if (!zmbtool::CommitOutputs(&error)) return zmbtool::Fail("thumbnail: " + error);
    return worst;
}

int Run(const std::vector<std::string>& args) {
    ThumbnailOptions o;
    std::vector<std::string> positional;
    if (const int status = zmbtool::ParseOptions<ThumbnailOptions>(
            "thumbnail", kHelp, args, kOptions, o, positional, SIZE_MAX))
        return status == zmbtool::kHelpShown ? 0 : status;
    const bool sheet = o.columns > 0;
    if (o.size < 0) o.size = sheet ? kSheetPictureSize : kThumbnailSize;
    if (sheet && o.frame >= 0)
        return zmbtool::Fail("thumbnail: --frame is for one picture, not --sheet");
    if (sheet && positional.size() > 2)
        return DrawSheets(o, {positional.begin(), positional.end() - 1}, positional.back());
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
    if (sheet) return DrawSheet(o, o.movie, o.output);
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
