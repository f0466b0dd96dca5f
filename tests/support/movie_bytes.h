// SPDX-License-Identifier: MIT
// Builds movie bytes and code trees by hand, so the reader's corners can be reached directly.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"

namespace decoder_test {

// Least significant bit first, like every stream of the movie.
struct BitWriter {
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;

    void Put(std::uint32_t value, std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (bits % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= static_cast<std::uint8_t>(1u << (bits % 8));
            ++bits;
        }
    }
    void Bit(std::uint32_t bit) { Put(bit, 1); }
};

// A code tree in pre-order: internal nodes and leaves with their values.
struct ShapeNode {
    bool leaf;
    std::uint32_t value;
};
using Shape = std::vector<ShapeNode>;

inline Shape Leaf(std::uint32_t value) {
    return {{true, value}};
}
inline Shape Join(const Shape& zero, const Shape& one) {
    Shape shape{{false, 0}};
    shape.insert(shape.end(), zero.begin(), zero.end());
    shape.insert(shape.end(), one.begin(), one.end());
    return shape;
}

inline void WriteByteTree(BitWriter& out, const Shape& shape) {
    for (const ShapeNode& node : shape) {
        out.Bit(node.leaf ? 0 : 1);
        if (node.leaf) out.Put(node.value, 8);
    }
    out.Bit(0);
}

// The complete depth-8 byte tree whose code for v is v's eight bits, least significant first;
// with it a 16-bit leaf value is written as its raw 16 bits.
inline Shape IdentityByteTree(std::uint32_t depth = 0, std::uint32_t prefix = 0) {
    if (depth == 8) return Leaf(prefix);
    return Join(IdentityByteTree(depth + 1, prefix),
                IdentityByteTree(depth + 1, prefix | (1u << depth)));
}

struct SixteenBitTree {
    bool present = true;
    Shape shape;  // leaf values are 16-bit
    std::uint32_t escapes[3] = {0xFFFF, 0xFFFE, 0xFFFD};
};

inline void WriteSixteenBitTree(BitWriter& out, const SixteenBitTree& tree) {
    out.Bit(tree.present ? 1 : 0);
    if (!tree.present) return;
    static const Shape identity = IdentityByteTree();
    out.Bit(1);
    WriteByteTree(out, identity);
    out.Bit(1);
    WriteByteTree(out, identity);
    for (std::uint32_t escape : tree.escapes) out.Put(escape, 16);
    for (const ShapeNode& node : tree.shape) {
        out.Bit(node.leaf ? 0 : 1);
        if (node.leaf) out.Put(node.value, 16);
    }
    out.Bit(0);
}

inline std::uint32_t NodeCount(const SixteenBitTree& tree) {
    return tree.present ? static_cast<std::uint32_t>(tree.shape.size()) : 0;
}

inline void PutWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A movie assembled field by field. Frames are raw bytes; their video is never decoded here.
struct MovieBytes {
    char magic[4] = {'Z', 'M', 'B', '2'};
    std::uint32_t width = 16, height = 16;
    std::int32_t frameRate = -6666;
    std::uint32_t fileFlags = 0;
    std::uint32_t trackMaxBytes[7] = {};
    std::uint32_t treeSizes[4] = {12, 12, 12, 12};
    std::uint32_t trackFormat[7] = {};
    std::vector<std::uint8_t> treeData{0x00};       // four absent trees
    std::vector<std::vector<std::uint8_t>> frames;  // stored frames, ring frame included
    std::vector<std::uint8_t> types;                // empty: all zero
    std::int64_t frameCountOverride = -1;
    std::int64_t treeDataSizeOverride = -1;

    std::uint32_t StoredFrames() const { return static_cast<std::uint32_t>(frames.size()); }
    std::uint32_t FrameCount() const {
        if (frameCountOverride >= 0) return static_cast<std::uint32_t>(frameCountOverride);
        return StoredFrames() - (fileFlags & 1);
    }
    std::uint32_t FirstFrameOffset() const {
        return 104 + 5 * StoredFrames() + static_cast<std::uint32_t>(treeData.size());
    }

    std::vector<std::uint8_t> Bytes() const {
        std::vector<std::uint8_t> out(magic, magic + 4);
        PutWord(out, width);
        PutWord(out, height);
        PutWord(out, FrameCount());
        PutWord(out, static_cast<std::uint32_t>(frameRate));
        PutWord(out, fileFlags);
        for (std::uint32_t v : trackMaxBytes) PutWord(out, v);
        PutWord(out, treeDataSizeOverride >= 0 ? static_cast<std::uint32_t>(treeDataSizeOverride)
                                               : static_cast<std::uint32_t>(treeData.size()));
        for (std::uint32_t v : treeSizes) PutWord(out, v);
        for (std::uint32_t v : trackFormat) PutWord(out, v);
        PutWord(out, 0);
        for (const auto& frame : frames) PutWord(out, static_cast<std::uint32_t>(frame.size()));
        for (std::size_t i = 0; i < frames.size(); ++i)
            out.push_back(i < types.size() ? types[i] : 0);
        out.insert(out.end(), treeData.begin(), treeData.end());
        for (const auto& frame : frames) out.insert(out.end(), frame.begin(), frame.end());
        return out;
    }
};

// Frame i filled with a pattern that tells its bytes apart from every other frame's.
inline std::vector<std::uint8_t> PatternFrame(std::uint32_t index, std::uint32_t size) {
    std::vector<std::uint8_t> frame(size);
    for (std::uint32_t k = 0; k < size; ++k)
        frame[k] = static_cast<std::uint8_t>(index * 31 + k * 7 + (k >> 8));
    return frame;
}

inline MovieBytes PatternMovie(const std::vector<std::uint32_t>& sizes) {
    MovieBytes movie;
    for (std::uint32_t i = 0; i < sizes.size(); ++i)
        movie.frames.push_back(PatternFrame(i, sizes[i]));
    return movie;
}

// A caller-owned handle over the bytes, positioned at `offset`.
inline HANDLE MemoryHandle(const std::vector<std::uint8_t>& bytes, std::uint32_t offset = 0) {
    HANDLE handle = standin::OpenMemoryFile(bytes.data(), bytes.size());
    if (offset != 0) SetFilePointer(handle, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
    return handle;
}

inline std::uint32_t FilePosition(HANDLE handle) {
    return SetFilePointer(handle, 0, nullptr, FILE_CURRENT);
}

// Turns the decoder's debug output on (through a profile of the test's own) and collects it.
class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    const std::string& Text() const { return text_; }
    void Clear() { text_.clear(); }

  private:
    std::string path_;
    std::string text_;
};

}  // namespace decoder_test
