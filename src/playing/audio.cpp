// SPDX-License-Identifier: MIT
// The movie's sound tracks: opening them, feeding each frame's chunks into their rings and
// keeping the position the sound should have reached, which paces the movie.
#include "decoder/audio.h"

#include <cstring>

#include "core/allocator.h"
#include "decoder/audio_decode.h"
#include "decoder/host.h"
#include "decoder/movie.h"
#include "sound/driver.h"
#include "sound/track.h"

namespace {

// Shared by every movie; allocated by the first track open, freed with the last track.
std::uint8_t* audioScratch = nullptr;

std::uint32_t RoundUp4096(std::uint32_t bytes) {
    return (bytes + 4095) / 4096 * 4096;
}

std::uint32_t FrameBytesFixed(std::uint32_t bytesPerSecond, std::uint32_t framePeriod) {
    return static_cast<std::uint32_t>(std::uint64_t{bytesPerSecond} * 1024 * framePeriod / 100000);
}

void SetTrackTiming(SoundTrack* track, std::uint32_t bytesPerSecond, std::uint32_t framePeriod) {
    track->FrameBytesFixed = FrameBytesFixed(bytesPerSecond, framePeriod);
    track->LateLimitFixed = bytesPerSecond * 512;
    track->RingSize = TrackRingBytes(bytesPerSecond, framePeriod);
}

}  // namespace

std::uint32_t TrackRingBytes(std::uint32_t bytesPerSecond, std::uint32_t framePeriod) {
    // One second plus two frames of sound.
    const std::uint32_t ring =
        RoundUp4096(FrameBytesFixed(bytesPerSecond, framePeriod) / 512 + bytesPerSecond);
    return ring < 8192 ? 8192 : ring;
}

std::uint32_t TrackBytesPerSecond(std::uint32_t format) {
    const std::uint32_t rate = (format & TRACK_PRESENT) ? (format & TRACK_RATE_MASK) : 0;
    return rate * ((format & TRACK_16BIT) ? 2 : 1) * ((format & TRACK_STEREO) ? 2 : 1);
}

std::uint32_t TrackChunkLimit(const Movie* movie, int n) {
    const std::uint32_t ring =
        TrackRingBytes(TrackBytesPerSecond(movie->TrackFormat[n]), movie->FramePeriod);
    return movie->TrackMaxBytes[n] < ring ? movie->TrackMaxBytes[n] : ring;
}

std::uint8_t* AudioScratch() {
    return audioScratch;
}

namespace {

// The driver is the caller's to install, at the first track it is asked for; without one no
// track opens and the movie is paced by the clock.
bool SoundDriverInstalled() {
    if (!SoundDriver.SoundOpenTrack && Host().InstallSoundDriver != nullptr)
        Host().InstallSoundDriver();
    return SoundDriver.SoundOpenTrack != nullptr;
}

}  // namespace

bool OpenTrack(Movie* movie, int n) {
    if (!SoundDriverInstalled()) return false;
    const std::uint32_t format = movie->TrackFormat[n];
    const std::uint32_t rate = (format & TRACK_PRESENT) ? (format & TRACK_RATE_MASK) : 0;
    if (rate == 0 || rate > kMaxTrackRate) return false;
    const std::uint32_t bytesPerSecond = TrackBytesPerSecond(format);
    if (!audioScratch) {
        audioScratch = static_cast<std::uint8_t*>(MovieAllocate(movie, kAudioScratchBytes));
        if (!audioScratch) return false;
    }
    SoundTrack* track = movie->Tracks[n];
    std::memset(track, 0, sizeof *track);
    SetTrackTiming(track, bytesPerSecond, movie->FramePeriod);
    auto* ring = static_cast<std::uint8_t*>(MovieAllocate(movie, track->RingSize));
    if (!ring) return false;
    track->RingStart = track->RingRead = track->RingWrite = ring;
    track->RingEnd = ring + track->RingSize;
    track->BytesPerSecond = bytesPerSecond;
    track->SampleRate = rate;
    track->Is16Bit = (format & TRACK_16BIT) ? 1 : 0;
    track->IsStereo = (format & TRACK_STEREO) ? 1 : 0;
    if (!SoundDriver.SoundOpenTrack(track, movie->OpenFlags)) {
        ZambFree(ring);
        MovieUncharge(movie, track->RingSize);
        return false;
    }
    track->MaxChunk = movie->TrackMaxBytes[n] & ~3u;
    if (movie->PrimaryTrack == -1) movie->PrimaryTrack = n;
    SoundTracksOpen += 1;
    return true;
}

void OpenMovieTracks(Movie* movie, std::uint32_t openFlags) {
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (!(openFlags & (ZAMB_TRACK0 << n))) continue;
        auto* track = static_cast<SoundTrack*>(MovieAllocate(movie, sizeof(SoundTrack)));
        if (!track) continue;
        std::memset(track, 0, sizeof *track);
        movie->Tracks[n] = track;
        if (OpenTrack(movie, n)) {
            movie->OpenFlags |= ZAMB_TRACK0 << n;
            continue;
        }
        ZambFree(track);
        MovieUncharge(movie, sizeof(SoundTrack));
        movie->Tracks[n] = nullptr;
    }
}

void CloseMovieTracks(Movie* movie) {
    if (movie->PrimaryTrack != -1) {
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
            SoundTrack* track = movie->Tracks[n];
            if (!track) continue;
            SoundDriver.SoundCloseTrack(track);
            ZambFree(track->RingStart);
            ZambFree(track);
            movie->Tracks[n] = nullptr;
            SoundTracksOpen -= 1;
        }
        movie->PrimaryTrack = -1;
    }
    if (SoundTracksOpen == 0) {
        ZambFree(audioScratch);
        audioScratch = nullptr;
    }
}

// Only when every open track in the process is this movie's may the device be reset: a
// reset stops the device's sound, and other movies' tracks share the driver.
void RestartMovieTracks(Movie* movie) {
    if (movie->FrameNumber != 0 || movie->PrimaryTrack == -1) return;
    if (movie->Tracks[movie->PrimaryTrack]->BytesQueued == 0) return;
    std::int32_t owned = 1;
    for (int n = movie->PrimaryTrack + 1; n < ZAMB_TRACK_COUNT; ++n)
        owned += movie->Tracks[n] != nullptr;
    if (owned != SoundTracksOpen) return;
    for (SoundTrack* track : movie->Tracks) {
        if (!track) continue;
        SoundDriver.SoundReset(track);
        RingFillStore(track, 0);
        track->RingRead = track->RingWrite;
        track->LateLimitFixed -= track->DueFraction;
        track->DueBase = 0;
        track->DueFraction = 0;
        track->BytesQueued = 0;
    }
}

bool VideoIsLate(Movie* movie) {
    if (movie->PrimaryTrack == -1 || movie->SoundOff) return false;
    SoundTrack* primary = movie->Tracks[movie->PrimaryTrack];
    if (primary->NoSoundThisFrame) return false;
    std::uint32_t played = SoundDriver.SoundPosition(primary);
    if (played < primary->DueBase + primary->LateLimitFixed / 1024) return false;
    movie->SoundSyncPending = 0;
    return true;
}
