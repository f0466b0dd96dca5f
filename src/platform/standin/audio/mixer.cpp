// SPDX-License-Identifier: MIT
// Plays every open stream at its own rate, format and volume into one output format.
#include <algorithm>
#include <cstring>

#include "platform/standin/audio/mixer.h"
#include "platform/standin/audio/streams.h"
#include "platform/standin/gui/desktop.h"

namespace standin::audio {

std::mutex& MixLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::uintptr_t, Stream>& StreamsLocked() {
    static std::map<std::uintptr_t, Stream> streams;
    return streams;
}

Stream* FindStreamLocked(HWAVEOUT handle) {
    auto& streams = StreamsLocked();
    auto found = streams.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == streams.end() ? nullptr : &found->second;
}

DWORD& DeviceVolumeLocked() {
    static DWORD volume = 0xFFFFFFFF;
    return volume;
}

bool& RecordingLocked() {
    static bool recording = false;
    return recording;
}

std::vector<PlayedRecord>& RecordsLocked() {
    static std::vector<PlayedRecord> records;
    return records;
}

bool AnyStreamLocked() {
    return !StreamsLocked().empty();
}

namespace {

// Returns the front buffer done once all its bytes have been taken.
void RetireFinishedBuffers(Stream& stream) {
    while (!stream.Queue.empty() && stream.Offset >= stream.Queue.front()->dwBufferLength) {
        ReturnDone(stream.Queue.front());
        stream.Queue.pop_front();
        stream.Offset = 0;
    }
}

// What a stream takes goes to its recording too, when it is being recorded.
void RecordTaken(const Stream& stream, const std::uint8_t* bytes, std::size_t count) {
    if (stream.Recording < 0) return;
    std::vector<std::uint8_t>& recorded = RecordsLocked()[stream.Recording].Bytes;
    recorded.insert(recorded.end(), bytes, bytes + count);
}

// A sound buffer plays its memory at the play cursor; a stopped one has nothing.
bool GatherFromBuffer(Stream& stream) {
    BufferSource& buffer = *stream.Buffer;
    while (stream.PendingCount < stream.Format.nBlockAlign) {
        if (!buffer.Playing || buffer.Memory.empty()) return false;
        std::uint8_t byte = buffer.Memory[buffer.PlayCursor++];
        if (buffer.PlayCursor >= buffer.Memory.size()) {
            buffer.PlayCursor = 0;
            buffer.Playing = buffer.Looping;
        }
        stream.Pending[stream.PendingCount++] = byte;
        RecordTaken(stream, &byte, 1);
    }
    return true;
}

// The usual case: a whole sample frame lies inside the front buffer and is taken at once.
bool TakeWholeFrame(Stream& stream, unsigned frameBytes) {
    if (stream.PendingCount != 0 || stream.Queue.empty()) return false;
    const WAVEHDR* header = stream.Queue.front();
    if (header->dwBufferLength < stream.Offset + frameBytes) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData) + stream.Offset;
    std::memcpy(stream.Pending, bytes, frameBytes);
    stream.Offset += frameBytes;
    stream.PendingCount = frameBytes;
    RecordTaken(stream, bytes, frameBytes);
    return true;
}

bool GatherFrame(Stream& stream) {
    if (stream.Buffer) return GatherFromBuffer(stream);
    const unsigned frameBytes = stream.Format.nBlockAlign;
    if (TakeWholeFrame(stream, frameBytes)) {
        RetireFinishedBuffers(stream);
        return true;
    }
    while (stream.PendingCount < frameBytes) {
        RetireFinishedBuffers(stream);
        if (stream.Queue.empty()) return false;
        WAVEHDR* header = stream.Queue.front();
        auto byte = static_cast<std::uint8_t>(header->lpData[stream.Offset++]);
        stream.Pending[stream.PendingCount++] = byte;
        RecordTaken(stream, &byte, 1);
    }
    RetireFinishedBuffers(stream);
    return true;
}

int SampleAt(const Stream& stream, unsigned channel) {
    if (stream.Format.wBitsPerSample == 8) return (stream.Pending[channel] - 128) * 256;
    std::int16_t value;
    std::memcpy(&value, stream.Pending + 2 * channel, 2);
    return value;
}

// Takes the next sample frame into Current; false when the stream has nothing queued.
bool NextFrame(Stream& stream) {
    if (!GatherFrame(stream)) return false;
    stream.Current[0] = SampleAt(stream, 0);
    stream.Current[1] = stream.Format.nChannels == 2 ? SampleAt(stream, 1) : stream.Current[0];
    stream.PendingCount = 0;
    return true;
}

// Moves the stream on by one output frame: equal rates take exactly one sample frame per
// output frame, so a stream in the output's own format is played bit for bit.
void AdvanceStream(Stream& stream, DWORD outputRate) {
    stream.Phase += stream.Format.nSamplesPerSec;
    while (stream.Phase >= outputRate) {
        stream.Phase -= outputRate;
        if (!NextFrame(stream)) {
            stream.Current[0] = stream.Current[1] = 0;
            stream.Phase = 0;  // starved: start afresh when sound arrives
            return;
        }
    }
}

int Scale(int sample, DWORD volume) {
    if (volume == 0xFFFF) return sample;
    return static_cast<int>(static_cast<std::int64_t>(sample) * volume / 0xFFFF);
}

void AddStream(const Stream& stream, int mix[2]) {
    const DWORD device = DeviceVolumeLocked();
    int left = Scale(Scale(stream.Current[0], stream.Volume & 0xFFFF), device & 0xFFFF);
    int right = Scale(Scale(stream.Current[1], stream.Volume >> 16), device >> 16);
    mix[0] += left;
    mix[1] += right;
}

void StoreFrame(const OutputFormat& format, const int mix[2], std::uint8_t* out) {
    int channels[2] = {std::clamp(mix[0], -32768, 32767), std::clamp(mix[1], -32768, 32767)};
    if (format.Channels == 1) channels[0] = (channels[0] + channels[1]) / 2;
    for (unsigned c = 0; c < format.Channels; ++c) {
        if (format.Bits == 8) {
            out[c] = static_cast<std::uint8_t>((channels[c] >> 8) + 128);
        } else {
            auto value = static_cast<std::int16_t>(channels[c]);
            std::memcpy(out + 2 * c, &value, 2);
        }
    }
}

}  // namespace

namespace {

// Without global focus a sound buffer is heard only while its window is active; its cursor
// moves on all the same. Asked once per rendered block rather than per frame.
void UpdateFocusLocked() {
    for (auto& [handle, stream] : StreamsLocked()) {
        if (!stream.Buffer) continue;
        const BufferSource& buffer = *stream.Buffer;
        stream.Muted = !buffer.GlobalFocus &&
                       (!buffer.FocusWindow || !standin::WindowTreeActive(buffer.FocusWindow));
    }
}

}  // namespace

void RenderLocked(const OutputFormat& format, std::size_t frames, std::uint8_t* out) {
    const WORD frameBytes = format.BlockAlign();
    UpdateFocusLocked();
    for (std::size_t i = 0; i < frames; ++i) {
        int mix[2] = {0, 0};
        for (auto& [handle, stream] : StreamsLocked()) {
            AdvanceStream(stream, format.Rate);
            if (!stream.Muted) AddStream(stream, mix);
        }
        if (out) StoreFrame(format, mix, out + i * frameBytes);
    }
}

}  // namespace standin::audio
