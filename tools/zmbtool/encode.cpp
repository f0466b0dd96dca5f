// SPDX-License-Identifier: MIT
// zmbtool encode: turns PNG pictures and sound files into a movie.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "encode_frames.h"
#include "encode_inputs.h"
#include "encode_png.h"
#include "encode_sound.h"
#include "encoder/palette_chunk.h"
#include "encoder/rate.h"
#include "encoder/writer.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "quantise.h"
#include "run_ahead.h"

namespace {

namespace enc = zambrel::encoder;

// The quality a movie gets unless told otherwise: see docs/encoder-quality.md for the
// sizes and fidelity behind the choice.
constexpr long kDefaultQuality = 85;

const char kHelp[] =
    "usage: zmbtool encode INPUT... OUTPUT [OPTIONS]\n"
    "  OUTPUT must not exist unless --force (-f) is given; it is written whole or not at all.\n"
    "  Writes the movie OUTPUT from PNG or JPEG pictures and sound files. INPUT is the first of a\n"
    "  numbered series (frame0007.png, then frame0008.png, ...: the number is the last run of\n"
    "  digits, its width kept), a pattern (frame%04d.png, from its lowest number), or several\n"
    "  files in playing order. A missing number in a series is refused. INPUT may also be one\n"
    "  Y4M stream (NAME.y4m, or - for standard input), which also gives the frame rate\n"
    "  unless --fps does. An OUTPUT named like a picture is refused, even with --force.\n"
    "  Pictures may be indexed (their palettes are kept, rounded to the movie's 64 levels per\n"
    "  channel), greyscale or truecolour (reduced to 256 colours), with or without\n"
    "  transparency. All must be of one size, whole 4x4 blocks unless --pad or --crop.\n"
    "  --fps F             frames per second (default 15; 0 = untimed, without sound)\n"
    "  --period-code N     the frame period as stored: >0 milliseconds, <0 minus 1/100 ms\n"
    "  --count N           take at most N pictures\n"
    "  --allow-gaps        step over missing numbers in a series\n"
    "  --quality Q         0 to 100 (default 85): lower makes smaller movies by letting blocks\n"
    "                      differ a little from their pictures; 100 codes every block exactly\n"
    "                      (photographs: 90 keeps them noticeably closer than 85)\n"
    "  --lossless          the same as --quality 100: exact to the movie's 256-colour palette\n"
    "                      of 64 levels a channel, which truecolour pictures are reduced to first\n"
    "  --palette KIND      for greyscale and truecolour pictures: scene (default: a palette\n"
    "                      kept while it serves, made anew when the picture changes too much)\n"
    "                      or movie (one palette for all, made from every picture first)\n"
    "  --dither            dither reduced colours (smoother gradients, but still areas change\n"
    "                      from frame to frame and cost more)\n"
    "  --background RRGGBB the colour transparent pixels are laid on (default 000000)\n"
    "  --pad               widen pictures that are not whole blocks to the next block, on\n"
    "                      the right and at the bottom, with the background colour\n"
    "  --crop              cut pictures that are not whole blocks to the last whole block,\n"
    "                      on the right and at the bottom\n"
    "  --ring              store a ring frame that turns the last picture back into the first\n"
    "  --interlaced        a movie shown with every other row: the pictures' even rows are\n"
    "                      stored (pictures are whole blocks of 4 x 8)\n"
    "  --doubled           a movie shown with every row twice: each pair of rows is stored\n"
    "                      as one, their mean for truecolour pictures, the upper for indexed\n"
    "  --track N=FILE      sound track N (0..6) from a sound file: mono or stereo, kept 8-bit\n"
    "                      when the file is 8-bit and 16-bit otherwise, at the file's rate\n"
    "  --raw-sound         store the tracks uncompressed\n"
    "  --sound-lead MS     how far the sound runs ahead of the pictures, in milliseconds\n"
    "                      (default auto: enough to keep every sound driver fed; never\n"
    "                      more than the player's sound ring holds)\n"
    "  --shortest          cut sound that is longer than the pictures (by default the last\n"
    "                      picture is held until the sound ends)\n"
    "  --pad-sound         fill tracks shorter than the pictures with silence, so that the\n"
    "                      player keeps the movie's pace to its last picture\n"
    "  --round-palette     accepted for old scripts: palettes are always rounded now\n"
    "  --reserve LIST      palette entries the pictures leave alone for the program the\n"
    "                      movie plays in, such as 0-9,246-255: never used, never set\n"
    "  --threads N         how many threads to work on (default: one a core; 1 to work on\n"
    "                      one core); the movie is the same byte for byte for any number\n"
    "  --max-rate BYTES    no second of the movie, counted as the players count it, holds\n"
    "                      more than BYTES (a double-speed disc drive reads 300000): the\n"
    "                      frames of busier seconds are coded again at lower quality\n";

struct EncodeOptions {
    std::vector<std::string> inputs;
    std::string output;
    std::string tracks[enc::kTrackCount];
    std::int32_t periodCode = -6666;
    long count = -1;
    long quality = kDefaultQuality;
    long soundLead = enc::kAutomaticSoundLead;
    long maxRate = 0;  // bytes a second; 0 = no cap
    long threads = std::clamp(static_cast<long>(std::thread::hardware_concurrency()), 1L, 64L);
    bool rateGiven = false;  // --fps or --period-code: a Y4M stream's own rate is not used
    std::uint32_t background = 0;
    zmbtool::QuantiseOptions quantise;
    bool allowGaps = false, pad = false, crop = false, shortest = false, padSound = false;
    bool ring = false, interlaced = false, doubled = false, rawSound = false;
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
    o.rateGiven = true;
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

bool SetBackground(EncodeOptions& o, const std::string& v) {
    const std::string digits = !v.empty() && v[0] == '#' ? v.substr(1) : v;
    char* end = nullptr;
    const unsigned long rgb = std::strtoul(digits.c_str(), &end, 16);
    if (digits.size() != 6 || *end != 0) return false;
    o.background = static_cast<std::uint32_t>(rgb);
    return true;
}

bool SetPalette(EncodeOptions& o, const std::string& v) {
    if (v != "scene" && v != "movie") return false;
    o.quantise.mode = v == "movie" ? zmbtool::PaletteMode::Movie : zmbtool::PaletteMode::Scene;
    return true;
}

// "0-9,246-255": entries and ranges of them, leaving at least two for the pictures.
bool SetReserve(EncodeOptions& o, const std::string& v) {
    std::array<bool, 256>& reserved = o.quantise.reserved;
    for (std::size_t at = 0; at <= v.size();) {
        std::size_t end = v.find(',', at);
        if (end == std::string::npos) end = v.size();
        const std::string range = v.substr(at, end - at);
        const std::size_t dash = range.find('-');
        long first = 0, last = 0;
        if (!ParseLong(range.substr(0, dash), 0, 255, &first) ||
            !ParseLong(dash == std::string::npos ? range : range.substr(dash + 1), first, 255,
                       &last))
            return false;
        for (long e = first; e <= last; ++e) reserved[static_cast<std::size_t>(e)] = true;
        at = end + 1;
    }
    return std::count(reserved.begin(), reserved.end(), false) >= 2;
}

bool SetSoundLead(EncodeOptions& o, const std::string& v) {
    if (v == "auto") return o.soundLead = enc::kAutomaticSoundLead, true;
    return ParseLong(v, 0, 10000, &o.soundLead);
}

template <bool EncodeOptions::*Flag>
bool Set(EncodeOptions& o, const std::string&) {
    return o.*Flag = true, true;
}

using Option = zmbtool::Option<EncodeOptions>;

const Option kOptions[] = {
    {"--fps", true, SetFps},
    {"--period-code", true,
     [](EncodeOptions& o, const std::string& v) {
         long n = 0;
         if (!ParseLong(v, -2147483647L - 1, 2147483647L, &n)) return false;
         o.rateGiven = true;
         return o.periodCode = static_cast<std::int32_t>(n), true;
     }},
    {"--count", true,
     [](EncodeOptions& o, const std::string& v) { return ParseLong(v, 1, 1L << 30, &o.count); }},
    {"--allow-gaps", false, Set<&EncodeOptions::allowGaps>},
    {"--quality", true,
     [](EncodeOptions& o, const std::string& v) { return ParseLong(v, 0, 100, &o.quality); }},
    {"--lossless", false,
     [](EncodeOptions& o, const std::string&) { return o.quality = 100, true; }},
    {"--palette", true, SetPalette},
    {"--dither", false,
     [](EncodeOptions& o, const std::string&) { return o.quantise.dither = true, true; }},
    {"--background", true, SetBackground},
    {"--pad", false, Set<&EncodeOptions::pad>},
    {"--crop", false, Set<&EncodeOptions::crop>},
    {"--ring", false, Set<&EncodeOptions::ring>},
    {"--interlaced", false, Set<&EncodeOptions::interlaced>},
    {"--doubled", false, Set<&EncodeOptions::doubled>},
    {"--round-palette", false, [](EncodeOptions&, const std::string&) { return true; }},
    {"--track", true, SetTrack, true},
    {"--raw-sound", false, Set<&EncodeOptions::rawSound>},
    {"--sound-lead", true, SetSoundLead},
    {"--shortest", false, Set<&EncodeOptions::shortest>},
    {"--pad-sound", false, Set<&EncodeOptions::padSound>},
    {"--reserve", true, SetReserve},
    {"--threads", true,
     [](EncodeOptions& o, const std::string& v) { return ParseLong(v, 1, 64, &o.threads); }},
    {"--max-rate", true,
     [](EncodeOptions& o, const std::string& v) {
         return ParseLong(v, 1, 0x7FFFFFFF, &o.maxRate);
     }},
};

// An option given twice is a mistake (which one was meant?), not a silent override; so is
// --quality with --lossless and --pad with --crop. Each --track names its own track.
bool RefuseRepeats(const std::vector<std::string>& args, std::string* error) {
    std::set<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) != 0) continue;
        const std::size_t equals = args[i].find('=');
        const std::string name = args[i].substr(0, equals);
        std::string key = name;
        if (key == "--track") {
            const std::string value = equals != std::string::npos ? args[i].substr(equals + 1)
                                      : i + 1 < args.size()       ? args[i + 1]
                                                                  : "";
            key = "track " + value.substr(0, 1);
        }
        if (key == "--lossless") key = "--quality";
        if (key == "--crop") key = "--pad";
        if (key == "--period-code") key = "--fps";
        if (key == "--pad-sound") key = "--shortest";
        if (!seen.insert(key).second) {
            const bool same = key == name || key.rfind("track ", 0) == 0;
            *error = (key.rfind("track ", 0) == 0 ? key : name) +
                     (same ? " is given twice" : " clashes with an earlier option");
            return false;
        }
    }
    return true;
}

int Parse(const std::vector<std::string>& args, EncodeOptions& o) {
    std::vector<std::string> positional;
    if (const int status = zmbtool::ParseOptions<EncodeOptions>("encode", kHelp, args, kOptions, o,
                                                                positional, 1u << 20))
        return status;
    std::string error;
    if (!RefuseRepeats(args, &error)) return zmbtool::Fail("encode: " + error + " (see --help)");
    if (positional.size() < 2)
        return zmbtool::Fail("encode: give the pictures and the output (see --help)");
    o.output = positional.back();
    positional.pop_back();
    o.inputs = std::move(positional);
    return 0;
}

void Note(const std::string& message) {
    std::fprintf(stderr, "zmbtool: encode: %s\n", message.c_str());
}

std::string Size(std::uint32_t width, std::uint32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// The size pictures are fitted to from the first picture's, by --pad or --crop when it is not
// whole blocks. An interlaced or doubled movie stores every other row, so its pictures are
// fitted to whole blocks of 4 x 8.
bool FittedSize(const EncodeOptions& o, const std::string& name, const zmbtool::SourcePicture& p,
                std::uint32_t* width, std::uint32_t* height, std::string* error) {
    const std::uint32_t rows = o.interlaced || o.doubled ? 8 : 4;
    const std::uint32_t padW = (p.width + 3) / 4 * 4, padH = (p.height + rows - 1) / rows * rows;
    const std::uint32_t cropW = p.width / 4 * 4, cropH = p.height / rows * rows;
    *width = o.pad ? padW : o.crop ? cropW : p.width;
    *height = o.pad ? padH : o.crop ? cropH : p.height;
    const std::string blocks = rows == 8 ? "4x8 blocks (every other row is kept)" : "4x4 blocks";
    if (*width == 0 || *height == 0) {
        *error = name + ": " + Size(p.width, p.height) + " holds no whole " + blocks +
                 " (--pad makes it " + Size(padW, padH) + ")";
        return false;
    }
    if (*width % 4 != 0 || *height % rows != 0) {
        *error = name + ": " + Size(p.width, p.height) + " is not whole " + blocks +
                 " (--pad makes it " + Size(padW, padH) + ", --crop " + Size(cropW, cropH) + ")";
        return false;
    }
    return true;
}

// A picture as read, with its reduction made ahead where there was one to make.
struct LoadedPicture {
    zmbtool::SourcePicture source;
    zmbtool::Foreseen ahead;
};

// Reads, fits and reduces the pictures one at a time.
class PictureReader {
  public:
    // `stream`, when given, is where every picture comes from, whatever its name.
    PictureReader(const EncodeOptions& o, enc::MovieRecipe* recipe, zmbtool::Y4mStream* stream)
        : o_(o), recipe_(recipe), stream_(stream), quantiser_(QuantiseFor(o)) {}

    // With one movie palette every picture is seen for its colours before any is reduced.
    // Holding them meanwhile would take a truecolour picture's worth of memory each, and
    // reading them again would cost their decoding once more (and a pipe gives its picture
    // only once), so they wait in `kept`, fitted and opaque, three bytes a pixel.
    bool NeedsSurvey() const { return o_.quantise.mode == zmbtool::PaletteMode::Movie; }

    bool Survey(const std::string& name, enc::Spool& kept, std::string* error) {
        zmbtool::SourcePicture picture;
        if (!Load(name, picture, error)) return false;
        if (!picture.indexed) quantiser_.Survey(picture.width, picture.height, picture.pixels);
        if (Keep(picture, kept)) return true;
        *error = kept.Failure();
        return false;
    }

    // The next picture as it came: from `kept` after a survey, else from its file. It and
    // Reduce share nothing, so each may run on a thread of its own.
    bool Take(const std::string& name, enc::Spool* kept, zmbtool::SourcePicture* picture,
              std::string* error) {
        return kept != nullptr ? TakeKept(*kept, *picture, error) : Load(name, *picture, error);
    }

    // On any thread, beside Reduce: the `index`-th picture's reduction ahead, for Reduce.
    void Foresee(std::size_t index, LoadedPicture& loaded) {
        const zmbtool::SourcePicture& picture = loaded.source;
        if (picture.indexed)
            loaded.ahead.palette = 0;
        else
            quantiser_.Foresee(index, picture.width, picture.height, picture.pixels, &loaded.ahead);
    }
    void StopForeseeing() { quantiser_.StopForeseeing(); }

    // The picture in the movie's palette of 256 colours, in playing order.
    bool Reduce(LoadedPicture& loaded, enc::Picture* out, std::string* error) {
        zmbtool::SourcePicture& picture = loaded.source;
        if (picture.indexed) {
            quantiser_.Pass();
            out->pixels = std::move(picture.pixels);
            out->palette = picture.palette;
            return true;
        }
        return quantiser_.Add(picture.width, picture.height, picture.pixels, out, error,
                              &loaded.ahead);
    }

  private:
    // With threads to spare, pictures are reduced ahead of their turn on them.
    static zmbtool::QuantiseOptions QuantiseFor(const EncodeOptions& o) {
        zmbtool::QuantiseOptions options = o.quantise;
        options.foresee = o.threads > 1;
        return options;
    }

    // Reads, lays on the background and fits one picture. The notes are said once, where
    // the picture that calls for them is first read. The end of a stream fails with no error.
    bool Load(const std::string& name, zmbtool::SourcePicture& picture, std::string* error) {
        if (stream_ != nullptr ? !stream_->Next(&picture, error)
                               : !zmbtool::ReadSourcePicture(name, &picture, error))
            return false;
        if (picture.translucent) {
            if (!saidTransparency_)
                Note(name +
                     ": transparent pixels are laid on the background colour (--background)");
            saidTransparency_ = true;
            zmbtool::CompositeOnto(picture, o_.background);
        }
        if (!Fit(name, picture, error)) return false;
        if (picture.indexed) {
            NoteInexactPalette(name, picture);
            return true;
        }
        if (!zmbtool::QuantiserAvailable()) {
            *error = name +
                     ": a greyscale or truecolour PNG, and this zmbtool was built without "
                     "libimagequant to reduce its colours (give indexed PNGs)";
            return false;
        }
        return true;
    }

    bool Fit(const std::string& name, zmbtool::SourcePicture& picture, std::string* error) {
        if (first_) {
            first_ = false;
            sourceWidth_ = picture.width;
            sourceHeight_ = picture.height;
            if (!FittedSize(o_, name, picture, &recipe_->width, &fittedHeight_, error))
                return false;
            recipe_->height = o_.interlaced || o_.doubled ? fittedHeight_ / 2 : fittedHeight_;
        } else if (picture.width != sourceWidth_ || picture.height != sourceHeight_) {
            *error = name + ": " + Size(picture.width, picture.height) +
                     ", but the first picture is " + Size(sourceWidth_, sourceHeight_);
            return false;
        }
        zmbtool::FitPicture(picture, recipe_->width, fittedHeight_, o_.background);
        // A doubled row is seen twice, so it is best shown as the mean of the two it stands
        // for; an interlaced movie shows only its own rows.
        if (o_.interlaced || o_.doubled) zmbtool::HalveRows(picture, o_.doubled);
        return true;
    }

    bool Keep(const zmbtool::SourcePicture& picture, enc::Spool& kept) {
        const std::uint8_t indexed = picture.indexed ? 1 : 0;
        if (!kept.Write(&indexed, 1)) return false;
        if (picture.indexed)
            return kept.Write(picture.palette.data(), picture.palette.size()) &&
                   kept.Write(picture.pixels.data(), picture.pixels.size());
        rgb_.resize(picture.pixels.size() / 4 * 3);
        std::uint8_t* to = rgb_.data();
        for (std::size_t i = 0; i < picture.pixels.size(); i += 4, to += 3)
            to[0] = picture.pixels[i], to[1] = picture.pixels[i + 1], to[2] = picture.pixels[i + 2];
        return kept.Write(rgb_.data(), rgb_.size());
    }

    bool TakeKept(enc::Spool& kept, zmbtool::SourcePicture& picture, std::string* error) {
        const std::size_t pixels = std::size_t{recipe_->width} * recipe_->height;
        std::uint8_t indexed = 0;
        bool ok = (rewound_ || kept.Rewind()) && kept.Read(&indexed, 1);
        rewound_ = true;
        picture.width = recipe_->width;
        picture.height = recipe_->height;
        picture.indexed = indexed != 0;
        if (ok && picture.indexed) {
            picture.pixels.resize(pixels);
            ok = kept.Read(picture.palette.data(), picture.palette.size()) &&
                 kept.Read(picture.pixels.data(), pixels);
        } else if (ok) {
            rgb_.resize(pixels * 3);
            ok = kept.Read(rgb_.data(), rgb_.size());
            picture.pixels.resize(pixels * 4);
            const std::uint8_t* from = rgb_.data();
            for (std::size_t i = 0; i < picture.pixels.size(); i += 4, from += 3) {
                picture.pixels[i] = from[0];
                picture.pixels[i + 1] = from[1];
                picture.pixels[i + 2] = from[2];
                picture.pixels[i + 3] = 255;
            }
        }
        if (!ok) *error = kept.Failure();
        return ok;
    }

    void NoteInexactPalette(const std::string& name, const zmbtool::SourcePicture& picture) {
        enc::Levels levels;
        std::string inexact;
        if (!saidRounding_ &&
            !enc::PaletteToLevels(picture.palette, enc::PaletteValues::Exact, levels, inexact)) {
            Note(name + ": " + inexact + "; palette values are rounded to the nearest level");
            saidRounding_ = true;
        }
    }

    const EncodeOptions& o_;
    enc::MovieRecipe* recipe_;
    zmbtool::Y4mStream* stream_;
    zmbtool::Quantiser quantiser_;
    bool first_ = true, saidTransparency_ = false, saidRounding_ = false;
    std::uint32_t sourceWidth_ = 0, sourceHeight_ = 0, fittedHeight_ = 0;
    bool rewound_ = false;
    std::vector<std::uint8_t> rgb_;  // a kept truecolour picture on its way in or out
};

// A scratch file for the movie writer, beside the output where there is room for the movie
// anyway (for standard output or a device, in the temporary folder). Its name is removed as
// soon as it is made, so that no way out of the run, a kill included, leaves it behind.
class ScratchFile {
  public:
    bool Open(const std::string& output, std::string* error) {
        const std::string folder = FolderFor(output);
        std::string name = folder + "/.zmbtool-encode.XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd >= 0) ::unlink(name.c_str());
        file_ = fd < 0 ? nullptr : ::fdopen(fd, "w+b");
        if (file_ == nullptr) {
            *error = "cannot make a scratch file in " + folder + ": " + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return false;
        }
        std::setvbuf(file_, nullptr, _IOFBF, kScratchBuffer);
        spool_ = std::make_unique<enc::FileSpool>(file_, "the scratch file in " + folder);
        return true;
    }
    ~ScratchFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    enc::Spool& Spool() { return *spool_; }

  private:
    static constexpr std::size_t kScratchBuffer = std::size_t{1} << 18;

    static std::string FolderFor(const std::string& output) {
        const bool device =
            output == "-" || output.rfind("/dev/", 0) == 0 || output.rfind("/proc/", 0) == 0;
        std::string folder = std::filesystem::path(output).parent_path().string();
        if (folder.empty()) folder = ".";
        if (!device && ::access(folder.c_str(), W_OK | X_OK) == 0) return folder;
        const char* temporary = std::getenv("TMPDIR");
        return temporary != nullptr && *temporary != 0 ? temporary : "/tmp";
    }

    std::FILE* file_ = nullptr;
    std::unique_ptr<enc::FileSpool> spool_;
};

// The error budget of a block at a quality (0 to 100): an error of (100 - quality) / 2 in
// each channel of each pixel, over the 16 pixels.
std::uint32_t BudgetFor(long quality) {
    return static_cast<std::uint32_t>(12 * (100 - quality) * (100 - quality));
}

// A picture as the writer was given it, for coding the movie again under a data-rate cap.
bool KeepPicture(enc::Spool* originals, const enc::Picture& picture, std::string* error) {
    if (originals == nullptr || (originals->Write(picture.palette.data(), picture.palette.size()) &&
                                 originals->Write(picture.pixels.data(), picture.pixels.size())))
        return true;
    *error = originals->Failure();
    return false;
}

// The writer and the two scratch files it codes through.
struct Coding {
    ScratchFile pictures, frames;
    std::unique_ptr<enc::MovieWriter> writer;
};

// The pictures to read: files by name, or the frames of a Y4M stream.
struct PictureSource {
    const std::vector<std::string>& files;
    zmbtool::Y4mStream* stream;
    std::string streamName;
    std::size_t Count(long limit) const {
        if (stream == nullptr) return files.size();
        return limit > 0 ? static_cast<std::size_t>(limit) : SIZE_MAX;
    }
    std::string Name(std::size_t i) const {
        return stream == nullptr ? files[i] : streamName + ", frame " + std::to_string(i);
    }
    // A failure with no reason is a stream's end.
    bool Ended(const std::string& error) const { return stream != nullptr && error.empty(); }
};

// Reads the pictures into the writer, made once the first picture gives the movie's size.
// `last` is left holding the last picture, which the sound may hold on screen.
bool ReadPictures(const EncodeOptions& o, const PictureSource& source, enc::MovieRecipe* recipe,
                  ScratchFile scratch[3], enc::Spool* originals,
                  std::unique_ptr<enc::MovieWriter>* writer, enc::Picture* last,
                  std::string* error) {
    PictureReader reader(o, recipe, source.stream);
    std::size_t count = source.Count(o.count);
    const std::uint64_t shown = source.stream == nullptr ? count : 0;
    enc::Spool* kept = nullptr;
    if (reader.NeedsSurvey()) {
        if (!scratch[2].Open(o.output, error)) return false;
        kept = &scratch[2].Spool();
        zmbtool::ProgressBar progress("gathering colours", shown);
        for (std::size_t i = 0; i < count; ++i) {
            progress.Update(i);
            if (reader.Survey(source.Name(i), *kept, error)) continue;
            if (!source.Ended(*error)) return false;
            count = i;
        }
        progress.Finish();
    }
    // Reading a picture runs ahead on a thread of its own. Reducing pictures is the most
    // work, and one picture after another, as each palette is judged against the one in
    // force; so the next few are reduced ahead on every thread with the newest palette, and
    // taken in order, where a picture that makes a new palette has those after it reduced
    // again. Simplifying and spooling come last, in order, shared out by the writer. Each
    // stage keeps its pictures in order, so the movie is the same however many threads
    // made it.
    zmbtool::ProgressBar progress("reading pictures", shown);
    const bool threaded = o.threads > 1;
    zmbtool::Ahead<zmbtool::SourcePicture> taken(
        count, threaded, [&](std::size_t i, zmbtool::SourcePicture& picture, std::string* failure) {
            if (reader.Take(source.Name(i), kept, &picture, failure)) return true;
            if (source.Ended(*failure)) failure->clear();
            return false;
        });
    zmbtool::Spread<LoadedPicture> loaded(
        count, threaded ? static_cast<unsigned>(o.threads) : 0,
        [&](std::size_t, LoadedPicture& item, std::string* failure) {
            return taken.Next(item.source, failure);
        },
        [&](std::size_t i, LoadedPicture& item) { reader.Foresee(i, item); });
    // Reductions ahead may wait for pictures this run will not reach when it stops early.
    struct StopForeseeing {
        PictureReader& reader;
        ~StopForeseeing() { reader.StopForeseeing(); }
    } stopForeseeing{reader};
    LoadedPicture item;
    for (std::size_t done = 0; loaded.Next(item, error); ++done) {
        progress.Update(done);
        if (!reader.Reduce(item, last, error)) return false;
        if (!*writer)
            *writer =
                std::make_unique<enc::MovieWriter>(*recipe, scratch[0].Spool(), scratch[1].Spool());
        if (!(*writer)->Add(*last)) return *error = (*writer)->Error(), false;
        if (!KeepPicture(originals, *last, error)) return false;
    }
    progress.Finish();
    return error->empty();
}

// Codes the movie again from the kept pictures, each at its own quality.
bool Recode(const EncodeOptions& o, enc::MovieRecipe& recipe, enc::Spool& originals,
            std::uint32_t count, const std::vector<long>& quality, int pass,
            std::unique_ptr<Coding>& coding, std::string* error) {
    recipe.pictureErrorBudgets.clear();
    for (long q : quality) recipe.pictureErrorBudgets.push_back(BudgetFor(q));
    coding = std::make_unique<Coding>();
    if (!coding->pictures.Open(o.output, error) || !coding->frames.Open(o.output, error))
        return false;
    coding->writer = std::make_unique<enc::MovieWriter>(recipe, coding->pictures.Spool(),
                                                        coding->frames.Spool());
    const std::string label = "coding again under the cap, pass " + std::to_string(pass);
    zmbtool::ProgressBar progress(label.c_str(), count);
    recipe.progress = [&progress](std::size_t done, std::size_t) { progress.Update(done); };
    enc::Picture picture;
    picture.pixels.resize(std::size_t{recipe.width} * recipe.height);
    if (!originals.Rewind()) return *error = originals.Failure(), false;
    bool ok = true;
    for (std::uint32_t i = 0; ok && i < count; ++i) {
        ok = originals.Read(picture.palette.data(), picture.palette.size()) &&
             originals.Read(picture.pixels.data(), picture.pixels.size());
        if (!ok) *error = originals.Failure();
        if (ok && !coding->writer->Add(picture)) ok = false, *error = coding->writer->Error();
    }
    if (ok && !coding->writer->Finish()) ok = false, *error = coding->writer->Error();
    progress.Finish();
    recipe.progress = nullptr;
    return ok;
}

// How many quality points a second `bytes` long loses in one pass: more the further it is
// over the cap, so that a far busier second needs few passes.
long QualityStep(std::uint64_t bytes, std::uint64_t cap) {
    const double over = static_cast<double>(bytes) / static_cast<double>(cap) - 1;
    return std::clamp(static_cast<long>(std::ceil(over * 10)), 2L, 10L);
}

// Lowers the quality of every picture of every second over the cap; false when all of one
// such second are at quality 0 already, and `error` says which.
bool LowerBusySeconds(const EncodeOptions& o, const enc::MovieRecipe& recipe,
                      const std::vector<std::uint32_t>& sizes, std::vector<long>& quality,
                      std::string* error) {
    const auto n = static_cast<std::uint32_t>(sizes.size());
    const std::uint32_t fps = enc::FramesPerSecondOf(recipe.frameRate);
    std::vector<long> lower = quality;
    for (std::uint32_t first :
         enc::SecondsOver(sizes, recipe.frameRate, static_cast<std::uint64_t>(o.maxRate))) {
        const std::uint32_t end = n - 1 < fps ? n : first + fps;
        std::uint64_t bytes = 0;
        for (std::uint32_t f = first; f < end; ++f) bytes += sizes[f];
        bool lowered = false;
        const long step = QualityStep(bytes, static_cast<std::uint64_t>(o.maxRate));
        for (std::uint32_t f = first; f < end && f < quality.size(); ++f) {
            lowered = lowered || quality[f] > 0;
            lower[f] = std::min(lower[f], std::max(0L, quality[f] - step));
        }
        if (lowered) continue;
        *error = "--max-rate " + std::to_string(o.maxRate) +
                 " is below what the movie needs: " + "the second from frame " +
                 std::to_string(first) + " holds " + std::to_string(bytes) + " bytes at quality 0";
        return false;
    }
    quality = std::move(lower);
    return true;
}

// Codes the busiest seconds again, coarser each pass, until none is over the cap. Pictures
// are never dropped: the players would see a different movie.
bool HoldUnderCap(const EncodeOptions& o, enc::MovieRecipe& recipe, enc::Spool& originals,
                  std::unique_ptr<enc::MovieWriter>& first, std::unique_ptr<Coding>& coding,
                  std::string* error) {
    const std::uint32_t count = first->PictureCount();
    std::vector<long> quality(count, o.quality);
    enc::MovieWriter* writer = first.get();
    for (int pass = 1;; ++pass) {
        const std::vector<std::uint32_t>& sizes = writer->Layout().frameSizes;
        if (enc::SecondsOver(sizes, recipe.frameRate, static_cast<std::uint64_t>(o.maxRate))
                .empty()) {
            if (pass == 1) return true;
            const long least = *std::min_element(quality.begin(), quality.end());
            const auto recoded = std::count_if(quality.begin(), quality.end(),
                                               [&](long q) { return q != o.quality; });
            Note(std::to_string(recoded) + " pictures were coded again to keep under " +
                 std::to_string(o.maxRate) + " bytes a second, at quality down to " +
                 std::to_string(least));
            return true;
        }
        if (!LowerBusySeconds(o, recipe, sizes, quality, error)) return false;
        if (pass == 1) first.reset();
        if (!Recode(o, recipe, originals, count, quality, pass, coding, error)) return false;
        writer = coding->writer.get();
    }
}

bool ReadTracks(const EncodeOptions& o, enc::MovieRecipe* recipe, std::string* error) {
    bool any = false;
    for (int n = 0; n < enc::kTrackCount; ++n) {
        if (o.tracks[n].empty()) continue;
        if (!zmbtool::ReadSoundTrack(o.tracks[n], o.rawSound, &recipe->tracks[n], error))
            return false;
        any = true;
    }
    if (any && o.periodCode == 0) {
        // An untimed movie shows its frames as fast as it can, so its sound could only
        // overflow the player's ring and be lost.
        *error = "an untimed movie (--fps 0) cannot carry sound; give a frame rate";
        return false;
    }
    return true;
}

// The track that paces the player: the first one present.
int FirstTrack(const enc::MovieRecipe& recipe) {
    for (int n = 0; n < enc::kTrackCount; ++n)
        if (recipe.tracks[n].present) return n;
    return -1;
}

double Seconds(std::uint64_t frames, std::int32_t periodCode) {
    const double period = periodCode > 0 ? periodCode * 100.0 : -static_cast<double>(periodCode);
    return frames * period / 100000.0;
}

// How long a track plays.
double SoundSeconds(const enc::SoundTrack& track) {
    const std::size_t frameBytes = (track.is16Bit ? 2u : 1u) * (track.stereo ? 2u : 1u);
    return static_cast<double>(track.samples.size() / frameBytes) / track.sampleRate;
}

// The longest track's length.
double LongestSoundSeconds(const enc::MovieRecipe& recipe) {
    double longest = 0;
    for (const enc::SoundTrack& track : recipe.tracks)
        if (track.present) longest = std::max(longest, SoundSeconds(track));
    return longest;
}

// Silence after each track that ends before the pictures, up to what the pictures' time
// plays: the player paces the pictures by the first track, and silence keeps that pace.
void PadSoundToPictures(enc::MovieRecipe* recipe, std::uint64_t pictures) {
    for (enc::SoundTrack& track : recipe->tracks) {
        if (!track.present || zmbtool::FramesForTrack(track, recipe->frameRate) >= pictures)
            continue;
        const std::size_t before = track.samples.size();
        std::array<enc::SoundTrack, enc::kTrackCount> one{};
        one[0] = track;
        // Enough sample frames for the pictures and one more, cut back to exactly them.
        const std::uint64_t period = recipe->frameRate > 0
                                         ? std::uint64_t(recipe->frameRate) * 100
                                         : std::uint64_t(-std::int64_t{recipe->frameRate});
        const std::size_t frameBytes = (track.is16Bit ? 2u : 1u) * (track.stereo ? 2u : 1u);
        const std::uint64_t wanted = (pictures + 1) * period * track.sampleRate / 100000 + 1;
        one[0].samples.resize(wanted * frameBytes, track.is16Bit ? 0x00 : 0x80);
        zmbtool::CutSoundToFrames(one, recipe->frameRate, pictures);
        if (one[0].samples.size() > before) track.samples = std::move(one[0].samples);
    }
}

// A track that ends before the pictures is left as it is: the player paces the pictures by
// the first track's sound, so once it has all been heard the pictures after it follow as fast
// as they can be shown. Said, so that it is no surprise.
void NoteShortSound(const enc::MovieRecipe& recipe, std::uint64_t pictures) {
    const int first = FirstTrack(recipe);
    if (first < 0) return;
    const std::uint64_t frames = zmbtool::FramesForTrack(recipe.tracks[first], recipe.frameRate);
    if (frames >= pictures) return;
    char text[260];
    std::snprintf(text, sizeof text,
                  "the sound of track %d ends at %.2f s, the pictures at %.2f s: the player shows "
                  "the pictures after the sound as fast as it can (--pad-sound keeps their "
                  "pace with silence)",
                  first, SoundSeconds(recipe.tracks[first]), Seconds(pictures, recipe.frameRate));
    Note(text);
}

// Sound longer than the pictures: the last picture is held while it plays on, or the sound
// is cut (--shortest). Shorter sound is left as it is: nothing is invented. Returns how many
// more frames the last picture is held for.
std::uint64_t FitSoundAndPictures(const EncodeOptions& o, enc::MovieRecipe* recipe,
                                  std::uint64_t pictures) {
    if (o.padSound) PadSoundToPictures(recipe, pictures);
    const std::uint64_t needed = zmbtool::FramesForSound(recipe->tracks, recipe->frameRate);
    char text[160];
    if (needed > pictures && o.shortest) {
        const std::string cut =
            zmbtool::CutSoundToFrames(recipe->tracks, recipe->frameRate, pictures);
        std::snprintf(text, sizeof text, "the sound of track %s is cut to the pictures' %.2f s",
                      cut.c_str(), Seconds(pictures, recipe->frameRate));
        Note(text);
    } else if (needed > pictures) {
        std::snprintf(
            text, sizeof text,
            "the last picture is held for %llu more frame%s, until the sound ends at %.2f s "
            "(--shortest cuts the sound instead)",
            static_cast<unsigned long long>(needed - pictures), needed - pictures == 1 ? "" : "s",
            LongestSoundSeconds(*recipe));
        Note(text);
    }
    const std::uint64_t held = needed > pictures && !o.shortest ? needed - pictures : 0;
    NoteShortSound(*recipe, pictures + held);
    return held;
}

// Holds the last picture while the sound plays on, then codes the frames.
bool FinishMovie(const EncodeOptions& o, enc::MovieRecipe& recipe, enc::MovieWriter& writer,
                 const enc::Picture& last, enc::Spool* kept, std::string* error) {
    const std::uint64_t pictures = writer.PictureCount();
    const std::uint64_t held = FitSoundAndPictures(o, &recipe, pictures);
    zmbtool::ProgressBar progress("writing the movie", pictures + held);
    recipe.progress = [&progress](std::size_t done, std::size_t) { progress.Update(done); };
    bool ok = true;
    for (std::uint64_t i = 0; ok && i < held; ++i)
        ok = writer.Add(last) && KeepPicture(kept, last, error);
    ok = ok && writer.Finish();
    progress.Finish();
    recipe.progress = nullptr;
    if (!ok && error->empty()) *error = writer.Error();
    return ok;
}

int WriteOut(const EncodeOptions& o, enc::MovieWriter& writer) {
    std::string error;
    zmbtool::OutputFile out;
    if (!out.Open(o.output, &error)) return zmbtool::Fail("encode: " + error);
    const auto write = [&out](const std::uint8_t* data, std::size_t size) {
        return out.Write(data, size);
    };
    // A failed write is the output's to name, at its commit; the writer names its own.
    if (!writer.WriteTo(write) && !writer.Error().empty())
        return zmbtool::Fail("encode: " + writer.Error());
    if (!out.Commit(&error)) return zmbtool::Fail("encode: " + error);
    return 0;
}

// The picture files of a series, pattern or list, each noted as an input.
bool ListPictureFiles(const EncodeOptions& o, std::vector<std::string>* files, std::string* error) {
    std::vector<std::string> missing;
    if (!zmbtool::PictureFiles({o.inputs, o.count, o.allowGaps}, files, &missing, error))
        return false;
    if (!missing.empty())
        Note(missing.front() +
             (missing.size() > 1
                  ? " and " + std::to_string(missing.size() - 1) + " more numbers are"
                  : " is") +
             " missing from the series and stepped over (--allow-gaps)");
    for (const std::string& input : *files) zmbtool::NoteInput(input);
    return true;
}

// `zmbtool encode *.png` in a folder of pictures makes the shell's last picture the output;
// replacing it with a movie would lose it, --force or not.
bool NamedLikeAPicture(const std::string& output) {
    std::string lower = output;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* end : {".png", ".jpg", ".jpeg", ".y4m"})
        if (lower.size() >= std::strlen(end) &&
            lower.compare(lower.size() - std::strlen(end), std::string::npos, end) == 0)
            return true;
    return false;
}

int Run(const std::vector<std::string>& args) {
    EncodeOptions o;
    if (const int status = Parse(args, o)) return status == zmbtool::kHelpShown ? 0 : status;
    std::vector<std::string> files;
    std::string error;
    zmbtool::Y4mStream y4m;
    const bool stream = o.inputs.size() == 1 && zmbtool::IsY4mInput(o.inputs[0]);
    if (stream ? !y4m.Open(o.inputs[0], &error) : !ListPictureFiles(o, &files, &error))
        return zmbtool::Fail("encode: " + error);
    if (stream && o.inputs[0] != "-") zmbtool::NoteInput(o.inputs[0]);
    if (stream && !o.rateGiven && y4m.PeriodCode() != 0) o.periodCode = y4m.PeriodCode();
    for (const std::string& input : o.tracks) zmbtool::NoteInput(input);
    // Checked before the long work; written only once the movie is whole, so a refused
    // input leaves nothing behind.
    if (!zmbtool::CheckOutputs({o.output}, &error)) return zmbtool::Fail("encode: " + error);
    // After the rules every output follows, so that what they refuse is said in their words.
    if (NamedLikeAPicture(o.output))
        return zmbtool::Fail("encode: " + o.output +
                             " is named like a picture, not a movie (the last name of a glob?); "
                             "refused even with --force");
    enc::MovieRecipe recipe;
    recipe.frameRate = o.periodCode;
    recipe.ring = o.ring;
    recipe.interlaced = o.interlaced;
    recipe.doubled = o.doubled;
    recipe.paletteValues = enc::PaletteValues::Round;
    recipe.soundLead = static_cast<std::int32_t>(o.soundLead);
    // An error of (100 - quality) / 2 in each channel of each pixel, over the 16 pixels.
    recipe.blockErrorBudget = BudgetFor(o.quality);
    recipe.reservedEntries = o.quantise.reserved;
    recipe.threads = static_cast<unsigned>(o.threads);
    // The pictures wait in one scratch file as they will be shown, the coded frames in the
    // second until the frame table before them is known; the third is for a colour survey.
    // Under a cap the pictures as given wait in a fourth, to be coded again.
    ScratchFile scratch[3], originals;
    std::unique_ptr<enc::MovieWriter> writer;
    enc::Picture last;
    if (!ReadTracks(o, &recipe, &error) || !scratch[0].Open(o.output, &error) ||
        !scratch[1].Open(o.output, &error) || (o.maxRate > 0 && !originals.Open(o.output, &error)))
        return zmbtool::Fail("encode: " + error);
    enc::Spool* kept = o.maxRate > 0 ? &originals.Spool() : nullptr;
    const PictureSource source{files, stream ? &y4m : nullptr,
                               o.inputs[0] == "-" ? "standard input" : o.inputs[0]};
    if (!ReadPictures(o, source, &recipe, scratch, kept, &writer, &last, &error))
        return zmbtool::Fail("encode: " + error);
    if (!writer) return zmbtool::Fail("encode: no picture to encode");
    std::unique_ptr<Coding> recoded;
    if (!FinishMovie(o, recipe, *writer, last, kept, &error) ||
        (kept != nullptr && !HoldUnderCap(o, recipe, *kept, writer, recoded, &error)))
        return zmbtool::Fail("encode: " + error);
    enc::MovieWriter& movie = recoded ? *recoded->writer : *writer;
    const enc::BusiestSecond busiest =
        enc::FindBusiestSecond(movie.Layout().frameSizes, recipe.frameRate);
    Note("busiest second: " + std::to_string(busiest.bytes) + " bytes, from frame " +
         std::to_string(busiest.first + 1));
    return WriteOut(o, movie);
}

zmbtool::Registration registration{
    {"encode", "write a movie from PNG pictures (numbered, a pattern or a list) and sound files",
     Run, true}};

}  // namespace
