// SPDX-License-Identifier: MIT
// A seek index: snapshots of a movie's picture and palette after frames of one straight
// decode from its first frame, within a budget of bytes. A frame's stream decodes on its own
// from the picture and palette before it, so a seek resumes from the nearest snapshot and
// decodes only the frames after it. Decoder handles keep one over their own picture, the
// player one over the display's; both are the same index, whatever the picture's layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/owned_bytes.h"

// The decoder's state after a frame: its palette, then its picture (packed when the index
// packs them).
struct Snapshot {
    std::uint32_t frame = 0;
    std::uint32_t bytes = 0;
    std::uint8_t* data = nullptr;
};

// Snapshots in frame order within the caller's budget, so that a seek decodes from the
// nearest one instead of from frame 0. When raw pictures fit at most `spacing` frames apart
// they are kept raw, exactly that far apart; otherwise they are packed and spaced by what
// they turn out to cost, never closer than `spacing`.
struct SeekIndex {
    std::size_t budget = 0;  // bytes the index may take, its records and scratch included
    // Asked for: by a seek, a build or a budget of the caller's. Until then no snapshot is
    // taken, so a program that only plays forward pays nothing for seeking it never does.
    bool wanted = false;
    bool planned = false;        // spacing and form chosen (on the first snapshot due)
    bool packed = false;         // pictures packed (snapshot_pack.h)
    std::uint32_t spacing = 0;   // 0 when no snapshot fits at all
    std::uint32_t rowBytes = 0;  // the pictures' shape, fixed by the plan
    std::uint32_t rows = 0;
    OwnedBytes records;  // `capacity` Snapshot records, `count` of them taken
    std::uint32_t count = 0;
    std::uint32_t capacity = 0;
    // A picture being packed or unpacked; for a picture whose rows are not side by side,
    // followed by room for it with its rows together.
    OwnedBytes scratch;
    std::size_t heldBytes = 0;      // everything above and the snapshots' own bytes
    std::size_t snapshotBytes = 0;  // the snapshots' own bytes alone
};

// Where a picture lies: `rows` rows of `rowBytes` bytes, `step` bytes from one row's start
// to the next (negative for a picture stored bottom-up).
struct IndexPicture {
    std::uint8_t* first = nullptr;
    std::ptrdiff_t step = 0;
    std::uint32_t rowBytes = 0;
    std::uint32_t rows = 0;
};

// The snapshot taken after `frame`, or null.
const Snapshot* IndexSnapshotAt(const SeekIndex& index, std::uint32_t frame);
// The latest snapshot frame at or before `frame` (0 when there is none).
std::uint32_t IndexSnapshotBefore(const SeekIndex& index, std::uint32_t frame);
// Whether snapshots of `picture` can join the index: none planned yet, or of its shape.
bool IndexFits(const SeekIndex& index, const IndexPicture& picture);
// Takes a snapshot of `picture` and `palette` after `frame` of a movie of `frameCount`
// frames, when the index is wanted, its slot is due and the budget allows. The caller
// vouches that the picture is what a straight decode from frame 0 leaves.
void IndexTake(SeekIndex& index, std::uint32_t frame, std::uint32_t frameCount,
               const IndexPicture& picture, const std::uint8_t* palette);
// Puts a snapshot's picture and palette back; false, with the picture unusable, when it
// does not unpack (memory overwritten) or the picture is not of the index's shape.
bool IndexRestore(SeekIndex& index, const Snapshot& snapshot, const IndexPicture& picture,
                  std::uint8_t* palette);
// Frees every snapshot; the budget and whether the index is wanted stay.
void IndexRelease(SeekIndex& index);
