// SPDX-License-Identifier: MIT
// Wave-output services: streams of caller-owned buffers queued to the mixer.
#include "platform/standin/audio/devices.h"
#include "platform/standin/audio/mixer.h"
#include "platform/standin/audio/seams.h"
#include "platform/standin/audio/streams.h"

using namespace standin::audio;

namespace {

// Stream handles count up from here; smaller values are device numbers.
constexpr std::uintptr_t FirstStreamHandle = 0x10000;
std::uintptr_t nextStreamHandle = FirstStreamHandle;

// A sound buffer's stream is no wave-output handle.
Stream* FindWaveStreamLocked(HWAVEOUT handle) {
    Stream* stream = FindStreamLocked(handle);
    return stream && !stream->Buffer ? stream : nullptr;
}

bool IsDeviceNumber(HWAVEOUT handle) {
    return reinterpret_cast<std::uintptr_t>(handle) < FirstStreamHandle;
}

bool HeaderUsable(const WAVEHDR* header, UINT headerSize) {
    return header && headerSize >= sizeof(WAVEHDR);
}

}  // namespace

namespace standin::audio {

bool FormatPlayable(const WAVEFORMATEX* format) {
    if (!format || format->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (format->nChannels != 1 && format->nChannels != 2) return false;
    if (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) return false;
    if (format->nSamplesPerSec < 100 || format->nSamplesPerSec > 384000) return false;
    return format->nBlockAlign == format->nChannels * format->wBitsPerSample / 8;
}

}  // namespace standin::audio

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT waveOut, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR,
                            DWORD_PTR, DWORD flags) {
    if (deviceId != WAVE_MAPPER && deviceId != 0) return MMSYSERR_BADDEVICEID;
    if ((flags & CALLBACK_TYPEMASK) != CALLBACK_NULL) return MMSYSERR_NOTSUPPORTED;
    if (!FormatPlayable(format)) return WAVERR_BADFORMAT;
    if (!EnsureDevice()) return MMSYSERR_NODRIVER;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!waveOut) return MMSYSERR_INVALPARAM;
    DeviceStreamOpening(*format);
    {
        std::lock_guard<std::mutex> guard(MixLock());
        std::uintptr_t handle = nextStreamHandle++;
        Stream& stream = StreamsLocked()[handle];
        stream.Format = *format;
        if (RecordingLocked()) {
            stream.Recording = static_cast<int>(RecordsLocked().size());
            RecordsLocked().push_back({*format, {}});
        }
        *waveOut = reinterpret_cast<HWAVEOUT>(handle);
    }
    DeviceStreamOpened();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT waveOut) {
    std::lock_guard<std::mutex> guard(MixLock());
    Stream* stream = FindWaveStreamLocked(waveOut);
    if (!stream) return MMSYSERR_INVALHANDLE;
    if (!stream->Queue.empty()) return WAVERR_STILLPLAYING;
    StreamsLocked().erase(reinterpret_cast<std::uintptr_t>(waveOut));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT waveOut, LPWAVEHDR header, UINT headerSize) {
    std::lock_guard<std::mutex> guard(MixLock());
    if (!FindWaveStreamLocked(waveOut)) return MMSYSERR_INVALHANDLE;
    if (!HeaderUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    StoreFlags(header, LoadFlags(header) | WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT waveOut, LPWAVEHDR header, UINT headerSize) {
    std::lock_guard<std::mutex> guard(MixLock());
    if (!FindWaveStreamLocked(waveOut)) return MMSYSERR_INVALHANDLE;
    if (!HeaderUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    DWORD flags = LoadFlags(header);
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    StoreFlags(header, flags & ~static_cast<DWORD>(WHDR_PREPARED));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT waveOut, LPWAVEHDR header, UINT headerSize) {
    std::lock_guard<std::mutex> guard(MixLock());
    Stream* stream = FindWaveStreamLocked(waveOut);
    if (!stream) return MMSYSERR_INVALHANDLE;
    if (!HeaderUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    DWORD flags = LoadFlags(header);
    if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    StoreFlags(header, (flags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE);
    stream->Queue.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT waveOut) {
    std::lock_guard<std::mutex> guard(MixLock());
    Stream* stream = FindWaveStreamLocked(waveOut);
    if (!stream) return MMSYSERR_INVALHANDLE;
    for (WAVEHDR* header : stream->Queue) ReturnDone(header);
    stream->Queue.clear();
    stream->Offset = 0;
    stream->PendingCount = 0;
    stream->Phase = 0;
    stream->Current[0] = stream->Current[1] = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetID(HWAVEOUT waveOut, LPUINT deviceId) {
    std::lock_guard<std::mutex> guard(MixLock());
    if (!FindWaveStreamLocked(waveOut)) return MMSYSERR_INVALHANDLE;
    if (!deviceId) return MMSYSERR_INVALPARAM;
    *deviceId = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutSetVolume(HWAVEOUT waveOut, DWORD volume) {
    std::lock_guard<std::mutex> guard(MixLock());
    if (IsDeviceNumber(waveOut)) {
        if (reinterpret_cast<std::uintptr_t>(waveOut) != 0) return MMSYSERR_BADDEVICEID;
        DeviceVolumeLocked() = volume;
        return MMSYSERR_NOERROR;
    }
    Stream* stream = FindWaveStreamLocked(waveOut);
    if (!stream) return MMSYSERR_INVALHANDLE;
    stream->Volume = volume;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetVolume(HWAVEOUT waveOut, LPDWORD volume) {
    std::lock_guard<std::mutex> guard(MixLock());
    if (!volume) return MMSYSERR_INVALPARAM;
    if (IsDeviceNumber(waveOut)) {
        if (reinterpret_cast<std::uintptr_t>(waveOut) != 0) return MMSYSERR_BADDEVICEID;
        *volume = DeviceVolumeLocked();
        return MMSYSERR_NOERROR;
    }
    Stream* stream = FindWaveStreamLocked(waveOut);
    if (!stream) return MMSYSERR_INVALHANDLE;
    *volume = stream->Volume;
    return MMSYSERR_NOERROR;
}

namespace standin {

void RecordPlayedStreams(bool on) {
    std::lock_guard<std::mutex> guard(MixLock());
    RecordingLocked() = on;
}

std::vector<PlayedStream> TakePlayedStreams() {
    std::lock_guard<std::mutex> guard(MixLock());
    std::vector<PlayedStream> taken;
    for (auto& record : RecordsLocked()) taken.push_back({record.Format, std::move(record.Bytes)});
    RecordsLocked().clear();
    // Streams still open keep recording into fresh records.
    for (auto& [handle, stream] : StreamsLocked()) {
        if (stream.Recording < 0) continue;
        stream.Recording = static_cast<int>(RecordsLocked().size());
        RecordsLocked().push_back({stream.Format, {}});
    }
    return taken;
}

}  // namespace standin
