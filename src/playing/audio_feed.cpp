// SPDX-License-Identifier: MIT
// Feeding one frame's audio chunks into the tracks' rings, with the due-position rules
// that keep the picture and the sound together.
#include <cstring>

#include "decoder/audio_decode.h"
#include "decoder/movie.h"
#include "playing/audio.h"
#include "sound/driver.h"
#include "sound/track.h"

namespace {

constexpr std::uint32_t kDueFold = 0x0FA00000;  // 256,000 bytes in 1/1024 units
constexpr std::uint32_t kLateFoldMinimum = 0x02000000;
constexpr std::uint32_t kDueFoldBytes = 256000;

bool TrackIsOpen(const Movie* movie, int n) {
    return (movie->OpenFlags & (ZAMB_TRACK0 << n)) && movie->Tracks[n];
}

std::uint8_t* RingAdvance(const SoundTrack* track, std::uint8_t* at, std::uint32_t bytes) {
    auto toEnd = static_cast<std::uint32_t>(track->RingEnd - at);
    return bytes < toEnd ? at + bytes : track->RingStart + (bytes - toEnd);
}

void RingSet(const SoundTrack* track, std::uint8_t* at, std::uint8_t value, std::uint32_t n) {
    auto toEnd = static_cast<std::uint32_t>(track->RingEnd - at);
    std::uint32_t first = n < toEnd ? n : toEnd;
    std::memset(at, value, first);
    std::memset(track->RingStart, value, n - first);
}

void AdvancePrimaryDue(SoundTrack* primary) {
    primary->DueFraction += primary->FrameBytesFixed;
    primary->LateLimitFixed += primary->FrameBytesFixed;
    if (primary->DueFraction > kDueFold && primary->LateLimitFixed > kLateFoldMinimum) {
        primary->DueFraction -= kDueFold;
        primary->LateLimitFixed -= kDueFold;
        primary->DueBase += kDueFoldBytes;
    }
}

// After the device ran dry, one short frame is lengthened with silence to the track's
// largest chunk, so that the sound catches up with the picture; the next frame ends it.
std::uint32_t PadAfterUnderrun(SoundTrack* track, std::uint32_t s) {
    if (track->UnderrunSeen) {
        track->UnderrunSeen = 0;
        UnderrunStore(track, 0);
    }
    if (!UnderrunLoad(track)) return 0;
    track->UnderrunSeen = 1;
    if (s >= track->MaxChunk || track->BytesQueued == 0) return 0;
    std::uint32_t room = track->RingSize - RingFillLoad(track) - s;
    std::uint32_t pad = track->MaxChunk - s;
    if (pad > room) pad = room;
    track->SoundSkips += 1;
    RingSet(track, track->RingWrite, SilenceByte(track), pad);
    track->DueBase += pad;
    track->RingWrite = RingAdvance(track, track->RingWrite, pad);
    return pad;
}

void WriteChunk(SoundTrack* track, const ChunkSound& sound, std::uint32_t s) {
    ChunkToPcm(sound, s, AudioScratch(), {track->RingStart, track->RingEnd, track->RingWrite},
               SilenceByte(track));
}

void FeedTrack(SoundTrack* track, const ChunkSound& sound) {
    std::uint32_t s = sound.Bytes;
    std::uint32_t fill = RingFillLoad(track);
    if (fill + std::uint64_t{s} > track->RingSize) {
        s = track->RingSize - fill;  // the end of the frame's sound is dropped
        track->Overflows += 1;
    }
    std::uint32_t pad = PadAfterUnderrun(track, s);
    WriteChunk(track, sound, s);
    track->BytesQueued += s + pad;
    RingFillAdd(track, s + pad);
    track->RingWrite = RingAdvance(track, track->RingWrite, s);
}

// More sound due than was ever delivered: the due position waits for the sound.
void HoldDueAtDelivered(SoundTrack* primary) {
    if (primary->DueBase + primary->DueFraction / 1024 <= primary->BytesQueued) return;
    primary->LateLimitFixed -= primary->DueFraction;
    primary->DueFraction = 0;
    primary->DueBase = primary->BytesQueued;
}

}  // namespace

void FeedAudio(Movie* movie) {
    if (!movie || movie->PrimaryTrack == -1 || movie->SoundOff) return;
    if (movie->FramePeriod != 0) movie->SoundSyncPending = 1;
    SoundTrack* primary = movie->Tracks[movie->PrimaryTrack];
    AdvancePrimaryDue(primary);
    ChunkSound sounds[ZAMB_TRACK_COUNT];
    int first = -1;
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (!TrackIsOpen(movie, n)) continue;
        sounds[n] = MeasureChunk(movie, n);
        if (first == -1) first = n;
    }
    if (first != -1) {
        movie->Tracks[first]->NoSoundThisFrame = sounds[first].Bytes == 0 ? 1 : 0;
        if (sounds[first].Bytes != 0) {
            ServiceOpenTracks();
            for (int n = first; n < ZAMB_TRACK_COUNT; ++n) {
                if (TrackIsOpen(movie, n)) FeedTrack(movie->Tracks[n], sounds[n]);
            }
        }
    }
    HoldDueAtDelivered(primary);
}
