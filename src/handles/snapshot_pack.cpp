// SPDX-License-Identifier: MIT
// Snapshot pictures as the difference of each pixel from the one before it (from the one
// above at a row's start), Huffman-coded with one table per picture. Neighbouring pixels of
// a movie's picture are mostly equal or close, so the differences gather on a few values;
// where they do not, the picture is kept as it is.
#include "handles/snapshot_pack.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kStored = 0;  // the picture's own bytes follow
constexpr std::uint8_t kCoded = 1;   // code lengths, then the coded differences
constexpr int kSymbols = 256;
constexpr int kMaxCodeBits = 12;  // the decoder looks codes up in a table of 2^12 entries
constexpr std::size_t kLengthBytes = kSymbols / 2;

// The differences of one row: from the pixel before, and at the row's start from the pixel
// above (from 0 on the first row).
void RowDifferences(const std::uint8_t* row, const std::uint8_t* above, std::uint32_t width,
                    std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(row[0] - (above != nullptr ? above[0] : 0));
    for (std::uint32_t x = 1; x < width; ++x)
        out[x] = static_cast<std::uint8_t>(row[x] - row[x - 1]);
}

// Huffman code lengths for `counts` (0 for symbols that do not occur). Built with two
// queues over the symbols sorted by count: the merged nodes come out in order of weight.
void HuffmanLengths(const std::uint32_t* counts, std::uint8_t* lengths) {
    std::fill(lengths, lengths + kSymbols, 0);
    int leaves[kSymbols];
    int used = 0;
    for (int s = 0; s < kSymbols; ++s)
        if (counts[s] != 0) leaves[used++] = s;
    if (used == 1) {
        lengths[leaves[0]] = 1;
        return;
    }
    // Insertion sort: at most 256 symbols, and it keeps equal counts in symbol order.
    for (int i = 1; i < used; ++i) {
        const int symbol = leaves[i];
        int j = i;
        for (; j > 0 && counts[leaves[j - 1]] > counts[symbol]; --j) leaves[j] = leaves[j - 1];
        leaves[j] = symbol;
    }
    // Nodes 0..used-1 are the leaves in sorted order, the rest are merges.
    std::uint64_t weight[2 * kSymbols];
    int parent[2 * kSymbols];
    for (int i = 0; i < used; ++i) weight[i] = counts[leaves[i]];
    int nextLeaf = 0, nextMerge = used, made = used;
    auto takeLightest = [&] {
        if (nextLeaf < used && (nextMerge == made || weight[nextLeaf] <= weight[nextMerge]))
            return nextLeaf++;
        return nextMerge++;
    };
    while (made < 2 * used - 1) {
        const int a = takeLightest();
        const int b = takeLightest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
        ++made;
    }
    int depth[2 * kSymbols];
    depth[made - 1] = 0;
    for (int node = made - 2; node >= 0; --node) depth[node] = depth[parent[node]] + 1;
    for (int i = 0; i < used; ++i) lengths[leaves[i]] = static_cast<std::uint8_t>(depth[i]);
}

// Lengths of at most kMaxCodeBits: rare symbols are made less rare until the tree is
// shallow enough, which costs a little size on pictures that reach that depth at all.
void LimitedLengths(const std::uint32_t* counts, std::uint8_t* lengths) {
    std::uint32_t flattened[kSymbols];
    std::copy(counts, counts + kSymbols, flattened);
    for (;;) {
        HuffmanLengths(flattened, lengths);
        if (*std::max_element(lengths, lengths + kSymbols) <= kMaxCodeBits) return;
        for (std::uint32_t& count : flattened)
            if (count != 0) count = count / 2 + 1;
    }
}

// Canonical codes: shorter codes first, and within a length in symbol order, so that the
// lengths alone describe the code.
void CanonicalCodes(const std::uint8_t* lengths, std::uint16_t* codes) {
    int perLength[kMaxCodeBits + 1] = {};
    for (int s = 0; s < kSymbols; ++s) ++perLength[lengths[s]];
    perLength[0] = 0;
    std::uint32_t next[kMaxCodeBits + 2] = {};
    for (int bits = 1; bits <= kMaxCodeBits; ++bits)
        next[bits] = (next[bits - 1] + static_cast<std::uint32_t>(perLength[bits - 1])) << 1;
    for (int s = 0; s < kSymbols; ++s)
        if (lengths[s] != 0) codes[s] = static_cast<std::uint16_t>(next[lengths[s]]++);
}

class BitSink {
  public:
    explicit BitSink(std::uint8_t* out) : out_(out) {}
    void Put(std::uint32_t code, int bits) {
        pending_ = (pending_ << bits) | code;
        count_ += bits;
        while (count_ >= 8) {
            count_ -= 8;
            *out_++ = static_cast<std::uint8_t>(pending_ >> count_);
        }
    }
    std::uint8_t* Finish() {
        if (count_ != 0) *out_++ = static_cast<std::uint8_t>(pending_ << (8 - count_));
        return out_;
    }

  private:
    std::uint8_t* out_;
    std::uint64_t pending_ = 0;
    int count_ = 0;
};

std::size_t Store(const std::uint8_t* picture, std::size_t pixels, std::uint8_t* out) {
    out[0] = kStored;
    std::memcpy(out + 1, picture, pixels);
    return 1 + pixels;
}

// A table entry: the symbol in the low byte, its code's length above; 0 for bit patterns
// that start no code.
using CodeTable = std::uint16_t[1 << kMaxCodeBits];

bool BuildTable(const std::uint8_t* lengths, CodeTable table) {
    std::uint16_t codes[kSymbols] = {};
    CanonicalCodes(lengths, codes);
    std::fill(table, table + (1 << kMaxCodeBits), 0);
    std::uint32_t filled = 0;
    for (int s = 0; s < kSymbols; ++s) {
        const int bits = lengths[s];
        if (bits == 0) continue;
        const std::uint32_t span = 1u << (kMaxCodeBits - bits);
        filled += span;
        if (filled > (1u << kMaxCodeBits)) return false;  // lengths no code can have
        const std::uint32_t first = std::uint32_t{codes[s]} << (kMaxCodeBits - bits);
        std::fill(table + first, table + first + span, static_cast<std::uint16_t>(bits << 8 | s));
    }
    return true;
}

bool Decode(const std::uint8_t* bits, const std::uint8_t* end, const CodeTable table,
            std::uint32_t width, std::uint32_t height, std::uint8_t* picture) {
    std::uint64_t window = 0;  // the next bits, from the top
    int held = 0;
    std::size_t pastEnd = 0;  // zero bytes fed after the data ran out
    std::uint8_t* pixel = picture;
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t before = y == 0 ? 0 : pixel[-static_cast<std::ptrdiff_t>(width)];
        for (std::uint32_t x = 0; x < width; ++x) {
            while (held <= 56) {
                const std::uint8_t byte = bits < end ? *bits++ : (++pastEnd, 0);
                window |= std::uint64_t{byte} << (56 - held);
                held += 8;
            }
            const std::uint16_t entry = table[window >> (64 - kMaxCodeBits)];
            const int length = entry >> 8;
            if (length == 0) return false;
            window <<= length;
            held -= length;
            before = static_cast<std::uint8_t>(before + entry);
            *pixel++ = before;
        }
    }
    return pastEnd * 8 <= static_cast<std::size_t>(held);  // no bit was read past the data
}

}  // namespace

std::size_t PackedPictureBound(std::uint32_t width, std::uint32_t height) {
    // A picture that codes larger is stored; a row of working space follows.
    return 1 + std::size_t{width} * height + width;
}

std::size_t PackPicture(const std::uint8_t* picture, std::uint32_t width, std::uint32_t height,
                        std::uint8_t* out) {
    const std::size_t pixels = std::size_t{width} * height;
    if (pixels == 0) return Store(picture, pixels, out);
    // The differences are worked out twice, for the counts and for the codes, a row at a
    // time past the most a packed picture may take of `out`.
    std::uint8_t* row = out + 1 + pixels;
    std::uint32_t counts[kSymbols] = {};
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* line = picture + std::size_t{y} * width;
        RowDifferences(line, y == 0 ? nullptr : line - width, width, row);
        for (std::uint32_t x = 0; x < width; ++x) ++counts[row[x]];
    }
    std::uint8_t lengths[kSymbols];
    LimitedLengths(counts, lengths);
    std::uint64_t codedBits = 0;
    for (int s = 0; s < kSymbols; ++s) codedBits += std::uint64_t{counts[s]} * lengths[s];
    if (1 + kLengthBytes + (codedBits + 7) / 8 >= 1 + pixels) return Store(picture, pixels, out);
    out[0] = kCoded;
    for (std::size_t i = 0; i < kLengthBytes; ++i)
        out[1 + i] = static_cast<std::uint8_t>(lengths[2 * i] | lengths[2 * i + 1] << 4);
    std::uint16_t codes[kSymbols] = {};
    CanonicalCodes(lengths, codes);
    BitSink sink(out + 1 + kLengthBytes);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* line = picture + std::size_t{y} * width;
        RowDifferences(line, y == 0 ? nullptr : line - width, width, row);
        for (std::uint32_t x = 0; x < width; ++x) sink.Put(codes[row[x]], lengths[row[x]]);
    }
    return static_cast<std::size_t>(sink.Finish() - out);
}

bool UnpackPicture(const std::uint8_t* packed, std::size_t size, std::uint32_t width,
                   std::uint32_t height, std::uint8_t* picture) {
    const std::size_t pixels = std::size_t{width} * height;
    if (size == 0) return false;
    if (packed[0] == kStored) {
        if (size != 1 + pixels) return false;
        std::memcpy(picture, packed + 1, pixels);
        return true;
    }
    if (packed[0] != kCoded || size < 1 + kLengthBytes) return false;
    std::uint8_t lengths[kSymbols];
    for (std::size_t i = 0; i < kLengthBytes; ++i) {
        lengths[2 * i] = packed[1 + i] & 15;
        lengths[2 * i + 1] = packed[1 + i] >> 4;
    }
    CodeTable table;  // 8 KiB: on the stack, so that handles on other threads keep theirs
    if (!BuildTable(lengths, table)) return false;
    return Decode(packed + 1 + kLengthBytes, packed + size, table, width, height, picture);
}
