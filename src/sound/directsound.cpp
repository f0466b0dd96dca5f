// SPDX-License-Identifier: MIT
// The DirectSound driver: a looping sound buffer per track, written from the ring behind the
// play cursor by the service, which both the player's thread and a multimedia timer run.
#include "sound/directsound.h"

#include <cstddef>
#include <cstring>
#include <thread>

#include "core/debug.h"
#include "sound/directsound_state.h"
#include "sound/driver.h"
#include "sound/track.h"
#include "sound/wave_format.h"

DirectSoundState DirectSoundDriverState;

namespace {

constexpr UINT kServicePeriod = 75;      // milliseconds
constexpr UINT kServiceResolution = 25;  // milliseconds
constexpr DWORD kServiceSpacing = 10;    // milliseconds between two services that work
constexpr std::int32_t kNoSilenceTail = -1;
constexpr std::uint32_t kFullVolume = 0x8000;

DirectSoundState& State = DirectSoundDriverState;

static_assert(sizeof(DirectSoundTrackArea) <= sizeof(SoundDriverArea));
static_assert(sizeof(void*) != 4 || sizeof(DirectSoundTrackArea) == 13 * 4);

DirectSoundTrackArea& AreaOf(SoundTrack* track) {
    return track->Driver.DirectSound;
}

using PlayerCall = DirectSoundPlayerCall;

void DebugFailure(const char* text, HRESULT result) {
    DebugText(text);
    DebugNumber(result);
    DebugText("\r\n");
}

void SetWindowHeld(HWND window) {
    State.CooperativeWindow = window;
    if (State.DirectSoundObject) {
        HRESULT result = State.DirectSoundObject->SetCooperativeLevel(window, DSSCL_PRIORITY);
        if (FAILED(result)) DebugFailure("Unable to set cooperative level - Error #: ", result);
    }
    DebugText("DirectSound using HWND: ");
    DebugNumber(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(window)));
    DebugText("\r\n");
}

BOOL CALLBACK FindOwnWindow(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The window DirectSound follows when the player has not named one yet: our topmost
// top-level window, else whatever is active.
HWND ChooseWindow() {
    if (State.CooperativeWindow) return State.CooperativeWindow;
    HWND own = nullptr;
    EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(&own));
    return own ? own : GetActiveWindow();
}

bool CreateObject() {
    if (!State.DirectSoundCreateEntry) return false;
    HRESULT result = State.DirectSoundCreateEntry(nullptr, &State.DirectSoundObject, nullptr);
    if (FAILED(result)) {
        State.DirectSoundObject = nullptr;
        DebugFailure("Unable to create DirectSound object - error #: ", result);
        return false;
    }
    HWND window = ChooseWindow();
    State.ObjectCreatedHere = true;
    SetWindowHeld(window);
    State.PrimaryPending = true;
    return true;
}

// Only an object made here is released; one the caller gave stays the caller's.
void ReleaseObject() {
    if (!State.ObjectCreatedHere || !State.DirectSoundObject) return;
    State.DirectSoundObject->Release();
    State.DirectSoundObject = nullptr;
    State.ObjectCreatedHere = false;
}

HRESULT TryCreateBuffer(SoundTrack* track, DWORD flags) {
    WAVEFORMATEX format = TrackWaveFormat(track);
    // The first release's 20-byte description, which every DirectSound accepts.
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(DSBUFFERDESC1);
    desc.dwFlags = flags;
    desc.dwBufferBytes = track->BufferSize;
    desc.dwReserved = 0;
    desc.lpwfxFormat = &format;
    AreaOf(track).SoundBuffer = nullptr;
    HRESULT result =
        State.DirectSoundObject->CreateSoundBuffer(&desc, &AreaOf(track).SoundBuffer, nullptr);
    if (FAILED(result)) AreaOf(track).SoundBuffer = nullptr;
    return result;
}

constexpr std::uint32_t kLevelsAsked = 0x80000000u;
constexpr int kPanShift = 14;
constexpr LONG kLevelBias = 10000;

// The volume and pan the track was last given, on its buffer (a new one starts at full).
void ApplyLevels(SoundTrack* track) {
    const std::uint32_t levels = AreaOf(track).Levels;
    LPDIRECTSOUNDBUFFER buffer = AreaOf(track).SoundBuffer;
    if (!(levels & kLevelsAsked) || !buffer) return;
    const std::uint32_t volumeMask = (1u << kPanShift) - 1;
    buffer->SetPan(static_cast<LONG>((levels & ~kLevelsAsked) >> kPanShift) - kLevelBias);
    buffer->SetVolume(static_cast<LONG>(levels & volumeMask) - kLevelBias);
}

bool CreateBuffer(SoundTrack* track) {
    DirectSoundTrackArea& area = AreaOf(track);
    if (!State.DirectSoundObject) return false;
    HRESULT result = TryCreateBuffer(track, area.BufferFlags);
    // A DirectSound that cannot play while we are in the background still plays in front.
    if (FAILED(result)) result = TryCreateBuffer(track, area.BufferFlags & ~DSBCAPS_GLOBALFOCUS);
    if (FAILED(result)) {
        DebugFailure("Unable to create sound buffer - Error #: ", result);
        return false;
    }
    State.BufferCount += 1;
    area.LastEstimate = 0;
    area.Stopped = 1;
    area.SilenceStart = kNoSilenceTail;
    area.MaxReported = 0;
    ApplyLevels(track);
    return true;
}

void ReleaseBuffer(SoundTrack* track) {
    DirectSoundTrackArea& area = AreaOf(track);
    if (!area.SoundBuffer) return;
    area.SoundBuffer->Stop();
    area.SoundBuffer->Release();
    area.SoundBuffer = nullptr;
    State.BufferCount -= 1;
}

void Unlink(SoundTrack* track) {
    for (SoundTrack** link = &State.DirectSoundTracks; *link; link = &(*link)->Next) {
        if (*link == track) {
            *link = track->Next;
            track->Next = nullptr;
            return;
        }
    }
}

void CALLBACK ServiceFromTimer(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    DirectSoundService();
}

// Whoever calls it, the service works at most once every 10 ms.
bool ServiceDue() {
    const std::uint32_t now = timeGetTime();
    if (State.NextServiceTime == 0) State.NextServiceTime = now;
    // Compared as a difference, so that the clock's wrap does not hold the service off.
    if (static_cast<std::int32_t>(now - State.NextServiceTime) < 0) return false;
    State.NextServiceTime = now + kServiceSpacing;
    return true;
}

// A locked stretch of the buffer: one region, or two when it wraps around the end.
struct LockedRegions {
    std::uint8_t* First = nullptr;
    DWORD FirstBytes = 0;
    std::uint8_t* Second = nullptr;
    DWORD SecondBytes = 0;
};

bool LockBuffer(LPDIRECTSOUNDBUFFER buffer, DWORD start, DWORD bytes, LockedRegions& regions) {
    LPVOID first = nullptr;
    LPVOID second = nullptr;
    HRESULT result =
        buffer->Lock(start, bytes, &first, &regions.FirstBytes, &second, &regions.SecondBytes, 0);
    if (FAILED(result) || !first) return false;
    regions.First = static_cast<std::uint8_t*>(first);
    regions.Second = static_cast<std::uint8_t*>(second);
    if (!regions.Second) regions.SecondBytes = 0;
    return true;
}

void UnlockBuffer(LPDIRECTSOUNDBUFFER buffer, const LockedRegions& regions) {
    buffer->Unlock(regions.First, regions.FirstBytes, regions.Second, regions.SecondBytes);
}

// Fills the regions from the ring, the first before the second, with at most `count` bytes.
std::uint32_t CopyRingIntoRegions(SoundTrack* track, const LockedRegions& regions,
                                  std::uint32_t count) {
    const std::uint32_t first = count < regions.FirstBytes ? count : regions.FirstBytes;
    TakeFromRing(track, regions.First, first);
    const std::uint32_t rest = count - first;
    if (rest == 0 || !regions.Second) return first;
    const std::uint32_t second = rest < regions.SecondBytes ? rest : regions.SecondBytes;
    TakeFromRing(track, regions.Second, second);
    return first + second;
}

void NoteWritten(SoundTrack* track, std::uint32_t start, std::uint32_t count) {
    DirectSoundTrackArea& area = AreaOf(track);
    area.WriteOffset = (start + count) % track->BufferSize;
    area.BytesWritten += count;
    area.FreeSpace -= count;
}

// The buffer has played everything real it held: it stops at the start, and the next
// sound written starts it again from there.
void RunDry(SoundTrack* track) {
    DirectSoundTrackArea& area = AreaOf(track);
    UnderrunStore(track, 1);
    area.SoundBuffer->Stop();
    area.SoundBuffer->SetCurrentPosition(0);
    area.Stopped = 1;
    area.SilenceStart = kNoSilenceTail;
}

bool InSilenceTail(const DirectSoundTrackArea& area, std::uint32_t play) {
    const auto start = static_cast<std::uint32_t>(area.SilenceStart);
    if (start <= area.SilenceEnd) return start <= play && play < area.SilenceEnd;
    return play >= start;  // the tail wraps around the buffer's end
}

// Where the next write goes and how much of the buffer may be written, from the cursors;
// false when the cursor cannot be read (the track waits for the next service).
bool FindFreeSpace(SoundTrack* track, std::uint32_t& start, std::uint32_t& free) {
    DirectSoundTrackArea& area = AreaOf(track);
    if (area.Stopped) {
        start = 0;
        free = track->BufferSize;
        area.SilenceStart = kNoSilenceTail;
        return true;
    }
    DWORD play = 0;
    DWORD write = 0;
    if (FAILED(area.SoundBuffer->GetCurrentPosition(&play, &write))) return false;
    if (area.SilenceStart != kNoSilenceTail && InSilenceTail(area, play)) {
        RunDry(track);
        start = 0;
        free = track->BufferSize;
        return true;
    }
    const std::uint32_t advanced =
        play >= area.LastPlay ? play - area.LastPlay : track->BufferSize - area.LastPlay + play;
    area.LastPlay = play;
    free = area.FreeSpace + advanced;
    if (free >= track->BufferSize) {
        RunDry(track);
        start = 0;
        free = track->BufferSize;
        return true;
    }
    start = area.WriteOffset;
    return true;
}

// Silences the regions from byte `from` of the stretch they cover to its end.
void SilenceRegionsFrom(const SoundTrack* track, const LockedRegions& regions, std::uint32_t from) {
    const std::uint8_t silence = SilenceByte(track);
    if (from < regions.FirstBytes) {
        std::memset(regions.First + from, silence, regions.FirstBytes - from);
        if (regions.Second) std::memset(regions.Second, silence, regions.SecondBytes);
    } else if (regions.Second) {
        const std::uint32_t inSecond = from - regions.FirstBytes;
        std::memset(regions.Second + inSecond, silence, regions.SecondBytes - inSecond);
    }
}

// The sound goes at `start` and the rest of the free stretch after it becomes silence. That
// stretch still holds sound already played, such as the end of a longer burst before a
// restart; when the services run late, the cursor passes the new sound's end before a
// silence tail is written, and would play that old sound a second time.
bool WriteSound(SoundTrack* track, std::uint32_t start, std::uint32_t count, std::uint32_t free) {
    DirectSoundTrackArea& area = AreaOf(track);
    LockedRegions regions;
    if (!LockBuffer(area.SoundBuffer, start, free, regions)) return false;
    std::uint32_t copied = CopyRingIntoRegions(track, regions, count);
    SilenceRegionsFrom(track, regions, copied);
    UnlockBuffer(area.SoundBuffer, regions);
    NoteWritten(track, start, copied);
    return true;
}

// With the ring empty, a quarter buffer of silence follows the last real sound, so that the
// buffer does not loop round into old sound before the service sees it has run dry.
void WriteSilenceTail(SoundTrack* track, std::uint32_t start, std::uint32_t fill) {
    DirectSoundTrackArea& area = AreaOf(track);
    const std::uint32_t quarter = track->BufferSize / 4;
    LockedRegions regions;
    if (!LockBuffer(area.SoundBuffer, start, quarter + fill, regions)) return;
    const std::uint32_t copied = CopyRingIntoRegions(track, regions, fill);
    NoteWritten(track, start, copied);
    area.SilenceStart = static_cast<std::int32_t>(area.WriteOffset);
    SilenceRegionsFrom(track, regions, copied);
    area.WriteOffset = area.SilenceEnd = (start + quarter) % track->BufferSize;
    UnlockBuffer(area.SoundBuffer, regions);
    UnderrunStore(track, 1);
}

// The primary buffer plays in the first track's format, so that the platform mixes
// without converting it.
void SetUpPrimaryBuffer(SoundTrack* track) {
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(DSBUFFERDESC1);
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    LPDIRECTSOUNDBUFFER primary = nullptr;
    if (FAILED(State.DirectSoundObject->CreateSoundBuffer(&desc, &primary, nullptr)) || !primary)
        return;
    WAVEFORMATEX format = TrackWaveFormat(track);
    primary->SetFormat(&format);
    primary->Play(0, 0, DSBPLAY_LOOPING);
}

void StartBuffer(SoundTrack* track) {
    DirectSoundTrackArea& area = AreaOf(track);
    if (State.PrimaryPending) {
        State.PrimaryPending = false;
        SetUpPrimaryBuffer(track);
    }
    area.Stopped = 0;
    area.SoundBuffer->Play(0, 0, DSBPLAY_LOOPING);
    area.LastPlay = 0;
}

void ServiceTrack(SoundTrack* track) {
    DirectSoundTrackArea& area = AreaOf(track);
    if (!area.SoundBuffer) return;
    std::uint32_t start = 0;
    std::uint32_t free = 0;
    if (!FindFreeSpace(track, start, free)) return;
    area.FreeSpace = free;
    // Nothing is written until a quarter of the buffer is free, and nothing after a silence
    // tail until the buffer has run dry and been restarted.
    if (free > track->BufferSize / 4 && area.SilenceStart == kNoSilenceTail) {
        const std::uint32_t fill = RingFillLoad(track);
        if (fill > 3) {
            const std::uint32_t count = (free < fill ? free : fill) & ~3u;
            // A stopped buffer whose lock failed stays stopped: it holds nothing to play.
            if (!WriteSound(track, start, count, free)) return;
        } else {
            // A stopped buffer starts again for the last few bytes too (a last chunk of one
            // sample): nothing comes after them to carry them out.
            if (area.Stopped && fill < SampleFrameBytes(track)) return;
            if (free > track->BufferSize * 4 / 5) WriteSilenceTail(track, start, fill);
        }
    }
    if (area.Stopped) StartBuffer(track);
}

}  // namespace

std::uint32_t DirectSoundBufferSize(std::uint32_t bytesPerSecond) {
    return (bytesPerSecond / 2 + 4095) / 4096 * 4096;
}

LONG DirectSoundPanLevel(std::uint32_t pan) {
    return static_cast<LONG>(std::uint64_t{pan} * 20000 / 65536) - 10000;
}

LONG DirectSoundVolumeLevel(std::uint32_t volume) {
    const std::uint32_t v = volume < kFullVolume ? volume : kFullVolume;
    return static_cast<LONG>((std::uint64_t{v} * 100000 / kFullVolume + 5) / 10) - 10000;
}

void DirectSoundService() {
    if (State.SoundActivity.fetch_add(1) != 0) {
        State.SoundActivity.fetch_sub(1);
        return;
    }
    if (ServiceDue()) {
        for (SoundTrack* track = State.DirectSoundTracks; track; track = track->Next)
            ServiceTrack(track);
    }
    State.SoundActivity.fetch_sub(1);
}

bool DirectSoundOpenTrack(SoundTrack* track, std::uint32_t openFlags) {
    track->BufferSize = DirectSoundBufferSize(track->BytesPerSecond);
    DebugText("Using DirectSound\r\n");
    PlayerCall call;
    if (!State.DirectSoundObject && !CreateObject()) return false;
    DirectSoundTrackArea& area = AreaOf(track);
    area.BytesWritten = 0;
    area.Levels = 0;
    area.BufferFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    if (openFlags & kSoundOpenWantsPan) area.BufferFlags |= DSBCAPS_CTRLPAN;
    if (openFlags & kSoundOpenWantsVolume) area.BufferFlags |= DSBCAPS_CTRLVOLUME;
    if (!CreateBuffer(track)) {
        // Other tracks' buffers live in the same object, so it only goes with the last one.
        if (State.BufferCount == 0) ReleaseObject();
        return false;
    }
    if (!State.DirectSoundTracks) {
        State.ServiceTimer = timeSetEvent(kServicePeriod, kServiceResolution, ServiceFromTimer, 0,
                                          TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
    }
    track->Next = State.DirectSoundTracks;
    State.DirectSoundTracks = track;
    return true;
}

void DirectSoundCloseTrack(SoundTrack* track) {
    PlayerCall call;
    if (!State.DirectSoundTracks) return;
    Unlink(track);
    if (!State.DirectSoundTracks && State.ServiceTimer) {
        timeKillEvent(State.ServiceTimer);
        State.ServiceTimer = 0;
    }
    ReleaseBuffer(track);
    if (!State.DirectSoundTracks) {
        ReleaseObject();
        State.PrimaryPending = false;
    }
}

std::uint32_t DirectSoundPosition(SoundTrack* track) {
    DirectSoundService();
    PlayerCall call;
    DirectSoundTrackArea& area = AreaOf(track);
    std::int64_t estimate = area.BytesWritten;
    if (area.SoundBuffer) estimate -= static_cast<std::int64_t>(track->BufferSize) - area.FreeSpace;
    if (estimate < 0) estimate = 0;
    const std::uint32_t now = timeGetTime();
    // Between services the cursors' estimate stands still; the clock carries it on.
    if (estimate == area.LastEstimate && area.LastEstimate != 0) {
        estimate = area.LastEstimate +
                   std::uint64_t{now - area.LastEstimateTime} * track->BytesPerSecond / 1000;
        if (estimate > area.BytesWritten) estimate = area.BytesWritten;
    } else {
        area.LastEstimate = static_cast<std::uint32_t>(estimate);
        area.LastEstimateTime = now;
    }
    if (estimate >= area.MaxReported) area.MaxReported = static_cast<std::uint32_t>(estimate);
    return area.MaxReported;
}

// The decoder empties the ring after a reset; the ring is emptied here first, under the
// activity guard, so that a timer service between the two cannot take from a ring being
// emptied and leave RingFill counting bytes that are not there.
void DirectSoundReset(SoundTrack* track) {
    PlayerCall call;
    DirectSoundTrackArea& area = AreaOf(track);
    if (area.SoundBuffer) {
        area.SoundBuffer->Stop();
        area.SoundBuffer->SetCurrentPosition(0);
    }
    area.Stopped = 1;
    area.SilenceStart = kNoSilenceTail;
    area.LastEstimate = 0;
    area.MaxReported = 0;
    area.BytesWritten = 0;
    RingFillTake(track, RingFillLoad(track));
    track->RingRead = track->RingWrite;
}

void DirectSoundPause(SoundTrack* track) {
    PlayerCall call;
    if (!AreaOf(track).SoundBuffer) return;
    ReleaseBuffer(track);
    if (State.BufferCount == 0) ReleaseObject();
}

bool DirectSoundResume(SoundTrack* track) {
    PlayerCall call;
    if (AreaOf(track).SoundBuffer) return true;
    if (State.BufferCount == 0 && !State.DirectSoundObject && !CreateObject()) return false;
    if (!CreateBuffer(track)) {
        if (State.BufferCount == 0) ReleaseObject();
        return false;
    }
    return true;
}

void DirectSoundVolumePan(SoundTrack* track, std::uint32_t volume, std::uint32_t pan) {
    PlayerCall call;
    AreaOf(track).Levels =
        kLevelsAsked | static_cast<std::uint32_t>(DirectSoundVolumeLevel(volume) + kLevelBias) |
        static_cast<std::uint32_t>(DirectSoundPanLevel(pan) + kLevelBias) << kPanShift;
    ApplyLevels(track);
}

void SoundSetWindow(HWND window) {
    PlayerCall call;
    SetWindowHeld(window);
}

bool SoundUseDirectSound(LPDIRECTSOUND object) {
    {
        PlayerCall call;
        // Buffers that exist belong to the object they were made by, so it stays.
        if (State.BufferCount == 0) {
            ReleaseObject();
            State.DirectSoundObject = object;
        }
    }
    if (SoundDriver.SoundOpenTrack) return SoundDriver.SoundOpenTrack == DirectSoundOpenTrack;
    const UINT previousMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryA("DSOUND.DLL");
    SetErrorMode(previousMode);
    if (reinterpret_cast<std::uintptr_t>(library) < HINSTANCE_ERROR) {
        State.DirectSoundObject = nullptr;
        return false;
    }
    FARPROC entry = GetProcAddress(library, "DirectSoundCreate");
    // A library without its entry point is as good as none.
    if (!entry) {
        FreeLibrary(library);
        State.DirectSoundObject = nullptr;
        return false;
    }
    State.DirectSoundLibrary = library;
    State.DirectSoundCreateEntry =
        reinterpret_cast<DirectSoundCreateFunction>(reinterpret_cast<void (*)()>(entry));
    SoundDriver = SoundOperations{DirectSoundOpenTrack, DirectSoundCloseTrack, DirectSoundService,
                                  DirectSoundPosition,  DirectSoundReset,      DirectSoundPause,
                                  DirectSoundResume,    DirectSoundVolumePan};
    return true;
}
