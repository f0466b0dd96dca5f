// SPDX-License-Identifier: MIT
// The movie writer: checks the recipe, lays out the frames and assembles the file.
#include "encoder/writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zambrel/movie.h"
#include "encoder/audio_chunk.h"
#include "encoder/frame_pipeline.h"
#include "encoder/lossy.h"
#include "encoder/palette_chunk.h"
#include "encoder/parts.h"
#include "encoder/video_coder.h"

namespace zambrel::encoder {
namespace {

constexpr std::uint32_t kMaxSide = 65532;
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;
// The sample rate fills the low bits of a track's format word.
constexpr std::uint32_t kMaxSampleRate = ZAMB_TRACK_RATE_MASK;

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t StoredFrameCount(const MovieRecipe& recipe, std::uint32_t pictures) {
    return pictures + (recipe.ring ? 1 : 0);
}

// The frame period in 1/100 ms.
std::uint64_t FramePeriod(std::int32_t frameRate) {
    if (frameRate > 0) return static_cast<std::uint64_t>(frameRate) * 100;
    if (frameRate < 0) return static_cast<std::uint64_t>(-static_cast<std::int64_t>(frameRate));
    return 0;
}

bool CheckGeometry(const MovieRecipe& recipe, std::string& error) {
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
    return true;
}

bool CheckPictureCount(const MovieRecipe& recipe, std::size_t pictures, std::string& error) {
    if (pictures == 0) {
        error = "a movie needs at least one picture";
        return false;
    }
    if (recipe.ring && pictures < 2) {
        error = "a ring frame needs at least two pictures";
        return false;
    }
    // The header counts frames in 32 bits.
    if (pictures >= 0xFFFFFFFFu) {
        error = "a movie holds fewer than 4,294,967,295 pictures";
        return false;
    }
    return true;
}

bool CheckPictureSize(const MovieRecipe& recipe, std::size_t index, const Picture& picture,
                      std::string& error) {
    const std::size_t pixels = std::size_t{recipe.width} * recipe.height;
    if (picture.pixels.size() == pixels) return true;
    error = "picture " + std::to_string(index) + " has " + std::to_string(picture.pixels.size()) +
            " pixels, not " + std::to_string(pixels);
    return false;
}

bool CheckPictures(const MovieRecipe& recipe, std::string& error) {
    if (!CheckGeometry(recipe, error) || !CheckPictureCount(recipe, recipe.pictures.size(), error))
        return false;
    for (std::size_t i = 0; i < recipe.pictures.size(); ++i)
        if (!CheckPictureSize(recipe, i, recipe.pictures[i], error)) return false;
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

// What one stored frame shows (with its palette) and what it is painted and coloured over.
struct StoredFrame {
    FramePictures pictures;
    const Levels* previousPalette;
};

bool AllChunkSizes(const MovieRecipe& recipe, std::uint32_t pictures,
                   std::array<std::vector<std::uint32_t>, kTrackCount>& sizes, std::string& error) {
    for (int t = 0; t < kTrackCount; ++t)
        if (recipe.tracks[t].present && !TrackChunkSizes(recipe, pictures, t, sizes[t], error))
            return false;
    return true;
}

ZambMovie HeaderOf(const MovieRecipe& recipe, std::uint32_t pictures, const MovieLayout& layout) {
    ZambMovie header{};
    std::memcpy(header.Magic, ZAMB_MAGIC, ZAMB_MAGIC_BYTES);
    header.Width = recipe.width;
    header.Height = recipe.height;
    header.FrameCount = pictures;
    header.FrameRate = recipe.frameRate;
    header.FileFlags = (recipe.ring ? ZAMB_FILE_RING : 0) |
                       (recipe.interlaced ? ZAMB_FILE_INTERLACED : 0) |
                       (recipe.doubled ? ZAMB_FILE_DOUBLED : 0);
    std::copy(layout.trackMaxBytes.begin(), layout.trackMaxBytes.end(), header.TrackMaxBytes);
    header.TreeDataSize = layout.treeDataSize;
    header.PatternTreeSize = layout.treeSizes[0];
    header.ColourTreeSize = layout.treeSizes[1];
    header.FullTreeSize = layout.treeSizes[2];
    header.TypeTreeSize = layout.treeSizes[3];
    for (int t = 0; t < kTrackCount; ++t) header.TrackFormat[t] = TrackFormatWord(recipe.tracks[t]);
    return header;
}

void PutHeader(const MovieRecipe& recipe, std::uint32_t pictures, const MovieLayout& layout,
               std::vector<std::uint8_t>& out) {
    PutMovieHeader(HeaderOf(recipe, pictures, layout), out);
}

}  // namespace

std::uint32_t TrackFormatWord(const SoundTrack& track) {
    if (!track.present) return 0;
    std::uint32_t word = ZAMB_TRACK_PRESENT | (track.sampleRate & ZAMB_TRACK_RATE_MASK);
    if (track.compressed) word |= ZAMB_TRACK_COMPRESSED;
    if (track.is16Bit) word |= ZAMB_TRACK_16BIT;
    if (track.stereo) word |= ZAMB_TRACK_STEREO;
    return word;
}

// The record's fields are laid out as every reader reads the header; written after the
// magic a word at a time in the format's byte order, whatever the machine's.
void PutMovieHeader(const ZambMovie& header, std::vector<std::uint8_t>& out) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
    out.insert(out.end(), bytes, bytes + ZAMB_MAGIC_BYTES);
    for (std::size_t at = ZAMB_MAGIC_BYTES; at < ZAMB_HEADER_BYTES; at += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes + at, sizeof word);
        Put32(out, word);
    }
}

bool TrackChunkSizes(const MovieRecipe& recipe, std::uint32_t pictures, int index,
                     std::vector<std::uint32_t>& sizes, std::string& error) {
    const SoundTrack& track = recipe.tracks[index];
    const std::string name = "track " + std::to_string(index);
    const std::uint32_t frameBytes = SampleFrameBytes(track);
    const std::uint32_t stored = StoredFrameCount(recipe, pictures);
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

namespace {

// How a picture waits in the picture spool: its levels and pixels, or, for a picture shown
// exactly as the one before it (a held last picture, a still scene), this mark alone.
constexpr std::uint8_t kNewPicture = 0, kSamePicture = 1;

// Pieces in which the coded frames are handed on.
constexpr std::size_t kCopyBytes = std::size_t{1} << 16;

}  // namespace

struct MovieWriter::State {
    State(const MovieRecipe& r, Spool& p, Spool& f)
        : recipe(r),
          pictures(p),
          frames(f),
          pixels(std::size_t{r.width} * r.height),
          simplifier(r.width, r.height, r.blockErrorBudget),
          lossless(r.blockErrorBudget == 0 &&
                   std::all_of(r.pictureErrorBudgets.begin(), r.pictureErrorBudgets.end(),
                               [](std::uint32_t b) { return b == 0; })),
          video(r.width, r.height, r.stream, !lossless) {
        simplifier.Reserve(r.reservedEntries);
        simplifier.SetThreads(r.threads);
        video.Reserve(r.reservedEntries);
        video.SetThreads(r.threads);
    }

    bool Fail(const std::string& reason) {
        if (error.empty()) error = reason;
        return false;
    }
    bool Add(const Picture& picture);
    bool CountFrame(const Levels& levels);
    StoredFrame RingFrame(const std::vector<std::uint8_t>& last, const Levels& lastLevels) const;
    bool KeepReserved(const Picture& picture, Levels& levels);
    bool SpoolPicture(const Levels& levels);
    bool ForEachStoredFrame(const std::function<bool(const StoredFrame&)>& visit);
    bool ReadPicture(std::vector<std::uint8_t>& into, Levels& levels, bool& same);
    bool Finish();
    bool CodeFrames();
    bool CodeFrame(const FramePictures& frame, const Levels& previousPalette,
                   const std::vector<std::uint8_t>& picture, std::size_t index);
    void LayOut();
    bool WriteTo(const std::function<bool(const std::uint8_t*, std::size_t)>& write);

    const MovieRecipe& recipe;
    Spool& pictures;
    Spool& frames;
    const std::size_t pixels;
    Simplifier simplifier;
    const bool lossless;
    VideoCoder video;
    std::string error;
    bool checkedGeometry = false, finished = false;
    std::uint32_t count = 0;
    // The last picture as it will be shown, which the next one is simplified against.
    std::vector<std::uint8_t> shown, previous;
    Levels previousLevels{};
    // The first picture as shown, which the ring frame turns the last back into.
    std::vector<std::uint8_t> first;
    Levels firstLevels{};
    std::array<std::vector<std::uint32_t>, kTrackCount> chunkSizes;
    std::array<std::size_t, kTrackCount> sampleOffset{};
    std::uint64_t frameAreaBytes = 0;
    std::vector<std::uint8_t> treeData;
    MovieLayout layout;
};

bool MovieWriter::State::Add(const Picture& picture) {
    if (!error.empty()) return false;
    if (!checkedGeometry && !CheckGeometry(recipe, error)) return false;
    checkedGeometry = true;
    if (finished) return Fail("the movie is already finished");
    if (!CheckPictureSize(recipe, count, picture, error)) return false;
    if (count == 0xFFFFFFFEu) return Fail("a movie holds fewer than 4,294,967,295 pictures");
    Levels levels;
    if (!PaletteToLevels(picture.palette, recipe.paletteValues, levels, error)) {
        error = "picture " + std::to_string(count) + ": " + error;
        return false;
    }
    if (!KeepReserved(picture, levels)) return false;
    const std::uint32_t budget = count < recipe.pictureErrorBudgets.size()
                                     ? recipe.pictureErrorBudgets[count]
                                     : recipe.blockErrorBudget;
    if (budget == 0)
        shown.assign(picture.pixels.begin(), picture.pixels.end());
    else {
        shown.resize(pixels);
        simplifier.SetBudget(budget);
        simplifier.Simplify(picture.pixels.data(), levels, count == 0 ? nullptr : previous.data(),
                            shown.data());
    }
    if (!CountFrame(levels) || !SpoolPicture(levels)) return false;
    if (count == 0 && recipe.ring) first = shown, firstLevels = levels;
    shown.swap(previous);
    previousLevels = levels;
    ++count;
    return true;
}

// Reserved entries stay black, as the player starts them, so that no palette chunk sets
// them; no picture may show them.
bool MovieWriter::State::KeepReserved(const Picture& picture, Levels& levels) {
    const auto& reserved = recipe.reservedEntries;
    if (std::none_of(reserved.begin(), reserved.end(), [](bool r) { return r; })) return true;
    for (int e = 0; e < 256; ++e)
        if (reserved[static_cast<std::size_t>(e)])
            levels[3 * e] = levels[3 * e + 1] = levels[3 * e + 2] = 0;
    const auto used = std::find_if(picture.pixels.begin(), picture.pixels.end(),
                                   [&](std::uint8_t p) { return reserved[p]; });
    if (used == picture.pixels.end()) return true;
    return Fail("picture " + std::to_string(count) + " uses palette entry " +
                std::to_string(*used) + ", which is reserved");
}

// On threads the frame is counted for the trees as it comes, beside the work on the pictures
// after it, so that finishing, which runs mostly on one thread, builds the trees without
// reading the pictures back. On one thread that moves no work off the end, and counting
// there finds the counts in the cache. A lossless movie whose pictures fill a tree with
// every value cannot be written; it is counted as it comes to refuse it at that picture.
bool MovieWriter::State::CountFrame(const Levels& levels) {
    if (UsableThreads(recipe.threads) == 1 && !lossless) return true;
    const char* tree = nullptr;
    const FramePictures frame{shown.data(), count == 0 ? nullptr : previous.data(), &levels,
                              levels == previousLevels};
    if (video.Count(frame, &tree) || !lossless) return true;
    return Fail("picture " + std::to_string(count) + ": the " + tree +
                " tree needs all 65,536 values, leaving none for its escapes (a lossy movie can "
                "give one up)");
}

// The frame after the last picture that turns it back into the first.
StoredFrame MovieWriter::State::RingFrame(const std::vector<std::uint8_t>& last,
                                          const Levels& lastLevels) const {
    return {{first.data(), last.data(), &firstLevels, firstLevels == lastLevels}, &lastLevels};
}

bool MovieWriter::State::SpoolPicture(const Levels& levels) {
    const bool same = count > 0 && levels == previousLevels && shown == previous;
    const std::uint8_t mark = same ? kSamePicture : kNewPicture;
    const bool ok =
        pictures.Write(&mark, 1) && (same || (pictures.Write(levels.data(), levels.size()) &&
                                              pictures.Write(shown.data(), shown.size())));
    return ok || Fail(pictures.Failure());
}

bool MovieWriter::State::ReadPicture(std::vector<std::uint8_t>& into, Levels& levels, bool& same) {
    std::uint8_t mark = 0;
    if (!pictures.Read(&mark, 1)) return Fail(pictures.Failure());
    same = mark == kSamePicture;
    if (same) return true;
    if (mark != kNewPicture || !pictures.Read(levels.data(), levels.size()) ||
        !pictures.Read(into.data(), into.size()))
        return Fail(pictures.Failure());
    return true;
}

// Reads the pictures back from their spool and shows `visit` every stored frame in order:
// the ring frame last, turning the last picture back into the first.
bool MovieWriter::State::ForEachStoredFrame(const std::function<bool(const StoredFrame&)>& visit) {
    if (!pictures.Rewind()) return Fail(pictures.Failure());
    std::vector<std::uint8_t> current(pixels), before(pixels);
    Levels levels{}, beforeLevels{};
    const Levels blackPalette{};
    for (std::uint32_t i = 0; i < count; ++i) {
        current.swap(before);
        beforeLevels = levels;
        bool same = false;
        if (!ReadPicture(current, levels, same)) return false;
        if (same) current = before;
        // Frame 0 is also where a movie without a ring frame starts again, on a picture
        // that is not its last one: nothing may be skipped there.
        const StoredFrame frame{
            {current.data(), i == 0 ? nullptr : before.data(), &levels, levels == beforeLevels},
            i == 0 ? &blackPalette : &beforeLevels};
        if (!visit(frame)) return false;
    }
    return !recipe.ring || visit(RingFrame(current, levels));
}

bool MovieWriter::State::Finish() {
    if (!error.empty()) return false;
    if (finished) return true;
    if (!CheckGeometry(recipe, error) || !CheckPictureCount(recipe, count, error) ||
        !AllChunkSizes(recipe, count, chunkSizes, error))
        return false;
    const VideoCoder::FrameSource source = [this](const auto& take) {
        return ForEachStoredFrame([&](const StoredFrame& frame) {
            take(frame.pictures);
            return true;
        });
    };
    // Where Add counted every picture's frame, only the ring frame is left.
    const VideoCoder::FrameSource ring = [this](const auto& take) {
        if (recipe.ring) take(RingFrame(previous, previousLevels).pictures);
        return true;
    };
    if (!video.BuildTrees(source, ring, error) || !CodeFrames()) return false;
    LayOut();
    if (std::uint64_t{layout.firstFrameOffset} + frameAreaBytes > 0xFFFFFFFFu)
        return Fail("the movie would be larger than 4 GB");
    finished = true;
    return true;
}

bool MovieWriter::State::CodeFrames() {
    std::size_t index = 0;
    const std::uint32_t stored = StoredFrameCount(recipe, count);
    // The frames' video is coded on the threads (each frame's on its own), and the frames are
    // assembled and written in playing order on this one.
    std::vector<std::vector<std::uint8_t>> videos;
    FramePipeline pipeline(
        recipe.threads, pixels,
        [&](std::size_t slot, const FramePictures& frame) {
            videos[slot] = video.EncodeFrame(frame);
        },
        [&](std::size_t slot, const FramePictures& frame, const Levels& previousPalette) {
            if (!CodeFrame(frame, previousPalette, videos[slot], index++)) return false;
            if (recipe.progress) recipe.progress(index, stored);
            return true;
        });
    videos.resize(pipeline.Slots());
    return ForEachStoredFrame([&](const StoredFrame& frame) {
               return pipeline.Add(frame.pictures, frame.previousPalette);
           }) &&
           pipeline.Finish();
}

bool MovieWriter::State::CodeFrame(const FramePictures& frame, const Levels& previousPalette,
                                   const std::vector<std::uint8_t>& picture, std::size_t f) {
    std::vector<std::uint8_t> chunks;
    std::uint8_t type = 0;
    if (f == 0 || recipe.stream.paletteEveryFrame || *frame.palette != previousPalette) {
        type |= ZAMB_FRAME_PALETTE;
        const auto chunk = BuildPaletteChunk(previousPalette, *frame.palette);
        chunks.insert(chunks.end(), chunk.begin(), chunk.end());
    }
    for (int t = 0; t < kTrackCount; ++t) {
        const SoundTrack& track = recipe.tracks[t];
        if (!track.present || (chunkSizes[t][f] == 0 && !track.emptyChunks)) continue;
        const std::uint32_t bytes = chunkSizes[t][f];
        type = static_cast<std::uint8_t>(type | (ZAMB_FRAME_TRACK0 << t));
        const auto chunk = BuildAudioChunk(track, track.samples.data() + sampleOffset[t], bytes,
                                           recipe.stream.treeShape);
        sampleOffset[t] += bytes;
        if (bytes > layout.trackMaxBytes[t]) layout.trackMaxBytes[t] = bytes;
        if (chunk.size() > 0xFFFFFFFFu)
            return Fail("an audio chunk of track " + std::to_string(t) + " is over 4 GB");
        chunks.insert(chunks.end(), chunk.begin(), chunk.end());
    }
    chunks.insert(chunks.end(), picture.begin(), picture.end());
    frameAreaBytes += chunks.size();
    if (frameAreaBytes > 0xFFFFFFFFu) return Fail("the frames add up to more than 4 GB");
    if (!frames.Write(chunks.data(), chunks.size())) return Fail(frames.Failure());
    layout.frameSizes.push_back(static_cast<std::uint32_t>(chunks.size()));
    layout.frameTypes.push_back(type);
    return true;
}

void MovieWriter::State::LayOut() {
    BitWriter treeBits;
    video.WriteTrees(treeBits);
    treeData = treeBits.Bytes();
    // Word-wise readers may fetch a little past the last tree; give them zeros to find.
    treeData.resize((treeData.size() + 3) / 4 * 4 + 4, 0);
    layout.storedFrames = StoredFrameCount(recipe, count);
    layout.treeDataSize = static_cast<std::uint32_t>(treeData.size());
    for (int t = 0; t < kVideoTrees; ++t) {
        layout.treeNodes[t] = video.NodeCount(t);
        layout.treeSizes[t] = 4 * layout.treeNodes[t] + 12;
    }
    const std::uint64_t offset =
        std::uint64_t{ZAMB_HEADER_BYTES} + 5 * std::uint64_t{layout.storedFrames} + treeData.size();
    // Past 4 GB the movie is refused anyway; keep the offset from wrapping before that.
    layout.firstFrameOffset = static_cast<std::uint32_t>(std::min<std::uint64_t>(offset, ~0u));
}

bool MovieWriter::State::WriteTo(
    const std::function<bool(const std::uint8_t*, std::size_t)>& write) {
    if (!finished) return Fail(error.empty() ? "the movie is not finished" : error);
    std::vector<std::uint8_t> head;
    head.reserve(layout.firstFrameOffset);
    PutHeader(recipe, count, layout, head);
    for (std::uint32_t size : layout.frameSizes) Put32(head, size);
    head.insert(head.end(), layout.frameTypes.begin(), layout.frameTypes.end());
    head.insert(head.end(), treeData.begin(), treeData.end());
    if (!write(head.data(), head.size())) return false;
    if (!frames.Rewind()) return Fail(frames.Failure());
    std::vector<std::uint8_t> piece(kCopyBytes);
    for (std::uint64_t left = frameAreaBytes; left > 0;) {
        const std::size_t size =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyBytes));
        if (!frames.Read(piece.data(), size)) return Fail(frames.Failure());
        if (!write(piece.data(), size)) return false;
        left -= size;
    }
    return true;
}

MovieWriter::MovieWriter(const MovieRecipe& recipe, Spool& pictures, Spool& frames)
    : state_(std::make_unique<State>(recipe, pictures, frames)) {}

MovieWriter::~MovieWriter() = default;

bool MovieWriter::Add(const Picture& picture) {
    return state_->Add(picture);
}

std::uint32_t MovieWriter::PictureCount() const {
    return state_->count;
}

bool MovieWriter::Finish() {
    return state_->Finish();
}

bool MovieWriter::WriteTo(const std::function<bool(const std::uint8_t*, std::size_t)>& write) {
    return state_->WriteTo(write);
}

const std::string& MovieWriter::Error() const {
    return state_->error;
}

const MovieLayout& MovieWriter::Layout() const {
    return state_->layout;
}

WriteResult WriteMovie(const MovieRecipe& recipe) {
    WriteResult result;
    std::string& error = result.error;
    // Everything that can be told from the recipe is checked before any picture is coded,
    // in the order a caller sees the reasons.
    if (!CheckPictures(recipe, error)) return result;
    for (std::size_t i = 0; i < recipe.pictures.size(); ++i) {
        Levels levels;
        if (!PaletteToLevels(recipe.pictures[i].palette, recipe.paletteValues, levels, error)) {
            error = "picture " + std::to_string(i) + ": " + error;
            return result;
        }
    }
    std::array<std::vector<std::uint32_t>, kTrackCount> chunkSizes;
    const auto count = static_cast<std::uint32_t>(recipe.pictures.size());
    if (!AllChunkSizes(recipe, count, chunkSizes, error)) return result;

    MemorySpool pictures, frames;
    MovieWriter writer(recipe, pictures, frames);
    for (const Picture& picture : recipe.pictures)
        if (!writer.Add(picture)) break;
    const auto append = [&](const std::uint8_t* data, std::size_t size) {
        result.bytes.insert(result.bytes.end(), data, data + size);
        return true;
    };
    if (!writer.Finish() || !writer.WriteTo(append)) {
        error = writer.Error();
        result.bytes.clear();
        return result;
    }
    result.layout = writer.Layout();
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
