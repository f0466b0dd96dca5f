// SPDX-License-Identifier: MIT
// The key-colour copies, the rectangle fill and the copies between display buffers.
#include <cstring>

#include "blit/handle.h"
#include "blit/workers.h"

namespace {

// The screen forms share the plain 8-bit mode's addressing; the mask or merge buffer is
// laid out like the source.
KeyRows ScreenKeyRows(void* dest, std::int32_t destPitch, std::uint32_t destX, std::uint32_t destY,
                      const std::uint8_t* src, std::int32_t srcPitch, std::uint32_t srcX,
                      std::uint32_t srcY, std::uint32_t width, std::uint32_t height,
                      std::uint32_t key, const std::uint8_t* side) {
    const std::ptrdiff_t srcOffset = static_cast<std::ptrdiff_t>(srcY) * srcPitch + srcX;
    KeyRows k{};
    k.rows.src = src + srcOffset;
    k.rows.srcPitch = srcPitch;
    k.rows.dest =
        static_cast<std::uint8_t*>(dest) + static_cast<std::ptrdiff_t>(destY) * destPitch + destX;
    k.rows.destPitch = destPitch;
    k.rows.destStep = destPitch;
    k.rows.width = width;
    k.rows.height = height;
    k.side = side ? side + srcOffset : nullptr;
    k.key = static_cast<std::uint8_t>(key);
    return k;
}

bool ScreenFormRuns(const ZambBlitHandle* handle, std::uint32_t width, std::uint32_t height) {
    return width != 0 && height != 0 && handle->mode == 0;
}

// A negative colour is the pixel itself; otherwise an index, converted on 16-bit formats.
// Only the index's low byte is used, as with the key colours, so that no value can reach
// past the 256-entry colour table.
std::uint16_t ClearValue(const ZambBlitHandle* handle, std::int32_t colour, bool wide) {
    if (colour < 0) return static_cast<std::uint16_t>(0u - static_cast<std::uint32_t>(colour));
    if (wide) return handle->colourTable[colour & 0xFF];
    return static_cast<std::uint8_t>(colour);
}

void FillRow16(std::uint8_t* row, std::uint32_t width, std::uint16_t value) {
    for (std::uint32_t x = 0; x < width; ++x) Store16(row + 2 * x, value);
}

bool RecordUsable(const ZambDisplayBuffer* record) {
    return record && record->Buffer;
}

// The rectangle must lie inside the record's rows, or the copy would write or read past
// its buffer.
bool RectangleFits(const ZambDisplayBuffer* record, std::uint32_t x, std::uint32_t y,
                   std::uint32_t width, std::uint32_t height) {
    return std::uint64_t{x} + width <= record->Pitch && std::uint64_t{y} + height <= record->Height;
}

std::uint8_t* RowAddress(const ZambDisplayBuffer* record, std::uint64_t row, std::uint32_t x) {
    return record->Buffer + row * record->Pitch + x;
}

// The walk always starts at the destination's first rectangle row in memory: the top row
// when the destination is top down, the bottom row when it is bottom up. The source is
// walked in the same picture order, upwards in memory when the storage orders differ.
struct BufferWalk {
    BlitRows rows;
    std::uint64_t firstSourceRow;
};

BufferWalk WalkBetween(ZambDisplayBuffer* dest, std::uint32_t destX, std::uint32_t destY,
                       const ZambDisplayBuffer* src, std::uint32_t srcX, std::uint32_t srcY,
                       std::uint32_t width, std::uint32_t height) {
    const std::uint64_t firstDest = dest->BottomUp ? dest->Height - destY - height : destY;
    const bool sameOrder = (dest->BottomUp != 0) == (src->BottomUp != 0);
    std::uint64_t firstSource;
    if (sameOrder) {
        firstSource = src->BottomUp ? src->Height - srcY - height : srcY;
    } else {
        firstSource = src->BottomUp ? src->Height - srcY - 1 : srcY + height - 1;
    }
    const std::ptrdiff_t srcPitch = static_cast<std::ptrdiff_t>(src->Pitch);
    BufferWalk walk{};
    walk.rows.src = RowAddress(src, firstSource, srcX);
    walk.rows.srcPitch = sameOrder ? srcPitch : -srcPitch;
    walk.rows.dest = RowAddress(dest, firstDest, destX);
    walk.rows.destPitch = static_cast<std::ptrdiff_t>(dest->Pitch);
    walk.rows.destStep = walk.rows.destPitch;
    walk.rows.width = width;
    walk.rows.height = height;
    walk.firstSourceRow = firstSource;
    return walk;
}

bool BufferFormRuns(const ZambDisplayBuffer* dest, std::uint32_t destX, std::uint32_t destY,
                    const ZambDisplayBuffer* src, std::uint32_t srcX, std::uint32_t srcY,
                    std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0 || !RecordUsable(dest) || !RecordUsable(src)) return false;
    return RectangleFits(dest, destX, destY, width, height) &&
           RectangleFits(src, srcX, srcY, width, height);
}

// A mask or merge record is addressed at the source's rows, so it must be stored like the
// source and be at least as tall.
bool SideRecordMatches(const ZambDisplayBuffer* side, const ZambDisplayBuffer* src) {
    return RecordUsable(side) && side->BottomUp == src->BottomUp && side->Pitch == src->Pitch &&
           side->Height >= src->Height;
}

using KeyWorker = void (*)(const KeyRows&);

void BufferKeyCopy(KeyWorker worker, ZambDisplayBuffer* destBuf, std::uint32_t destX,
                   std::uint32_t destY, ZambDisplayBuffer* srcBuf, std::uint32_t srcX,
                   std::uint32_t srcY, std::uint32_t width, std::uint32_t height, std::uint32_t key,
                   const ZambDisplayBuffer* sideBuf) {
    if (!BufferFormRuns(destBuf, destX, destY, srcBuf, srcX, srcY, width, height)) return;
    if (sideBuf && !SideRecordMatches(sideBuf, srcBuf)) return;
    const BufferWalk walk = WalkBetween(destBuf, destX, destY, srcBuf, srcX, srcY, width, height);
    KeyRows k{walk.rows, nullptr, static_cast<std::uint8_t>(key)};
    if (sideBuf) k.side = RowAddress(sideBuf, walk.firstSourceRow, srcX);
    worker(k);
}

}  // namespace

extern "C" {

void ZAMBBLIT_API ZambBlitTrans(ZambBlitHandle* handle, void* dest, std::int32_t destPitch,
                                std::uint32_t destX, std::uint32_t destY, const std::uint8_t* src,
                                std::int32_t srcPitch, std::uint32_t srcX, std::uint32_t srcY,
                                std::uint32_t width, std::uint32_t height,
                                std::uint32_t transColour) {
    if (!ScreenFormRuns(handle, width, height)) return;
    BlitTransCore(ScreenKeyRows(dest, destPitch, destX, destY, src, srcPitch, srcX, srcY, width,
                                height, transColour, nullptr));
}

void ZAMBBLIT_API ZambBlitMask(ZambBlitHandle* handle, void* dest, std::int32_t destPitch,
                               std::uint32_t destX, std::uint32_t destY, const std::uint8_t* src,
                               std::int32_t srcPitch, std::uint32_t srcX, std::uint32_t srcY,
                               std::uint32_t width, std::uint32_t height, std::uint32_t keyColour,
                               const std::uint8_t* mask) {
    if (!ScreenFormRuns(handle, width, height)) return;
    BlitMaskCore(ScreenKeyRows(dest, destPitch, destX, destY, src, srcPitch, srcX, srcY, width,
                               height, keyColour, mask));
}

void ZAMBBLIT_API ZambBlitMerge(ZambBlitHandle* handle, void* dest, std::int32_t destPitch,
                                std::uint32_t destX, std::uint32_t destY, const std::uint8_t* src,
                                std::int32_t srcPitch, std::uint32_t srcX, std::uint32_t srcY,
                                std::uint32_t width, std::uint32_t height, std::uint32_t keyColour,
                                const std::uint8_t* merge) {
    if (!ScreenFormRuns(handle, width, height)) return;
    BlitMergeCore(ScreenKeyRows(dest, destPitch, destX, destY, src, srcPitch, srcX, srcY, width,
                                height, keyColour, merge));
}

// Looks at the format, not the mode: a fill is never doubled.
void ZAMBBLIT_API ZambBlitClear(ZambBlitHandle* handle, void* dest, std::int32_t destPitch,
                                std::uint32_t destX, std::uint32_t destY, std::uint32_t width,
                                std::uint32_t height, std::int32_t colour) {
    if (width == 0 || height == 0) return;
    const bool wide = (handle->flags & ZAMBBLIT_FORMAT_MASK) != 0;
    const std::uint16_t value = ClearValue(handle, colour, wide);
    auto* row = static_cast<std::uint8_t*>(dest) + static_cast<std::ptrdiff_t>(destY) * destPitch +
                static_cast<std::ptrdiff_t>(destX) * (wide ? 2 : 1);
    for (std::uint32_t r = 0; r < height; ++r, row += destPitch) {
        if (wide) {
            FillRow16(row, width, value);
        } else {
            std::memset(row, static_cast<std::uint8_t>(value), width);
        }
    }
}

void ZAMBBLIT_API ZambBufferToBuffer(ZambDisplayBuffer* destBuf, std::uint32_t destX,
                                     std::uint32_t destY, ZambDisplayBuffer* srcBuf,
                                     std::uint32_t srcX, std::uint32_t srcY, std::uint32_t width,
                                     std::uint32_t height) {
    if (!BufferFormRuns(destBuf, destX, destY, srcBuf, srcX, srcY, width, height)) return;
    BlitCopy8(WalkBetween(destBuf, destX, destY, srcBuf, srcX, srcY, width, height).rows);
}

void ZAMBBLIT_API ZambBufferToBufferTrans(ZambDisplayBuffer* destBuf, std::uint32_t destX,
                                          std::uint32_t destY, ZambDisplayBuffer* srcBuf,
                                          std::uint32_t srcX, std::uint32_t srcY,
                                          std::uint32_t width, std::uint32_t height,
                                          std::uint32_t transColour) {
    BufferKeyCopy(BlitTransCore, destBuf, destX, destY, srcBuf, srcX, srcY, width, height,
                  transColour, nullptr);
}

void ZAMBBLIT_API ZambBufferToBufferMask(ZambDisplayBuffer* destBuf, std::uint32_t destX,
                                         std::uint32_t destY, ZambDisplayBuffer* srcBuf,
                                         std::uint32_t srcX, std::uint32_t srcY,
                                         std::uint32_t width, std::uint32_t height,
                                         std::uint32_t keyColour, ZambDisplayBuffer* maskBuf) {
    // A missing mask record cannot match the source's layout.
    if (!maskBuf) return;
    BufferKeyCopy(BlitMaskCore, destBuf, destX, destY, srcBuf, srcX, srcY, width, height, keyColour,
                  maskBuf);
}

void ZAMBBLIT_API ZambBufferToBufferMerge(ZambDisplayBuffer* destBuf, std::uint32_t destX,
                                          std::uint32_t destY, ZambDisplayBuffer* srcBuf,
                                          std::uint32_t srcX, std::uint32_t srcY,
                                          std::uint32_t width, std::uint32_t height,
                                          std::uint32_t keyColour, ZambDisplayBuffer* mergeBuf) {
    if (!mergeBuf) return;
    BufferKeyCopy(BlitMergeCore, destBuf, destX, destY, srcBuf, srcX, srcY, width, height,
                  keyColour, mergeBuf);
}

}  // extern "C"
