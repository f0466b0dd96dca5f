// SPDX-License-Identifier: MIT
// The decoder services zmbtool uses beyond the player's interface.
#include "decoder/tool_access.h"

#include <cstring>

#include "decoder/audio_decode.h"
#include "decoder/bitstream.h"
#include "decoder/destination.h"

std::uint32_t ToolTrackSoundBytes(const Movie* movie, int n) {
    return MeasureChunk(movie, n).Bytes;
}

std::uint32_t ToolTrackSound(const Movie* movie, int n, std::uint8_t* out, std::uint32_t bytes) {
    const ChunkSound sound = MeasureChunk(movie, n);
    if (!sound.Data || bytes == 0) return 0;
    if (!sound.Compressed) {
        const std::uint32_t count = bytes < sound.DataBytes ? bytes : sound.DataBytes;
        std::memcpy(out, sound.Data, count);
        return count;
    }
    std::uint8_t scratch[kAudioScratchBytes];
    BitReader bits;
    StartBits(bits, sound.Data, sound.Data + sound.DataBytes);
    return DecodeAudio(bits, bytes, scratch, out, out + bytes, out);
}

void ToolRestartRectScan(Movie* movie, std::int32_t state) {
    if (movie->Dest == nullptr) return;
    movie->Dest->ScanDone = movie->Dest->ScanContinue = movie->Dest->ScanStarted = 0;
    movie->RectState = state;
}
