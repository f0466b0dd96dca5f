// SPDX-License-Identifier: MIT
// zmbtool encode's sound: tracks read from sound files and fitted to the pictures.
#include "encode_sound.h"

#include <sndfile.h>

#include <algorithm>
#include <vector>

#include "zambrel/decoder.h"

namespace zmbtool {
namespace {

namespace enc = zambrel::encoder;

// No movie carries this much sound per track; a longer file is refused rather than read.
constexpr sf_count_t kLargestSoundBytes = sf_count_t{1} << 30;

bool IsEightBit(int format) {
    const int sub = format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_S8;
}

std::uint32_t SampleFrameBytes(const enc::SoundTrack& track) {
    return (track.is16Bit ? 2u : 1u) * (track.stereo ? 2u : 1u);
}

// The frame period in 1/100 ms.
std::uint64_t PeriodHundredths(std::int32_t frameRate) {
    if (frameRate > 0) return static_cast<std::uint64_t>(frameRate) * 100;
    return frameRate < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(frameRate)) : 0;
}

// Reads the whole file as samples the track stores: 8-bit unsigned or 16-bit signed
// little-endian, interleaved.
bool ReadSamples(SNDFILE* file, const SF_INFO& info, enc::SoundTrack* track) {
    std::vector<short> block(4096 * static_cast<std::size_t>(info.channels));
    const sf_count_t frameBytes = (track->is16Bit ? 2 : 1) * info.channels;
    sf_count_t got;
    while ((got = sf_readf_short(file, block.data(), 4096)) > 0) {
        if (static_cast<sf_count_t>(track->samples.size()) + got * frameBytes > kLargestSoundBytes)
            return false;
        for (sf_count_t i = 0; i < got * info.channels; ++i) {
            const auto v = static_cast<std::uint16_t>(block[static_cast<std::size_t>(i)]);
            if (track->is16Bit) {
                track->samples.push_back(static_cast<std::uint8_t>(v & 0xFF));
                track->samples.push_back(static_cast<std::uint8_t>(v >> 8));
            } else {
                // The library scales 8-bit samples into the top byte; flip the sign bit to
                // get the unsigned form back exactly.
                track->samples.push_back(static_cast<std::uint8_t>((v >> 8) ^ 0x80));
            }
        }
    }
    return got == 0;
}

}  // namespace

bool ReadSoundTrack(const std::string& path, bool raw, enc::SoundTrack* track, std::string* error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        *error = path + ": cannot read it as sound (" + sf_strerror(nullptr) + ")";
        return false;
    }
    bool ok = false;
    if (info.channels != 1 && info.channels != 2)
        *error =
            path + ": " + std::to_string(info.channels) + " channels; tracks are mono or stereo";
    else if (info.samplerate < 1 || info.samplerate > static_cast<int>(ZAMB_MAX_TRACK_RATE))
        // The format could store rates up to 16,777,215 Hz, but no player would open the track.
        *error = path + ": " + std::to_string(info.samplerate) + " Hz; tracks play at up to " +
                 std::to_string(ZAMB_MAX_TRACK_RATE) + " Hz";
    else {
        track->present = true;
        track->sampleRate = static_cast<std::uint32_t>(info.samplerate);
        track->stereo = info.channels == 2;
        track->is16Bit = !IsEightBit(info.format);
        track->compressed = !raw;
        ok = ReadSamples(file, info, track);
        if (!ok) *error = path + ": unreadable or too long";
    }
    sf_close(file);
    return ok;
}

std::uint64_t FramesForTrack(const enc::SoundTrack& track, std::int32_t frameRate) {
    const std::uint64_t period = PeriodHundredths(frameRate);
    if (period == 0 || !track.present) return 0;
    // Sample frames times 100,000 over the samples a frame plays, rounded up: the last frame
    // may hold the end of the sound for less than its whole period.
    const std::uint64_t sampleFrames = track.samples.size() / SampleFrameBytes(track);
    const std::uint64_t perFrame = period * track.sampleRate;
    return (sampleFrames * 100000 + perFrame - 1) / perFrame;
}

std::uint64_t FramesForSound(const std::array<enc::SoundTrack, enc::kTrackCount>& tracks,
                             std::int32_t frameRate) {
    std::uint64_t frames = 0;
    for (const enc::SoundTrack& track : tracks)
        frames = std::max(frames, FramesForTrack(track, frameRate));
    return frames;
}

std::string CutSoundToFrames(std::array<enc::SoundTrack, enc::kTrackCount>& tracks,
                             std::int32_t frameRate, std::uint64_t frames) {
    const std::uint64_t period = PeriodHundredths(frameRate);
    std::string cut;
    for (int n = 0; n < enc::kTrackCount; ++n) {
        enc::SoundTrack& track = tracks[n];
        if (!track.present || period == 0) continue;
        // What `frames` frames play, floor(frames x period x rate / 100,000) sample frames,
        // worked out in two parts so that the product cannot overflow.
        const std::uint64_t perFrame = period * track.sampleRate;
        const std::uint64_t keep =
            (frames * (perFrame / 100000) + frames * (perFrame % 100000) / 100000) *
            SampleFrameBytes(track);
        if (keep >= track.samples.size()) continue;
        track.samples.resize(keep);
        cut += (cut.empty() ? "" : ", ") + std::to_string(n);
    }
    return cut;
}

}  // namespace zmbtool
