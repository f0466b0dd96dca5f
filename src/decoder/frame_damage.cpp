// SPDX-License-Identifier: MIT
// Damage a frame's picture shows only while it is decoded, for the player.
#include "decoder/frame_damage.h"

#include "decoder/painters.h"
#include "decoder/trees.h"
#include "decoder/video.h"

namespace {

// Pre-order puts a tree's last node at the end of the path that takes every 1-branch, so
// its nodes are counted without a walk over all of them.
std::uint32_t StoredNodes(const TreeBlock* trees, int tree) {
    const std::uint32_t start = TreeNodesStart(trees, tree);
    std::uint32_t offset = start;
    std::uint32_t node = LoadNode(trees, offset);
    while (NodeLowBits(node) == trees->EscapeMarker) {
        offset += OneBranchDistance(node);
        node = LoadNode(trees, offset);
    }
    return (offset - start) / kNodeBytes + 1;
}

}  // namespace

TreeFaults FindTreeFaults(const Movie* movie) {
    TreeFaults faults;
    if (movie == nullptr || movie->Trees == nullptr) return faults;
    const TreeBlock* trees = movie->Trees;
    faults.absent = AbsentTrees(trees);
    for (int t = 0; t < kTreeCount; ++t) {
        faults.size[t] = trees->Sizes[t];
        if (faults.absent & (1u << t)) continue;
        // The three spare nodes hold recent values; a size without room for them was not
        // written for these trees.
        faults.needed[t] = kNodeBytes * (StoredNodes(trees, t) + 3);
        if (faults.size[t] < faults.needed[t]) faults.tooSmall |= 1u << t;
    }
    return faults;
}

std::int32_t DoFrameWatched(Movie* movie, const TreeFaults& faults, PictureDamage* damage) {
    *damage = PictureDamage{};
    // A reading that keeps its mark was never made: no picture was decoded.
    ChunkReading reading;
    reading.treesRead = ~0u;
    const std::int32_t late = DoFrameChecked(movie, &reading);
    if (reading.treesRead == ~0u) return late;
    damage->ranOut = reading.ranOut;
    damage->badTrees = reading.treesRead & (faults.absent | faults.tooSmall);
    return late;
}
