// SPDX-License-Identifier: MIT
// A small, slow, independent movie reader that checks what the writer produced.
#include "movie_reader.h"

#include <algorithm>
#include <functional>

namespace zambrel::encoder::testing {
namespace {

std::uint32_t Word(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Reads bits least significant first; past the end it gives 0 and remembers the overrun.
class Bits {
  public:
    Bits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t Bit() {
        if (pos_ >= size_ * 8) {
            overrun_ = true;
            ++pos_;
            return 0;
        }
        const std::uint32_t bit = (data_[pos_ / 8] >> (pos_ % 8)) & 1;
        ++pos_;
        return bit;
    }
    std::uint32_t Read(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value |= Bit() << i;
        return value;
    }
    bool Overrun() const { return overrun_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::uint64_t pos_ = 0;
    bool overrun_ = false;
};

struct Node {
    bool leaf = false;
    std::uint32_t value = 0;
    std::size_t one = 0;
    int escape = -1;
};

// Pre-order, without recursion, with the closing 0 bit.
bool ReadNodes(Bits& bits, std::vector<Node>& nodes, std::size_t limit,
               const std::function<std::uint32_t()>& leafValue, std::string& error) {
    std::vector<std::size_t> open;
    for (;;) {
        if (nodes.size() >= limit || bits.Overrun()) {
            error = "tree larger than " + std::to_string(limit) + " nodes or cut short";
            return false;
        }
        if (bits.Bit()) {
            open.push_back(nodes.size());
            nodes.push_back(Node{});
            continue;
        }
        Node leaf;
        leaf.leaf = true;
        leaf.value = leafValue();
        nodes.push_back(leaf);
        if (open.empty()) break;
        nodes[open.back()].one = nodes.size();
        open.pop_back();
    }
    if (bits.Bit() != 0) {
        error = "tree without its closing 0 bit";
        return false;
    }
    return true;
}

// A table-driven reader counts the leaves of a 0-branch in 16 bits.
bool ZeroBranchesFit(const std::vector<Node>& nodes) {
    std::vector<std::uint32_t> leaves(nodes.size());
    for (std::size_t i = nodes.size(); i-- > 0;) {
        if (nodes[i].leaf) {
            leaves[i] = 1;
            continue;
        }
        if (leaves[i + 1] > 0xFFFF) return false;
        leaves[i] = leaves[i + 1] + leaves[nodes[i].one];
    }
    return true;
}

std::size_t Walk(const std::vector<Node>& nodes, Bits& bits) {
    std::size_t i = 0;
    while (!nodes[i].leaf) i = bits.Bit() ? nodes[i].one : i + 1;
    return i;
}

bool ReadByteTree(Bits& bits, std::vector<Node>& nodes, std::string& error) {
    nodes.clear();
    return ReadNodes(
        bits, nodes, 511, [&] { return bits.Read(8); }, error);
}

struct ValueTree {
    bool present = false;
    std::vector<Node> nodes;
    std::array<std::uint16_t, 3> escapes{};
    std::array<std::uint32_t, 3> recent{};
};

bool ReadValueTree(Bits& bits, ValueTree& tree, std::string& error) {
    tree.present = bits.Bit() != 0;
    if (!tree.present) return true;
    std::vector<Node> low, high;
    if (!bits.Bit() || !ReadByteTree(bits, low, error)) return error = "no low byte tree", false;
    if (!bits.Bit() || !ReadByteTree(bits, high, error)) return error = "no high byte tree", false;
    for (auto& e : tree.escapes) e = static_cast<std::uint16_t>(bits.Read(16));
    auto leafValue = [&] {
        const std::uint32_t lo = low[Walk(low, bits)].value;
        return lo | (high[Walk(high, bits)].value << 8);
    };
    if (!ReadNodes(bits, tree.nodes, 200000, leafValue, error)) return false;
    if (!ZeroBranchesFit(tree.nodes)) return error = "a 0-branch holds over 65,535 leaves", false;
    std::array<int, 3> homes{};
    for (Node& node : tree.nodes) {
        if (!node.leaf) continue;
        for (int k = 0; k < 3; ++k) {
            if (node.value == tree.escapes[k]) {
                node.escape = k;
                ++homes[k];
                break;
            }
        }
    }
    // Several leaves of one escape would leave the early ones decoding a stale value.
    for (int count : homes)
        if (count > 1) return error = "two leaves carry the same escape value", false;
    return true;
}

std::uint32_t DecodeValue(ValueTree& tree, Bits& bits, std::uint64_t& escapeDecodes) {
    const Node& node = tree.nodes[Walk(tree.nodes, bits)];
    std::uint32_t value = node.value;
    if (node.escape >= 0) {
        value = tree.recent[node.escape];
        ++escapeDecodes;
    }
    if (value != tree.recent[0]) {
        tree.recent[2] = tree.recent[1];
        tree.recent[1] = tree.recent[0];
        tree.recent[0] = value;
    }
    return value;
}

std::uint8_t Widen(std::uint8_t level) {
    return static_cast<std::uint8_t>(level * 4 + level / 16);
}

bool ApplyPalette(const std::uint8_t* chunk, std::size_t available,
                  std::array<std::uint8_t, 768>& levels, std::vector<std::uint8_t>& commands,
                  std::size_t& length, std::string& error) {
    length = std::size_t{chunk[0]} * 4;
    if (length < 4 || length > available) return error = "palette chunk length out of range", false;
    const std::array<std::uint8_t, 768> previous = levels;
    std::size_t at = 1;
    for (int entry = 0; entry < 256;) {
        if (at >= length) return error = "palette commands run past their chunk", false;
        const std::uint8_t b = chunk[at];
        commands.push_back(b);
        if (b >= 0x80) {
            const int count = (b & 0x7F) + 1;
            if (entry + count > 256) return error = "keep past entry 255", false;
            entry += count;
            at += 1;
        } else if (b >= 0x40) {
            const int count = (b & 0x3F) + 1;
            if (at + 1 >= length) return error = "copy command cut short", false;
            const int source = chunk[at + 1];
            if (entry + count > 256 || source + count > 256)
                return error = "copy past entry 255", false;
            std::copy_n(previous.begin() + 3 * source, 3 * count, levels.begin() + 3 * entry);
            entry += count;
            at += 2;
        } else {
            if (at + 2 >= length) return error = "set command cut short", false;
            for (int c = 0; c < 3; ++c) {
                if (chunk[at + c] > 63) return error = "level above 63", false;
                levels[3 * entry + c] = chunk[at + c];
            }
            entry += 1;
            at += 3;
        }
    }
    return true;
}

bool DecodeCompressed(const std::uint8_t* chunk, std::size_t length, std::uint32_t format,
                      std::vector<std::uint8_t>& out, std::string& error) {
    const std::uint32_t decoded = Word(std::vector<std::uint8_t>(chunk, chunk + 8), 4);
    Bits bits(chunk + 8, length - 8);
    if (!bits.Bit()) return decoded == 0 ? true : (error = "samples announced but absent", false);
    const bool stereo = bits.Bit(), wide = bits.Bit();
    if (stereo != ((format >> 28) & 1) || wide != ((format >> 29) & 1))
        return error = "chunk flags differ from the track format", false;
    const unsigned channels = stereo ? 2 : 1, lanes = channels * (wide ? 2 : 1);
    std::array<std::vector<Node>, 4> trees;
    for (unsigned lane = 0; lane < lanes; ++lane) {
        bits.Bit();
        if (!ReadByteTree(bits, trees[lane], error)) return false;
    }
    const unsigned frameBytes = channels * (wide ? 2 : 1);
    if (decoded % frameBytes != 0) return error = "decoded size not whole sample frames", false;
    if (decoded == 0) return true;
    std::array<std::uint32_t, 2> sample{};
    for (unsigned c = channels; c-- > 0;)
        sample[c] = wide ? (bits.Read(8) << 8) | bits.Read(8) : bits.Read(8);
    auto store = [&] {
        for (unsigned c = 0; c < channels; ++c) {
            out.push_back(static_cast<std::uint8_t>(sample[c]));
            if (wide) out.push_back(static_cast<std::uint8_t>(sample[c] >> 8));
        }
    };
    store();
    for (std::uint32_t f = 1; f < decoded / frameBytes; ++f) {
        for (unsigned c = 0; c < channels; ++c) {
            if (wide) {
                const std::uint32_t lo = trees[2 * c][Walk(trees[2 * c], bits)].value;
                const std::uint32_t hi = trees[2 * c + 1][Walk(trees[2 * c + 1], bits)].value;
                sample[c] = (sample[c] + lo + 256 * hi) & 0xFFFF;
            } else {
                sample[c] = (sample[c] + trees[c][Walk(trees[c], bits)].value) & 0xFF;
            }
        }
        store();
    }
    if (bits.Overrun()) return error = "audio bits run past their chunk", false;
    return true;
}

constexpr std::array<std::uint32_t, 64> kRuns = [] {
    std::array<std::uint32_t, 64> t{};
    for (int i = 0; i < 59; ++i) t[i] = i + 1;
    t[59] = 128, t[60] = 256, t[61] = 512, t[62] = 1024, t[63] = 2048;
    return t;
}();

bool DecodeVideo(const std::uint8_t* chunk, std::size_t length, std::array<ValueTree, 4>& trees,
                 ReadMovie& movie, std::vector<std::uint8_t>& picture, bool defined,
                 std::string& error) {
    for (auto& tree : trees) tree.recent = {0, 0, 0};
    Bits bits(chunk, length);
    const std::uint32_t across = movie.width / 4, total = across * (movie.height / 4);
    auto decode = [&](int t) -> std::uint32_t {
        if (!trees[t].present) {
            error = "video needs an absent tree";
            return 0;
        }
        return DecodeValue(trees[t], bits, movie.escapeDecodes);
    };
    auto pixel = [&](std::uint32_t block, int row, int column) -> std::uint8_t& {
        const std::size_t y = (block / across) * 4 + row, x = (block % across) * 4 + column;
        return picture[y * movie.width + x];
    };
    for (std::uint32_t done = 0; done < total && error.empty();) {
        const std::uint32_t word = decode(3);
        const std::uint32_t run = kRuns[(word >> 2) & 63];
        if (run > total - done)
            movie.longestRunPastEnd = std::max(movie.longestRunPastEnd, run - (total - done));
        const std::uint32_t count = std::min(run, total - done);
        for (std::uint32_t b = done; b < done + count && error.empty(); ++b) {
            switch (word & 3) {
                case 0: {
                    const std::uint32_t colours = decode(1), pattern = decode(0);
                    for (int i = 0; i < 16; ++i)
                        pixel(b, i / 4, i % 4) =
                            static_cast<std::uint8_t>((pattern >> i) & 1 ? colours >> 8 : colours);
                    break;
                }
                case 1:
                    for (int row = 0; row < 4; ++row) {
                        const std::uint32_t right = decode(2), left = decode(2);
                        pixel(b, row, 0) = static_cast<std::uint8_t>(left);
                        pixel(b, row, 1) = static_cast<std::uint8_t>(left >> 8);
                        pixel(b, row, 2) = static_cast<std::uint8_t>(right);
                        pixel(b, row, 3) = static_cast<std::uint8_t>(right >> 8);
                    }
                    break;
                case 2:
                    if (!defined) error = "a skipped block where no picture is defined";
                    break;
                default:
                    for (int i = 0; i < 16; ++i)
                        pixel(b, i / 4, i % 4) = static_cast<std::uint8_t>(word >> 8);
            }
        }
        done += count;
    }
    if (error.empty() && bits.Overrun()) error = "video bits run past their chunk";
    return error.empty();
}

bool ReadFrames(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                std::array<ValueTree, 4>& trees, const std::array<std::uint32_t, 7>& formats,
                ReadMovie& movie) {
    std::array<std::uint8_t, 768> levels{};
    std::vector<std::uint8_t> picture(std::size_t{movie.width} * movie.height, 0);
    std::string& error = movie.error;
    for (std::size_t f = 0; f < movie.frameSizes.size(); ++f) {
        const std::size_t end = offset + movie.frameSizes[f];
        if (end > bytes.size())
            return error = "frame " + std::to_string(f) + " past the file", false;
        std::size_t at = offset;
        const std::uint8_t type = movie.frameTypes[f];
        movie.paletteCommands.emplace_back();
        if (type & 1) {
            std::size_t length = 0;
            if (!ApplyPalette(&bytes[at], end - at, levels, movie.paletteCommands.back(), length,
                              error))
                return false;
            at += length;
        }
        for (int t = 0; t < 7; ++t) {
            ReadTrack& track = movie.tracks[t];
            track.chunks.emplace_back();
            track.hasChunk.push_back(((type >> (t + 1)) & 1) != 0);
            if (!track.hasChunk.back()) continue;
            if (!((formats[t] >> 30) & 1)) return error = "chunk for an absent track", false;
            if (at + 8 > end) return error = "audio chunk past its frame", false;
            const std::uint32_t length = Word(bytes, at);
            if (length < 4 || length > end - at)
                return error = "audio chunk length out of range", false;
            if (formats[t] >> 31) {
                if (length < 8 ||
                    !DecodeCompressed(&bytes[at], length, formats[t], track.chunks.back(), error))
                    return error = "track " + std::to_string(t) + ": " + error, false;
            } else {
                track.chunks.back().assign(bytes.begin() + at + 4, bytes.begin() + at + length);
            }
            at += length;
        }
        if (!DecodeVideo(&bytes[at], end - at, trees, movie, picture, f != 0, error))
            return error = "frame " + std::to_string(f) + ": " + error, false;
        movie.pictures.push_back(picture);
        std::array<std::uint8_t, 768> widened{};
        for (int i = 0; i < 768; ++i) widened[i] = Widen(levels[i]);
        movie.palettes.push_back(widened);
        offset = end;
    }
    return true;
}

}  // namespace

ReadMovie ReadMovieBytes(const std::vector<std::uint8_t>& bytes) {
    ReadMovie movie;
    if (bytes.size() < 104 || std::string(bytes.begin(), bytes.begin() + 4) != "ZMB2")
        return movie.error = "no movie header", movie;
    movie.width = Word(bytes, 4);
    movie.height = Word(bytes, 8);
    movie.frameCount = Word(bytes, 12);
    movie.frameRate = static_cast<std::int32_t>(Word(bytes, 16));
    movie.fileFlags = Word(bytes, 20);
    std::array<std::uint32_t, 7> formats{};
    for (int t = 0; t < 7; ++t) {
        movie.trackMaxBytes[t] = Word(bytes, 24 + 4 * t);
        formats[t] = Word(bytes, 72 + 4 * t);
        movie.tracks[t].format = formats[t];
    }
    movie.treeDataSize = Word(bytes, 52);
    for (int i = 0; i < 4; ++i) movie.treeSizes[i] = Word(bytes, 56 + 4 * i);
    const std::size_t stored = movie.frameCount + (movie.fileFlags & 1);
    const std::size_t trees = 104 + 5 * stored;
    if (trees + movie.treeDataSize > bytes.size())
        return movie.error = "tables past the file", movie;
    for (std::size_t i = 0; i < stored; ++i) {
        movie.frameSizes.push_back(Word(bytes, 104 + 4 * i));
        movie.frameTypes.push_back(bytes[104 + 4 * stored + i]);
    }
    std::array<ValueTree, 4> valueTrees;
    Bits bits(&bytes[trees], movie.treeDataSize);
    for (int t = 0; t < 4; ++t) {
        if (!ReadValueTree(bits, valueTrees[t], movie.error))
            return movie.error = "tree " + std::to_string(t) + ": " + movie.error, movie;
        movie.treeNodes[t] = static_cast<std::uint32_t>(valueTrees[t].nodes.size());
        movie.escapes[t] = valueTrees[t].escapes;
        for (const Node& node : valueTrees[t].nodes) movie.escapeLeaves[t] += node.escape >= 0;
    }
    if (bits.Overrun()) return movie.error = "trees run past the tree data", movie;
    if (!ReadFrames(bytes, trees + movie.treeDataSize, valueTrees, formats, movie)) return movie;
    movie.ok = true;
    return movie;
}

}  // namespace zambrel::encoder::testing
