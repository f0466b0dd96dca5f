// SPDX-License-Identifier: MIT
// The movie writer: checks the recipe, lays out the frames and assembles the file.
#include "encoder/writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "encoder/audio_chunk.h"
#include "encoder/lossy.h"
#include "encoder/palette_chunk.h"
#include "encoder/video_coder.h"
#include "zambrel/movie.h"

namespace zambrel::encoder {
namespace {

constexpr std::uint32_t kHeaderBytes = ZAMB_HEADER_BYTES;
// The writer's header does not include the decoder's, so that programs using the writer
// keep its names apart from the decoder's; the two must still agree.
static_assert(kTrackCount == ZAMB_TRACK_COUNT && kPaletteBytes == ZAMB_PALETTE_BYTES);
constexpr std::uint32_t kMaxSide = 65532;
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;
constexpr std::uint32_t kMaxSampleRate = 0xFFFFFF;
constexpr std::uint32_t kFileRing = 0x1, kFileInterlaced = 0x2, kFileDoubled = 0x4;
constexpr std::uint8_t kFramePalette = 0x01;
constexpr std::uint32_t kTrackCompressed = 0x80000000u, kTrackPresent = 0x40000000u,
                        kTrack16Bit = 0x20000000u, kTrackStereo = 0x10000000u;

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t StoredFrameCount(const MovieRecipe& recipe) {
    return static_cast<std::uint32_t>(recipe.pictures.size()) + (recipe.ring ? 1 : 0);
}

// The frame period in 1/100 ms.
std::uint64_t FramePeriod(std::int32_t frameRate) {
    if (frameRate > 0) return static_cast<std::uint64_t>(frameRate) * 100;
    if (frameRate < 0) return static_cast<std::uint64_t>(-static_cast<std::int64_t>(frameRate));
    return 0;
}

bool CheckPictures(const MovieRecipe& recipe, std::string& error) {
    if (recipe.width == 0 || recipe.height == 0 || recipe.width % 4 != 0 ||
        recipe.height % 4 != 0) {
        error = "width and height must be non-zero multiples of 4";
        return false;
    }
    if (recipe.width > kMaxSide || recipe.height > kMaxSide ||
        std::uint64_t{recipe.width} * recipe.height > kMaxPixels) {
        error = "picture of " + std::to_string(recipe.width) + " x " +
                std::to_string(recipe.height) + " is too large";
        return false;
    }
    if (recipe.pictures.empty()) {
        error = "a movie needs at least one picture";
        return false;
    }
    if (recipe.ring && recipe.pictures.size() < 2) {
        error = "a ring frame needs at least two pictures";
        return false;
    }
    const std::size_t pixels = std::size_t{recipe.width} * recipe.height;
    for (std::size_t i = 0; i < recipe.pictures.size(); ++i) {
        if (recipe.pictures[i].pixels.size() != pixels) {
            error = "picture " + std::to_string(i) + " has " +
                    std::to_string(recipe.pictures[i].pixels.size()) + " pixels, not " +
                    std::to_string(pixels);
            return false;
        }
    }
    return true;
}

// Sample frames delivered by the end of stored frame `frame` when shared out by the period.
std::uint64_t SharedOutEnd(std::uint64_t frame, std::uint64_t total, std::uint64_t stored,
                           std::uint64_t period, std::uint32_t rate) {
    if (frame + 1 >= stored) return total;
    const std::uint64_t n = frame + 1;
    if (period == 0) return n * (total / stored) + n * (total % stored) / stored;
    // n * period * rate / 100,000 without overflowing: period * rate < 2^62.
    const std::uint64_t perFrame = period * rate;
    const std::uint64_t whole = perFrame / 100000, part = perFrame % 100000;
    if (whole != 0 && n > total / whole) return total;
    const std::uint64_t end = n * whole + n * part / 100000;
    return end < total ? end : total;
}

bool TrackChunkSizes(const MovieRecipe& recipe, int index, std::vector<std::uint32_t>& sizes,
                     std::string& error) {
    const SoundTrack& track = recipe.tracks[index];
    const std::string name = "track " + std::to_string(index);
    const std::uint32_t frameBytes = SampleFrameBytes(track);
    const std::uint32_t stored = StoredFrameCount(recipe);
    if (track.sampleRate == 0 || track.sampleRate > kMaxSampleRate) {
        error = name + ": sample rate must be 1 to 16,777,215";
        return false;
    }
    if (track.samples.size() % frameBytes != 0) {
        error = name + ": samples are not a whole number of sample frames";
        return false;
    }
    if (!track.chunkBytes.empty()) {
        if (track.chunkBytes.size() != stored) {
            error = name + ": " + std::to_string(track.chunkBytes.size()) + " chunk sizes for " +
                    std::to_string(stored) + " stored frames";
            return false;
        }
        std::uint64_t sum = 0;
        for (std::uint32_t size : track.chunkBytes) {
            if (size % frameBytes != 0) {
                error = name + ": chunk size " + std::to_string(size) +
                        " is not a whole number of sample frames";
                return false;
            }
            sum += size;
        }
        if (sum != track.samples.size()) {
            error = name + ": chunk sizes add up to " + std::to_string(sum) + ", not " +
                    std::to_string(track.samples.size()) + " sample bytes";
            return false;
        }
        sizes = track.chunkBytes;
        return true;
    }
    const std::uint64_t total = track.samples.size() / frameBytes;
    const std::uint64_t period = FramePeriod(recipe.frameRate);
    const std::uint64_t lead = SoundLeadBytes(recipe, track) / frameBytes;
    sizes.clear();
    std::uint64_t start = 0;
    for (std::uint32_t f = 0; f < stored; ++f) {
        const std::uint64_t end =
            std::min(total, SharedOutEnd(f, total, stored, period, track.sampleRate) + lead);
        const std::uint64_t bytes = (end - start) * frameBytes;
        if (bytes > 0x7FFFFFFF) {
            error = name + ": one frame would carry " + std::to_string(bytes) + " bytes of sound";
            return false;
        }
        sizes.push_back(static_cast<std::uint32_t>(bytes));
        start = end;
    }
    return true;
}

std::uint32_t TrackFormatWord(const SoundTrack& track) {
    if (!track.present) return 0;
    std::uint32_t word = kTrackPresent | (track.sampleRate & kMaxSampleRate);
    if (track.compressed) word |= kTrackCompressed;
    if (track.is16Bit) word |= kTrack16Bit;
    if (track.stereo) word |= kTrackStereo;
    return word;
}

// What one stored frame shows and what it is painted and coloured over.
struct StoredFrame {
    FramePictures pictures;
    const Levels* palette;
    const Levels* previousPalette;
};

// `shown[i]`: the pixels picture i is coded as.
std::vector<StoredFrame> PlanFrames(const MovieRecipe& recipe,
                                    const std::vector<const std::uint8_t*>& shown,
                                    const std::vector<Levels>& levels, const Levels& blackPalette) {
    std::vector<StoredFrame> plan;
    const std::size_t count = shown.size();
    for (std::size_t i = 0; i < count; ++i) {
        // Frame 0 is also where a movie without a ring frame starts again, on a picture
        // that is not its last one: nothing may be skipped there.
        const std::uint8_t* previous = i == 0 ? nullptr : shown[i - 1];
        plan.push_back({{shown[i], previous}, &levels[i], i == 0 ? &blackPalette : &levels[i - 1]});
    }
    if (recipe.ring) plan.push_back({{shown[0], shown[count - 1]}, &levels[0], &levels[count - 1]});
    return plan;
}

struct Assembly {
    std::vector<std::uint8_t> frameArea;
    MovieLayout layout;
};

bool AssembleFrames(const MovieRecipe& recipe, const std::vector<StoredFrame>& plan,
                    const VideoCoder& video,
                    const std::array<std::vector<std::uint32_t>, kTrackCount>& chunkSizes,
                    Assembly& out, std::string& error) {
    std::array<std::size_t, kTrackCount> sampleOffset{};
    for (std::size_t f = 0; f < plan.size(); ++f) {
        const StoredFrame& frame = plan[f];
        const std::size_t start = out.frameArea.size();
        std::uint8_t type = 0;
        if (f == 0 || recipe.stream.paletteEveryFrame || *frame.palette != *frame.previousPalette) {
            type |= kFramePalette;
            const auto chunk = BuildPaletteChunk(*frame.previousPalette, *frame.palette);
            out.frameArea.insert(out.frameArea.end(), chunk.begin(), chunk.end());
        }
        for (int t = 0; t < kTrackCount; ++t) {
            const SoundTrack& track = recipe.tracks[t];
            if (!track.present || (chunkSizes[t][f] == 0 && !track.emptyChunks)) continue;
            const std::uint32_t bytes = chunkSizes[t][f];
            type = static_cast<std::uint8_t>(type | (0x02 << t));
            const auto chunk = BuildAudioChunk(track, track.samples.data() + sampleOffset[t], bytes,
                                               recipe.stream.treeShape);
            sampleOffset[t] += bytes;
            if (bytes > out.layout.trackMaxBytes[t]) out.layout.trackMaxBytes[t] = bytes;
            if (chunk.size() > 0xFFFFFFFFu) {
                error = "an audio chunk of track " + std::to_string(t) + " is over 4 GB";
                return false;
            }
            out.frameArea.insert(out.frameArea.end(), chunk.begin(), chunk.end());
        }
        const auto chunk = video.EncodeFrame(frame.pictures);
        out.frameArea.insert(out.frameArea.end(), chunk.begin(), chunk.end());
        const std::size_t size = out.frameArea.size() - start;
        if (out.frameArea.size() > 0xFFFFFFFFu) {
            error = "the frames add up to more than 4 GB";
            return false;
        }
        out.layout.frameSizes.push_back(static_cast<std::uint32_t>(size));
        out.layout.frameTypes.push_back(type);
        if (recipe.progress) recipe.progress(f + 1, plan.size());
    }
    return true;
}

void PutHeader(const MovieRecipe& recipe, const MovieLayout& layout,
               std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {'Z', 'M', 'B', '2'});
    Put32(out, recipe.width);
    Put32(out, recipe.height);
    Put32(out, static_cast<std::uint32_t>(recipe.pictures.size()));
    Put32(out, static_cast<std::uint32_t>(recipe.frameRate));
    Put32(out, (recipe.ring ? kFileRing : 0) | (recipe.interlaced ? kFileInterlaced : 0) |
                   (recipe.doubled ? kFileDoubled : 0));
    for (std::uint32_t bytes : layout.trackMaxBytes) Put32(out, bytes);
    Put32(out, layout.treeDataSize);
    for (std::uint32_t size : layout.treeSizes) Put32(out, size);
    for (const SoundTrack& track : recipe.tracks) Put32(out, TrackFormatWord(track));
    Put32(out, 0);
}

}  // namespace

namespace {

std::uint64_t BytesPerSecond(const SoundTrack& track) {
    return std::uint64_t{track.sampleRate} * SampleFrameBytes(track);
}

// The most lead a track can have: the player's ring holds one second and two frames of
// sound (in 4,096-byte pages, at least two), and the first chunk, lead and a frame, must fit
// with a frame to spare. Whole sample frames.
std::uint32_t LargestLead(const SoundTrack& track, std::uint64_t period, std::uint64_t lead) {
    const std::uint64_t perSecond = BytesPerSecond(track);
    const std::uint64_t share = perSecond * period / 100000;
    const std::uint64_t ring =
        std::max<std::uint64_t>(8192, (perSecond + 2 * share + 4095) / 4096 * 4096);
    lead = std::min({lead, ring > 2 * share ? ring - 2 * share : 0, std::uint64_t{0x7FFFFFFF}});
    const std::uint32_t frameBytes = SampleFrameBytes(track);
    return static_cast<std::uint32_t>(lead / frameBytes * frameBytes);
}

}  // namespace

std::uint32_t AutomaticSoundLeadBytes(const SoundTrack& track, std::int32_t frameRate) {
    const std::uint64_t period = FramePeriod(frameRate);
    if (period == 0) return 0;
    const std::uint64_t perSecond = BytesPerSecond(track);
    const std::uint64_t playBuffer = (perSecond / 4 + 4095) / 4096 * 4096;
    return LargestLead(track, period, perSecond / 2 + playBuffer);
}

std::uint32_t SoundLeadBytes(const MovieRecipe& recipe, const SoundTrack& track) {
    const std::uint64_t period = FramePeriod(recipe.frameRate);
    if (recipe.soundLead == kAutomaticSoundLead)
        return AutomaticSoundLeadBytes(track, recipe.frameRate);
    if (recipe.soundLead <= 0 || period == 0) return 0;
    return LargestLead(track, period,
                       BytesPerSecond(track) * static_cast<std::uint64_t>(recipe.soundLead) / 1000);
}

WriteResult WriteMovie(const MovieRecipe& recipe) {
    WriteResult result;
    std::string& error = result.error;
    if (!CheckPictures(recipe, error)) return result;
    std::vector<Levels> levels(recipe.pictures.size());
    for (std::size_t i = 0; i < recipe.pictures.size(); ++i) {
        if (!PaletteToLevels(recipe.pictures[i].palette, recipe.paletteValues, levels[i], error)) {
            error = "picture " + std::to_string(i) + ": " + error;
            return result;
        }
    }
    std::array<std::vector<std::uint32_t>, kTrackCount> chunkSizes;
    for (int t = 0; t < kTrackCount; ++t)
        if (recipe.tracks[t].present && !TrackChunkSizes(recipe, t, chunkSizes[t], error))
            return result;

    std::vector<std::vector<std::uint8_t>> simplified;
    if (recipe.blockErrorBudget != 0)
        simplified = SimplifyPictures(recipe, levels, recipe.blockErrorBudget);
    std::vector<const std::uint8_t*> shown;
    for (std::size_t i = 0; i < recipe.pictures.size(); ++i)
        shown.push_back(simplified.empty() ? recipe.pictures[i].pixels.data()
                                           : simplified[i].data());
    const Levels blackPalette{};
    const std::vector<StoredFrame> plan = PlanFrames(recipe, shown, levels, blackPalette);
    std::vector<FramePictures> pictures;
    for (const StoredFrame& frame : plan) pictures.push_back(frame.pictures);
    VideoCoder video(recipe.width, recipe.height, recipe.stream);
    if (!video.BuildTrees(pictures, error)) return result;

    Assembly assembly;
    MovieLayout& layout = assembly.layout;
    if (!AssembleFrames(recipe, plan, video, chunkSizes, assembly, error)) return result;
    BitWriter treeBits;
    video.WriteTrees(treeBits);
    std::vector<std::uint8_t> treeData = treeBits.Bytes();
    // Word-wise readers may fetch a little past the last tree; give them zeros to find.
    treeData.resize((treeData.size() + 3) / 4 * 4 + 4, 0);

    layout.storedFrames = static_cast<std::uint32_t>(plan.size());
    layout.treeDataSize = static_cast<std::uint32_t>(treeData.size());
    for (int t = 0; t < kVideoTrees; ++t) {
        layout.treeNodes[t] = video.NodeCount(t);
        layout.treeSizes[t] = 4 * layout.treeNodes[t] + 12;
    }
    layout.firstFrameOffset = kHeaderBytes + 5 * layout.storedFrames + layout.treeDataSize;
    if (std::uint64_t{layout.firstFrameOffset} + assembly.frameArea.size() > 0xFFFFFFFFu) {
        error = "the movie would be larger than 4 GB";
        return result;
    }

    std::vector<std::uint8_t>& bytes = result.bytes;
    bytes.reserve(layout.firstFrameOffset + assembly.frameArea.size());
    PutHeader(recipe, layout, bytes);
    for (std::uint32_t size : layout.frameSizes) Put32(bytes, size);
    bytes.insert(bytes.end(), layout.frameTypes.begin(), layout.frameTypes.end());
    bytes.insert(bytes.end(), treeData.begin(), treeData.end());
    bytes.insert(bytes.end(), assembly.frameArea.begin(), assembly.frameArea.end());
    result.layout = std::move(layout);
    result.ok = true;
    return result;
}

bool WriteMovieFile(const MovieRecipe& recipe, const std::string& path, std::string* error) {
    const WriteResult result = WriteMovie(recipe);
    std::string reason = result.error;
    bool ok = result.ok;
    if (ok) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ok = file != nullptr;
        if (ok) {
            ok = std::fwrite(result.bytes.data(), 1, result.bytes.size(), file) ==
                 result.bytes.size();
            ok = std::fclose(file) == 0 && ok;
        }
        if (!ok) reason = path + ": " + std::strerror(errno);
    }
    if (!ok && error != nullptr) *error = reason;
    return ok;
}

}  // namespace zambrel::encoder
