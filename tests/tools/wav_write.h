// SPDX-License-Identifier: MIT
// WAV files for the sound tests, written by libsndfile: unsigned 8-bit or 16-bit PCM.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

// CASE is any of the tests' sound cases: it gives `rate`, `channels` and `bits`.
template <class Case>
bool WriteWav(const std::string& path, const Case& c, const std::vector<std::uint8_t>& pcm) {
    SF_INFO info{};
    info.samplerate = c.rate;
    info.channels = c.channels;
    info.format = SF_FORMAT_WAV | (c.bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    const bool ok = sf_write_raw(file, pcm.data(), static_cast<sf_count_t>(pcm.size())) ==
                    static_cast<sf_count_t>(pcm.size());
    return sf_close(file) == 0 && ok;
}
