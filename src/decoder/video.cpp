// SPDX-License-Identifier: MIT
// The frame decode, the destination it writes into, and the colour remap.
#include "decoder/video.h"

#include <algorithm>
#include <cstring>

#include "core/allocator.h"
#include "core/debug.h"
#include "core/mmx.h"
#include "core/palette_layout.h"
#include "decoder/host.h"
#include "decoder/movie.h"
#include "decoder/painters.h"
#include "decoder/track_services.h"
#include "decoder/value_tables.h"
#include "zambrel/blit.h"

namespace {

// --- Destination ------------------------------------------------------------------------

struct DestGeometry {
    std::uint32_t rows;    // decoded rows
    std::int64_t rowStep;  // before the bottom-up sign
    std::int64_t k;        // row steps from a block's first output row to its last
    std::uint32_t bytesPerPixel;
    std::uint32_t lastOutputRow;  // of the picture as shown, counted from its top
};

DestGeometry PlanGeometry(const Movie* movie, std::int32_t pitch, std::uint32_t flags) {
    DestGeometry g{movie->Height, pitch, 3, (flags & kDestFormatMask) ? 2u : 1u, 0};
    if (movie->OpenFlags & ZAMB_INTERLACE) {
        g.rows = movie->Height / 2;
        g.rowStep = std::int64_t{2} * pitch;
    } else if (movie->OpenFlags & ZAMB_DOUBLE) {
        g.rows = movie->Height / 2;
        g.k = 7;
    }
    // Interlaced pictures leave the row under their last decoded row unwritten.
    if (g.rows != 0) {
        g.lastOutputRow = (movie->OpenFlags & ZAMB_INTERLACE) ? 2 * (g.rows - 1)
                          : (movie->OpenFlags & ZAMB_DOUBLE)  ? 2 * g.rows - 1
                                                              : g.rows - 1;
    }
    return g;
}

// The painters do not clip, so a buffer that cannot hold every output pixel of the picture
// at the given place is refused rather than written past.
bool PictureFits(const Movie* movie, const DestGeometry& g, std::uint32_t left, std::int32_t top,
                 std::int32_t pitch, std::int32_t destHeight) {
    if (pitch <= 0 || top < 0 || destHeight < 0) return false;
    const std::uint64_t rowBytes = (std::uint64_t{left} + movie->Width) * g.bytesPerPixel;
    if (rowBytes > static_cast<std::uint64_t>(pitch)) return false;
    // Every step the painters add must fit the descriptor's 32-bit fields.
    if ((g.k + 1) * g.rowStep > INT32_MAX) return false;
    if (g.rows == 0 || movie->Width == 0) return top <= destHeight;
    return std::int64_t{top} + g.lastOutputRow < destHeight;
}

void ReleaseDestination(Movie* movie) {
    if (movie->Dest == nullptr) return;
    ZambFree(movie->Dest);
    MovieUncharge(movie, movie->DestSize);
    movie->Dest = nullptr;
    movie->DestSize = 0;
    // The table lived inside the descriptor; leaving the pointer would carry freed memory
    // into the next 16-bit destination.
    movie->ColourTable16 = nullptr;
}

// Reuses the descriptor when it is large enough, else replaces it; carries the 16-bit
// colour table over into its new place. Null when a new descriptor cannot be had.
Destination* ObtainDescriptor(Movie* movie, std::uint32_t size, bool sixteenBit) {
    Destination* old = movie->Dest;
    Destination* dest = old;
    std::uint32_t destSize = movie->DestSize;
    if (old == nullptr || old->Kind != kDestinationLinear || movie->DestSize < size) {
        dest = static_cast<Destination*>(MovieAllocate(movie, size));
        if (dest == nullptr) {
            ReleaseDestination(movie);
            return nullptr;
        }
        std::memset(dest, 0, size);
        destSize = size;
    }
    std::uint16_t* table = nullptr;
    if (sixteenBit) {
        table = reinterpret_cast<std::uint16_t*>(reinterpret_cast<std::uint8_t*>(dest) + destSize -
                                                 kColourTableBytes);
        if (movie->ColourTable16 != nullptr && movie->ColourTable16 != table) {
            std::memmove(table, movie->ColourTable16, kColourTableBytes);
        }
    }
    if (dest != old) {
        ReleaseDestination(movie);
        movie->Dest = dest;
        movie->DestSize = destSize;
    }
    movie->ColourTable16 = table;
    return dest;
}

void LayOutDestination(Movie* movie, Destination* dest, const DestGeometry& g, std::uint32_t left,
                       std::int32_t top, std::int32_t pitch, std::int32_t destHeight,
                       std::uint8_t* buffer, std::uint32_t flags) {
    const bool bottomUp = (flags & kDestBottomUp) != 0;
    movie->DestX = static_cast<std::int32_t>(left);
    movie->DestY = top;
    dest->Kind = kDestinationLinear;
    dest->RowDoubling = (movie->OpenFlags & ZAMB_DOUBLE) ? 1 : 0;
    dest->PixelFormat = g.bytesPerPixel == 2 ? static_cast<std::uint8_t>(flags >> 24) : kFormat8;
    const std::int64_t firstRow = bottomUp ? std::int64_t{destHeight} - top - 1 : top;
    dest->FirstPixel =
        buffer + std::int64_t{left} * g.bytesPerPixel + std::int64_t{pitch} * firstRow;
    dest->BlocksAcross = movie->Width / 4;
    dest->BlockRows = g.rows / 4;
    const std::int64_t rowStep = bottomUp ? -g.rowStep : g.rowStep;
    dest->RowStep = static_cast<std::int32_t>(rowStep);
    dest->BlockSpan = static_cast<std::int32_t>(g.k * rowStep);
    dest->NextBlockRowStep = static_cast<std::int32_t>(
        (g.k + 1) * rowStep - std::int64_t{movie->Width} * g.bytesPerPixel);
    dest->ScanWidth = movie->Width;
    dest->ScanRows = g.rows;
}

// --- Frame decode -----------------------------------------------------------------------

// The part of the frame buffer the video chunk may be read from: up to the end of the
// current frame, and never past the buffer, whatever the chunk lengths before it said.
void VideoChunkBounds(const Movie* movie, const std::uint8_t** start, const std::uint8_t** end) {
    const auto base = reinterpret_cast<std::uintptr_t>(movie->FrameBuffer);
    const std::uintptr_t limit = base + movie->FrameBufferSize;
    std::uintptr_t frameEnd = limit;
    if (movie->FrameSizes != nullptr && movie->FrameNumber < StoredFrames(movie)) {
        const auto frame = reinterpret_cast<std::uintptr_t>(movie->FrameData);
        if (frame >= base && frame <= limit) {
            frameEnd =
                std::min<std::uintptr_t>(limit, frame + movie->FrameSizes[movie->FrameNumber]);
        }
    }
    std::uintptr_t chunk = reinterpret_cast<std::uintptr_t>(movie->VideoChunk);
    if (chunk < base || chunk > frameEnd) chunk = frameEnd;
    *start = movie->FrameBuffer + (chunk - base);
    *end = movie->FrameBuffer + (frameEnd - base);
}

void StartTiming(Movie* movie) {
    const std::uint32_t now = HostMilliseconds();
    movie->DecodeStartTime = now;
    movie->FrameStartTime = now;
    if (movie->FirstFrameTime == 0) movie->FirstFrameTime = now;
}

}  // namespace

namespace {

// The current frame's chunk and 16-bit colours, handed to `decode` (one of the two above).
template <class Decode>
void DecodeCurrentPictureWith(Movie* movie, Decode decode) {
    movie->RectState = 1;
    // The painters read a copy of the 16-bit colour table, which is the frame's own even if
    // the caller's palette changes meanwhile.
    std::uint16_t colours[256] = {};
    if (movie->Dest->PixelFormat != kFormat8 && movie->ColourTable16 != nullptr) {
        if (movie->PaletteDirty16) RebuildColourTable16(movie);
        std::memcpy(colours, movie->ColourTable16, kColourTableBytes);
    }
    const std::uint8_t* chunk;
    const std::uint8_t* chunkEnd;
    VideoChunkBounds(movie, &chunk, &chunkEnd);
    decode(chunk, chunkEnd, movie->Trees, movie->Dest, colours);
}

}  // namespace

void DecodeCurrentPicture(Movie* movie) {
    DecodeCurrentPictureWith(movie, DecodeVideo);
}

namespace {

FamilyKind ChooseFamily(const Destination* dest) {
    if (dest->PixelFormat == kFormat8) {
        return dest->RowDoubling ? FamilyKind::EightDoubled : FamilyKind::Eight;
    }
    return dest->RowDoubling ? FamilyKind::SixteenDoubled : FamilyKind::Sixteen;
}

void ResetPainters(PaintState& st, Destination* dest, const std::uint16_t* colours) {
    st = PaintState{};
    st.position = dest->FirstPixel;
    st.blocksAcross = dest->BlocksAcross;
    st.blocksLeftInRow = dest->BlocksAcross;
    st.blockRowsLeft = dest->BlockRows;
    st.rowStep = dest->RowStep;
    st.nextBlockRowStep = dest->NextBlockRowStep;
    st.totalBlocks = dest->BlocksAcross * dest->BlockRows;
    st.changeMap = ChangeMapOf(dest);
    st.colours = colours;
}

// --- Remap ------------------------------------------------------------------------------

std::uint32_t ColourDistance(const std::uint8_t* rgb, const std::uint8_t* entry,
                             const PaletteLayout& l) {
    const int dr = rgb[0] - entry[l.red], dg = rgb[1] - entry[l.green], db = rgb[2] - entry[l.blue];
    return static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
}

}  // namespace

namespace {

// The painters' state for a chunk, the trees' recent values reset and the scan of the change
// map started over; the family of painters the destination takes.
FamilyKind StartVideo(TreeBlock* trees, Destination* dest, const std::uint16_t* colours,
                      PaintState& paint) {
    ResetRecentValues(trees);
    dest->ScanDone = dest->ScanContinue = dest->ScanStarted = 0;
    dest->ScanX = dest->ScanY = 0;
    ResetPainters(paint, dest, colours);
    return ChooseFamily(dest);
}

}  // namespace

void DecodeVideo(const std::uint8_t* chunk, const std::uint8_t* chunkEnd, TreeBlock* trees,
                 Destination* dest, const std::uint16_t* colours) {
    if (trees == nullptr || dest == nullptr) return;
    // The painters' state is the call's own, so movies may be decoded on several threads.
    PaintState paint;
    const FamilyKind family = StartVideo(trees, dest, colours, paint);
    // Nothing here uses the processor's vector registers, so no state needs clearing after.
    if (MmxPathChosen())
        DecodeBlocksWide(paint, chunk, chunkEnd, trees, family);
    else
        DecodeBlocksPlain(paint, chunk, chunkEnd, trees, family);
}

void DecodeVideoChecked(const std::uint8_t* chunk, const std::uint8_t* chunkEnd, TreeBlock* trees,
                        Destination* dest, const std::uint16_t* colours, ChunkReading* reading) {
    if (trees == nullptr || dest == nullptr) return;
    PaintState paint;
    const FamilyKind family = StartVideo(trees, dest, colours, paint);
    *reading = MmxPathChosen() ? DecodeBlocksWideChecked(paint, chunk, chunkEnd, trees, family)
                               : DecodeBlocksPlainChecked(paint, chunk, chunkEnd, trees, family);
}

std::uint16_t ColourPixel16(std::uint8_t format, const std::uint8_t* rgb) {
    const unsigned r = rgb[0], g = rgb[1], b = rgb[2];
    if (format == kFormat565)
        return static_cast<std::uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
    return static_cast<std::uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
}

void RebuildColourTable16(Movie* movie) {
    if (movie->Dest == nullptr || movie->ColourTable16 == nullptr) return;
    for (int i = 0; i < 256; ++i) {
        movie->ColourTable16[i] = ColourPixel16(movie->Dest->PixelFormat, movie->Palette + 3 * i);
    }
}

void NearestColourMap(const std::uint8_t* moviePalette, const void* palette, std::uint32_t count,
                      std::uint32_t paletteType, std::uint8_t map[256]) {
    const auto* entries = static_cast<const std::uint8_t*>(palette);
    const PaletteLayout layout = PaletteLayoutOf(paletteType);
    count = std::min<std::uint32_t>(count, 256);
    for (std::uint32_t i = 0; i < 256; ++i) {
        const std::uint8_t* rgb = moviePalette + 3 * i;
        std::uint32_t entry = i < count ? i : 0;
        std::uint32_t best = entry, bestDistance = UINT32_MAX;
        for (std::uint32_t visited = 0; visited < count; ++visited) {
            const std::uint32_t distance =
                ColourDistance(rgb, entries + entry * layout.stride, layout);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = entry;
                if (distance == 0) break;
            }
            if (++entry == count) entry = 0;
        }
        map[i] = static_cast<std::uint8_t>(best);
    }
}

void ZambSetDestination(Movie* movie, std::uint32_t left, std::int32_t top, std::int32_t pitch,
                        std::int32_t destHeight, void* buffer, std::uint32_t flags) {
    if (movie == nullptr) return;
    if (buffer == nullptr) {
        ReleaseDestination(movie);
        return;
    }
    const DestGeometry g = PlanGeometry(movie, pitch, flags);
    if (!PictureFits(movie, g, left, top, pitch, destHeight)) {
        DebugText("ZambSetDestination: the buffer cannot hold the picture\r\n");
        ReleaseDestination(movie);
        return;
    }
    const bool sixteenBit = g.bytesPerPixel == 2;
    Destination* dest =
        ObtainDescriptor(movie, DestinationSize(movie->Width, g.rows, sixteenBit), sixteenBit);
    if (dest == nullptr) return;
    LayOutDestination(movie, dest, g, left, top, pitch, destHeight,
                      static_cast<std::uint8_t*>(buffer), flags);
}

void BeginFrame(Movie* movie) {
    StartTiming(movie);
    if (movie->PaletteChanged) movie->PaletteFrame = static_cast<std::int32_t>(movie->FrameNumber);
    movie->FramesDecoded += 1;
}

void PaintFrame(Movie* movie, bool skip, ChunkReading* reading) {
    if (movie->Dest == nullptr) return;
    // A skipped picture stays as it was; the next frame's changes apply to it.
    if (skip)
        movie->FramesSkipped += 1;
    else if (reading != nullptr)
        DecodeCurrentPictureChecked(movie, reading);
    else
        DecodeCurrentPicture(movie);
}

void DecodeCurrentPictureChecked(Movie* movie, ChunkReading* reading) {
    DecodeCurrentPictureWith(
        movie, [reading](const std::uint8_t* chunk, const std::uint8_t* chunkEnd, TreeBlock* trees,
                         Destination* dest, const std::uint16_t* colours) {
            DecodeVideoChecked(chunk, chunkEnd, trees, dest, colours, reading);
        });
}

void ZambRemapColours(Movie* movie, const void* palette, std::uint32_t count,
                      std::uint32_t paletteType) {
    if (movie == nullptr) return;
    ServiceTracks();
    // With no entries to choose from there is no nearest colour: the mapping stays.
    if (palette == nullptr || count == 0 || movie->Trees == nullptr) return;
    std::uint8_t map[256];
    NearestColourMap(movie->Palette, palette, count, paletteType, map);
    RemapTreesAndTables(movie->Trees, map);
}
