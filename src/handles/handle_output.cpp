// SPDX-License-Identifier: MIT
// What a decoder handle hands out: pictures in the caller's format, the palette, changed
// rectangles and each track's sound.
#include <algorithm>
#include <cstring>

#include "decoder/audio_decode.h"
#include "decoder/destination.h"
#include "decoder/movie.h"
#include "decoder/video.h"
#include "handles/handle.h"

namespace {

// --- Pictures ---------------------------------------------------------------------------

constexpr std::uint32_t kKnownPictureFlags = ZAMBPIC_CHANGED_ONLY | ZAMBPIC_BOTTOM_UP;

constexpr std::uint32_t kPixelBytes[] = {1, 4, 4, 3, 2, 2};  // by ZAMBPIX_ format

// The bytes of each palette index in the caller's format, in memory order.
struct PixelTable {
    std::uint8_t bytes[256][4];
};

PixelTable TableFor(const std::uint8_t* palette, std::uint32_t format) {
    PixelTable table{};
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t* rgb = palette + 3 * i;
        std::uint8_t* out = table.bytes[i];
        switch (format) {
            case ZAMBPIX_RGBA32:
                out[0] = rgb[0], out[1] = rgb[1], out[2] = rgb[2], out[3] = 255;
                break;
            case ZAMBPIX_BGRA32:
                out[0] = rgb[2], out[1] = rgb[1], out[2] = rgb[0], out[3] = 255;
                break;
            case ZAMBPIX_RGB24:
                out[0] = rgb[0], out[1] = rgb[1], out[2] = rgb[2];
                break;
            default: {
                const std::uint8_t layout = format == ZAMBPIX_RGB555 ? kFormat555 : kFormat565;
                const std::uint16_t pixel = ColourPixel16(layout, rgb);
                std::memcpy(out, &pixel, sizeof pixel);
            }
        }
    }
    return table;
}

// A fixed size per pixel, so that each is one store rather than a copy of unknown length.
template <std::uint32_t kSize>
void LookUpRow(const std::uint8_t* indices, std::uint32_t count, std::uint8_t* out,
               const PixelTable& table) {
    for (std::uint32_t x = 0; x < count; ++x, out += kSize) {
        std::memcpy(out, table.bytes[indices[x]], kSize);
    }
}

void ConvertRow(const std::uint8_t* indices, std::uint32_t count, std::uint8_t* out,
                std::uint32_t format, const PixelTable& table) {
    switch (kPixelBytes[format]) {
        case 1:
            std::memcpy(out, indices, count);
            break;
        case 2:
            LookUpRow<2>(indices, count, out, table);
            break;
        case 3:
            LookUpRow<3>(indices, count, out, table);
            break;
        default:
            LookUpRow<4>(indices, count, out, table);
    }
}

// The caller's buffer: where each row of the picture goes.
struct PictureBuffer {
    std::uint8_t* pixels;
    std::size_t pitch;
    std::uint32_t format;
    bool bottomUp;
    std::uint32_t height;

    std::uint8_t* Row(std::int32_t y) const {
        const auto row = static_cast<std::size_t>(bottomUp ? std::int32_t(height) - 1 - y : y);
        return pixels + row * pitch;
    }
};

void ConvertRect(const ZambDecoder* decoder, const ZambRect& rect, const PictureBuffer& out,
                 const PixelTable& table) {
    const std::uint32_t width = decoder->movie.Width;
    const std::uint32_t size = kPixelBytes[out.format];
    for (std::int32_t y = rect.Y; y < rect.Y + rect.H; ++y) {
        const std::uint8_t* row = decoder->picture.data + std::size_t(y) * width + rect.X;
        ConvertRow(row, static_cast<std::uint32_t>(rect.W), out.Row(y) + std::size_t(rect.X) * size,
                   out.format, table);
    }
}

// A display's picture is decoded in the caller's format already: its rows are copied.
void CopyDisplay(const ZambDecoder* decoder, const PictureBuffer& out) {
    const std::size_t rowBytes = std::size_t{decoder->movie.Width} * 2;
    for (std::uint32_t y = 0; y < decoder->movie.Height; ++y)
        std::memcpy(out.Row(static_cast<std::int32_t>(y)), decoder->picture.data + y * rowBytes,
                    rowBytes);
}

ZambRect WholePicture(const Movie& movie) {
    return {0, 0, static_cast<std::int32_t>(movie.Width), static_cast<std::int32_t>(movie.Height)};
}

const ZambRect* Rects(const ZambDecoder* decoder) {
    return reinterpret_cast<const ZambRect*>(decoder->rects.data);
}

// --- Rectangles -------------------------------------------------------------------------

// A rectangle inside the picture, or an empty one (a frame that changed only its palette
// reports one of no size).
bool Usable(const ZambRect& r, const Movie& movie) {
    return r.W > 0 && r.H > 0 && r.X >= 0 && r.Y >= 0 &&
           std::uint32_t(r.X) + std::uint32_t(r.W) <= movie.Width &&
           std::uint32_t(r.Y) + std::uint32_t(r.H) <= movie.Height;
}

bool AppendRect(ZambDecoder* decoder, const ZambRect& rect) {
    const std::size_t capacity = decoder->rects.size / sizeof(ZambRect);
    if (decoder->rectCount == capacity) {
        OwnedBytes larger;
        if (!larger.Reserve(std::max<std::size_t>(16, 2 * capacity) * sizeof(ZambRect)))
            return false;
        if (decoder->rectCount != 0)
            std::memcpy(larger.data, decoder->rects.data, decoder->rectCount * sizeof(ZambRect));
        decoder->rects.Release();
        decoder->rects = larger;
    }
    std::memcpy(decoder->rects.data + decoder->rectCount * sizeof(ZambRect), &rect, sizeof rect);
    decoder->rectCount += 1;
    return true;
}

// --- Sound ------------------------------------------------------------------------------

std::uint32_t BytesPerSecond(std::uint32_t format) {
    const std::uint32_t rate = format & ZAMB_TRACK_RATE_MASK;
    return rate * ((format & ZAMB_TRACK_16BIT) ? 2 : 1) * ((format & ZAMB_TRACK_STEREO) ? 2 : 1);
}

static_assert(ZAMB_MAX_TRACK_RATE == kMaxTrackRate);

// The tracks the system's own interface would play: present, at a rate up to the limit.
bool Decodable(std::uint32_t format) {
    const std::uint32_t rate = format & ZAMB_TRACK_RATE_MASK;
    return (format & ZAMB_TRACK_PRESENT) && rate != 0 && rate <= kMaxTrackRate;
}

constexpr std::uint32_t kQueueSeconds = 8;
constexpr std::size_t kMinQueueBytes = 65536;

// Decodes the chunk's sound into `out` (at most `limit` bytes): the bytes a chunk cannot
// deliver are silence, as they are when a track plays.
std::size_t DecodeChunk(ZambDecoder* decoder, int n, std::uint8_t* out, std::size_t limit) {
    const ChunkSound sound = MeasureChunk(&decoder->movie, n);
    const auto bytes = static_cast<std::uint32_t>(std::min<std::size_t>(sound.Bytes, limit));
    TrackSound& track = decoder->tracks[n];
    track.claimedBytes = sound.Bytes;
    track.deliveredBytes = 0;
    if (bytes == 0) return 0;
    const bool wide = (decoder->movie.TrackFormat[n] & ZAMB_TRACK_16BIT) != 0;
    track.deliveredBytes = ChunkToPcm(sound, bytes, decoder->audioScratch.data,
                                      {out, out + bytes, out}, wide ? 0 : 0x80);
    return bytes;
}

// The most one chunk of a track may declare: the header's largest chunk, and never more
// than a frame's sound buffer for the track holds.
std::uint32_t ChunkLimit(const Movie& movie, int n) {
    const std::uint32_t ring =
        TrackRingBytes(BytesPerSecond(movie.TrackFormat[n]), movie.FramePeriod);
    return std::min(movie.TrackMaxBytes[n], ring);
}

// Doubles a queue that may not drop its sound, keeping what it holds in order; false when
// memory was short (the queue then drops its oldest sound after all).
bool GrowQueue(TrackSound& track, std::size_t needed) {
    std::size_t size = track.queue.size;
    while (size < needed) size *= 2;
    OwnedBytes larger;
    if (!larger.Reserve(size)) return false;
    for (std::size_t done = 0; done < track.queued;) {
        const std::size_t at = (track.queueStart + done) % track.queue.size;
        const std::size_t piece = std::min(track.queued - done, track.queue.size - at);
        std::memcpy(larger.data + done, track.queue.data + at, piece);
        done += piece;
    }
    track.queue.Release();
    track.queue = larger;
    track.queueStart = 0;
    return true;
}

// Appends sound that starts at sample frame `position` to the queue's ring, dropping its
// oldest sound when it would overflow (unless the caller keeps all of it), and counting it.
void Enqueue(TrackSound& track, const std::uint8_t* bytes, std::size_t count,
             std::uint64_t position, bool keepAll) {
    if (count == 0) return;
    if (track.queued == 0) track.queuePosition = position;
    const std::size_t needed = track.queued + count;
    if (needed > track.queue.size && keepAll) GrowQueue(track, needed);
    const std::size_t size = track.queue.size;
    if (count > size) {
        const std::size_t cut = count - size;
        track.droppedBytes += track.queued + cut;
        track.queuePosition = position + cut / track.sampleFrameBytes;
        track.queueStart = 0;
        track.queued = 0;
        bytes += cut;
        count = size;
    }
    if (track.queued + count > size) {
        const std::size_t drop = track.queued + count - size;
        track.queueStart = (track.queueStart + drop) % size;
        track.queued -= drop;
        track.droppedBytes += drop;
        track.queuePosition += drop / track.sampleFrameBytes;
    }
    std::size_t at = (track.queueStart + track.queued) % size;
    for (std::size_t done = 0; done < count;) {
        const std::size_t piece = std::min(count - done, size - at);
        std::memcpy(track.queue.data + at, bytes + done, piece);
        done += piece;
        at = (at + piece) % size;
    }
    track.queued += count;
}

// The sample frames a track's chunk in the current frame holds, without decoding it: the
// bytes it declares, as many as a frame's buffer takes (the rest is never handed out).
std::uint64_t ChunkFrames(const ZambDecoder* decoder, int n) {
    const TrackSound& track = decoder->tracks[n];
    const std::size_t bytes =
        std::min<std::size_t>(MeasureChunk(&decoder->movie, n).Bytes, track.frame.size);
    return bytes / track.sampleFrameBytes;
}

const TrackSound* DecodedTrack(const ZambDecoder* decoder, std::uint32_t track) {
    if (track >= ZAMB_MAX_TRACKS || !decoder->tracks[track].decoded) return nullptr;
    return &decoder->tracks[track];
}

}  // namespace

void ChooseTracks(ZambDecoder* decoder) {
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        const std::uint32_t format = decoder->movie.TrackFormat[n];
        TrackSound& track = decoder->tracks[n];
        track.decoded = Decodable(format);
        track.sampleFrameBytes =
            ((format & ZAMB_TRACK_16BIT) ? 2 : 1) * ((format & ZAMB_TRACK_STEREO) ? 2 : 1);
    }
}

bool ReserveTrackSound(ZambDecoder* decoder) {
    const Movie& movie = decoder->movie;
    bool any = false;
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        TrackSound& track = decoder->tracks[n];
        if (!track.decoded) continue;
        const std::uint32_t perSecond = BytesPerSecond(movie.TrackFormat[n]);
        if (!track.frame.Reserve(TrackRingBytes(perSecond, movie.FramePeriod))) return false;
        // Once made, a queue keeps its size (a kept queue grows beyond it).
        if (!(decoder->flags & ZAMBOPEN_NO_SOUND) && track.queue.data == nullptr) {
            const std::size_t queue =
                std::max<std::size_t>(std::size_t{perSecond} * kQueueSeconds, kMinQueueBytes);
            if (!track.queue.Reserve(queue)) return false;
        }
        any = true;
    }
    return !any || decoder->audioScratch.Reserve(kAudioScratchBytes);
}

void ReleaseTrackSound(ZambDecoder* decoder) {
    for (TrackSound& track : decoder->tracks) {
        track.frame.Release();
        track.queue.Release();
        track.chunkPositions.Release();
    }
}

// Queues what the current chunk holds from the track's queueFrom on.
void QueueChunkTail(ZambDecoder* decoder, TrackSound& track) {
    const std::uint64_t skipFrames =
        track.queueFrom > track.chunkPosition ? track.queueFrom - track.chunkPosition : 0;
    const std::size_t skip =
        std::min<std::size_t>(skipFrames * track.sampleFrameBytes, track.frameBytes);
    Enqueue(track, track.frame.data + skip, track.frameBytes - skip,
            track.chunkPosition + skip / track.sampleFrameBytes,
            (decoder->flags & ZAMBOPEN_KEEP_SOUND) != 0);
}

void DecodeFrameSound(ZambDecoder* decoder, bool queue) {
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        TrackSound& track = decoder->tracks[n];
        if (!track.decoded) continue;
        track.frameBytes = DecodeChunk(decoder, n, track.frame.data, track.frame.size);
        if (queue && track.queue.size != 0) QueueChunkTail(decoder, track);
    }
}

void QueueReachingSound(ZambDecoder* decoder) {
    if (decoder->flags & ZAMBOPEN_NO_SOUND) return;
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        TrackSound& track = decoder->tracks[n];
        if (!track.decoded || track.queue.size == 0) continue;
        if (track.chunkPosition + track.chunkFrames <= track.queueFrom) continue;
        track.frameBytes = DecodeChunk(decoder, n, track.frame.data, track.frame.size);
        QueueChunkTail(decoder, track);
    }
}

// The first pass's table of chunk positions, made when first needed; without memory for it
// seeks still work, only without a look back for the sound.
bool ReservePositions(ZambDecoder* decoder, TrackSound& track) {
    if (track.chunkPositions.data != nullptr) return true;
    return track.chunkPositions.Reserve(std::size_t{decoder->movie.FrameCount} *
                                        sizeof(std::uint64_t));
}

void AdvanceSoundPositions(ZambDecoder* decoder, bool fromPrevious) {
    const std::uint32_t frame = decoder->movie.FrameNumber;
    const bool recorded =
        decoder->firstPass && frame < decoder->movie.FrameCount && frame == decoder->positionsKnown;
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        TrackSound& track = decoder->tracks[n];
        if (!track.decoded) continue;
        track.chunkPosition = fromPrevious ? track.chunkPosition + track.chunkFrames : 0;
        track.chunkFrames = ChunkFrames(decoder, n);
        if (recorded && ReservePositions(decoder, track))
            std::memcpy(track.chunkPositions.data + std::size_t{frame} * sizeof(std::uint64_t),
                        &track.chunkPosition, sizeof(std::uint64_t));
        else if (recorded)
            decoder->firstPass = false;  // no table: nothing further is recorded
    }
    if (recorded && decoder->firstPass) decoder->positionsKnown = frame + 1;
}

void PlaceSoundAt(ZambDecoder* decoder, std::uint32_t frame) {
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        TrackSound& track = decoder->tracks[n];
        if (!track.decoded) continue;
        track.chunkPosition = ChunkPositionOf(decoder, n, frame);
        track.chunkFrames = ChunkFrames(decoder, n);
    }
}

void QueueFromCurrentChunk(ZambDecoder* decoder) {
    for (TrackSound& track : decoder->tracks) {
        track.queueFrom = track.chunkPosition;
        track.queuePosition = track.chunkPosition;
    }
}

std::uint64_t ChunkPositionOf(const ZambDecoder* decoder, int track, std::uint32_t frame) {
    std::uint64_t position = 0;
    const OwnedBytes& table = decoder->tracks[track].chunkPositions;
    if (table.data != nullptr && frame < decoder->positionsKnown)
        std::memcpy(&position, table.data + std::size_t{frame} * sizeof position, sizeof position);
    return position;
}

void EmptySoundQueues(ZambDecoder* decoder, const std::uint64_t* from) {
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        TrackSound& track = decoder->tracks[n];
        track.queueStart = 0;
        track.queued = 0;
        track.frameBytes = 0;
        track.queueFrom = from != nullptr ? from[n] : 0;
        track.queuePosition = track.queueFrom;
    }
}

// Sets the rectangle scan back to the start of the frame's change map, so that
// ZambNextRect hands the frame's changes out once more, merged another way.
void RestartRectScan(ZambDecoder* decoder) {
    Movie* movie = &decoder->movie;
    if (movie->Dest == nullptr) return;
    movie->Dest->ScanDone = movie->Dest->ScanContinue = movie->Dest->ScanStarted = 0;
    movie->RectState = decoder->rectScanState;
}

bool CollectChangedRects(ZambDecoder* decoder) {
    Movie* movie = &decoder->movie;
    decoder->rectCount = 0;
    decoder->rectScanState = movie->RectState;
    bool complete = true;
    while (ZambNextRect(movie, 0)) {
        const ZambRect rect{movie->RectX, movie->RectY, movie->RectW, movie->RectH};
        if (Usable(rect, *movie) && !AppendRect(decoder, rect)) complete = false;
    }
    // Without room for the list, one rectangle of the whole picture says the same.
    if (!complete) {
        decoder->rectCount = 0;
        if (!AppendRect(decoder, WholePicture(*movie))) return false;
    }
    return true;
}

extern "C" {

ZambError ZambDecoderGetPicture(const ZambDecoder* decoder, std::uint32_t format, void* pixels,
                                std::size_t pitch, std::size_t bufferBytes, std::uint32_t flags) {
    if (decoder == nullptr || pixels == nullptr || format > ZAMBPIX_RGB555 ||
        (flags & ~kKnownPictureFlags) != 0)
        return ZAMBERR_INVALID_ARGUMENT;
    if (!decoder->frameCurrent) return ZAMBERR_NO_FRAME;
    const Movie& movie = decoder->movie;
    const std::size_t rowBytes = std::size_t{movie.Width} * kPixelBytes[format];
    // Height - 1 pitches and one row, counted without a product that could overflow.
    if (pitch < rowBytes || bufferBytes < rowBytes ||
        (bufferBytes - rowBytes) / pitch < movie.Height - 1)
        return ZAMBERR_BUFFER_TOO_SMALL;
    const PixelTable table = TableFor(movie.Palette, format);
    const PictureBuffer out{static_cast<std::uint8_t*>(pixels), pitch, format,
                            (flags & ZAMBPIC_BOTTOM_UP) != 0, movie.Height};
    if (DisplayFormat(decoder) != ZAMBPIX_INDEX8) {
        if (format != DisplayFormat(decoder)) return ZAMBERR_INVALID_ARGUMENT;
        CopyDisplay(decoder, out);
        return ZAMBERR_NONE;
    }
    const bool paletteMatters = format != ZAMBPIX_INDEX8 && decoder->paletteChanged;
    if ((flags & ZAMBPIC_CHANGED_ONLY) && !decoder->wholePicture && !paletteMatters) {
        for (std::uint32_t i = 0; i < decoder->rectCount; ++i)
            ConvertRect(decoder, Rects(decoder)[i], out, table);
    } else {
        ConvertRect(decoder, WholePicture(movie), out, table);
    }
    return ZAMBERR_NONE;
}

ZambError ZambDecoderGetPalette(const ZambDecoder* decoder, std::uint8_t rgb[768]) {
    if (decoder == nullptr || rgb == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    std::memcpy(rgb, decoder->movie.Palette, ZAMB_PALETTE_BYTES);
    return ZAMBERR_NONE;
}

std::uint32_t ZambDecoderGetChangedRects(const ZambDecoder* decoder, ZambRect* rects,
                                         std::uint32_t capacity) {
    if (decoder == nullptr || !decoder->frameCurrent) return 0;
    if (decoder->wholePicture) {
        if (rects != nullptr && capacity != 0) rects[0] = WholePicture(decoder->movie);
        return 1;
    }
    const std::uint32_t count = decoder->rectCount;
    if (rects != nullptr) std::copy_n(Rects(decoder), std::min(count, capacity), rects);
    return count;
}

std::uint32_t ZambDecoderGetMergedRects(ZambDecoder* decoder, std::uint32_t mode, ZambRect* rects,
                                        std::uint32_t capacity) {
    if (decoder == nullptr || !decoder->frameCurrent || mode > 1 ||
        (rects == nullptr && capacity != 0))
        return 0;
    Movie* movie = &decoder->movie;
    RestartRectScan(decoder);
    std::uint32_t count = 0;
    while (ZambNextRect(movie, mode)) {
        if (count < capacity)
            rects[count] = {movie->RectX, movie->RectY, movie->RectW, movie->RectH};
        count += 1;
    }
    return count;
}

ZambError ZambDecoderGetChunkSound(const ZambDecoder* decoder, std::uint32_t track,
                                   ZambChunkSound* chunk, std::size_t size) {
    if (decoder == nullptr || chunk == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const TrackSound* sound = DecodedTrack(decoder, track);
    if (sound == nullptr) return ZAMBERR_NO_TRACK;
    if (!decoder->frameCurrent) return ZAMBERR_NO_FRAME;
    const ZambChunkSound facts{sound->claimedBytes, sound->deliveredBytes,
                               ChunkLimit(decoder->movie, static_cast<int>(track))};
    std::memcpy(chunk, &facts, std::min(size, sizeof facts));
    return ZAMBERR_NONE;
}

ZambError ZambDecoderFrameSound(const ZambDecoder* decoder, std::uint32_t track, void* buffer,
                                std::size_t capacity, std::size_t* bytes) {
    if (bytes != nullptr) *bytes = 0;
    if (decoder == nullptr || bytes == nullptr || (buffer == nullptr && capacity != 0))
        return ZAMBERR_INVALID_ARGUMENT;
    const TrackSound* sound = DecodedTrack(decoder, track);
    if (sound == nullptr) return ZAMBERR_NO_TRACK;
    if (!decoder->frameCurrent) return ZAMBERR_NO_FRAME;
    *bytes = sound->frameBytes;
    if (capacity < sound->frameBytes) return ZAMBERR_BUFFER_TOO_SMALL;
    if (sound->frameBytes != 0) std::memcpy(buffer, sound->frame.data, sound->frameBytes);
    return ZAMBERR_NONE;
}

std::size_t ZambDecoderReadSound(ZambDecoder* decoder, std::uint32_t track, void* buffer,
                                 std::size_t maxBytes) {
    if (decoder == nullptr || buffer == nullptr) return 0;
    const TrackSound* found = DecodedTrack(decoder, track);
    if (found == nullptr || found->queue.size == 0) return 0;
    TrackSound& sound = decoder->tracks[track];
    std::size_t count = std::min(maxBytes, sound.queued);
    count -= count % sound.sampleFrameBytes;
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t done = 0; done < count;) {
        const std::size_t piece = std::min(count - done, sound.queue.size - sound.queueStart);
        std::memcpy(out + done, sound.queue.data + sound.queueStart, piece);
        done += piece;
        sound.queueStart = (sound.queueStart + piece) % sound.queue.size;
    }
    sound.queued -= count;
    sound.queuePosition += count / sound.sampleFrameBytes;
    return count;
}

std::size_t ZambDecoderSoundQueued(const ZambDecoder* decoder, std::uint32_t track) {
    if (decoder == nullptr) return 0;
    const TrackSound* sound = DecodedTrack(decoder, track);
    return sound != nullptr ? sound->queued : 0;
}

ZambError ZambDecoderGetSoundPosition(const ZambDecoder* decoder, std::uint32_t track,
                                      ZambSoundPosition* position, std::size_t size) {
    if (decoder == nullptr || position == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const TrackSound* sound = DecodedTrack(decoder, track);
    if (sound == nullptr) return ZAMBERR_NO_TRACK;
    if (!decoder->frameCurrent) return ZAMBERR_NO_FRAME;
    ZambSoundPosition facts{};
    facts.FrameSound = sound->chunkPosition;
    facts.Queue = sound->queuePosition;
    facts.DroppedBytes = sound->droppedBytes;
    std::memcpy(position, &facts, std::min(size, sizeof facts));
    return ZAMBERR_NONE;
}

}  // extern "C"
