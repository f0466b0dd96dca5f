// SPDX-License-Identifier: MIT
// zmbtool decode: plays a movie's frames into a chosen destination and writes them out.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "batch.h"
#include "command.h"
#include "movie_file.h"
#include "options.h"
#include "output.h"
#include "picture_out.h"
#include "png_io.h"
#include "progress.h"
#include "sound_out.h"
#include "webm_out.h"
#include "zambrel/decoder.h"
#include "zambrel/movie.h"

namespace {

const char kHelp[] =
    "usage: zmbtool decode MOVIE OUTPUT... [OPTIONS]\n"
    "       zmbtool decode MOVIE MOVIE... OUTPUT... [OPTIONS] [-j N]\n"
    "Every FILE may be a file (written whole or not at all), a FIFO, a device, or - for\n"
    "standard output (written as a stream). Files that exist, and files of a folder output's\n"
    "names that exist, are replaced only with --force (-f); a folder output then ends up\n"
    "holding just this run's frameNNNNN.png (or trackN) files. Exit status 3: the movie is\n"
    "damaged, and every frame before the damage was written.\n"
    "  --y4m FILE        a YUV4MPEG2 stream (BT.601, limited range) for video encoders\n"
    "  --chroma 420|444  the Y4M and WebM chroma resolution (default 420)\n"
    "  --rgb24 FILE      raw frames, 3 bytes a pixel (red, green, blue), the palette's colours\n"
    "  --rgba FILE       the same with a fourth byte of 255 (opaque) a pixel\n"
    "  --gif FILE        an animated GIF, exact colours, delays from the frame rate, no sound\n"
    "  --webp FILE       a lossless animated WebP, exact colours, durations from the frame\n"
    "                    rate, no sound\n"
    "  --webm FILE       a WebM: VP9 video (colours as --y4m, chroma as --chroma) and each of\n"
    "                    the --tracks as its own Opus track\n"
    "  --webm-quality Q  VP9's constant quality, 0 (finest) to 63 (default 20)\n"
    "  --webm-lossless   VP9's lossless mode in 4:4:4: only the Y'CbCr rounding is lost\n"
    "  --webm-audio-bitrate K   each Opus track's rate in kbit/s, 6 to 510 (default 128\n"
    "                    for stereo, 96 for mono)\n"
    "  --wav FILE        one WAV of the chosen tracks: a track as stored, or several mixed\n"
    "                    to 16-bit; an existing FOLDER (a name ending in / must be one) gets\n"
    "                    trackN.wav for every present track instead\n"
    "  --tracks LIST     the tracks for --wav FILE and --webm, such as 0 or 0,2 (default: all);\n"
    "                    none: a WebM without sound\n"
    "  --raw FILE        for every played frame: the 768-byte palette (red, green, blue per\n"
    "                    entry), then Width x shown-Height bytes of an 8-bit top-down picture\n"
    "                    (pitch = Width) that starts at 0 and keeps its pixels between frames\n"
    "  --png DIR         DIR/frameNNNNN.png for every played frame (N counts played frames\n"
    "                    from 0), as --format says; DIR must exist\n"
    "  --format F        8: indexed PNGs with the frame's palette (default); rgb24: truecolour\n"
    "                    PNGs in exactly the palette's colours; display555, display565: what\n"
    "                    a 16-bit display shows (colours rounded to 5 or 6 bits; PNGs only)\n"
    "  --rects FILE      one line per changed rectangle: FRAME MODE X Y W H (modes 0 and 1)\n"
    "  --frames N        play N frames, looping as a player does (default: one pass)\n"
    "  --scale default|interlace|double|none   the height scaling\n"
    "  --scale N         show each pixel as N x N pixels (1 to 16) in every output but\n"
    "                    --raw and --rects; may be given beside the height scaling\n"
    "  --bottom-up       decode into a bottom-up buffer\n"
    "  --pcm DIR         DIR/trackN.pcm for every present track: each played frame's decoded\n"
    "                    sound bytes (8-bit unsigned or 16-bit signed little-endian, stereo\n"
    "                    interleaved left, right), straight from the chunks, in played order\n"
    "Each output stands alone: one that cannot be written is named with the reason and the\n"
    "others are written; the exit status is then 1.\n"
    "  --skip-existing   an output that exists is done already and left as it is; a movie\n"
    "                    whose outputs all exist says \"exists\" (status 0)\n"
    "  --manifest FILE   append one JSON line for the movie to FILE: input, outputs, status\n"
    "                    (done, salvaged, failed, exists, stopped), frames, salvaged, seconds\n"
    "  --                the arguments after it are movies, even one named -x.zmb\n"
    "Several movies: every output names an existing folder, which gets one output per movie\n"
    "named after it (A.zmb: DIR/A.webm, DIR/A.wav ...; --png and --pcm: the folder DIR/A/).\n"
    "Each movie is decoded on its own and keeps its outputs whatever becomes of the others;\n"
    "one line per movie and a total go to standard output. Exit status 0: all were whole;\n"
    "3: some were salvaged, none failed; 1: some failed. Killed, the run takes its movies'\n"
    "runs with it.\n"
    "  -j N, --jobs N    decode N movies at once (default: one per processor)\n"
    "  -r, --recursive   a folder given stands for the movies (*.zmb) in its tree, which the\n"
    "                    outputs mirror: DIR/x/A.zmb gives OUT/x/A.webm; links to folders are\n"
    "                    followed once, and output folders inside the tree are not searched\n";

// Untimed movies play as fast as they can be shown; a stream needs some rate, and 10 frames
// a second is one that every encoder and GIF viewer keeps exactly.
constexpr std::uint64_t kUntimedPeriod = 10000;

// Enough to take the smallest movies to a 4K screen; more only makes files no one can open.
constexpr long kLargestEnlargement = 16;
// An enlarged picture is held whole, several times over: 16384 x 16384 pixels at most.
constexpr std::uint64_t kLargestEnlargedPixels = std::uint64_t{1} << 28;

enum class PngFormat { Indexed, Rgb24, Display555, Display565 };

struct DecodeOptions {
    std::string movie, png, rects, pcm, wav;
    zmbtool::BatchRequest several;  // more than one movie: each is decoded by a run of its own
    zmbtool::PictureRequest pictures;
    zmbtool::WebmRequest webm;
    std::uint32_t tracks = 0x7F;
    long frames = -1;
    std::uint32_t scale = 0;
    bool heightScaleGiven = false, enlargementGiven = false;
    PngFormat format = PngFormat::Indexed;
    bool bottomUp = false;
    bool noTracks = false;  // --tracks none
};

using Option = zmbtool::Option<DecodeOptions>;

// A whole number enlarges; a name chooses the height scaling. Each may be given once.
bool SetEnlargement(DecodeOptions& o, const std::string& v) {
    char* end = nullptr;
    const long factor = std::strtol(v.c_str(), &end, 10);
    if (o.enlargementGiven || *end != 0 || factor < 1 || factor > kLargestEnlargement) return false;
    o.pictures.scale = static_cast<std::uint32_t>(factor);
    return o.enlargementGiven = true;
}

bool SetScale(DecodeOptions& o, const std::string& v) {
    if (!v.empty() && v[0] >= '0' && v[0] <= '9') return SetEnlargement(o, v);
    if (o.heightScaleGiven) return false;
    o.heightScaleGiven = true;
    if (v == "default")
        o.scale = 0;
    else if (v == "interlace")
        o.scale = ZAMBOPEN_INTERLACED;
    else if (v == "double")
        o.scale = ZAMBOPEN_DOUBLED;
    else if (v == "none")
        o.scale = ZAMBOPEN_STORED_HEIGHT;
    else
        return false;
    return true;
}

// "555" and "565" stay accepted beside the longer names, for scripts that use them.
bool SetFormat(DecodeOptions& o, const std::string& v) {
    if (v == "8")
        o.format = PngFormat::Indexed;
    else if (v == "rgb24")
        o.format = PngFormat::Rgb24;
    else if (v == "display555" || v == "555")
        o.format = PngFormat::Display555;
    else if (v == "display565" || v == "565")
        o.format = PngFormat::Display565;
    else
        return false;
    return true;
}

// "none" chooses no track: a silent WebM.
bool SetTracks(DecodeOptions& o, const std::string& v) {
    o.tracks = 0;
    if (v == "none") return o.noTracks = true;
    for (std::size_t i = 0; i < v.size(); i += 2) {
        if (v[i] < '0' || v[i] > '6' || (i + 1 < v.size() && v[i + 1] != ',')) return false;
        o.tracks |= 1u << (v[i] - '0');
    }
    return o.tracks != 0;
}

bool SetFrames(DecodeOptions& o, const std::string& v) {
    char* end = nullptr;
    o.frames = std::strtol(v.c_str(), &end, 10);
    return !v.empty() && *end == 0 && o.frames >= 0;
}

// -j and --jobs are one option, so either is taken once.
bool SetJobs(DecodeOptions& o, const std::string& v) {
    return o.several.jobs == 0 && zmbtool::ParseJobs(v, &o.several.jobs);
}

bool SetWebmQuality(DecodeOptions& o, const std::string& v) {
    char* end = nullptr;
    const long quality = std::strtol(v.c_str(), &end, 10);
    o.webm.quality = static_cast<int>(quality);
    return !v.empty() && *end == 0 && quality >= 0 && quality <= zmbtool::kWebmWorstQuality;
}

bool SetWebmAudioBitrate(DecodeOptions& o, const std::string& v) {
    char* end = nullptr;
    const long kbps = std::strtol(v.c_str(), &end, 10);
    o.webm.audioKbps = static_cast<int>(kbps);
    return !v.empty() && *end == 0 && kbps >= zmbtool::kWebmLeastAudioKbps &&
           kbps <= zmbtool::kWebmMostAudioKbps;
}

const Option kOptions[] = {
    {"--raw", true,
     [](DecodeOptions& o, const std::string& v) { return o.pictures.raw = v, true; }},
    {"--y4m", true,
     [](DecodeOptions& o, const std::string& v) { return o.pictures.y4m = v, true; }},
    {"--rgb24", true,
     [](DecodeOptions& o, const std::string& v) { return o.pictures.rgb24 = v, true; }},
    {"--rgba", true,
     [](DecodeOptions& o, const std::string& v) { return o.pictures.rgba = v, true; }},
    {"--gif", true,
     [](DecodeOptions& o, const std::string& v) { return o.pictures.gif = v, true; }},
    {"--webp", true,
     [](DecodeOptions& o, const std::string& v) { return o.pictures.webp = v, true; }},
    {"--webm", true, [](DecodeOptions& o, const std::string& v) { return o.webm.path = v, true; }},
    {"--webm-quality", true, SetWebmQuality},
    {"--webm-audio-bitrate", true, SetWebmAudioBitrate},
    {"--webm-lossless", false,
     [](DecodeOptions& o, const std::string&) { return o.webm.lossless = true, true; }},
    {"--chroma", true,
     [](DecodeOptions& o, const std::string& v) {
         o.pictures.chroma444 = v == "444";
         return v == "444" || v == "420";
     }},
    {"--png", true, [](DecodeOptions& o, const std::string& v) { return o.png = v, true; }},
    {"--rects", true, [](DecodeOptions& o, const std::string& v) { return o.rects = v, true; }},
    {"--frames", true, SetFrames},
    {"--pcm", true, [](DecodeOptions& o, const std::string& v) { return o.pcm = v, true; }},
    {"--wav", true, [](DecodeOptions& o, const std::string& v) { return o.wav = v, true; }},
    {"--tracks", true, SetTracks},
    {"--scale", true, SetScale, true},
    {"--format", true, SetFormat},
    {"--bottom-up", false,
     [](DecodeOptions& o, const std::string&) { return o.bottomUp = true, true; }},
    {"-j", true, SetJobs},
    {"--jobs", true, SetJobs},
    {"-r", false, [](DecodeOptions& o, const std::string&) { return o.several.recursive = true; }},
    {"--recursive", false,
     [](DecodeOptions& o, const std::string&) { return o.several.recursive = true; }},
    {"--skip-existing", false,
     [](DecodeOptions& o, const std::string&) { return o.several.skipExisting = true; }},
    {"--manifest", true,
     [](DecodeOptions& o, const std::string& v) { return o.several.manifest = v, !v.empty(); }},
};

bool Is16Bit(PngFormat format) {
    return format == PngFormat::Display555 || format == PngFormat::Display565;
}

std::uint32_t PixelFormat(PngFormat format) {
    if (format == PngFormat::Display555) return ZAMBPIX_RGB555;
    if (format == PngFormat::Display565) return ZAMBPIX_RGB565;
    return 0;
}

// A --wav naming a folder gets one file per track; any other --wav, one file of them all.
// What a 16-bit display shows is decoded onto one: a new palette recolours only what the
// frame paints, and the rest keeps the colours it was painted in.
std::uint32_t DisplayFlag(PngFormat format) {
    if (format == PngFormat::Display555) return ZAMBOPEN_DISPLAY555;
    if (format == PngFormat::Display565) return ZAMBOPEN_DISPLAY565;
    return 0;
}

bool WavIsFolder(const std::string& wav) {
    std::error_code ignored;
    return !wav.empty() && (wav.back() == '/' || std::filesystem::is_directory(wav, ignored));
}

bool AnyPictureStream(const DecodeOptions& o) {
    const zmbtool::PictureRequest& p = o.pictures;
    return !(p.raw.empty() && p.y4m.empty() && p.rgb24.empty() && p.rgba.empty() && p.gif.empty() &&
             p.webp.empty() && o.webm.path.empty());
}

// Every output is checked here, before the movie is read, so that a bad one costs nothing.
int CheckAllOutputs(const DecodeOptions& o) {
    std::string error;
    std::vector<std::string> files;
    for (const std::string* path :
         {&o.pictures.raw, &o.pictures.y4m, &o.pictures.rgb24, &o.pictures.rgba, &o.pictures.gif,
          &o.pictures.webp, &o.rects, &o.webm.path})
        if (!path->empty()) files.push_back(*path);
    const bool wavFolder = WavIsFolder(o.wav);
    if (!o.wav.empty() && !wavFolder) files.push_back(o.wav);
    std::vector<zmbtool::FolderOutput> folders;
    if (!o.png.empty()) folders.push_back({o.png, zmbtool::FolderPattern::Frames});
    if (!o.pcm.empty()) folders.push_back({o.pcm, zmbtool::FolderPattern::PcmTracks});
    if (wavFolder) folders.push_back({o.wav, zmbtool::FolderPattern::WavTracks});
    if (files.empty() && folders.empty())
        return zmbtool::Fail("decode: no output given (see zmbtool decode --help)");
    if (!zmbtool::CheckOutputs(files, folders, &error)) return zmbtool::Fail("decode: " + error);
    return 0;
}

int Parse(const std::vector<std::string>& args, DecodeOptions& o) {
    std::vector<std::string> positional, owners;
    if (const int status = zmbtool::ParseOptions<DecodeOptions>("decode", kHelp, args, kOptions, o,
                                                                positional, SIZE_MAX, &owners))
        return status;
    if (!positional.empty()) o.movie = positional[0];
    if (o.movie.empty()) return zmbtool::Fail("decode: no movie given (see zmbtool decode --help)");
    if (Is16Bit(o.format) && AnyPictureStream(o))
        return zmbtool::Fail(
            "decode: the display555/display565 renderings are for --png only; the streams "
            "carry the palette's colours");
    o.webm.scale = o.pictures.scale;
    if (o.several.skipExisting && zmbtool::ReplacingAllowed())
        return zmbtool::Fail(
            "decode: --skip-existing keeps what exists, --force replaces it; "
            "give one of them");
    // Each movie's own run checks its outputs.
    if (positional.size() > 1 || o.several.recursive) {
        o.several.movies = positional, o.several.args = args, o.several.owners = owners;
        return 0;
    }
    zmbtool::NoteInput(o.movie);
    return 0;
}

bool WriteRects(zmbtool::OutputFile& out, ZambDecoder* decoder, long frame) {
    char line[96];
    bool ok = true;
    std::vector<ZambRect> rects;
    for (std::uint32_t mode : {0u, 1u}) {
        rects.resize(ZambDecoderGetMergedRects(decoder, mode, nullptr, 0));
        rects.resize(ZambDecoderGetMergedRects(decoder, mode, rects.data(),
                                               static_cast<std::uint32_t>(rects.size())));
        for (const ZambRect& r : rects) {
            const int n = std::snprintf(line, sizeof line, "%ld %u %d %d %d %d\n", frame, mode, r.X,
                                        r.Y, r.W, r.H);
            ok = out.Write(line, static_cast<std::size_t>(n)) && ok;
        }
    }
    return ok;
}

std::uint8_t Widen5(std::uint32_t v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}
std::uint8_t Widen6(std::uint32_t v) {
    return static_cast<std::uint8_t>((v << 2) | (v >> 4));
}

// The 16-bit destination's pixels as 8-bit red, green, blue, each channel widened so that
// full intensity stays full.
void DisplayToRgb(const std::uint8_t* row, std::uint32_t width, PngFormat format,
                  std::uint8_t* rgb) {
    for (std::uint32_t x = 0; x < width; ++x, rgb += 3) {
        std::uint16_t v;
        std::memcpy(&v, row + x * 2, 2);
        if (format == PngFormat::Display565) {
            rgb[0] = Widen5(v >> 11 & 31), rgb[1] = Widen6(v >> 5 & 63);
        } else {
            rgb[0] = Widen5(v >> 10 & 31), rgb[1] = Widen5(v >> 5 & 31);
        }
        rgb[2] = Widen5(v & 31);
    }
}

void PaletteToRgb(const std::uint8_t* row, std::uint32_t width, const std::uint8_t* palette,
                  std::uint8_t* rgb) {
    for (std::uint32_t x = 0; x < width; ++x, rgb += 3) std::memcpy(rgb, palette + row[x] * 3, 3);
}

// The picture as the decoder hands it out, and how to read it top row first, whatever its
// direction.
struct Picture {
    std::vector<std::uint8_t> pixels;
    std::size_t rowBytes = 0;
    std::uint32_t height = 0;
    std::uint32_t format = ZAMBPIX_INDEX8;
    bool bottomUp = false;
    const std::uint8_t* Row(std::uint32_t y) const {
        return pixels.data() + (bottomUp ? height - 1 - y : y) * rowBytes;
    }
    std::ptrdiff_t Pitch() const {
        return bottomUp ? -std::ptrdiff_t(rowBytes) : std::ptrdiff_t(rowBytes);
    }
    bool Take(const ZambDecoder* decoder) {
        return ZambDecoderGetPicture(decoder, format, pixels.data(), rowBytes, pixels.size(),
                                     bottomUp ? ZAMBPIC_BOTTOM_UP : 0) == ZAMBERR_NONE;
    }
};

// Writes the played frame `frame` as one PNG (put in place with the run's other outputs).
bool WriteFramePng(const DecodeOptions& o, const ZambMovieInfo& movie, const Picture& picture,
                   const std::uint8_t* palette, long frame, std::string* error) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%05ld.png", frame);
    const std::string path = (std::filesystem::path(o.png) / name).string();
    const std::uint32_t scale = o.pictures.scale;
    const std::uint32_t width = movie.Width * scale, height = movie.Height * scale;
    const std::size_t pixelBytes = Is16Bit(o.format) ? 2 : 1;
    std::vector<std::uint8_t> shown;
    zmbtool::Enlarge(picture.Row(0), picture.Pitch(), movie.Width, movie.Height, pixelBytes, scale,
                     &shown);
    const bool indexed = o.format == PngFormat::Indexed;
    if (indexed) return zmbtool::WriteIndexedPng(path, width, height, shown.data(), palette, error);
    std::vector<std::uint8_t> rows(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = shown.data() + std::size_t{y} * width * pixelBytes;
        std::uint8_t* to = rows.data() + std::size_t{y} * width * 3;
        if (o.format == PngFormat::Rgb24)
            PaletteToRgb(in, width, palette, to);
        else
            DisplayToRgb(in, width, o.format, to);
    }
    return zmbtool::WriteRgbPng(path, width, height, rows.data(), error);
}

// Everything one decode run writes, opened before the first frame is decoded. Each output
// stands alone: one that fails is dropped with its reason, and the others are written.
struct Outputs {
    zmbtool::PictureOutputs pictures;
    zmbtool::SoundOutputs sound;
    zmbtool::OutputFile rects;
    std::unique_ptr<zmbtool::WebmWriter> webm;
    bool png = false;
    std::vector<std::string> failures;  // one line for each output that failed
};

// The WebM takes every chosen track the movie can play; --tracks naming only tracks it
// lacks is a mistake worth a word.
bool OpenWebm(const DecodeOptions& o, const zmbtool::MovieFile& file, std::uint64_t period,
              Outputs* out, std::string* error) {
    const ZambMovieInfo& movie = file.Info();
    zmbtool::WebmRequest webm = o.webm;
    webm.chroma444 = o.pictures.chroma444;
    webm.tracks = o.tracks & zmbtool::PlayableTracks(movie);
    if (webm.tracks == 0 && o.tracks != 0x7F && !o.noTracks) {
        *error = "cannot write " + webm.path + ": the movie has none of the chosen tracks";
        return false;
    }
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n)
        webm.trackFormat[n] = zmbtool::TrackFormatOf(movie.Tracks[n]);
    webm.plannedFrames = o.frames >= 0 ? std::uint64_t(o.frames) : file.Check().frameCount;
    out->webm = std::make_unique<zmbtool::WebmWriter>();
    if (out->webm->Open(webm, movie.Width, movie.Height, period, error)) return true;
    out->webm.reset();
    return false;
}

// The sound files that cannot be written leave the sound still decoded for the WebM.
void OpenSound(const DecodeOptions& o, const ZambMovieInfo& movie, Outputs* out) {
    zmbtool::SoundRequest sound;
    sound.pcmFolder = o.pcm;
    (WavIsFolder(o.wav) ? sound.wavFolder : sound.wavFile) = o.wav;
    sound.tracks = o.tracks;
    if (!o.webm.path.empty()) sound.alsoDecode = o.tracks;
    std::string error;
    if (out->sound.Open(movie, sound, &error)) return;
    out->failures.push_back(error);
    zmbtool::SoundRequest decodeOnly;
    decodeOnly.alsoDecode = sound.alsoDecode;
    out->sound.Open(movie, decodeOnly, &error);
}

// The sound and the WebM open first: their choice of tracks (and the video encoder's
// view of the size) are the checks left that depend on the movie, and they should fail
// before any other stream has been sent a header. Each that cannot open fails alone.
void OpenOutputs(const DecodeOptions& o, const zmbtool::MovieFile& file, Outputs* out) {
    const ZambMovieInfo& movie = file.Info();
    OpenSound(o, movie, out);
    const std::uint64_t timed = zmbtool::FramePeriodOf(movie);
    const std::uint64_t period = timed != 0 ? timed : kUntimedPeriod;
    std::string error;
    if (!o.webm.path.empty() && !OpenWebm(o, file, period, out, &error))
        out->failures.push_back(error);
    out->pictures.Open(o.pictures, movie.Width, movie.Height, period);
    if (!o.rects.empty() && !out->rects.Open(o.rects, &error)) out->failures.push_back(error);
    out->png = !o.png.empty();
}

void NoteWhatStreamsLeaveOut(const DecodeOptions& o, const ZambMovieInfo& movie) {
    if (zmbtool::FramePeriodOf(movie) == 0 && AnyPictureStream(o))
        std::fprintf(stderr,
                     "zmbtool: note: %s is untimed; its streams run at 10 frames a second\n",
                     o.movie.c_str());
    if (!o.pictures.gif.empty() && zmbtool::PlayableTracks(movie) != 0)
        std::fprintf(stderr, "zmbtool: note: GIFs carry no sound; use --wav for it\n");
    if (!o.pictures.webp.empty() && zmbtool::PlayableTracks(movie) != 0)
        std::fprintf(stderr, "zmbtool: note: animated WebPs carry no sound; use --wav for it\n");
}

// What a run did: how many frames went out, and where it stopped early.
struct RunResult {
    long written = 0;
    std::string damage;  // empty when every requested frame was whole
};

bool AddWebmFrame(zmbtool::WebmWriter& webm, const Outputs& out,
                  const zmbtool::IndexedFrame& frame) {
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        const std::vector<std::uint8_t>& sound = out.sound.Decoded(n);
        if (!webm.AddSound(n, sound.data(), sound.size())) return false;
    }
    return webm.AddFrame(frame);
}

// The frames a run plays: --frames, or one pass; never past the movie's damage, which a
// player would stop at too.
long FramesToPlay(const DecodeOptions& o, const zmbtool::FrameCheck& check, RunResult* result) {
    long frames = o.frames >= 0 ? o.frames : static_cast<long>(check.frameCount);
    // Playing goes through the stored frames in order first, so the whole ones come first.
    // A damaged ring frame is past one pass, but it is part of the movie: a player refuses
    // such a movie, so one pass reports it too.
    const long whole = static_cast<long>(check.whole);
    if (check.whole < check.stored && (frames > whole || o.frames < 0)) {
        frames = std::min(frames, whole);
        result->damage =
            "damaged at frame " + std::to_string(check.whole) + ": " + check.faults.front().reason;
    }
    return frames;
}

// Decodes the next frame and says what is damaged in it, if anything.
std::string DecodeNext(zmbtool::MovieFile& file, Outputs& out) {
    // The decoder loads each frame as it moves to it; a frame it could not load is where
    // the movie stops.
    if (ZambDecoderNextFrame(file.Get()) != ZAMBERR_NONE) return "it could not be read";
    std::string fault;
    if (!out.sound.DecodeFrame(file.Get(), &fault)) return fault;
    return file.PictureDamage();
}

// Writes one decoded frame to every output still going; an output that fails is dropped.
void WriteFrame(const DecodeOptions& o, zmbtool::MovieFile& file, const Picture& picture, long f,
                Outputs& out) {
    const ZambMovieInfo& movie = file.Info();
    const std::uint8_t* palette = file.Palette();
    if (!out.sound.WriteFrame())
        out.failures.push_back(out.sound.Failure()), out.sound.StopWriting();
    const zmbtool::IndexedFrame frame{movie.Width, movie.Height, picture.Row(0), picture.Pitch(),
                                      palette};
    if (!Is16Bit(o.format)) out.pictures.AddFrame(frame);
    if (out.webm && !AddWebmFrame(*out.webm, out, frame))
        out.failures.push_back(out.webm->Failure()), out.webm.reset();
    std::string error;
    if (out.png && !WriteFramePng(o, movie, picture, palette, f, &error)) {
        // The frames already done are no use without the rest.
        out.failures.push_back(error);
        zmbtool::AbandonOutputsIn(o.png);
        out.png = false;
    }
    if (out.rects.IsOpen() && !WriteRects(out.rects, file.Get(), f))
        out.failures.push_back(out.rects.Failure()), out.rects.Discard();
}

void DecodeFrames(const DecodeOptions& o, zmbtool::MovieFile& file, Picture& picture, Outputs& out,
                  RunResult* result) {
    const long frames = FramesToPlay(o, file.Check(), result);
    zmbtool::ProgressBar progress("decoding", static_cast<std::uint64_t>(frames));
    for (long f = 0; f < frames; ++f) {
        progress.Update(static_cast<std::uint64_t>(f));
        // A frame is written whole or not at all: its damage is known before any of it goes out.
        const std::string fault = DecodeNext(file, out);
        if (!fault.empty() || !picture.Take(file.Get())) {
            result->damage = "damaged at frame " + std::to_string(f) + ": " + fault;
            break;
        }
        WriteFrame(o, file, picture, f, out);
        result->written = f + 1;
    }
    progress.Finish();
}

void FinishOutputs(Outputs& out) {
    std::string error;
    out.pictures.Finish();
    if (!out.rects.Commit(&error)) out.failures.push_back(error);
    if (!out.sound.Finish(&error)) out.failures.push_back(error);
    if (out.webm && !out.webm->Commit(&error)) out.failures.push_back(error);
}

// The enlarged picture must fit in memory several times over.
int CheckEnlargement(const DecodeOptions& o, const ZambMovieInfo& movie) {
    const std::uint64_t enlarged =
        std::uint64_t{movie.Width} * movie.Height * o.pictures.scale * o.pictures.scale;
    if (enlarged <= kLargestEnlargedPixels) return 0;
    return zmbtool::Fail("decode: --scale " + std::to_string(o.pictures.scale) + " makes " +
                         std::to_string(movie.Width * o.pictures.scale) + "x" +
                         std::to_string(movie.Height * o.pictures.scale) +
                         " pictures, more than zmbtool holds (16384x16384)");
}

// Says what the run left undone; the outputs written are put in place whatever the status.
int EndDecode(const DecodeOptions& o, const Outputs& out, const RunResult& result) {
    std::vector<std::string> failures = out.failures;
    const std::vector<std::string>& pictures = out.pictures.Failures();
    failures.insert(failures.end(), pictures.begin(), pictures.end());
    for (const std::string& failure : failures) zmbtool::Fail("decode: " + failure);
    std::string error;
    if (!zmbtool::CommitOutputs(&error)) return zmbtool::Fail("decode: " + error);
    if (!failures.empty()) return 1;
    if (result.damage.empty()) return 0;
    const std::string written =
        result.written == 1 ? "frame 0 was written"
                            : "frames 0 to " + std::to_string(result.written - 1) + " were written";
    std::fprintf(stderr, "zmbtool: decode: %s is %s; %s\n", o.movie.c_str(), result.damage.c_str(),
                 written.c_str());
    return zmbtool::kSalvaged;
}

int DecodeOne(const DecodeOptions& o, long* frames) {
    if (const int status = CheckAllOutputs(o)) return status;
    zmbtool::MovieFile file;
    std::string error;
    // A player goes on with the first frame after the last, and so does --frames.
    if (!file.Open(o.movie, o.scale | ZAMBOPEN_LOOP | DisplayFlag(o.format), &error))
        return zmbtool::Fail("decode: " + error);
    const ZambMovieInfo& movie = file.Info();
    const zmbtool::FrameCheck& check = file.Check();
    if (check.stored > 0 && check.whole == 0)
        return zmbtool::Fail("decode: " + o.movie +
                             " is damaged from its first frame on: " + check.faults.front().reason);
    if (const int status = CheckEnlargement(o, movie)) return status;
    const std::uint32_t bpp = Is16Bit(o.format) ? 2 : 1;
    Picture picture;
    picture.rowBytes = std::size_t{movie.Width} * bpp;
    picture.height = movie.Height;
    picture.format = PixelFormat(o.format);
    picture.bottomUp = o.bottomUp;
    picture.pixels.assign(picture.rowBytes * movie.Height, 0);
    Outputs out;
    OpenOutputs(o, file, &out);
    NoteWhatStreamsLeaveOut(o, movie);
    RunResult result;
    DecodeFrames(o, file, picture, out, &result);
    *frames = result.written;
    if (result.written == 0 && !result.damage.empty())
        return zmbtool::Fail("decode: " + o.movie + " is " + result.damage +
                             "; nothing before it to write");
    FinishOutputs(out);
    return EndDecode(o, out, result);
}

// Every output the run names, each with whether it is a folder.
std::vector<std::pair<std::string, bool>> OutputsNamed(const DecodeOptions& o) {
    std::vector<std::pair<std::string, bool>> named;
    for (const std::string* path :
         {&o.pictures.raw, &o.pictures.y4m, &o.pictures.rgb24, &o.pictures.rgba, &o.pictures.gif,
          &o.pictures.webp, &o.rects, &o.webm.path})
        if (!path->empty()) named.emplace_back(*path, false);
    if (!o.wav.empty()) named.emplace_back(o.wav, WavIsFolder(o.wav));
    if (!o.png.empty()) named.emplace_back(o.png, true);
    if (!o.pcm.empty()) named.emplace_back(o.pcm, true);
    return named;
}

// --skip-existing: the outputs that exist are done already, and are left out of the run.
// True when that leaves nothing to do.
bool LeaveOutExisting(DecodeOptions& o) {
    std::size_t left = 0;
    for (std::string* path :
         {&o.pictures.raw, &o.pictures.y4m, &o.pictures.rgb24, &o.pictures.rgba, &o.pictures.gif,
          &o.pictures.webp, &o.rects, &o.webm.path, &o.wav, &o.png, &o.pcm}) {
        if (path->empty()) continue;
        const bool folder =
            path == &o.png || path == &o.pcm || (path == &o.wav && WavIsFolder(o.wav));
        if (zmbtool::OutputExists(*path, folder))
            path->clear();
        else
            ++left;
    }
    return left == 0;
}

int Run(const std::vector<std::string>& args) {
    DecodeOptions o;
    if (const int status = Parse(args, o)) return status == zmbtool::kHelpShown ? 0 : status;
    if (!o.several.movies.empty()) return zmbtool::DecodeMovies(o.several);
    const auto start = std::chrono::steady_clock::now();
    zmbtool::ManifestLine line{o.movie, {}, "exists", 0, 0};
    for (const auto& output : OutputsNamed(o)) line.outputs.push_back(output.first);
    int status = 0;
    if (o.several.skipExisting && LeaveOutExisting(o)) {
        std::fprintf(stderr, "zmbtool: decode: %s: exists\n", o.movie.c_str());
    } else {
        status = DecodeOne(o, &line.frames);
        line.status = status == 0 ? "done" : status == zmbtool::kSalvaged ? "salvaged" : "failed";
    }
    if (o.several.manifest.empty()) return status;
    line.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    zmbtool::AppendManifest(o.several.manifest, line);
    return status;
}

zmbtool::Registration registration{
    {"decode", "write a movie's frames and sound as Y4M, raw RGB, GIF, PNGs, WAV and other files",
     Run, true}};

}  // namespace
