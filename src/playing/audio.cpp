// SPDX-License-Identifier: MIT
// The movie's sound tracks: opening them, feeding each frame's chunks into their rings and
// keeping the position the sound should have reached, which paces the movie.
#include "playing/audio.h"

#include <cstring>

#include "core/allocator.h"
#include "decoder/audio_decode.h"
#include "decoder/host.h"
#include "decoder/movie.h"
#include "decoder/track_services.h"
#include "sound/driver.h"
#include "sound/track.h"

namespace {

// Shared by every movie; allocated by the first track open, freed with the last track.
std::uint8_t* audioScratch = nullptr;

void SetTrackTiming(SoundTrack* track, std::uint32_t bytesPerSecond, std::uint32_t framePeriod) {
    track->FrameBytesFixed = FrameBytesFixed(bytesPerSecond, framePeriod);
    track->LateLimitFixed = bytesPerSecond * 512;
    track->RingSize = TrackRingBytes(bytesPerSecond, framePeriod);
}

}  // namespace

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
    static constexpr TrackServices kTrackServices{&ZambServiceSound, &RestartMovieTracks};
    InstallTrackServices(&kTrackServices);
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
