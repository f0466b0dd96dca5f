// SPDX-License-Identifier: MIT
// Frame pacing and control: advancing, waiting for the next frame by the sound or the
// clock, switching the sound, the settings ZambOpen picks up, and the statistics.
#include <cstring>

#include "decoder/frame_damage.h"
#include "decoder/host.h"
#include "decoder/movie.h"
#include "playing/pacing.h"
#include "decoder/painters.h"
#include "decoder/video.h"
#include "playing/audio.h"
#include "sound/driver.h"
#include "sound/track.h"

namespace {

// The sound may lag its due position by this many bytes before the frame waits.
constexpr std::uint32_t kSoundSlack = 8;
constexpr std::uint32_t kClockNotStarted = 0xFFFFFFFF;

std::uint32_t DuePosition(const SoundTrack* track) {
    return track->DueBase + track->DueFraction / 1024;
}

void NoteSlowFrame(Movie* movie, std::uint32_t took) {
    const bool sameFrame = movie->SlowestFrame == movie->FrameNumber;
    if (took > movie->SlowestTime) {
        if (!sameFrame) {
            movie->SecondSlowestTime = movie->SlowestTime;
            movie->SecondSlowestFrame = movie->SlowestFrame;
            movie->SlowestFrame = movie->FrameNumber;
        }
        movie->SlowestTime = took;
    } else if (took > movie->SecondSlowestTime && !sameFrame) {
        movie->SecondSlowestTime = took;
        movie->SecondSlowestFrame = movie->FrameNumber;
    }
}

std::int32_t WaitBySound(Movie* movie) {
    if (!movie->SoundSyncPending || movie->SoundOff) return 0;
    SoundTrack* primary = movie->Tracks[movie->PrimaryTrack];
    std::uint32_t played = SoundDriver.SoundPosition(primary);
    if (DuePosition(primary) > played + kSoundSlack) {
        ReadAhead(movie);
        return 1;
    }
    movie->SoundSyncPending = 0;
    return 0;
}

std::int32_t WaitByClock(Movie* movie) {
    if (movie->FrameDue) return 0;
    const std::uint32_t now = HostMilliseconds() * 100;
    const std::uint32_t period = movie->FramePeriod;
    if (movie->NextFrameTime == kClockNotStarted) {
        movie->NextFrameTime = now + period;
        ReadAhead(movie);
        return 1;
    }
    if (movie->NextFrameTime > now) {
        ReadAhead(movie);
        return 1;
    }
    // Up to two periods late the schedule holds, and a frame that was late is followed the
    // sooner; later than that it starts again. A schedule restarted from "now" on every
    // frame would lose the part of a millisecond the clock cannot show and the time the
    // player took to notice, frame after frame, so the movie would run slow for good.
    const std::uint32_t late = now - movie->NextFrameTime;
    if (late <= 2 * period) {
        movie->NextFrameTime += period;
    } else {
        movie->NextFrameTime = now + period;
    }
    if (period != 0) movie->FrameDue = 1;
    return 0;
}

void SoundOff(Movie* movie) {
    if (movie->SoundOff) return;
    movie->SoundOffFrame = movie->FrameNumber;
    movie->SoundOff = 1;
    for (SoundTrack* track : movie->Tracks) {
        if (!track) continue;
        SoundDriver.SoundPause(track);
        track->BytesQueued -= RingFillLoad(track);
        RingFillStore(track, 0);
        track->RingRead = track->RingWrite;
    }
}

// Puts exactly one chunk back in front of the write position: the last real sound when the
// sound comes back at the frame where it went, otherwise silence.
void RefillOneChunk(SoundTrack* track, bool replay) {
    const std::uint32_t chunk =
        track->MaxChunk <= track->RingSize ? track->MaxChunk : track->RingSize;
    std::uint8_t* read = track->RingWrite - chunk;
    if (read < track->RingStart) read += track->RingSize;
    track->BytesQueued += chunk - RingFillLoad(track);
    track->RingRead = read;
    RingFillStore(track, chunk);
    if (replay) return;
    const auto toEnd = static_cast<std::uint32_t>(track->RingEnd - read);
    const std::uint32_t first = chunk < toEnd ? chunk : toEnd;
    std::memset(read, SilenceByte(track), first);
    std::memset(track->RingStart, SilenceByte(track), chunk - first);
}

bool SoundOn(Movie* movie, std::int32_t on) {
    if (!movie->SoundOff) return true;
    const bool replay = movie->FrameNumber == movie->SoundOffFrame && on > 0;
    for (SoundTrack* track : movie->Tracks) {
        if (!track) continue;
        const std::uint32_t played = SoundDriver.SoundPosition(track);
        if (movie->FrameNumber != 0) {
            RefillOneChunk(track, replay);
            track->LateLimitFixed -= track->DueFraction;
            track->DueFraction = 0;
            track->DueBase = played;
        }
        if (!SoundDriver.SoundResume(track)) return false;
        ServiceOpenTracks();
        UnderrunStore(track, 0);
    }
    movie->SoundOff = 0;
    return true;
}

constexpr std::uint32_t kNotDueYet = 0xFFFFFFFF;

std::uint32_t MillisecondsBySound(Movie* movie) {
    if (!movie->SoundSyncPending || movie->SoundOff) return kNotDueYet;
    SoundTrack* primary = movie->Tracks[movie->PrimaryTrack];
    const std::uint32_t played = SoundDriver.SoundPosition(primary);
    const std::uint32_t due = DuePosition(primary);
    if (due <= played + kSoundSlack || primary->BytesPerSecond == 0) return 0;
    const std::uint64_t bytes = due - played - kSoundSlack;
    return static_cast<std::uint32_t>((bytes * 1000 + primary->BytesPerSecond - 1) /
                                      primary->BytesPerSecond);
}

std::uint32_t MillisecondsByClock(const Movie* movie) {
    if (movie->FrameDue || movie->NextFrameTime == kClockNotStarted) return kNotDueYet;
    const std::uint32_t now = HostMilliseconds() * 100;
    if (movie->NextFrameTime <= now) return 0;
    return (movie->NextFrameTime - now + 99) / 100;
}

}  // namespace

std::uint32_t MillisecondsToNextFrame(Movie* movie) {
    if (!movie || movie->ReadFailed) return 0;
    return movie->PrimaryTrack != -1 ? MillisecondsBySound(movie) : MillisecondsByClock(movie);
}

// The clock's frame was let through when it became due, and only the advance to a next
// frame would take that back; with no next frame the wait must be armed again.
void HoldLastFrame(Movie* movie) {
    if (movie) movie->FrameDue = 0;
}

void FinishFrameStatistics(Movie* movie) {
    const std::uint32_t now = HostMilliseconds();
    if (movie->FrameStartTime) {
        NoteSlowFrame(movie, now - movie->FrameStartTime);
        movie->FrameStartTime = 0;
    }
    if (movie->BlitStartTime) {
        movie->BlitTime += now - movie->BlitStartTime;
        movie->BlitStartTime = 0;
    }
    if (movie->DecodeStartTime) {
        movie->DecodeTime += now - movie->DecodeStartTime;
        movie->DecodeStartTime = 0;
    }
}

void ZambSetReadSpeed(std::int32_t bytesPerSecond) {
    LibrarySettings.ReadSpeedSetting = bytesPerSecond;
}

void ZambSetFrameRate(std::int32_t framesPerSecond) {
    LibrarySettings.FrameRateSetting =
        framesPerSecond > 0 ? -100000 / framesPerSecond : framesPerSecond;
}

void ZambServiceSound() {
    ServiceOpenTracks();
}

namespace {

// ZambDoFrame, with the picture's chunk read checked when READING is given.
std::int32_t DoFrame(Movie* movie, ChunkReading* reading) {
    if (movie == nullptr || movie->ReadFailed) return 0;
    BeginFrame(movie);
    FeedAudio(movie);
    std::int32_t late = 0;
    bool skip = false;
    if (movie->FramePeriod != 0) {
        late = VideoIsLate(movie) ? 1 : 0;
        skip = late != 0 && (movie->OpenFlags & ZAMB_NO_SKIP) == 0;
    }
    PaintFrame(movie, skip, reading);
    // Services every open track (and does nothing when none is open).
    ZambServiceSound();
    return late;
}

}  // namespace

std::int32_t ZambDoFrame(Movie* movie) {
    return DoFrame(movie, nullptr);
}

std::int32_t DoFrameWatched(Movie* movie, const TreeFaults& faults, PictureDamage* damage) {
    *damage = PictureDamage{};
    // A reading that keeps its mark was never made: no picture was decoded.
    ChunkReading reading;
    reading.treesRead = ~0u;
    const std::int32_t late = DoFrame(movie, &reading);
    if (reading.treesRead == ~0u) return late;
    damage->ranOut = reading.ranOut;
    damage->badTrees = reading.treesRead & (faults.absent | faults.tooSmall);
    return late;
}

void ZambNextFrame(Movie* movie) {
    if (!movie) return;
    if (movie->ReadFailed) {
        movie->FrameNumber += 1;
        return;
    }
    ServiceOpenTracks();
    FinishFrameStatistics(movie);
    AdvanceFrame(movie);
    ServiceOpenTracks();
}

std::int32_t ZambWait(Movie* movie) {
    if (!movie || movie->ReadFailed) return 0;
    ServiceOpenTracks();
    return movie->PrimaryTrack != -1 ? WaitBySound(movie) : WaitByClock(movie);
}

std::int32_t ZambSoundOnOff(Movie* movie, std::int32_t on) {
    if (!movie) return 0;
    if (movie->PrimaryTrack == -1) return 1;
    if (on == 0) {
        SoundOff(movie);
    } else if (!SoundOn(movie, on)) {
        return 0;
    }
    ServiceOpenTracks();
    return 1;
}

void ZambSummary(Movie* movie, PlaybackSummary* out) {
    if (!movie || !out) return;
    FinishFrameStatistics(movie);
    out->TotalTime = HostMilliseconds() - movie->FirstFrameTime;
    out->FramePeriod = movie->FramePeriod;
    out->OpenTime = movie->OpenTime;
    out->FramesPlayed = movie->FramesDecoded;
    out->FramesSkipped = movie->FramesSkipped;
    out->SoundSkips =
        movie->PrimaryTrack != -1 ? movie->Tracks[movie->PrimaryTrack]->SoundSkips : 0;
    out->BlitTime = movie->BlitTime;
    out->ReadTime = movie->ReadTime - movie->OpenReadTime;
    out->DecodeTime = movie->DecodeTime;
    out->AheadTime = movie->AheadTime;
    const std::uint32_t readingTime = movie->ReadTime + movie->AheadTime;
    out->DeviceSpeed =
        readingTime == 0
            ? 0
            : static_cast<std::uint32_t>((std::uint64_t{movie->BytesRead} + movie->AheadBytes) *
                                         1000 / readingTime);
    out->SlowestTime = movie->SlowestTime ? movie->SlowestTime : 1000;
    out->SecondSlowestTime = movie->SecondSlowestTime ? movie->SecondSlowestTime : 1000;
    out->SlowestFrame = movie->SlowestFrame + 1;
    out->SecondSlowestFrame = movie->SecondSlowestFrame + 1;
    out->AverageFrame = movie->AverageFrame;
    out->PeakMemory = movie->PeakMemory;
    out->ExtraMemory = movie->RingSize;
    out->ExtraMemoryUsed = movie->RingPeak;
}
