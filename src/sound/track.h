// SPDX-License-Identifier: MIT
// The sound track record: one open track's ring of decoded samples, its due-position
// bookkeeping (the decoder's) and an area that belongs to the installed driver.
#pragma once

#include <atomic>
#include <cassert>
#include <cstdint>
#include <cstring>

#include "core/movie_names.h"
#include "platform/win32.h"

// The wave-output driver's part of the record.
struct WaveOutTrackArea {
    std::uint32_t PlayedBase;  // bytes played before the current buffer
    WAVEHDR* BufferA;          // header then data; also the block to free
    WAVEHDR* BufferB;
    std::uint32_t BufferStartTime;  // clock when the current buffer started; 0 = none yet
    std::uint32_t BufferDuration;   // milliseconds of sound in the current buffer
    std::uint32_t BufferBytes;      // bytes in the current buffer
    std::uint32_t OpenFlags;        // the movie's open flags (kept, not used)
    std::uint32_t Unused[6];
};

// The DirectSound driver's part of the record.
struct DirectSoundTrackArea {
    LPDIRECTSOUNDBUFFER SoundBuffer;  // the track's looping buffer, or none
    // The volume and pan last asked for, which every new buffer of the track is given (a
    // pause drops the buffer): kLevelsAsked, then the volume's level + 10000 in bits 0-13 and
    // the pan's + 10000 in bits 14-28, in hundredths of a decibel; 0 when none was asked.
    std::uint32_t Levels;
    std::uint32_t WriteOffset;   // where in the buffer the next sound goes
    std::uint32_t Stopped;       // 1 = not playing; the next write starts it
    std::uint32_t BytesWritten;  // real sound written since the start or the last reset
    std::uint32_t FreeSpace;     // bytes that may be written (played or never written)
    std::uint32_t LastPlay;      // play cursor the last service saw
    std::int32_t SilenceStart;   // where the silence tail begins; -1 = no tail pending
    std::uint32_t SilenceEnd;
    std::uint32_t LastEstimate;      // position last computed from the cursors
    std::uint32_t LastEstimateTime;  // clock when LastEstimate changed
    std::uint32_t MaxReported;       // the largest position reported
    std::uint32_t BufferFlags;       // the description flags the buffer was made with
};

// Thirteen 32-bit words on the 32-bit platform; each driver lays them out its own way.
union SoundDriverArea {
    WaveOutTrackArea WaveOut;
    DirectSoundTrackArea DirectSound;
    std::uintptr_t Words[13];
};

struct ZambSoundTrack {
    std::uint8_t* RingStart;
    std::uint8_t* RingEnd;    // RingStart + RingSize
    std::uint8_t* RingRead;   // driver: next byte to play
    std::uint8_t* RingWrite;  // decoder: next byte to write
    // Decoder adds, driver subtracts; a full ring is told from an empty one only by this.
    // Changed through RingFillAdd / RingFillTake because a driver may run on a timer.
    std::uint32_t RingFill;
    std::uint32_t BytesPerSecond;
    std::uint32_t RingSize;
    std::uint32_t FrameBytesFixed;  // bytes per frame period x 1024
    std::uint32_t DueFraction;      // bytes due since DueBase, x 1024
    std::uint32_t DueBase;
    std::uint32_t LateLimitFixed;  // due position plus half a second, x 1024
    std::uint32_t BytesQueued;     // sound and inserted silence, in total
    std::uint32_t Overflows;
    std::uint32_t SoundSkips;
    std::uint32_t MaxChunk;    // largest chunk of the track, a multiple of 4
    SoundTrack* Next;          // driver's list of open tracks
    HWAVEOUT Device;           // wave output: 0 while closed
    std::uint32_t BufferSize;  // size of each driver play buffer
    std::uint32_t SampleRate;
    std::uint32_t NoSoundThisFrame;
    std::uint32_t Is16Bit;
    std::uint32_t IsStereo;
    std::uint32_t Underrun;      // driver: the device ran dry; decoder clears it
    std::uint32_t UnderrunSeen;  // decoder's half of that hand-shake
    SoundDriverArea Driver;
};

// The ring's room, which a fill never passes: RingEnd - RingStart.
inline std::uint32_t RingCapacity(const SoundTrack* track) {
    return static_cast<std::uint32_t>(track->RingEnd - track->RingStart);
}

#if defined(__cpp_lib_atomic_ref)
inline std::uint32_t RingFillLoad(const SoundTrack* track) {
    return std::atomic_ref<std::uint32_t>(const_cast<SoundTrack*>(track)->RingFill).load();
}
inline void RingFillAdd(SoundTrack* track, std::uint32_t bytes) {
    // The other thread only takes meanwhile, so this load is never below the true fill.
    assert(std::atomic_ref<std::uint32_t>(track->RingFill).load() + std::uint64_t{bytes} <=
           RingCapacity(track));
    std::atomic_ref<std::uint32_t>(track->RingFill).fetch_add(bytes);
}
inline void RingFillTake(SoundTrack* track, std::uint32_t bytes) {
    // The other thread only adds meanwhile, so this load is never above the true fill.
    assert(bytes <= std::atomic_ref<std::uint32_t>(track->RingFill).load());
    std::atomic_ref<std::uint32_t>(track->RingFill).fetch_sub(bytes);
}
inline void RingFillStore(SoundTrack* track, std::uint32_t bytes) {
    std::atomic_ref<std::uint32_t>(track->RingFill).store(bytes);
}
#else
// Standard libraries without atomic_ref (older web toolchains) get the compiler's own
// sequentially consistent operations, which atomic_ref is built on.
inline std::uint32_t RingFillLoad(const SoundTrack* track) {
    return __atomic_load_n(&track->RingFill, __ATOMIC_SEQ_CST);
}
inline void RingFillAdd(SoundTrack* track, std::uint32_t bytes) {
    assert(__atomic_load_n(&track->RingFill, __ATOMIC_SEQ_CST) + std::uint64_t{bytes} <=
           RingCapacity(track));
    __atomic_fetch_add(&track->RingFill, bytes, __ATOMIC_SEQ_CST);
}
inline void RingFillTake(SoundTrack* track, std::uint32_t bytes) {
    assert(bytes <= __atomic_load_n(&track->RingFill, __ATOMIC_SEQ_CST));
    __atomic_fetch_sub(&track->RingFill, bytes, __ATOMIC_SEQ_CST);
}
inline void RingFillStore(SoundTrack* track, std::uint32_t bytes) {
    __atomic_store_n(&track->RingFill, bytes, __ATOMIC_SEQ_CST);
}
#endif

// The DirectSound timer thread raises Underrun while the decoder's thread reads and clears
// it: both go through these, so neither reads a half-done write.
inline std::uint32_t UnderrunLoad(const SoundTrack* track) {
    return __atomic_load_n(&track->Underrun, __ATOMIC_SEQ_CST);
}
inline void UnderrunStore(SoundTrack* track, std::uint32_t value) {
    __atomic_store_n(&track->Underrun, value, __ATOMIC_SEQ_CST);
}

// Copies `count` ring bytes into `out`, wrapping at the ring's end, for a driver to play.
// RingFill goes down by one atomic subtraction, which is what the decoder's thread relies on.
inline void TakeFromRing(SoundTrack* track, std::uint8_t* out, std::uint32_t count) {
    const auto toEnd = static_cast<std::uint32_t>(track->RingEnd - track->RingRead);
    const std::uint32_t first = count < toEnd ? count : toEnd;
    std::memcpy(out, track->RingRead, first);
    std::memcpy(out + first, track->RingStart, count - first);
    track->RingRead = first == toEnd ? track->RingStart + (count - first) : track->RingRead + count;
    RingFillTake(track, count);
}

// The byte that plays as silence in the track's sample format.
inline std::uint8_t SilenceByte(const SoundTrack* track) {
    return track->Is16Bit ? 0 : 0x80;
}

// The bytes of one sample frame (every channel's sample): the least a device can play, so a
// ring holding fewer has nothing left to hand out.
inline std::uint32_t SampleFrameBytes(const SoundTrack* track) {
    return (track->Is16Bit ? 2u : 1u) * (track->IsStereo ? 2u : 1u);
}

// On the 32-bit platform the record is the 148 bytes other programs' drivers expect.
static_assert(sizeof(void*) != 4 || sizeof(SoundTrack) == 148);
