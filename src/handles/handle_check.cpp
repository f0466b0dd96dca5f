// SPDX-License-Identifier: MIT
// Checked handles: where a movie stops being whole, its whole frames alone when the rest is
// damaged, what each picture's stream held, and the frame table as stored.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "decoder/bitstream.h"
#include "decoder/movie.h"
#include "decoder/painters.h"
#include "decoder/trees.h"
#include "decoder/video.h"
#include "handles/handle.h"

namespace {

enum class FaultKind : std::uint32_t { FileEnds, PaletteCut, PaletteOut, TrackCut, TrackOut };

// Tree data beyond this is not read for the tree checks; the open refuses trees that large.
constexpr std::uint32_t kLargestTreeData = 64u << 20;

constexpr const char* kTreeNames[] = {"pattern", "colour", "full", "type"};

std::uint32_t Word(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// Nothing to read is never passed on: the caller's reader may write through the buffer
// unconditionally, and an empty block has none.
bool ReadAt(const ZambReader& in, std::uint64_t offset, void* buffer, std::size_t size) {
    if (offset > in.Size || size > in.Size - offset) return false;
    if (size == 0) return true;
    if (in.Seek(in.Opaque, offset) != 0) return false;
    return in.Read(in.Opaque, buffer, size) == size;
}

std::string Plural(std::uint64_t n, const char* one) {
    return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

bool AddFault(FrameChecks& checks, const FrameFaultRecord& fault) {
    const std::size_t capacity = checks.faults.size / sizeof(FrameFaultRecord);
    if (checks.faultCount == capacity) {
        OwnedBytes larger;
        if (!larger.Reserve(std::max<std::size_t>(8, 2 * capacity) * sizeof(FrameFaultRecord)))
            return false;
        if (checks.faultCount != 0)
            std::memcpy(larger.data, checks.faults.data,
                        checks.faultCount * sizeof(FrameFaultRecord));
        checks.faults.Release();
        checks.faults = larger;
    }
    std::memcpy(checks.faults.data + checks.faultCount * sizeof(FrameFaultRecord), &fault,
                sizeof fault);
    checks.faultCount += 1;
    return true;
}

// The movie's header and frame tables as the open reads them, kept only for the checks.
struct StoredTables {
    Movie movie{};
    std::uint64_t TreeDataAt() const { return movie.FirstFrameOffset; }
};

// Walks the chunks of the frame at `offset`, `size` bytes long; a fault when they do not
// fit the frame. An empty picture chunk is a picture of single-leaf codes: whether the
// picture really needs no bits shows when it is decoded.
bool ChunkFault(const ZambReader& in, std::uint64_t offset, std::uint32_t size, std::uint8_t type,
                const Movie& header, FrameFaultRecord* fault) {
    std::uint64_t at = 0;
    if (type & ZAMB_FRAME_PALETTE) {
        std::uint8_t units = 0;
        if (size < 1 || !ReadAt(in, offset, &units, 1))
            return *fault = {0, std::uint16_t(FaultKind::PaletteCut), 0, 0, 0}, true;
        const std::uint32_t bytes = units * 4u;
        if (bytes < 4 || bytes > size)
            return *fault = {0, std::uint16_t(FaultKind::PaletteOut), 0, bytes, 0}, true;
        at = bytes;
    }
    for (std::uint32_t n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (!(type & (ZAMB_FRAME_TRACK0 << n))) continue;
        std::uint8_t length[4];
        if (at + 4 > size || !ReadAt(in, offset + at, length, 4))
            return *fault = {0, std::uint16_t(FaultKind::TrackCut), std::uint16_t(n), 0, 0}, true;
        const std::uint32_t bytes = Word(length);
        const std::uint32_t chunkHeader = header.TrackFormat[n] & ZAMB_TRACK_COMPRESSED ? 8 : 4;
        if (bytes < chunkHeader || at + bytes > size)
            return *fault = {0, std::uint16_t(FaultKind::TrackOut), std::uint16_t(n), bytes, 0},
                   true;
        at += bytes;
    }
    return false;
}

// Frames from the first on, against the input's length and their own chunk headers. A cut
// input ends the walk: nothing after it is there.
bool WalkFrames(const ZambReader& in, const StoredTables& stored, FrameChecks& checks) {
    const Movie& movie = stored.movie;
    std::uint64_t offset = stored.TreeDataAt() + std::uint64_t{movie.TreeDataSize};
    for (std::uint32_t i = 0; i < checks.stored; ++i) {
        const std::uint32_t size = movie.FrameSizes[i];
        if (offset + size > in.Size) {
            const std::uint64_t inside = offset < in.Size ? in.Size - offset : 0;
            return AddFault(checks, {i, std::uint16_t(FaultKind::FileEnds), 0, size,
                                     static_cast<std::uint32_t>(inside)});
        }
        FrameFaultRecord fault{};
        if (ChunkFault(in, offset, size, movie.FrameTypes[i], movie, &fault)) {
            fault.frame = i;
            if (!AddFault(checks, fault)) return false;
        }
        if (checks.faultCount == 0) checks.whole = i + 1;
        offset += size;
    }
    return true;
}

// A tree's nodes, read with the tree builder's syntax; 0 for an absent tree.
bool CountTreeNodes(BitReader& bits, std::uint32_t* nodes) {
    *nodes = 0;
    if (ReadBit(bits) == 0) return !bits.overrun;
    std::uint32_t low[kByteTreeBytes / 4], high[kByteTreeBytes / 4];
    low[0] = high[0] = kByteLeaf;
    if (ReadBit(bits) != 0 && ReadByteTree(bits, low) == 0) return false;
    if (ReadBit(bits) != 0 && ReadByteTree(bits, high) == 0) return false;
    for (int escape = 0; escape < 3; ++escape) ReadBits(bits, 16);
    // A pre-order tree ends with the leaf that closes every open internal node.
    std::uint64_t open = 0, count = 0;
    for (;;) {
        ++count;
        if (ReadBit(bits) != 0) {
            ++open;
        } else {
            DecodeByte(low, bits);
            DecodeByte(high, bits);
            if (open == 0) break;
            --open;
        }
        if (bits.overrun || count > kTreeBlockLimit) return false;
    }
    ReadBit(bits);  // the closing bit
    *nodes = static_cast<std::uint32_t>(count);
    return !bits.overrun;
}

// The trees whose header size leaves fewer nodes than the tree has: the builder then reads
// nodes that are not there. Input that does not hold four trees is the open's to refuse.
void CheckTreeSizes(const ZambReader& in, const StoredTables& stored, FrameChecks& checks) {
    const std::uint32_t size = stored.movie.TreeDataSize;
    if (size > kLargestTreeData || stored.TreeDataAt() + std::uint64_t{size} > in.Size) return;
    OwnedBytes data;
    if (!data.Reserve(size)) return;
    BitReader bits;
    StartBits(bits, data.data, data.data + size);
    std::uint32_t needed[kTreeCount] = {};
    bool read = ReadAt(in, stored.TreeDataAt(), data.data, size);
    for (int t = 0; read && t < kTreeCount; ++t) {
        std::uint32_t nodes = 0;
        read = CountTreeNodes(bits, &nodes);
        needed[t] = nodes == 0 ? 0 : kNodeBytes * (nodes + 3);
    }
    data.Release();
    if (!read) return;
    for (int t = 0; t < kTreeCount; ++t) {
        checks.treeSizes[t] = TreeSizes(&stored.movie)[t];
        checks.treeNeeded[t] = needed[t];
        if (checks.treeSizes[t] < needed[t]) checks.shortTrees |= 1u << t;
    }
}

std::string FaultReason(const FrameFaultRecord& fault, std::uint32_t stored) {
    const std::string track = "track " + std::to_string(fault.track) + "'s sound chunk";
    switch (static_cast<FaultKind>(fault.kind)) {
        case FaultKind::FileEnds:
            return "the file ends " + Plural(fault.inside, "byte") + " into this frame of " +
                   std::to_string(fault.bytes) + " (" + Plural(stored - fault.frame, "frame") +
                   " missing or cut)";
        case FaultKind::PaletteCut:
            return "the palette chunk is cut off";
        case FaultKind::PaletteOut:
            return "the palette chunk (" + Plural(fault.bytes, "byte") + ") runs out of its frame";
        case FaultKind::TrackCut:
            return track + " is cut off";
        case FaultKind::TrackOut:
            return track + " (" + Plural(fault.bytes, "byte") + ") runs out of its frame";
    }
    return "";
}

void CopyReason(const std::string& reason, char (&out)[160]) {
    std::snprintf(out, sizeof out, "%s", reason.c_str());
}

// Decodes the current picture with its stream's reading checked.
void DecodeCheckedPicture(ZambDecoder* decoder) {
    ChunkReading reading;
    DecodeCurrentPictureChecked(&decoder->movie, &reading);
    decoder->checks.pictureRead = true;
    decoder->checks.ranOut = reading.ranOut;
    decoder->checks.treesRead = reading.treesRead;
}

// The first damage of the current picture, in the order a reader of the movie meets it.
std::string PictureDamage(const FrameChecks& checks) {
    if (!checks.pictureRead) return "";
    if (checks.ranOut) return "the picture's stream ends before its last block";
    for (int t = 0; t < kTreeCount; ++t) {
        if (!(checks.treesRead & (1u << t))) continue;
        const std::string tree = std::string("the picture reads the ") + kTreeNames[t] + " tree";
        if (checks.absentTrees & (1u << t)) return tree + ", which the movie does not store";
        if (checks.shortTrees & (1u << t))
            return tree + ", whose size of " + Plural(checks.treeSizes[t], "byte") +
                   " is short of the " + std::to_string(checks.treeNeeded[t]) + " its nodes need";
    }
    return "";
}

bool CheckFramesOfInput(ZambDecoder* decoder) {
    FrameChecks& checks = decoder->checks;
    checks.made = true;
    ZambReader& in = decoder->reader;
    // A header or tables the open refuses are the open's to tell; a seek that fails, too.
    if (in.Seek(in.Opaque, 0) != 0) return true;
    StoredTables stored;
    const OpenFailure failure = ReadMovieTables(&stored.movie, &in);
    if (failure != OpenFailure::None) return failure != OpenFailure::NoMemory;
    checks.frameCount = stored.movie.FrameCount;
    checks.stored = StoredFrames(&stored.movie);
    const bool walked = WalkFrames(in, stored, checks);
    if (walked) CheckTreeSizes(in, stored, checks);
    ReleaseMovie(&stored.movie);
    return walked;
}

// The walk found whole frames, and not all of them.
bool CanOpenWholeFrames(const ZambDecoder* decoder) {
    const FrameChecks& checks = decoder->checks;
    return checks.whole != 0 && checks.whole != checks.stored;
}

// A checked open that the plain one refuses tries the movie's whole frames alone: what a
// damaged movie still holds can be decoded. The failed open has released what it took.
ZambError OpenCheckedMovie(ZambDecoder* decoder) {
    if (!CheckFramesOfInput(decoder)) return ZAMBERR_NO_MEMORY;
    ZambError result = OpenMovieOfReader(decoder);
    if (result != ZAMBERR_NONE && result != ZAMBERR_NO_MEMORY && CanOpenWholeFrames(decoder)) {
        decoder->movie = Movie{};
        if (OpenMovieOfReader(decoder, decoder->checks.whole) == ZAMBERR_NONE)
            result = ZAMBERR_NONE;
    }
    if (result != ZAMBERR_NONE) return result;
    NoteAbsentTrees(decoder);
    ChooseTracks(decoder);
    return ZAMBERR_NONE;
}

}  // namespace

void ReleaseChecks(ZambDecoder* decoder) {
    decoder->checks.faults.Release();
}

extern "C" {

ZambError ZambDecoderOpenChecked(const ZambReader* reader, std::uint32_t flags,
                                 ZambDecoder** decoder) {
    return OpenOverReader(reader, flags, decoder, &OpenCheckedMovie);
}

ZambError ZambDecoderCheckFrames(const ZambDecoder* decoder, ZambFrameCheck* check,
                                 ZambFrameFault* faults, std::uint32_t capacity) {
    if (decoder == nullptr || check == nullptr || (faults == nullptr && capacity != 0) ||
        !decoder->checks.made)
        return ZAMBERR_INVALID_ARGUMENT;
    const FrameChecks& checks = decoder->checks;
    *check = {checks.frameCount, checks.stored, checks.whole, checks.faultCount};
    const auto* records = reinterpret_cast<const FrameFaultRecord*>(checks.faults.data);
    for (std::uint32_t i = 0; i < std::min(capacity, checks.faultCount); ++i) {
        faults[i].Frame = records[i].frame;
        CopyReason(FaultReason(records[i], checks.stored), faults[i].Reason);
    }
    return ZAMBERR_NONE;
}

ZambError ZambDecoderCheckPictures(ZambDecoder* decoder) {
    if (decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    decoder->checks.checkedPicture = &DecodeCheckedPicture;
    return ZAMBERR_NONE;
}

ZambError ZambDecoderGetFrameDamage(const ZambDecoder* decoder, ZambFrameDamage* damage,
                                    std::size_t size) {
    if (decoder == nullptr || damage == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    if (!decoder->frameCurrent) return ZAMBERR_NO_FRAME;
    const FrameChecks& checks = decoder->checks;
    ZambFrameDamage facts{};
    if (checks.pictureRead) {
        facts.PictureRanOut = checks.ranOut ? 1 : 0;
        // A tree the picture never took a value from made up nothing in it.
        facts.TreesRead = checks.treesRead;
        facts.AbsentTrees = checks.absentTrees & checks.treesRead;
        facts.ShortTrees = checks.shortTrees & checks.treesRead;
        CopyReason(PictureDamage(checks), facts.Reason);
    }
    std::memcpy(damage, &facts, std::min(size, sizeof facts));
    return ZAMBERR_NONE;
}

ZambError ZambDecoderGetStoredFrame(const ZambDecoder* decoder, std::uint32_t frame,
                                    ZambStoredFrame* stored, std::size_t size) {
    if (decoder == nullptr || stored == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const Movie& movie = decoder->movie;
    if (frame >= StoredFrames(&movie)) return ZAMBERR_NO_FRAME;
    const ZambStoredFrame facts{movie.FrameSizes[frame], movie.FrameTypes[frame]};
    std::memcpy(stored, &facts, std::min(size, sizeof facts));
    return ZAMBERR_NONE;
}

ZambError ZambDecoderGetFrameSizes(const ZambDecoder* decoder, ZambFrameSizes* sizes,
                                   std::size_t size) {
    if (decoder == nullptr || sizes == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const Movie& movie = decoder->movie;
    const ZambFrameSizes facts{movie.LargestFrame, movie.AverageFrame, movie.PeakSecondBytes,
                               movie.PeakSecondFrame};
    std::memcpy(sizes, &facts, std::min(size, sizeof facts));
    return ZAMBERR_NONE;
}

}  // extern "C"
