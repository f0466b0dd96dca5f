// SPDX-License-Identifier: MIT
// zmbtool decode: plays a movie's frames into a chosen destination and writes them out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "options.h"
#include "png_io.h"
#include "progress.h"
#include "sound_out.h"
#include "decoder/destination.h"
#include "zambrel/blit.h"
#include "zambrel/movie.h"

namespace {

const char kHelp[] =
    "usage: zmbtool decode MOVIE [OPTIONS]\n"
    "  --raw FILE        for every played frame: the 768-byte palette (red, green, blue per\n"
    "                    entry), then Width x shown-Height bytes of an 8-bit top-down picture\n"
    "                    (pitch = Width) that starts at 0 and keeps its pixels between frames\n"
    "  --png DIR         DIR/frameNNNNN.png for every played frame (N counts played frames\n"
    "                    from 0): indexed with the frame's palette for --format 8, RGB else\n"
    "  --rects FILE      one line per changed rectangle: FRAME MODE X Y W H (modes 0 and 1)\n"
    "  --frames N        play N frames, looping as a player does (default: one pass)\n"
    "  --scale default|interlace|double|none   the height scaling\n"
    "  --format 8|555|565  destination pixels (--raw needs 8)\n"
    "  --bottom-up       decode into a bottom-up buffer\n"
    "  --pcm DIR         DIR/trackN.pcm for every present track: each played frame's decoded\n"
    "                    sound bytes (8-bit unsigned or 16-bit signed little-endian, stereo\n"
    "                    interleaved left, right), straight from the chunks, in played order\n"
    "  --wav DIR         the same sound as one WAV file per track, DIR/trackN.wav\n";

struct DecodeOptions {
    std::string movie, raw, png, rects, pcm, wav;
    long frames = -1;
    std::uint32_t scale = 0;
    std::uint32_t format = 0;
    bool bottomUp = false;
};

// One table of options, so more outputs can be added in one place.
using Option = zmbtool::Option<DecodeOptions>;

bool SetScale(DecodeOptions& o, const std::string& v) {
    if (v == "default")
        o.scale = 0;
    else if (v == "interlace")
        o.scale = ZAMB_INTERLACE;
    else if (v == "double")
        o.scale = ZAMB_DOUBLE;
    else if (v == "none")
        o.scale = ZAMB_NO_SCALE;
    else
        return false;
    return true;
}
bool SetFormat(DecodeOptions& o, const std::string& v) {
    if (v == "8")
        o.format = 0;
    else if (v == "555")
        o.format = ZAMBBLIT_RGB555;
    else if (v == "565")
        o.format = ZAMBBLIT_RGB565;
    else
        return false;
    return true;
}

const Option kOptions[] = {
    {"--raw", true, [](DecodeOptions& o, const std::string& v) { return o.raw = v, true; }},
    {"--png", true, [](DecodeOptions& o, const std::string& v) { return o.png = v, true; }},
    {"--rects", true, [](DecodeOptions& o, const std::string& v) { return o.rects = v, true; }},
    {"--frames", true,
     [](DecodeOptions& o, const std::string& v) {
         char* end = nullptr;
         o.frames = std::strtol(v.c_str(), &end, 10);
         return *end == 0 && o.frames >= 0;
     }},
    {"--pcm", true, [](DecodeOptions& o, const std::string& v) { return o.pcm = v, true; }},
    {"--wav", true, [](DecodeOptions& o, const std::string& v) { return o.wav = v, true; }},
    {"--scale", true, SetScale},
    {"--format", true, SetFormat},
    {"--bottom-up", false,
     [](DecodeOptions& o, const std::string&) { return o.bottomUp = true, true; }},
};

using zmbtool::AtomicFile;

int Parse(const std::vector<std::string>& args, DecodeOptions& o) {
    std::vector<std::string> positional;
    if (const int status =
            zmbtool::ParseOptions<DecodeOptions>("decode", kHelp, args, kOptions, o, positional, 1))
        return status;
    if (!positional.empty()) o.movie = positional[0];
    if (o.movie.empty()) return zmbtool::Fail("decode: no movie given (see zmbtool decode --help)");
    if (!o.raw.empty() && o.format != 0) return zmbtool::Fail("decode: --raw needs --format 8");
    std::error_code ignored;
    if (!o.png.empty() && !std::filesystem::is_directory(o.png, ignored))
        return zmbtool::Fail("decode: cannot write PNGs into " + o.png + ": no such folder");
    return 0;
}

// Lets the second merge mode scan the frame's change map from its start again.
void RestartScan(Movie* movie, std::int32_t state) {
    if (movie->Dest == nullptr) return;
    movie->Dest->ScanDone = movie->Dest->ScanContinue = movie->Dest->ScanStarted = 0;
    movie->RectState = state;
}

void WriteRects(AtomicFile& out, Movie* movie, long frame, bool& ok) {
    char line[96];
    for (std::uint32_t mode : {0u, 1u}) {
        // Each mode scans the same change map afresh.
        const std::int32_t state = movie->RectState;
        while (ZambNextRect(movie, mode)) {
            const int n = std::snprintf(line, sizeof line, "%ld %u %d %d %d %d\n", frame, mode,
                                        movie->RectX, movie->RectY, movie->RectW, movie->RectH);
            ok = out.Write(line, static_cast<std::size_t>(n)) && ok;
        }
        if (mode == 0) RestartScan(movie, state);
    }
}

std::uint8_t Widen5(std::uint32_t v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}
std::uint8_t Widen6(std::uint32_t v) {
    return static_cast<std::uint8_t>((v << 2) | (v >> 4));
}

// The 16-bit destination's pixels as 8-bit red, green, blue, each channel widened so that
// full intensity stays full.
void ToRgb(const std::uint8_t* row, std::uint32_t width, std::uint32_t format, std::uint8_t* rgb) {
    for (std::uint32_t x = 0; x < width; ++x, rgb += 3) {
        std::uint16_t v;
        std::memcpy(&v, row + x * 2, 2);
        if (format == ZAMBBLIT_RGB565) {
            rgb[0] = Widen5(v >> 11 & 31), rgb[1] = Widen6(v >> 5 & 63);
        } else {
            rgb[0] = Widen5(v >> 10 & 31), rgb[1] = Widen5(v >> 5 & 31);
        }
        rgb[2] = Widen5(v & 31);
    }
}

// Writes the played frame `frame` as one PNG; `written` collects the files, so that a run
// that fails later can take them back.
bool WriteFramePng(const DecodeOptions& o, const Movie* movie,
                   const std::vector<std::uint8_t>& picture, long frame,
                   std::vector<std::string>* written, std::string* error) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%05ld.png", frame);
    const std::string path = (std::filesystem::path(o.png) / name).string();
    const std::uint32_t width = movie->Width, height = movie->Height;
    const std::size_t rowBytes = std::size_t{width} * (o.format ? 2 : 1);
    std::vector<std::uint8_t> rows(std::size_t{width} * height * (o.format ? 3 : 1));
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = picture.data() + (o.bottomUp ? height - 1 - y : y) * rowBytes;
        if (o.format)
            ToRgb(row, width, o.format, rows.data() + y * std::size_t{width} * 3);
        else
            std::memcpy(rows.data() + y * rowBytes, row, rowBytes);
    }
    const bool ok = o.format ? zmbtool::WriteRgbPng(path, width, height, rows.data(), error)
                             : zmbtool::WriteIndexedPng(path, width, height, rows.data(),
                                                        movie->Palette, error);
    if (ok) written->push_back(path);
    return ok;
}

void RemoveAll(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) std::remove(path.c_str());
}

int Run(const std::vector<std::string>& args) {
    DecodeOptions o;
    if (const int status = Parse(args, o)) return status == zmbtool::kHelpShown ? 0 : status;
    Movie* movie = ZambOpen(o.movie.c_str(), o.scale, 0xFFFFFFFFu);
    if (movie == nullptr) return zmbtool::Fail("decode: cannot read movie " + o.movie);
    const std::uint32_t bpp = o.format ? 2 : 1;
    std::vector<std::uint8_t> picture(std::size_t{movie->Width} * movie->Height * bpp, 0);
    ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(movie->Width * bpp),
                       static_cast<std::int32_t>(movie->Height), picture.data(),
                       o.format | (o.bottomUp ? 1u : 0u));
    AtomicFile raw, rects;
    if ((!o.raw.empty() && !raw.Open(o.raw)) || (!o.rects.empty() && !rects.Open(o.rects))) {
        ZambClose(movie);
        return zmbtool::Fail("decode: cannot write " +
                             (!raw.IsOpen() && !o.raw.empty() ? o.raw : o.rects));
    }
    zmbtool::SoundOutputs sound;
    std::string soundError;
    if ((!o.pcm.empty() || !o.wav.empty()) && !sound.Open(movie, o.pcm, o.wav, &soundError)) {
        ZambClose(movie);
        return zmbtool::Fail("decode: " + soundError);
    }
    const long frames = o.frames >= 0 ? o.frames : static_cast<long>(movie->FrameCount);
    const std::size_t rowBytes = std::size_t{movie->Width} * bpp;
    bool ok = true;
    std::vector<std::string> pngs;
    std::string pngError;
    zmbtool::ProgressBar progress("decoding", static_cast<std::uint64_t>(frames));
    for (long f = 0; f < frames && !movie->ReadFailed && pngError.empty(); ++f) {
        progress.Update(static_cast<std::uint64_t>(f));
        ok = sound.AddFrame(movie) && ok;
        ZambDoFrame(movie);
        ok = raw.Write(movie->Palette, ZAMB_PALETTE_BYTES) && ok;
        for (std::uint32_t y = 0; y < movie->Height && raw.IsOpen(); ++y) {
            const std::uint32_t row = o.bottomUp ? movie->Height - 1 - y : y;
            ok = raw.Write(picture.data() + row * rowBytes, rowBytes) && ok;
        }
        if (!o.png.empty()) WriteFramePng(o, movie, picture, f, &pngs, &pngError);
        if (rects.IsOpen()) WriteRects(rects, movie, f, ok);
        ZambNextFrame(movie);
    }
    progress.Finish();
    const bool readFailed = movie->ReadFailed != 0;
    ZambClose(movie);
    std::string failure;
    if (readFailed)
        failure = "the movie ended early: " + o.movie;
    else if (!pngError.empty())
        failure = pngError;
    else if (!ok || !raw.Commit() || !rects.Commit())
        failure = "cannot write the output";
    else if (!sound.Finish(&soundError))
        failure = soundError;
    if (failure.empty()) return 0;
    RemoveAll(pngs);
    return zmbtool::Fail("decode: " + failure);
}

zmbtool::Registration registration{
    {"decode", "play a movie's frames into raw pictures, PNGs, rectangle lists and sound files",
     Run}};

}  // namespace
