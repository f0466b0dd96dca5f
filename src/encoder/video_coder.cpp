// SPDX-License-Identifier: MIT
// The video side of the writer: block choice, the four value trees and the video chunks.
#include "encoder/video_coder.h"

#include <algorithm>

#include "encoder/frame_pipeline.h"
#include "encoder/parts.h"

namespace zambrel::encoder {
namespace {

enum BlockType : std::uint8_t {
    kMono = ZAMB_BLOCK_MONO,
    kFull = ZAMB_BLOCK_FULL,
    kSkip = ZAMB_BLOCK_SKIP,
    kSolid = ZAMB_BLOCK_SOLID
};

constexpr std::array<std::uint16_t, 64> kRunLengths = [] {
    std::array<std::uint16_t, 64> table{};
    for (int i = 0; i < 59; ++i) table[i] = static_cast<std::uint16_t>(i + 1);
    table[59] = 128;
    table[60] = 256;
    table[61] = 512;
    table[62] = 1024;
    table[63] = 2048;
    return table;
}();
constexpr std::uint32_t kLongestRun = 2048;
constexpr std::uint32_t kValues = 65536;
constexpr std::uint32_t kEscapeSymbol = kValues;  // + escape number

struct Block {
    BlockType type;
    std::uint8_t colour;  // solid blocks
    std::array<std::uint8_t, 16> pixels;
};

bool HasBannedPair(const std::array<std::uint8_t, 16>& p, const BannedPair& ban) {
    if (!ban.active) return false;
    for (int row = 0; row < 16; row += 4)
        for (int column = 0; column < 4; column += 2)
            if (p[row + column] == ban.colour && p[row + column + 1] == ban.colour) return true;
    return false;
}

// The palette's nearest other colour to `colour` that is not reserved; without a palette,
// its neighbour.
std::uint8_t StandIn(const Levels* palette, std::uint8_t colour, const BannedPair& ban) {
    if (palette == nullptr) return static_cast<std::uint8_t>(colour ^ 1);
    const Levels& l = *palette;
    std::uint32_t best = ~0u;
    std::uint8_t chosen = static_cast<std::uint8_t>(colour ^ 1);
    for (int c = 0; c < 256; ++c) {
        if (c == colour ||
            (ban.reserved != nullptr && (*ban.reserved)[static_cast<std::size_t>(c)]))
            continue;
        std::uint32_t distance = 0;
        for (int k = 0; k < 3; ++k) {
            const int d = l[3 * c + k] - l[3 * colour + k];
            distance += static_cast<std::uint32_t>(d * d);
        }
        if (distance < best) best = distance, chosen = static_cast<std::uint8_t>(c);
    }
    return chosen;
}

void ReplaceBannedPairs(std::array<std::uint8_t, 16>& p, const BannedPair& ban,
                        const Levels* palette) {
    const std::uint8_t standIn = StandIn(palette, ban.colour, ban);
    for (int row = 0; row < 16; row += 4)
        for (int column = 0; column < 4; column += 2)
            if (p[row + column] == ban.colour && p[row + column + 1] == ban.colour)
                p[row + column + 1] = standIn;
}

Block ReadBlock(const FramePictures& frame, std::uint32_t width, std::uint32_t bx, std::uint32_t by,
                const StreamOptions& options, const BannedPair& ban) {
    Block block{};
    bool unchanged = frame.previous != nullptr && !options.noSkip;
    for (std::uint32_t y = 0; y < 4; ++y) {
        const std::size_t row = (static_cast<std::size_t>(by) * 4 + y) * width + bx * 4;
        for (std::uint32_t x = 0; x < 4; ++x) {
            block.pixels[y * 4 + x] = frame.picture[row + x];
            if (unchanged && frame.previous[row + x] != frame.picture[row + x]) unchanged = false;
        }
    }
    // A kept block shows the stand-in chosen under the palette it was painted with.
    const bool banned = HasBannedPair(block.pixels, ban);
    if (unchanged && !(banned && !frame.paletteKept)) {
        block.type = kSkip;
        return block;
    }
    const std::uint8_t first = block.pixels[0];
    int colours = 1;
    std::uint8_t second = first;
    for (std::uint8_t p : block.pixels) {
        if (p == first || (colours == 2 && p == second)) continue;
        if (colours == 2) {
            colours = 3;
            break;
        }
        second = p;
        colours = 2;
    }
    block.type = options.fullBlocksOnly || colours == 3 ? kFull : colours == 2 ? kMono : kSolid;
    block.colour = first;
    if (banned && block.type == kFull) ReplaceBannedPairs(block.pixels, ban, frame.palette);
    return block;
}

bool SameRun(const Block& a, const Block& b) {
    return a.type == b.type && (a.type != kSolid || a.colour == b.colour);
}

int LargestIndexAtMost(std::uint32_t length) {
    int index = 63;
    while (kRunLengths[index] > length) --index;
    return index;
}

int SmallestIndexAbove(std::uint32_t length) {
    for (int index = 0; index < 64; ++index)
        if (kRunLengths[index] > length) return index;
    return 63;
}

void AddBlockValues(const Block& block, std::vector<VideoValue>& values) {
    const auto& p = block.pixels;
    if (block.type == kMono) {
        // The first pixel is always colour 0, so half the patterns never occur.
        const std::uint8_t c0 = p[0];
        std::uint8_t c1 = c0;
        std::uint16_t pattern = 0;
        for (int i = 0; i < 16; ++i) {
            if (p[i] == c0) continue;
            c1 = p[i];
            pattern = static_cast<std::uint16_t>(pattern | (1u << i));
        }
        values.push_back({kColourTree, static_cast<std::uint16_t>(c0 | (c1 << 8))});
        values.push_back({kPatternTree, pattern});
    } else if (block.type == kFull) {
        for (int row = 0; row < 4; ++row) {
            const std::uint8_t* r = &p[row * 4];
            values.push_back({kFullTree, static_cast<std::uint16_t>(r[2] | (r[3] << 8))});
            values.push_back({kFullTree, static_cast<std::uint16_t>(r[0] | (r[1] << 8))});
        }
    }
}

// One type word claiming `claimed` table index, then the data of its `count` real blocks.
void AddPiece(const std::vector<Block>& blocks, std::size_t first, std::uint32_t count, int index,
              std::vector<VideoValue>& values) {
    const Block& block = blocks[first];
    std::uint16_t word = static_cast<std::uint16_t>(block.type | (index << 2));
    if (block.type == kSolid) word = static_cast<std::uint16_t>(word | (block.colour << 8));
    values.push_back({kTypeTree, word});
    for (std::uint32_t i = 0; i < count; ++i) AddBlockValues(blocks[first + i], values);
}

void AddRun(const std::vector<Block>& blocks, std::size_t first, std::uint32_t length, bool last,
            const StreamOptions& options, std::vector<VideoValue>& values) {
    const bool overlong = last && options.overlongLastRun;
    while (length > 0) {
        if (overlong && length <= kLongestRun) {
            AddPiece(blocks, first, length, SmallestIndexAbove(length), values);
            return;
        }
        const int index = LargestIndexAtMost(length);
        AddPiece(blocks, first, kRunLengths[index], index, values);
        first += kRunLengths[index];
        length -= kRunLengths[index];
    }
}

// Recent values of one tree as the reader keeps them: the newest first, a value only
// entering when it differs from the newest.
struct RecentValues {
    std::array<std::uint16_t, 3> values{};
    int Match(std::uint16_t value, unsigned usable) const {
        for (unsigned k = 0; k < usable; ++k)
            if (values[k] == value) return static_cast<int>(k);
        return -1;
    }
    void Update(std::uint16_t value) {
        if (value == values[0]) return;
        values[2] = values[1];
        values[1] = values[0];
        values[0] = value;
    }
};

// Literal values are their own symbols; escape k is kEscapeSymbol + k.
template <typename Visit>
void ForEachSymbol(const std::vector<VideoValue>& values, const std::array<unsigned, 4>& usable,
                   Visit visit) {
    std::array<RecentValues, kVideoTrees> recent{};
    for (const VideoValue& v : values) {
        const int escape = recent[v.tree].Match(v.value, usable[v.tree]);
        visit(v.tree, escape >= 0 ? kEscapeSymbol + static_cast<std::uint32_t>(escape) : v.value);
        recent[v.tree].Update(v.value);
    }
}

ValueTree MakeValueTree(const std::vector<std::uint64_t>& counts, unsigned usable,
                        TreeShape shape) {
    ValueTree tree;
    tree.usableEscapes = usable;
    std::vector<std::uint16_t> freeValues;
    for (std::uint32_t v = 0; v < kValues && freeValues.size() < 3; ++v)
        if (counts[v] == 0) freeValues.push_back(static_cast<std::uint16_t>(v));
    // Escapes that may be coded get distinct values of their own; the others repeat the value
    // of an earlier escape, which a leaf matches first, so they never get a leaf.
    for (unsigned k = 0; k < 3; ++k)
        tree.escapes[k] = freeValues[std::min<std::size_t>(k, std::max(usable, 1u) - 1)];

    std::vector<std::uint64_t> symbolCounts;
    tree.symbolOfValue.assign(kValues + 3, -1);
    std::array<std::uint64_t, 256> lowCounts{}, highCounts{};
    for (std::uint32_t s = 0; s < kValues + 3; ++s) {
        if (counts[s] == 0) continue;
        const std::uint16_t leaf =
            s < kValues ? static_cast<std::uint16_t>(s) : tree.escapes[s - kValues];
        tree.symbolOfValue[s] = static_cast<std::int32_t>(symbolCounts.size());
        symbolCounts.push_back(counts[s]);
        tree.leafValue.push_back(leaf);
        ++lowCounts[leaf & 0xFF];
        ++highCounts[leaf >> 8];
    }
    tree.present = !symbolCounts.empty();
    if (!tree.present) return tree;
    tree.codes = BuildCodeTree(symbolCounts, shape);
    tree.low = BuildByteTree(lowCounts, shape);
    tree.high = BuildByteTree(highCounts, shape);
    return tree;
}

// Of the pairs no other tree can hold, the one whose loss alters the fewest pixels.
BannedPair LeastUsedBannablePair(const std::vector<std::uint64_t>& counts) {
    BannedPair ban{true, 1};
    for (int c = 1; c < 256; c += 4)
        if (counts[static_cast<std::uint32_t>(c * 257)] < counts[ban.colour * 257u])
            ban.colour = static_cast<std::uint8_t>(c);
    return ban;
}

// The escapes a tree may use before the counts say otherwise.
std::array<unsigned, 4> FirstUsable(const StreamOptions& options) {
    std::array<unsigned, 4> usable{};
    usable.fill(options.escapes == EscapeUse::Recent ? 3u : 0u);
    return usable;
}

const char* TreeName(int tree) {
    static const char* const kNames[] = {"pattern", "colour", "full", "type"};
    return kNames[tree];
}

}  // namespace

std::vector<VideoValue> FrameValues(const FramePictures& frame, std::uint32_t width,
                                    std::uint32_t height, const StreamOptions& options,
                                    const BannedPair& ban) {
    std::vector<Block> blocks;
    blocks.reserve(static_cast<std::size_t>(width / 4) * (height / 4));
    for (std::uint32_t by = 0; by < height / 4; ++by)
        for (std::uint32_t bx = 0; bx < width / 4; ++bx)
            blocks.push_back(ReadBlock(frame, width, bx, by, options, ban));
    std::vector<VideoValue> values;
    for (std::size_t first = 0; first < blocks.size();) {
        std::size_t end = first + 1;
        while (end < blocks.size() && SameRun(blocks[first], blocks[end])) ++end;
        AddRun(blocks, first, static_cast<std::uint32_t>(end - first), end == blocks.size(),
               options, values);
        first = end;
    }
    return values;
}

bool VideoCoder::Count(const FramePictures& frame, const char** full) {
    if (counted_[0].empty())
        for (auto& c : counted_) c.assign(kValues + 3, 0);
    int filled = -1;
    ForEachSymbol(FrameValues(frame, width_, height_, options_), FirstUsable(options_),
                  [&](int t, std::uint32_t symbol) {
                      if (counted_[t][symbol]++ != 0 || symbol >= kValues) return;
                      if (++literals_[t] == kValues) filled = t;
                  });
    for (int t = 0; t < kVideoTrees && filled < 0; ++t)
        if (literals_[t] == kValues) filled = t;
    if (filled < 0) return true;
    *full = TreeName(filled);
    return false;
}

bool VideoCoder::BuildTrees(const FrameSource& frames, const FrameSource& rest,
                            std::string& error) {
    std::array<unsigned, 4> usable = FirstUsable(options_);
    // The first count is Count's with the rest added, as the frames were counted with
    // every escape usable and no pair banned.
    std::array<std::vector<std::uint64_t>, kVideoTrees> counts = std::move(counted_);
    counted_ = {};
    const bool countedAhead = !counts[0].empty();
    for (bool first = true;; first = false) {
        if (!first || !countedAhead)
            for (auto& c : counts) c.assign(kValues + 3, 0);
        // The frames' values are worked out on the threads; this one counts them, so the
        // counts need no lock.
        std::vector<std::vector<VideoValue>> values;
        FramePipeline pipeline(
            threads_, std::size_t{width_} * height_,
            [&](std::size_t slot, const FramePictures& frame) {
                values[slot] = FrameValues(frame, width_, height_, options_, ban_);
            },
            [&](std::size_t slot, const FramePictures&, const Levels&) {
                ForEachSymbol(values[slot], usable,
                              [&](int tree, std::uint32_t symbol) { ++counts[tree][symbol]; });
                return true;
            });
        values.resize(pipeline.Slots());
        const bool counted = (first && countedAhead ? rest : frames)(
            [&](const FramePictures& frame) { pipeline.Add(frame); });
        if (!counted || !pipeline.Finish()) return false;
        if (Settled(counts, usable, error)) break;
        if (!error.empty()) return false;
    }
    // The trees share nothing, so they are built at once.
    ForEachPart(threads_, kVideoTrees, [&](std::size_t t) {
        trees_[t] = MakeValueTree(counts[t], usable[t], options_.treeShape);
    });
    return true;
}

// Every escape value must be a value no literal leaf has. Fewer free values than usable
// escapes: use fewer escapes, which may need more literals, so the frames are counted again;
// so they are when a tree is full and a pair is banned to make room. False with `error` left
// empty for another count.
bool VideoCoder::Settled(const std::array<std::vector<std::uint64_t>, kVideoTrees>& counts,
                         std::array<unsigned, 4>& usable, std::string& error) {
    bool settled = true;
    for (int t = 0; t < kVideoTrees; ++t) {
        const auto literals =
            static_cast<std::uint32_t>(std::count_if(counts[t].begin(), counts[t].begin() + kValues,
                                                     [](std::uint64_t c) { return c != 0; }));
        const std::uint32_t freeValues = kValues - literals;
        if (freeValues == 0 && t == kFullTree && mayAlter_ && !ban_.active) {
            const BannedPair chosen = LeastUsedBannablePair(counts[t]);
            ban_.active = true;
            ban_.colour = chosen.colour;
            return false;
        }
        if (freeValues == 0) {
            error = std::string("the ") + TreeName(t) +
                    " tree needs all 65,536 values, leaving none for its escapes";
            return false;
        }
        if (freeValues < usable[t]) {
            usable[t] = freeValues;
            settled = false;
        }
    }
    return settled;
}

void VideoCoder::WriteTrees(BitWriter& out) const {
    for (const ValueTree& tree : trees_) {
        out.Bit(tree.present);
        if (!tree.present) continue;
        out.Bit(true);
        WriteByteTree(out, tree.low);
        out.Bit(true);
        WriteByteTree(out, tree.high);
        for (std::uint16_t escape : tree.escapes) out.Bits(escape, 16);
        WriteTreeShape(out, tree.codes, [&](std::uint32_t symbol) {
            const std::uint16_t value = tree.leafValue[symbol];
            WriteCode(out, tree.low.CodeFor(static_cast<std::uint8_t>(value & 0xFF)));
            WriteCode(out, tree.high.CodeFor(static_cast<std::uint8_t>(value >> 8)));
        });
        out.Bit(false);
    }
}

std::vector<std::uint8_t> VideoCoder::EncodeFrame(const FramePictures& frame) const {
    std::array<unsigned, 4> usable{};
    for (int t = 0; t < kVideoTrees; ++t) usable[t] = trees_[t].usableEscapes;
    BitWriter out;
    ForEachSymbol(FrameValues(frame, width_, height_, options_, ban_), usable,
                  [&](int tree, std::uint32_t symbol) {
                      const ValueTree& t = trees_[tree];
                      WriteCode(out,
                                t.codes.codes[static_cast<std::size_t>(t.symbolOfValue[symbol])]);
                  });
    return out.Bytes();
}

std::uint32_t VideoCoder::NodeCount(int tree) const {
    return trees_[tree].present ? static_cast<std::uint32_t>(trees_[tree].codes.NodeCount()) : 0;
}

}  // namespace zambrel::encoder
