// SPDX-License-Identifier: MIT
// The seek index of a decoder handle (seek_index.h) over its own picture: snapshots after
// frames of the first pass, within the caller's budget.
#include "handles/handle.h"
#include "decoder/seek_index.h"

namespace {

// The handle's picture: a display's takes two bytes a pixel, packed as bytes like any others.
IndexPicture HandlePicture(const ZambDecoder* decoder) {
    const std::uint32_t rowBytes =
        decoder->movie.Width * (DisplayFormat(decoder) == ZAMBPIX_INDEX8 ? 1 : 2);
    return {decoder->picture.data, static_cast<std::ptrdiff_t>(rowBytes), rowBytes,
            decoder->movie.Height};
}

}  // namespace

const Snapshot* SnapshotAt(const ZambDecoder* decoder, std::uint32_t frame) {
    return IndexSnapshotAt(decoder->index, frame);
}

std::uint32_t SnapshotBefore(const ZambDecoder* decoder, std::uint32_t frame) {
    return IndexSnapshotBefore(decoder->index, frame);
}

void TakeSnapshot(ZambDecoder* decoder) {
    const Movie& movie = decoder->movie;
    // Only first-pass frames whose sound positions are known: a seek resuming from one must
    // find exactly what decoding from frame 0 would have left, and know where its sound is.
    if (!decoder->firstPass || movie.FrameNumber >= decoder->positionsKnown) return;
    IndexTake(decoder->index, movie.FrameNumber, movie.FrameCount, HandlePicture(decoder),
              movie.Palette);
}

bool RestoreSnapshot(ZambDecoder* decoder, const Snapshot* snapshot) {
    if (!IndexRestore(decoder->index, *snapshot, HandlePicture(decoder), decoder->movie.Palette))
        return false;
    decoder->movie.PaletteDirty16 = 1;
    return true;
}

void ReleaseIndex(ZambDecoder* decoder) {
    IndexRelease(decoder->index);
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
