// SPDX-License-Identifier: MIT
// zmbtool info: what a movie holds, from its header and frame tables.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command.h"
#include "core/movie_names.h"
#include "encoder/rate.h"
#include "movie_file.h"
#include "output.h"
#include "rate_plot.h"
#include "zambrel/decoder.h"

namespace zmbtool {
namespace {

constexpr const char* kInfoHelp =
    "usage: zmbtool info [--frames] [--rate-plot PLOT.png [--max-rate BYTES]] MOVIE\n"
    "\n"
    "Describes a movie: its header fields, each sound track, the frame count and rate,\n"
    "the ring, interlaced and doubled flags, the code trees, and the largest, average and\n"
    "busiest-second frame sizes, and how many frames the file really holds whole (the\n"
    "exit status is 3 when some are cut off or damaged).\n"
    "\n"
    "  --frames   also list every stored frame: index, size in bytes and type bits\n"
    "             (P palette, 0-6 the sound tracks with a chunk)\n"
    "  --rate-plot PLOT.png\n"
    "             draw the data rate over the movie: each frame's bytes as a second of\n"
    "             such frames (pale bars), the bytes of the second from each frame (dark\n"
    "             line); the scale is printed\n"
    "  --max-rate BYTES\n"
    "             draw this cap as a red line, and count the seconds over it\n";

// The reason a file cannot be described, when its first bytes tell one: it is no movie, or
// its picture has no size a movie can have. A header refused for its other sizes and counts
// is told as any unusable movie is, by the open below.
std::string RefusalReason(const std::string& path, ZambHeader* header) {
    std::string error;
    if (!ReadHeaderOf(path, header, &error)) return error;
    switch (header->Refusal) {
        case ZAMBHDR_NOT_A_MOVIE:
        case ZAMBHDR_CUT_SHORT:
        case ZAMBHDR_PICTURE_SIZE:
            return header->Reason;
        default:
            return "";
    }
}

double PeriodMilliseconds(std::int32_t frameRate) {
    if (frameRate > 0) return frameRate;
    return -static_cast<double>(frameRate) / 100.0;
}

void PrintTimingAndFlags(const ZambHeader& header) {
    const std::int32_t frameRate = header.FrameRate;
    const std::uint32_t flags = header.FileFlags;
    double period = PeriodMilliseconds(frameRate);
    std::printf("width:            %u\n", header.Width);
    std::printf("height:           %u (stored)\n", header.Height);
    std::printf("frames:           %u\n", header.FrameCount);
    if (period > 0)
        std::printf("frame rate:       %.2f frames per second (period %.2f ms, code %d)\n",
                    1000.0 / period, period, frameRate);
    else
        std::printf("frame rate:       untimed (code 0)\n");
    std::printf("ring frame:       %s\n", flags & FILE_RING ? "yes" : "no");
    std::printf("interlaced:       %s\n", flags & FILE_INTERLACED ? "yes" : "no");
    std::printf("doubled:          %s\n", flags & FILE_DOUBLED ? "yes" : "no");
}

void PrintTracks(const ZambHeader& header) {
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        const std::uint32_t format = header.TrackFormat[n];
        if (!(format & TRACK_PRESENT)) {
            std::printf("track %d:          absent\n", n);
            continue;
        }
        std::printf("track %d:          %u Hz, %s, %s, %s, at most %u bytes a frame\n", n,
                    format & TRACK_RATE_MASK, format & TRACK_16BIT ? "16-bit" : "8-bit",
                    format & TRACK_STEREO ? "stereo" : "mono",
                    format & TRACK_COMPRESSED ? "compressed" : "raw", header.TrackMaxBytes[n]);
    }
}

void PrintTrees(const ZambHeader& header) {
    static const char* const kNames[] = {"pattern", "colour", "full", "type"};
    std::printf("tree data:        %u bytes\n", header.TreeDataSize);
    for (int t = 0; t < 4; ++t) {
        const std::uint32_t size = header.TreeSizes[t];
        std::string label = std::string(kNames[t]) + " tree:";
        std::printf("%-18s%u bytes, %u nodes\n", label.c_str(), size,
                    size >= 12 ? (size - 12) / 4 : 0);
    }
}

void PrintFrameSizes(const ZambDecoder* decoder) {
    ZambFrameSizes sizes{};
    ZambDecoderGetFrameSizes(decoder, &sizes, sizeof sizes);
    std::printf("largest frame:    %u bytes\n", sizes.Largest);
    std::printf("average frame:    %u bytes\n", sizes.Average);
    std::printf("busiest second:   %u bytes, from frame %u\n", sizes.PeakSecondBytes,
                sizes.PeakSecondFrame);
}

// The frame table is only a promise; the file's length and each frame's chunks say how
// many frames a player really gets.
void PrintWholeFrames(const FrameCheck& check) {
    std::printf("whole frames:     %u of %u%s\n", check.whole, check.stored,
                check.whole == check.stored ? "" : " (damaged)");
}

void PrintFrameList(const MovieFile& file) {
    const std::uint32_t frames = file.Info().FrameCount;
    std::printf("\nframe     bytes  type\n");
    ZambStoredFrame frame{};
    for (std::uint32_t i = 0;
         ZambDecoderGetStoredFrame(file.Get(), i, &frame, sizeof frame) == ZAMBERR_NONE; ++i) {
        std::string bits = frame.Chunks & FRAME_PALETTE ? "P" : "-";
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n)
            bits += frame.Chunks & (FRAME_TRACK0 << n) ? static_cast<char>('0' + n) : '-';
        std::printf("%5u %9u  %s%s\n", i, frame.Bytes, bits.c_str(), i == frames ? "  (ring)" : "");
    }
}

// The stored frames' sizes, as the frame table gives them.
std::vector<std::uint32_t> FrameSizesOf(const MovieFile& file) {
    std::vector<std::uint32_t> sizes;
    ZambStoredFrame frame{};
    for (std::uint32_t i = 0;
         ZambDecoderGetStoredFrame(file.Get(), i, &frame, sizeof frame) == ZAMBERR_NONE; ++i)
        sizes.push_back(frame.Bytes);
    return sizes;
}

bool DrawRate(const MovieFile& file, std::int32_t frameRate, const std::string& plotPath,
              std::uint64_t cap, std::string* error) {
    RatePlot plot;
    plot.frameSizes = FrameSizesOf(file);
    plot.framesPerSecond = zambrel::encoder::FramesPerSecondOf(frameRate);
    plot.cap = cap;
    if (cap != 0) {
        const auto over = zambrel::encoder::SecondsOver(plot.frameSizes, frameRate, cap);
        std::printf(
            "over %llu B/s:   %zu seconds%s\n", static_cast<unsigned long long>(cap), over.size(),
            over.empty() ? ""
                         : (", the first from frame " + std::to_string(over.front() + 1)).c_str());
    }
    if (plotPath.empty()) return true;
    PlotScale scale;
    if (!WriteRatePlot(plot, plotPath, &scale, error)) return false;
    std::printf("rate plot:        %s, 0 to %llu bytes a second, grid every %llu\n",
                plotPath.c_str(), static_cast<unsigned long long>(scale.top),
                static_cast<unsigned long long>(scale.step));
    return true;
}

int RunInfo(const std::vector<std::string>& args) {
    bool listFrames = false;
    std::string path, plotPath;
    std::uint64_t cap = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--rate-plot" || arg == "--max-rate") && i + 1 == args.size())
            return Fail("info: " + arg + " needs a value");
        if (arg == "--rate-plot") {
            plotPath = args[++i];
            continue;
        }
        if (arg == "--max-rate") {
            char* end = nullptr;
            cap = std::strtoull(args[++i].c_str(), &end, 10);
            if (cap == 0 || *end != 0 || args[i][0] == '-')
                return Fail("info: bad value for --max-rate: " + args[i]);
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kInfoHelp, stdout);
            return 0;
        }
        if (arg == "--frames") {
            listFrames = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("info: unknown option '" + arg + "'");
        } else if (path.empty()) {
            path = arg;
        } else {
            return Fail("info: one movie at a time");
        }
    }
    if (path.empty()) return Fail("info: no movie given (zmbtool info --help)");

    ZambHeader header{};
    std::string reason;
    // A missing file is told below, by the reason the header's reading gives.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !CheckMovieInput(path, &reason)) return Fail(reason);
    reason = RefusalReason(path, &header);
    if (!reason.empty()) return Fail(path + ": " + reason);
    NoteInput(path);
    if (!plotPath.empty() && !CheckOutputs({plotPath}, &reason)) return Fail("info: " + reason);
    MovieFile file;
    if (!file.Open(path, 0, &reason)) return Fail(reason);

    std::printf("file:             %s\n", path.c_str());
    PrintTimingAndFlags(header);
    PrintTracks(header);
    PrintTrees(header);
    PrintFrameSizes(file.Get());
    const FrameCheck& check = file.Check();
    PrintWholeFrames(check);
    if (listFrames) PrintFrameList(file);
    if (!DrawRate(file, header.FrameRate, plotPath, cap, &reason)) return Fail("info: " + reason);
    if (check.whole == check.stored) return 0;
    std::fprintf(stderr, "zmbtool: %s is damaged from frame %u on: %s\n", path.c_str(),
                 check.faults.front().frame, check.faults.front().reason.c_str());
    return kSalvaged;
}

// It writes a file only with --rate-plot, which follows the rules of every output (--force).
Registration info{
    {"info", "describe a movie's header, tracks, trees and frame sizes", RunInfo, true}};

}  // namespace
}  // namespace zmbtool
