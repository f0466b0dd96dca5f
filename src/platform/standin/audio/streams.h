// SPDX-License-Identifier: MIT
// The open wave-output streams, shared by the wave-output services and the mixer.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "platform/standin/audio/waveout.h"

namespace standin::audio {

// A sound buffer's memory as the mixer plays it: from the play cursor on, around and around
// while looping. Guarded by MixLock.
struct BufferSource {
    std::vector<std::uint8_t> Memory;
    DWORD PlayCursor = 0;
    bool Playing = false;
    bool Looping = false;
    bool GlobalFocus = false;
    HWND FocusWindow = nullptr;  // the object's cooperative window
};

struct Stream {
    WAVEFORMATEX Format{};
    std::deque<WAVEHDR*> Queue;
    DWORD Offset = 0;  // bytes of Queue.front() already played
    // A sample frame may straddle two buffers, so it is gathered byte by byte.
    std::uint8_t Pending[4]{};
    unsigned PendingCount = 0;
    int Current[2]{};                // the sample frame being played, per channel, 16-bit range
    std::uint64_t Phase = 0;         // rate conversion: input rate added per output frame
    DWORD Volume = 0xFFFFFFFF;       // left in the low word, right in the high word
    BufferSource* Buffer = nullptr;  // set for a sound buffer's stream, which has no Queue
    bool Muted = false;              // a sound buffer whose window is not active
    int Recording = -1;              // index into the played-stream records, -1 = not recorded
};

// Keyed by handle value (a sound buffer's stream by the buffer's address); caller holds
// MixLock.
std::map<std::uintptr_t, Stream>& StreamsLocked();
Stream* FindStreamLocked(HWAVEOUT handle);
// PCM, one or two channels of 8 or 16 bits, at a rate the mixer can convert.
bool FormatPlayable(const WAVEFORMATEX* format);
// Device volume, set through a device number; scales every stream.
DWORD& DeviceVolumeLocked();
// Played-stream records (seams.h); caller holds MixLock.
bool& RecordingLocked();
std::vector<struct PlayedRecord>& RecordsLocked();

struct PlayedRecord {
    WAVEFORMATEX Format;
    std::vector<std::uint8_t> Bytes;
};

// The header's flags, read and written atomically: the mixer's threads and the program
// both touch them.
inline DWORD LoadFlags(const WAVEHDR* header) {
    return std::atomic_ref<DWORD>(const_cast<WAVEHDR*>(header)->dwFlags)
        .load(std::memory_order_acquire);
}
inline void StoreFlags(WAVEHDR* header, DWORD flags) {
    std::atomic_ref<DWORD>(header->dwFlags).store(flags, std::memory_order_release);
}
// Hands a buffer back to the program.
inline void ReturnDone(WAVEHDR* header) {
    StoreFlags(header, (LoadFlags(header) | WHDR_DONE) & ~static_cast<DWORD>(WHDR_INQUEUE));
}

}  // namespace standin::audio
