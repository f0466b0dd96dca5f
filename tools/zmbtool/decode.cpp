// SPDX-License-Identifier: MIT
// zmbtool decode: plays a movie's frames into a chosen destination and writes them out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
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
    std::string movie, raw, rects, pcm, wav;
    long frames = -1;
    std::uint32_t scale = 0;
    std::uint32_t format = 0;
    bool bottomUp = false;
};

// One table of options, so more outputs can be added in one place.
struct Option {
    const char* name;
    bool takesValue;
    bool (*apply)(DecodeOptions&, const std::string&);
};

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

// Written under a temporary name and renamed when complete, so no half file is left.
struct AtomicFile {
    std::string path, temporary;
    std::FILE* file = nullptr;
    bool Open(const std::string& p) {
        path = p;
        temporary = p + ".part";
        file = std::fopen(temporary.c_str(), "wb");
        return file != nullptr;
    }
    bool Write(const void* data, std::size_t size) {
        return file == nullptr || std::fwrite(data, 1, size, file) == size;
    }
    bool Commit() {
        if (file == nullptr) return true;
        const bool ok = std::fclose(file) == 0 && std::rename(temporary.c_str(), path.c_str()) == 0;
        file = nullptr;
        if (!ok) std::remove(temporary.c_str());
        return ok;
    }
    ~AtomicFile() {
        if (file != nullptr) {
            std::fclose(file);
            std::remove(temporary.c_str());
        }
    }
};

int Parse(const std::vector<std::string>& args, DecodeOptions& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help") return std::fputs(kHelp, stdout), 2;
        const Option* found = nullptr;
        for (const Option& option : kOptions)
            if (args[i] == option.name) found = &option;
        if (found == nullptr) {
            if (args[i].rfind("--", 0) == 0 || !o.movie.empty())
                return zmbtool::Fail("decode: unknown argument " + args[i]);
            o.movie = args[i];
            continue;
        }
        std::string value;
        if (found->takesValue) {
            if (i + 1 >= args.size())
                return zmbtool::Fail(std::string("decode: ") + found->name + " needs a value");
            value = args[++i];
        }
        if (!found->apply(o, value))
            return zmbtool::Fail("decode: bad value for " + std::string(found->name) + ": " +
                                 value);
    }
    if (o.movie.empty()) return zmbtool::Fail("decode: no movie given (see zmbtool decode --help)");
    if (!o.raw.empty() && o.format != 0) return zmbtool::Fail("decode: --raw needs --format 8");
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

int Run(const std::vector<std::string>& args) {
    DecodeOptions o;
    if (const int status = Parse(args, o)) return status == 2 ? 0 : status;
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
                             (raw.file == nullptr && !o.raw.empty() ? o.raw : o.rects));
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
    for (long f = 0; f < frames && !movie->ReadFailed; ++f) {
        ok = sound.AddFrame(movie) && ok;
        ZambDoFrame(movie);
        ok = raw.Write(movie->Palette, ZAMB_PALETTE_BYTES) && ok;
        for (std::uint32_t y = 0; y < movie->Height && raw.file != nullptr; ++y) {
            const std::uint32_t row = o.bottomUp ? movie->Height - 1 - y : y;
            ok = raw.Write(picture.data() + row * rowBytes, rowBytes) && ok;
        }
        if (rects.file != nullptr) WriteRects(rects, movie, f, ok);
        ZambNextFrame(movie);
    }
    const bool readFailed = movie->ReadFailed != 0;
    ZambClose(movie);
    if (readFailed) return zmbtool::Fail("decode: the movie ended early: " + o.movie);
    if (!ok || !raw.Commit() || !rects.Commit())
        return zmbtool::Fail("decode: cannot write the output");
    if (!sound.Finish(&soundError)) return zmbtool::Fail("decode: " + soundError);
    return 0;
}

zmbtool::Registration registration{
    {"decode", "play a movie's frames into raw pictures, rectangle lists and sound files", Run}};

}  // namespace
