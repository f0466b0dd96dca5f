// SPDX-License-Identifier: MIT
// zmbtool encode: turns numbered indexed PNG pictures and sound files into a movie.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "options.h"
#include "output.h"
#include "decoder/movie.h"
#include "encoder/writer.h"
#include "png_io.h"
#include "progress.h"

namespace {

namespace enc = zambrel::encoder;

const char kHelp[] =
    "usage: zmbtool encode FIRST.png OUTPUT [OPTIONS]\n"
    "  Reads FIRST.png and the pictures numbered after it (frame0007.png, frame0008.png, ...\n"
    "  while they exist; the number is the last run of digits in the name, and its width is\n"
    "  kept), each an indexed PNG with its own palette, and writes the movie OUTPUT.\n"
    "  Truecolour PNGs are refused. Width and height must be multiples of 4.\n"
    "  --fps F           frames per second (default 15; 0 = untimed)\n"
    "  --period-code N   the frame period as stored: >0 milliseconds, <0 minus 1/100 ms\n"
    "  --count N         take at most N pictures\n"
    "  --ring            store a ring frame that turns the last picture back into the first\n"
    "  --interlaced      mark the movie to be shown with every other row\n"
    "  --doubled         mark the movie to be shown with every row twice\n"
    "  --round-palette   store the nearest 6-bit level for palette values that are not one\n"
    "                    (by default such a palette is refused, since it would not come back)\n"
    "  --track N=FILE    sound track N (0..6) from a sound file: mono or stereo, kept 8-bit\n"
    "                    when the file is 8-bit and 16-bit otherwise, at the file's rate\n"
    "  --raw-sound       store the tracks uncompressed\n";

struct EncodeOptions {
    std::string first, output;
    std::string tracks[enc::kTrackCount];
    std::int32_t periodCode = -6666;
    long count = -1;
    bool ring = false, interlaced = false, doubled = false, roundPalette = false;
    bool rawSound = false;
};

bool ParseLong(const std::string& v, long lowest, long highest, long* out) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != 0 || errno != 0 || n < lowest || n > highest) return false;
    *out = n;
    return true;
}

bool SetFps(EncodeOptions& o, const std::string& v) {
    char* end = nullptr;
    const double fps = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != 0 || !std::isfinite(fps) || fps < 0) return false;
    if (fps == 0) return o.periodCode = 0, true;
    // Hundredths of a millisecond: the finest period a movie can store.
    const double hundredths = std::round(100000.0 / fps);
    if (hundredths < 1 || hundredths > 2147483647.0) return false;
    o.periodCode = -static_cast<std::int32_t>(hundredths);
    return true;
}

bool SetTrack(EncodeOptions& o, const std::string& v) {
    if (v.size() < 3 || v[0] < '0' || v[0] > '6' || v[1] != '=') return false;
    o.tracks[v[0] - '0'] = v.substr(2);
    return true;
}

using Option = zmbtool::Option<EncodeOptions>;

const Option kOptions[] = {
    {"--fps", true, SetFps},
    {"--period-code", true,
     [](EncodeOptions& o, const std::string& v) {
         long n = 0;
         if (!ParseLong(v, -2147483647L - 1, 2147483647L, &n)) return false;
         return o.periodCode = static_cast<std::int32_t>(n), true;
     }},
    {"--count", true,
     [](EncodeOptions& o, const std::string& v) { return ParseLong(v, 1, 1L << 30, &o.count); }},
    {"--ring", false, [](EncodeOptions& o, const std::string&) { return o.ring = true, true; }},
    {"--interlaced", false,
     [](EncodeOptions& o, const std::string&) { return o.interlaced = true, true; }},
    {"--doubled", false,
     [](EncodeOptions& o, const std::string&) { return o.doubled = true, true; }},
    {"--round-palette", false,
     [](EncodeOptions& o, const std::string&) { return o.roundPalette = true, true; }},
    {"--track", true, SetTrack},
    {"--raw-sound", false,
     [](EncodeOptions& o, const std::string&) { return o.rawSound = true, true; }},
};

int Parse(const std::vector<std::string>& args, EncodeOptions& o) {
    std::vector<std::string> positional;
    if (const int status =
            zmbtool::ParseOptions<EncodeOptions>("encode", kHelp, args, kOptions, o, positional, 2))
        return status;
    if (positional.size() != 2)
        return zmbtool::Fail("encode: give the first picture and the output (see --help)");
    o.first = positional[0];
    o.output = positional[1];
    return 0;
}

// The file names of the numbered pictures: FIRST, then its number counted up, with the
// digits' width kept, until a file is missing.
bool PictureNames(const EncodeOptions& o, std::vector<std::string>* names, std::string* error) {
    const std::filesystem::path first(o.first);
    const std::string name = first.filename().string();
    const std::size_t last = name.find_last_of("0123456789");
    if (last == std::string::npos) {
        *error = o.first + ": the name has no number to count on from";
        return false;
    }
    std::size_t start = last;
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
    const int width = static_cast<int>(last + 1 - start);
    if (width > 18) {
        *error = o.first + ": the number in the name is too long";
        return false;
    }
    const std::string prefix = name.substr(0, start), suffix = name.substr(last + 1);
    long long number = std::atoll(name.substr(start, last + 1 - start).c_str());
    names->push_back(o.first);
    std::error_code ignored;
    while (o.count < 0 || static_cast<long>(names->size()) < o.count) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*lld", width, ++number);
        const std::filesystem::path next = first.parent_path() / (prefix + digits + suffix);
        if (!std::filesystem::exists(next, ignored)) break;
        names->push_back(next.string());
    }
    return true;
}

bool ReadPictures(const std::vector<std::string>& names, enc::MovieRecipe* recipe,
                  std::string* error) {
    zmbtool::ProgressBar progress("reading pictures", names.size());
    zmbtool::IndexedPicture picture;
    for (std::size_t i = 0; i < names.size(); ++i) {
        progress.Update(i);
        if (!zmbtool::ReadIndexedPng(names[i], &picture, error)) return false;
        if (i == 0) {
            recipe->width = picture.width;
            recipe->height = picture.height;
        } else if (picture.width != recipe->width || picture.height != recipe->height) {
            *error = names[i] + ": " + std::to_string(picture.width) + "x" +
                     std::to_string(picture.height) + ", but the first picture is " +
                     std::to_string(recipe->width) + "x" + std::to_string(recipe->height);
            return false;
        }
        enc::Picture frame;
        frame.pixels = std::move(picture.pixels);
        frame.palette = picture.palette;
        recipe->pictures.push_back(std::move(frame));
    }
    return true;
}

// No movie carries this much sound per track; a longer file is refused rather than read.
constexpr sf_count_t kLargestSoundBytes = sf_count_t{1} << 30;

bool IsEightBit(int format) {
    const int sub = format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_S8;
}

// Reads the whole file as samples the track stores: 8-bit unsigned or 16-bit signed
// little-endian, interleaved.
bool ReadSamples(SNDFILE* file, const SF_INFO& info, enc::SoundTrack* track) {
    std::vector<short> block(4096 * static_cast<std::size_t>(info.channels));
    const sf_count_t frameBytes = (track->is16Bit ? 2 : 1) * info.channels;
    sf_count_t got;
    while ((got = sf_readf_short(file, block.data(), 4096)) > 0) {
        if (static_cast<sf_count_t>(track->samples.size()) + got * frameBytes > kLargestSoundBytes)
            return false;
        for (sf_count_t i = 0; i < got * info.channels; ++i) {
            const auto v = static_cast<std::uint16_t>(block[static_cast<std::size_t>(i)]);
            if (track->is16Bit) {
                track->samples.push_back(static_cast<std::uint8_t>(v & 0xFF));
                track->samples.push_back(static_cast<std::uint8_t>(v >> 8));
            } else {
                // The library scales 8-bit samples into the top byte; flip the sign bit to
                // get the unsigned form back exactly.
                track->samples.push_back(static_cast<std::uint8_t>((v >> 8) ^ 0x80));
            }
        }
    }
    return got == 0;
}

bool ReadTrack(const std::string& path, bool raw, enc::SoundTrack* track, std::string* error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        *error = "cannot read sound file " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    bool ok = false;
    if (info.channels != 1 && info.channels != 2)
        *error =
            path + ": " + std::to_string(info.channels) + " channels; tracks are mono or stereo";
    else if (info.samplerate < 1 || info.samplerate > static_cast<int>(kMaxTrackRate))
        // The format could store rates up to 16,777,215 Hz, but no player would open the track.
        *error = path + ": " + std::to_string(info.samplerate) + " Hz; tracks play at up to " +
                 std::to_string(kMaxTrackRate) + " Hz";
    else {
        track->present = true;
        track->sampleRate = static_cast<std::uint32_t>(info.samplerate);
        track->stereo = info.channels == 2;
        track->is16Bit = !IsEightBit(info.format);
        track->compressed = !raw;
        ok = ReadSamples(file, info, track);
        if (!ok) *error = path + ": unreadable or too long";
    }
    sf_close(file);
    return ok;
}

int Run(const std::vector<std::string>& args) {
    EncodeOptions o;
    if (const int status = Parse(args, o)) return status == zmbtool::kHelpShown ? 0 : status;
    std::vector<std::string> names;
    std::string error;
    if (!PictureNames(o, &names, &error)) return zmbtool::Fail("encode: " + error);
    for (const std::string& input : names) zmbtool::NoteInput(input);
    for (const std::string& input : o.tracks) zmbtool::NoteInput(input);
    // Opened first, so that an unwritable output (or one that is an input) is found before
    // the long work.
    zmbtool::OutputFile out;
    if (!out.Open(o.output, &error)) return zmbtool::Fail("encode: " + error);
    enc::MovieRecipe recipe;
    recipe.frameRate = o.periodCode;
    recipe.ring = o.ring;
    recipe.interlaced = o.interlaced;
    recipe.doubled = o.doubled;
    recipe.paletteValues = o.roundPalette ? enc::PaletteValues::Round : enc::PaletteValues::Exact;
    if (!ReadPictures(names, &recipe, &error))
        return zmbtool::Fail("encode: " + error);
    for (int n = 0; n < enc::kTrackCount; ++n)
        if (!o.tracks[n].empty() && !ReadTrack(o.tracks[n], o.rawSound, &recipe.tracks[n], &error))
            return zmbtool::Fail("encode: " + error);
    const enc::WriteResult movie = enc::WriteMovie(recipe);
    if (!movie.ok) return zmbtool::Fail("encode: " + movie.error);
    out.Write(movie.bytes.data(), movie.bytes.size());
    if (!out.Commit(&error)) return zmbtool::Fail("encode: " + error);
    return 0;
}

zmbtool::Registration registration{
    {"encode", "write a movie from numbered indexed PNG pictures and sound files", Run}};

}  // namespace
