// SPDX-License-Identifier: MIT
// The video side of the writer: block choice, the four value trees and the video chunks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "encoder/bit_writer.h"
#include "encoder/code_tree.h"
#include "encoder/palette_chunk.h"
#include "encoder/writer.h"

namespace zambrel::encoder {

enum VideoTree { kPatternTree = 0, kColourTree = 1, kFullTree = 2, kTypeTree = 3, kVideoTrees = 4 };

// One stored frame's video: the picture it shows and the picture it is painted over, or
// null when nothing defined is on screen before it (the first frame), so no block may skip.
// The palette it is shown with matters only to a movie with a banned pair (below).
struct FramePictures {
    const std::uint8_t* picture;
    const std::uint8_t* previous;
    const Levels* palette = nullptr;
    bool paletteKept = true;  // shown with the palette of the picture before it
};

// Per-pixel noise in 256 colours holds every one of the 65,536 pixel pairs, so a full tree
// holding them all would leave no value for its escapes, and the reader none to tell its
// inner nodes by. A lossy movie then gives up one pair, (colour, colour): in full blocks
// its second pixel is shown in the nearest other colour of the frame's palette. Such a pair
// can be held by no other tree (odd, so no pattern; one colour twice, so no colour pair; a
// full-block type word with a colour byte, which no type word has) and so stays free.
struct BannedPair {
    bool active = false;
    std::uint8_t colour = 0;
    const std::array<bool, 256>* reserved = nullptr;  // entries no stand-in may be
};

// A value the reader decodes: which tree, and the 16-bit value it must come out as.
struct VideoValue {
    std::uint8_t tree;
    std::uint16_t value;
};

// The values of one frame's video chunk in stream order: type words and block data.
std::vector<VideoValue> FrameValues(const FramePictures& frame, std::uint32_t width,
                                    std::uint32_t height, const StreamOptions& options,
                                    const BannedPair& ban = {});

// One 16-bit value tree as written: the code tree over its symbols (literal values and the
// escapes it uses), its two byte trees and its escape values.
struct ValueTree {
    bool present = false;
    CodeTree codes;
    ByteTree low, high;
    std::array<std::uint16_t, 3> escapes{};
    unsigned usableEscapes = 0;               // escapes 0 .. usableEscapes-1 may be coded
    std::vector<std::int32_t> symbolOfValue;  // 65,536 literals then 3 escapes -> symbol, -1
    std::vector<std::uint16_t> leafValue;     // symbol -> the value its leaf carries
};

class VideoCoder {
  public:
    // `mayAlter`: the movie is lossy, so a pair may be banned (see BannedPair).
    VideoCoder(std::uint32_t width, std::uint32_t height, const StreamOptions& options,
               bool mayAlter)
        : width_(width), height_(height), options_(options), mayAlter_(mayAlter) {}
    // Entries a stand-in for a banned pair may not be; must outlive the coder.
    void Reserve(const std::array<bool, 256>& reserved) { ban_.reserved = &reserved; }
    // Threads the frames' values may be worked out on; the trees come out the same.
    void SetThreads(unsigned threads) { threads_ = threads; }

    // Calls its argument for every stored frame, in any order; false if it could not.
    using FrameSource = std::function<bool(const std::function<void(const FramePictures&)>&)>;

    // Counts a stored frame's values as the frames come, so that BuildTrees need not go
    // through them again unless the count leaves a tree no room for its escapes. False once
    // some tree holds all 65,536 values as literals (`full` then names it), which a lossless
    // movie cannot be written with: it is refused at the frame that fills the tree rather
    // than after every frame has come.
    bool Count(const FramePictures& frame, const char** full);

    // Builds the trees from the values of all frames: those given to Count and those `rest`
    // gives, or, when none was given to Count, all that `frames` gives. When those counts
    // leave a tree no room for its escapes it counts again all that `frames` gives, as often
    // as need be. Fails when a tree needs every one of the 65,536
    // values, leaving none to serve as an escape value, and no pair may be banned, or when
    // a source fails (then `error` is left to it).
    bool BuildTrees(const FrameSource& frames, const FrameSource& rest, std::string& error);
    void WriteTrees(BitWriter& out) const;
    // May be called for several frames at once, on different threads.
    std::vector<std::uint8_t> EncodeFrame(const FramePictures& frame) const;
    // Nodes of each tree's code tree, 0 for an absent tree.
    std::uint32_t NodeCount(int tree) const;

  private:
    bool Settled(const std::array<std::vector<std::uint64_t>, kVideoTrees>& counts,
                 std::array<unsigned, 4>& usable, std::string& error);

    std::uint32_t width_, height_;
    StreamOptions options_;
    bool mayAlter_;
    unsigned threads_ = 1;
    BannedPair ban_;
    std::array<ValueTree, kVideoTrees> trees_;
    // What Count has counted: each tree's symbols, and how many literal values it holds.
    std::array<std::vector<std::uint64_t>, kVideoTrees> counted_;
    std::array<std::uint32_t, kVideoTrees> literals_{};
};

}  // namespace zambrel::encoder
