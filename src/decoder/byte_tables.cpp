// SPDX-License-Identifier: MIT
// Building the look-up tables of the byte trees.
#include "decoder/byte_tables.h"

namespace {

// Every table index whose low `depth` bits are `code` gets `entry`: the bits above the code
// belong to the codes that follow it.
void FillCode(ByteTable& table, std::uint32_t code, std::uint32_t depth, std::uint16_t entry) {
    for (std::uint32_t i = code; i < kByteTableEntries; i += 1u << depth) table.Entries[i] = entry;
}

// The first bit of a code is the lowest of the index, as the reader delivers bits. The
// recursion is at most kByteTableBits deep, however deep the tree.
void FillFrom(const std::uint32_t* nodes, std::uint32_t index, std::uint32_t code,
              std::uint32_t depth, ByteTable& table) {
    const std::uint32_t node = nodes[index];
    if (node & kByteLeaf) {
        FillCode(table, code, depth,
                 static_cast<std::uint16_t>(kByteTableLeaf | depth << 8 | (node & 0xFF)));
        return;
    }
    if (depth == kByteTableBits) {
        table.Entries[code] = static_cast<std::uint16_t>(index);
        return;
    }
    FillFrom(nodes, index + 1, code, depth + 1, table);
    FillFrom(nodes, index + node / kNodeBytes, code | 1u << depth, depth + 1, table);
}

}  // namespace

void BuildByteTable(const std::uint32_t* nodes, ByteTable& table) {
    FillFrom(nodes, 0, 0, 0, table);
}
