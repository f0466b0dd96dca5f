// SPDX-License-Identifier: MIT
// The seek index's snapshots: where they go, what form they take, and which make room.
#include "decoder/seek_index.h"

#include <algorithm>
#include <cstring>

#include "core/allocator.h"
#include "decoder/snapshot_pack.h"
#include "zambrel/movie.h"

namespace {

// Raw pictures are kept when they fit this close together; beyond that, packing lets many
// more fit. Packing a picture costs about as much as decoding one frame, so snapshots are
// never packed closer than this: building the index then costs a few per cent of a decode.
constexpr std::uint32_t kPackedSpacing = 16;

Snapshot* Records(const SeekIndex& index) {
    return reinterpret_cast<Snapshot*>(index.records.data);
}

std::size_t PictureBytes(const IndexPicture& picture) {
    return std::size_t{picture.rowBytes} * picture.rows;
}

bool RowsTogether(const IndexPicture& picture) {
    return picture.step == static_cast<std::ptrdiff_t>(picture.rowBytes);
}

std::uint8_t* RowAt(const IndexPicture& picture, std::uint32_t row) {
    return picture.first + static_cast<std::ptrdiff_t>(row) * picture.step;
}

void GatherRows(const IndexPicture& picture, std::uint8_t* out) {
    for (std::uint32_t y = 0; y < picture.rows; ++y)
        std::memcpy(out + std::size_t{y} * picture.rowBytes, RowAt(picture, y), picture.rowBytes);
}

void ScatterRows(const std::uint8_t* rows, const IndexPicture& picture) {
    for (std::uint32_t y = 0; y < picture.rows; ++y)
        std::memcpy(RowAt(picture, y), rows + std::size_t{y} * picture.rowBytes, picture.rowBytes);
}

// The room a picture with its rows together takes in the scratch, past what packing needs.
std::uint8_t* FlatRoom(const SeekIndex& index) {
    return index.scratch.data + PackedPictureBound(index.rowBytes, index.rows);
}

// Chooses the snapshots' form and spacing for the whole movie, and reserves their records
// (and, for packing, the scratch picture) inside the budget; false when none fits.
bool PlanIndex(SeekIndex& index, std::uint32_t frameCount, const IndexPicture& picture) {
    if (index.planned) return index.spacing != 0;
    index.planned = true;
    index.rowBytes = picture.rowBytes;
    index.rows = picture.rows;
    const std::size_t raw = PictureBytes(picture) + ZAMB_PALETTE_BYTES + sizeof(Snapshot);
    if (frameCount < 2 || index.budget < raw) return false;
    const std::size_t rawSpacing = (frameCount + index.budget / raw - 1) / (index.budget / raw);
    index.packed = rawSpacing > kPackedSpacing;
    index.spacing = index.packed ? kPackedSpacing : static_cast<std::uint32_t>(rawSpacing);
    // Packed, the records are kept to a small share of the budget: when they run out, the
    // snapshots are thinned as when the bytes run out.
    std::size_t capacity = frameCount / index.spacing + 1;
    if (index.packed) capacity = std::min(capacity, std::max<std::size_t>(2, index.budget / 1024));
    std::size_t scratch = 0;
    if (index.packed)
        scratch = PackedPictureBound(picture.rowBytes, picture.rows) +
                  (RowsTogether(picture) ? 0 : PictureBytes(picture));
    if (capacity * sizeof(Snapshot) + scratch + raw > index.budget ||
        !index.records.Reserve(capacity * sizeof(Snapshot)) ||
        (scratch != 0 && !index.scratch.Reserve(scratch))) {
        index.records.Release();
        index.spacing = 0;
        return false;
    }
    index.capacity = static_cast<std::uint32_t>(capacity);
    index.heldBytes = index.records.size + index.scratch.size;
    return true;
}

// The fewest frames from the last snapshot to the next: packed, as many as spread the
// snapshots so far, at their mean size, over the whole movie within the budget.
std::uint32_t SpacingDue(const SeekIndex& index, std::uint32_t frameCount) {
    if (!index.packed || index.count == 0) return index.spacing;
    const std::size_t fixed = index.records.size + index.scratch.size;
    const std::size_t room = index.budget > fixed ? index.budget - fixed : 1;
    const double mean = double(index.snapshotBytes) / index.count;
    const double spread = double(frameCount) * mean / double(room);
    return std::max(index.spacing, static_cast<std::uint32_t>(std::min(spread + 1, 1e9)));
}

void Forget(SeekIndex& index, std::uint32_t at) {
    Snapshot* records = Records(index);
    ZambFree(records[at].data);
    index.heldBytes -= records[at].bytes;
    index.snapshotBytes -= records[at].bytes;
    std::memmove(records + at, records + at + 1, (index.count - at - 1) * sizeof(Snapshot));
    --index.count;
}

// Thins the snapshots where they lie closest: the one whose neighbours (frame 0 before the
// first, frame `next` after the last) are nearest each other goes, so that what is left
// stays as evenly spread as it can.
void ForgetClosest(SeekIndex& index, std::uint32_t next) {
    const Snapshot* records = Records(index);
    const std::uint32_t count = index.count;
    std::uint32_t chosen = 0, narrowest = UINT32_MAX;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t before = i == 0 ? 0 : records[i - 1].frame;
        const std::uint32_t after = i + 1 < count ? records[i + 1].frame : next;
        if (after - before < narrowest) {
            narrowest = after - before;
            chosen = i;
        }
    }
    Forget(index, chosen);
}

// The picture in the index's form: packed into the scratch, or with its rows together
// (where they already are, or gathered into `raw`, which holds the picture's bytes).
const std::uint8_t* PictureForm(SeekIndex& index, const IndexPicture& picture, std::size_t* bytes,
                                std::uint8_t* raw) {
    if (!index.packed) {
        *bytes = PictureBytes(picture);
        if (RowsTogether(picture)) return picture.first;
        GatherRows(picture, raw);
        return raw;
    }
    const std::uint8_t* rows = picture.first;
    if (!RowsTogether(picture)) {
        GatherRows(picture, FlatRoom(index));
        rows = FlatRoom(index);
    }
    *bytes = PackPicture(rows, picture.rowBytes, picture.rows, index.scratch.data);
    return index.scratch.data;
}

// Room for a snapshot of `bytes`, thinning the others when the records or the budget are
// full; false when even an empty index has none.
bool MakeRoom(SeekIndex& index, std::size_t bytes, std::uint32_t frame) {
    while (index.count != 0 &&
           (index.count == index.capacity || index.heldBytes + bytes > index.budget))
        ForgetClosest(index, frame);
    return index.heldBytes + bytes <= index.budget;
}

}  // namespace

const Snapshot* IndexSnapshotAt(const SeekIndex& index, std::uint32_t frame) {
    const Snapshot* records = Records(index);
    const Snapshot* end = records + index.count;
    const Snapshot* found = std::lower_bound(
        records, end, frame, [](const Snapshot& s, std::uint32_t f) { return s.frame < f; });
    return found != end && found->frame == frame ? found : nullptr;
}

std::uint32_t IndexSnapshotBefore(const SeekIndex& index, std::uint32_t frame) {
    const Snapshot* records = Records(index);
    const Snapshot* after =
        std::upper_bound(records, records + index.count, frame,
                         [](std::uint32_t f, const Snapshot& s) { return f < s.frame; });
    return after == records ? 0 : (after - 1)->frame;
}

bool IndexFits(const SeekIndex& index, const IndexPicture& picture) {
    return !index.planned || (index.rowBytes == picture.rowBytes && index.rows == picture.rows);
}

void IndexTake(SeekIndex& index, std::uint32_t frame, std::uint32_t frameCount,
               const IndexPicture& picture, const std::uint8_t* palette) {
    if (!index.wanted || index.budget == 0 || frame == 0 || frame >= frameCount ||
        picture.first == nullptr || !IndexFits(index, picture) ||
        !PlanIndex(index, frameCount, picture))
        return;
    const std::uint32_t last = index.count == 0 ? 0 : Records(index)[index.count - 1].frame;
    if (frame <= last || frame - last < SpacingDue(index, frameCount)) return;
    // A raw snapshot's worst case is known before the picture is read: room is made first,
    // so that a raw picture whose rows lie apart is gathered straight into its own block.
    const std::size_t rawBytes = ZAMB_PALETTE_BYTES + PictureBytes(picture);
    if (!index.packed && !MakeRoom(index, rawBytes, frame)) return;
    auto* block =
        index.packed
            ? nullptr
            : static_cast<std::uint8_t*>(ZambAllocate(static_cast<std::uint32_t>(rawBytes)));
    if (!index.packed && block == nullptr) return;  // the index only speeds seeks up
    std::size_t pictureBytes = 0;
    const std::uint8_t* form =
        PictureForm(index, picture, &pictureBytes, block ? block + ZAMB_PALETTE_BYTES : nullptr);
    const std::size_t bytes = ZAMB_PALETTE_BYTES + pictureBytes;
    if (index.packed) {
        if (!MakeRoom(index, bytes, frame)) return;
        block = static_cast<std::uint8_t*>(ZambAllocate(static_cast<std::uint32_t>(bytes)));
        if (block == nullptr) return;
    }
    std::memcpy(block, palette, ZAMB_PALETTE_BYTES);
    if (form != block + ZAMB_PALETTE_BYTES)
        std::memcpy(block + ZAMB_PALETTE_BYTES, form, pictureBytes);
    Records(index)[index.count++] = {frame, static_cast<std::uint32_t>(bytes), block};
    index.heldBytes += bytes;
    index.snapshotBytes += bytes;
}

bool IndexRestore(SeekIndex& index, const Snapshot& snapshot, const IndexPicture& picture,
                  std::uint8_t* palette) {
    if (!index.planned || !IndexFits(index, picture)) return false;
    const std::uint8_t* stored = snapshot.data + ZAMB_PALETTE_BYTES;
    const std::size_t storedBytes = snapshot.bytes - ZAMB_PALETTE_BYTES;
    if (index.packed) {
        std::uint8_t* rows = RowsTogether(picture) ? picture.first : FlatRoom(index);
        if (!UnpackPicture(stored, storedBytes, picture.rowBytes, picture.rows, rows)) return false;
        if (rows != picture.first) ScatterRows(rows, picture);
    } else if (storedBytes != PictureBytes(picture)) {
        return false;
    } else {
        ScatterRows(stored, picture);
    }
    std::memcpy(palette, snapshot.data, ZAMB_PALETTE_BYTES);
    return true;
}

void IndexRelease(SeekIndex& index) {
    for (std::uint32_t i = 0; i < index.count; ++i) ZambFree(Records(index)[i].data);
    index.records.Release();
    index.scratch.Release();
    const std::size_t budget = index.budget;
    const bool wanted = index.wanted;
    index = SeekIndex{};
    index.budget = budget;
    index.wanted = wanted;
}
