// SPDX-License-Identifier: MIT
// The seek index of a decoder handle: snapshots of the picture and palette after every
// `interval`-th frame of the first pass, within the caller's budget. A frame's stream
// decodes on its own from the picture and palette before it, so a seek resumes from the
// nearest snapshot and decodes only the frames after it.
#include <algorithm>
#include <cstring>

#include "core/allocator.h"
#include "decoder/handle.h"

namespace {

std::uint8_t** Slots(const ZambDecoder* decoder) {
    return reinterpret_cast<std::uint8_t**>(decoder->index.slots.data);
}

// Spaces the snapshots so that one every `interval` frames over the whole movie fits in the
// budget; false when not even one fits (or the slots' own list could not be made).
bool PlanIndex(ZambDecoder* decoder) {
    SeekIndex& index = decoder->index;
    if (index.interval != 0) return index.slots.data != nullptr;
    const Movie& movie = decoder->movie;
    const std::size_t pixelBytes = DisplayFormat(decoder) == ZAMBPIX_INDEX8 ? 1 : 2;
    index.snapshotBytes = std::size_t{movie.Width} * movie.Height * pixelBytes + ZAMB_PALETTE_BYTES;
    // Each snapshot costs its bytes and its slot's pointer; slot 0 (frame 0, which needs no
    // snapshot) only its pointer.
    const std::size_t perSnapshot = index.snapshotBytes + sizeof(std::uint8_t*);
    const std::size_t fitting = index.budget > sizeof(std::uint8_t*)
                                    ? (index.budget - sizeof(std::uint8_t*)) / perSnapshot
                                    : 0;
    index.interval = 0xFFFFFFFFu;  // planned: none fit, unless the lines below say otherwise
    if (fitting == 0 || movie.FrameCount < 2) return false;
    const std::size_t interval = (movie.FrameCount + fitting - 1) / fitting;
    index.interval = static_cast<std::uint32_t>(interval);
    index.slotCount = movie.FrameCount / index.interval + 1;
    if (!index.slots.Reserve(std::size_t{index.slotCount} * sizeof(std::uint8_t*))) return false;
    std::memset(index.slots.data, 0, index.slots.size);
    return true;
}

}  // namespace

const std::uint8_t* SnapshotAt(const ZambDecoder* decoder, std::uint32_t frame) {
    const SeekIndex& index = decoder->index;
    if (index.slots.data == nullptr || frame % index.interval != 0) return nullptr;
    return frame / index.interval < index.slotCount ? Slots(decoder)[frame / index.interval]
                                                    : nullptr;
}

std::uint32_t SnapshotBefore(const ZambDecoder* decoder, std::uint32_t frame) {
    const SeekIndex& index = decoder->index;
    if (index.slots.data == nullptr) return 0;
    for (std::uint32_t slot = std::min(frame / index.interval, index.slotCount - 1); slot != 0;
         --slot)
        if (Slots(decoder)[slot] != nullptr) return slot * index.interval;
    return 0;
}

void TakeSnapshot(ZambDecoder* decoder) {
    const Movie& movie = decoder->movie;
    const std::uint32_t frame = movie.FrameNumber;
    // Only first-pass frames whose sound positions are known: a seek resuming from one must
    // find exactly what decoding from frame 0 would have left, and know where its sound is.
    if (decoder->index.budget == 0 || !decoder->firstPass || frame == 0 ||
        frame >= movie.FrameCount || frame >= decoder->positionsKnown || !PlanIndex(decoder))
        return;
    const SeekIndex& index = decoder->index;
    if (frame % index.interval != 0 || Slots(decoder)[frame / index.interval] != nullptr) return;
    auto* snapshot =
        static_cast<std::uint8_t*>(ZambAllocate(static_cast<std::uint32_t>(index.snapshotBytes)));
    if (snapshot == nullptr) return;  // the index only speeds seeks up
    const std::size_t pictureBytes = index.snapshotBytes - ZAMB_PALETTE_BYTES;
    std::memcpy(snapshot, decoder->picture.data, pictureBytes);
    std::memcpy(snapshot + pictureBytes, movie.Palette, ZAMB_PALETTE_BYTES);
    Slots(decoder)[frame / index.interval] = snapshot;
}

void RestoreSnapshot(ZambDecoder* decoder, const std::uint8_t* snapshot) {
    Movie& movie = decoder->movie;
    const std::size_t pictureBytes = decoder->index.snapshotBytes - ZAMB_PALETTE_BYTES;
    std::memcpy(decoder->picture.data, snapshot, pictureBytes);
    std::memcpy(movie.Palette, snapshot + pictureBytes, ZAMB_PALETTE_BYTES);
    movie.PaletteDirty16 = 1;
}

void ReleaseIndex(ZambDecoder* decoder) {
    SeekIndex& index = decoder->index;
    if (index.slots.data != nullptr)
        for (std::uint32_t slot = 0; slot < index.slotCount; ++slot) ZambFree(Slots(decoder)[slot]);
    index.slots.Release();
    index.slotCount = 0;
    index.interval = 0;
}

extern "C" {

ZambError ZambDecoderSetIndexBudget(ZambDecoder* decoder, std::size_t bytes) {
    if (decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    // The snapshots are spaced for the budget they were planned with: a new one starts over.
    ReleaseIndex(decoder);
    decoder->index.budget = bytes;
    return ZAMBERR_NONE;
}

std::size_t ZambDecoderIndexBytes(const ZambDecoder* decoder) {
    if (decoder == nullptr || decoder->index.slots.data == nullptr) return 0;
    std::size_t bytes = decoder->index.slots.size;
    for (std::uint32_t slot = 0; slot < decoder->index.slotCount; ++slot)
        if (Slots(decoder)[slot] != nullptr) bytes += decoder->index.snapshotBytes;
    return bytes;
}

}  // extern "C"
