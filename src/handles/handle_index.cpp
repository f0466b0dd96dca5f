// SPDX-License-Identifier: MIT
// The seek index of a decoder handle: snapshots of the picture and palette after frames of
// the first pass, within the caller's budget. A frame's stream decodes on its own from the
// picture and palette before it, so a seek resumes from the nearest snapshot and decodes
// only the frames after it.
#include <algorithm>
#include <cstring>

#include "core/allocator.h"
#include "handles/handle.h"
#include "handles/snapshot_pack.h"

namespace {

// Raw pictures are kept when they fit this close together; beyond that, packing lets many
// more fit. Packing a picture costs about as much as decoding one frame, so snapshots are
// never packed closer than this: building the index then costs a few per cent of a decode.
constexpr std::uint32_t kPackedSpacing = 16;

Snapshot* Records(const ZambDecoder* decoder) {
    return reinterpret_cast<Snapshot*>(decoder->index.records.data);
}

// A picture's rows in bytes: a handle that decodes onto a 16-bit display picture keeps two
// bytes a pixel, and they are packed as bytes like any others.
std::uint32_t RowBytes(const ZambDecoder* decoder) {
    return decoder->movie.Width * (DisplayFormat(decoder) == ZAMBPIX_INDEX8 ? 1 : 2);
}

std::size_t PictureBytes(const ZambDecoder* decoder) {
    return std::size_t{RowBytes(decoder)} * decoder->movie.Height;
}

// Chooses the snapshots' form and spacing for the whole movie, and reserves their records
// (and, for packing, the scratch picture) inside the budget; false when none fits.
bool PlanIndex(ZambDecoder* decoder) {
    SeekIndex& index = decoder->index;
    if (index.planned) return index.spacing != 0;
    index.planned = true;
    const Movie& movie = decoder->movie;
    const std::size_t raw = PictureBytes(decoder) + ZAMB_PALETTE_BYTES + sizeof(Snapshot);
    if (movie.FrameCount < 2 || index.budget < raw) return false;
    const std::size_t rawSpacing =
        (movie.FrameCount + index.budget / raw - 1) / (index.budget / raw);
    index.packed = rawSpacing > kPackedSpacing;
    index.spacing = index.packed ? kPackedSpacing : static_cast<std::uint32_t>(rawSpacing);
    // Packed, the records are kept to a small share of the budget: when they run out, the
    // snapshots are thinned as when the bytes run out.
    std::size_t capacity = movie.FrameCount / index.spacing + 1;
    if (index.packed) capacity = std::min(capacity, std::max<std::size_t>(2, index.budget / 1024));
    const std::size_t scratch =
        index.packed ? PackedPictureBound(RowBytes(decoder), movie.Height) : 0;
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
std::uint32_t SpacingDue(const ZambDecoder* decoder) {
    const SeekIndex& index = decoder->index;
    if (!index.packed || index.count == 0) return index.spacing;
    const std::size_t fixed = index.records.size + index.scratch.size;
    const std::size_t room = index.budget > fixed ? index.budget - fixed : 1;
    const double mean = double(index.snapshotBytes) / index.count;
    const double spread = double(decoder->movie.FrameCount) * mean / double(room);
    return std::max(index.spacing, static_cast<std::uint32_t>(std::min(spread + 1, 1e9)));
}

void Forget(ZambDecoder* decoder, std::uint32_t at) {
    SeekIndex& index = decoder->index;
    Snapshot* records = Records(decoder);
    ZambFree(records[at].data);
    index.heldBytes -= records[at].bytes;
    index.snapshotBytes -= records[at].bytes;
    std::memmove(records + at, records + at + 1, (index.count - at - 1) * sizeof(Snapshot));
    --index.count;
}

// Thins the snapshots where they lie closest: the one whose neighbours (frame 0 before the
// first, frame `next` after the last) are nearest each other goes, so that what is left
// stays as evenly spread as it can.
void ForgetClosest(ZambDecoder* decoder, std::uint32_t next) {
    const Snapshot* records = Records(decoder);
    const std::uint32_t count = decoder->index.count;
    std::uint32_t chosen = 0, narrowest = UINT32_MAX;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t before = i == 0 ? 0 : records[i - 1].frame;
        const std::uint32_t after = i + 1 < count ? records[i + 1].frame : next;
        if (after - before < narrowest) {
            narrowest = after - before;
            chosen = i;
        }
    }
    Forget(decoder, chosen);
}

// The current picture in the index's form, in `out` when packing (else the picture itself).
const std::uint8_t* PictureForm(ZambDecoder* decoder, std::size_t* bytes) {
    if (!decoder->index.packed) {
        *bytes = PictureBytes(decoder);
        return decoder->picture.data;
    }
    *bytes = PackPicture(decoder->picture.data, RowBytes(decoder), decoder->movie.Height,
                         decoder->index.scratch.data);
    return decoder->index.scratch.data;
}

}  // namespace

const Snapshot* SnapshotAt(const ZambDecoder* decoder, std::uint32_t frame) {
    const Snapshot* records = Records(decoder);
    const Snapshot* end = records + decoder->index.count;
    const Snapshot* found = std::lower_bound(
        records, end, frame, [](const Snapshot& s, std::uint32_t f) { return s.frame < f; });
    return found != end && found->frame == frame ? found : nullptr;
}

std::uint32_t SnapshotBefore(const ZambDecoder* decoder, std::uint32_t frame) {
    const Snapshot* records = Records(decoder);
    const Snapshot* after =
        std::upper_bound(records, records + decoder->index.count, frame,
                         [](std::uint32_t f, const Snapshot& s) { return f < s.frame; });
    return after == records ? 0 : (after - 1)->frame;
}

void TakeSnapshot(ZambDecoder* decoder) {
    const Movie& movie = decoder->movie;
    const std::uint32_t frame = movie.FrameNumber;
    // Only first-pass frames whose sound positions are known: a seek resuming from one must
    // find exactly what decoding from frame 0 would have left, and know where its sound is.
    if (!decoder->index.wanted || decoder->index.budget == 0 || !decoder->firstPass || frame == 0 ||
        frame >= movie.FrameCount || frame >= decoder->positionsKnown || !PlanIndex(decoder))
        return;
    SeekIndex& index = decoder->index;
    const std::uint32_t last = index.count == 0 ? 0 : Records(decoder)[index.count - 1].frame;
    if (frame <= last || frame - last < SpacingDue(decoder)) return;
    std::size_t pictureBytes = 0;
    const std::uint8_t* picture = PictureForm(decoder, &pictureBytes);
    const std::size_t bytes = ZAMB_PALETTE_BYTES + pictureBytes;
    while (index.count != 0 &&
           (index.count == index.capacity || index.heldBytes + bytes > index.budget))
        ForgetClosest(decoder, frame);
    if (index.heldBytes + bytes > index.budget) return;
    auto* data = static_cast<std::uint8_t*>(ZambAllocate(static_cast<std::uint32_t>(bytes)));
    if (data == nullptr) return;  // the index only speeds seeks up
    std::memcpy(data, movie.Palette, ZAMB_PALETTE_BYTES);
    std::memcpy(data + ZAMB_PALETTE_BYTES, picture, pictureBytes);
    Records(decoder)[index.count++] = {frame, static_cast<std::uint32_t>(bytes), data};
    index.heldBytes += bytes;
    index.snapshotBytes += bytes;
}

bool RestoreSnapshot(ZambDecoder* decoder, const Snapshot* snapshot) {
    Movie& movie = decoder->movie;
    const std::uint8_t* picture = snapshot->data + ZAMB_PALETTE_BYTES;
    const std::size_t pictureBytes = snapshot->bytes - ZAMB_PALETTE_BYTES;
    if (decoder->index.packed) {
        if (!UnpackPicture(picture, pictureBytes, RowBytes(decoder), movie.Height,
                           decoder->picture.data))
            return false;
    } else {
        std::memcpy(decoder->picture.data, picture, pictureBytes);
    }
    std::memcpy(movie.Palette, snapshot->data, ZAMB_PALETTE_BYTES);
    movie.PaletteDirty16 = 1;
    return true;
}

void ReleaseIndex(ZambDecoder* decoder) {
    SeekIndex& index = decoder->index;
    for (std::uint32_t i = 0; i < index.count; ++i) ZambFree(Records(decoder)[i].data);
    index.records.Release();
    index.scratch.Release();
    const std::size_t budget = index.budget;
    const bool wanted = index.wanted;
    index = SeekIndex{};
    index.budget = budget;
    index.wanted = wanted;
}

extern "C" {

ZambError ZambDecoderSetIndexBudget(ZambDecoder* decoder, std::size_t bytes) {
    if (decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    // The snapshots are spaced for the budget they were planned with: a new one starts over.
    ReleaseIndex(decoder);
    decoder->index.budget = bytes;
    decoder->index.wanted = true;
    return ZAMBERR_NONE;
}

std::size_t ZambDecoderIndexBytes(const ZambDecoder* decoder) {
    return decoder == nullptr ? 0 : decoder->index.heldBytes;
}

}  // extern "C"
