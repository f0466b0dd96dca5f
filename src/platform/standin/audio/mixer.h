// SPDX-License-Identifier: MIT
// The mixer: every open wave-output stream, played together into one output format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/standin/audio/waveout.h"

namespace standin::audio {

struct OutputFormat {
    DWORD Rate = 0;
    WORD Channels = 0;
    WORD Bits = 0;
    WORD BlockAlign() const { return static_cast<WORD>(Channels * Bits / 8); }
};

// Guards the streams and their queues; the devices' threads take it to render.
std::mutex& MixLock();

// Renders `frames` frames of the mix in `format` into `out`, or only moves the streams on
// when `out` is null. Finished buffers are returned done. Caller holds MixLock.
void RenderLocked(const OutputFormat& format, std::size_t frames, std::uint8_t* out);
bool AnyStreamLocked();

}  // namespace standin::audio
