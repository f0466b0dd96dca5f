// SPDX-License-Identifier: MIT
// zmbtool decode's sound outputs.
#include "sound_out.h"

#include <sndfile.h>

#include <cstring>

#include "decoder/audio_decode.h"

namespace zmbtool {

namespace {

// No real frame carries this much sound; a hostile length word is cut here.
constexpr std::uint32_t kLargestChunk = 64u << 20;

std::uint8_t SilenceOf(std::uint32_t format) {
    return format & TRACK_16BIT ? 0x00 : 0x80;
}

SNDFILE* CreateWav(const std::string& path, std::uint32_t format) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(format & TRACK_RATE_MASK);
    info.channels = format & TRACK_STEREO ? 2 : 1;
    info.format = SF_FORMAT_WAV | (format & TRACK_16BIT ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_U8);
    return sf_open(path.c_str(), SFM_WRITE, &info);
}

}  // namespace

SoundOutputs::~SoundOutputs() {
    Discard();
}

bool SoundOutputs::Open(const Movie* movie, const std::string& pcmFolder,
                        const std::string& wavFolder, std::string* error) {
    scratch_.assign(kAudioScratchBytes, 0);
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        std::uint32_t format = movie->TrackFormat[n];
        if (!(format & TRACK_PRESENT) || (format & TRACK_RATE_MASK) == 0) continue;
        if (!OpenTrack(movie, n, pcmFolder, wavFolder, error)) {
            Discard();
            return false;
        }
    }
    return true;
}

bool SoundOutputs::OpenTrack(const Movie* movie, int n, const std::string& pcmFolder,
                             const std::string& wavFolder, std::string* error) {
    std::string name = "track" + std::to_string(n);
    if (!pcmFolder.empty()) {
        Output out{pcmFolder + "/" + name + ".pcm", pcmFolder + "/" + name + ".pcm.part"};
        out.pcm = std::fopen(out.temporary.c_str(), "wb");
        if (!out.pcm) return *error = "cannot write " + out.path, false;
        outputs_[n].push_back(out);
    }
    if (!wavFolder.empty()) {
        Output out{wavFolder + "/" + name + ".wav", wavFolder + "/" + name + ".wav.part"};
        out.wav = CreateWav(out.temporary, movie->TrackFormat[n]);
        if (!out.wav) return *error = "cannot write " + out.path, false;
        outputs_[n].push_back(out);
    }
    return true;
}

bool SoundOutputs::Append(int n, const std::uint8_t* bytes, std::size_t count) {
    bool ok = true;
    for (Output& out : outputs_[n]) {
        if (out.pcm) ok = std::fwrite(bytes, 1, count, out.pcm) == count && ok;
        if (out.wav)
            ok = sf_write_raw(static_cast<SNDFILE*>(out.wav), bytes,
                              static_cast<sf_count_t>(count)) == static_cast<sf_count_t>(count) &&
                 ok;
    }
    return ok;
}

bool SoundOutputs::AddFrame(const Movie* movie) {
    bool ok = true;
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (outputs_[n].empty()) continue;
        ChunkSound sound = MeasureChunk(movie, n);
        if (!sound.Data) continue;
        std::uint32_t bytes = sound.Bytes < kLargestChunk ? sound.Bytes : kLargestChunk;
        if (!sound.Compressed) {
            ok = Append(n, sound.Data, bytes) && ok;
            continue;
        }
        // Whatever a damaged chunk cannot deliver is written as silence, as a player hears it.
        chunk_.assign(bytes, SilenceOf(movie->TrackFormat[n]));
        if (bytes == 0) continue;
        BitReader bits;
        StartBits(bits, sound.Data, sound.Data + sound.DataBytes);
        DecodeAudio(bits, bytes, scratch_.data(), chunk_.data(), chunk_.data() + bytes,
                    chunk_.data());
        ok = Append(n, chunk_.data(), bytes) && ok;
    }
    return ok;
}

bool SoundOutputs::Finish(std::string* error) {
    bool ok = true;
    for (auto& track : outputs_) {
        for (Output& out : track) {
            if (out.pcm) ok = std::fclose(out.pcm) == 0 && ok;
            if (out.wav) ok = sf_close(static_cast<SNDFILE*>(out.wav)) == 0 && ok;
            out.pcm = nullptr;
            out.wav = nullptr;
            if (ok && std::rename(out.temporary.c_str(), out.path.c_str()) != 0) ok = false;
            if (!ok) {
                *error = "cannot write " + out.path;
                break;
            }
        }
        if (!ok) break;
    }
    if (!ok) Discard();
    return ok;
}

void SoundOutputs::Discard() {
    for (auto& track : outputs_) {
        for (Output& out : track) {
            if (out.pcm) std::fclose(out.pcm);
            if (out.wav) sf_close(static_cast<SNDFILE*>(out.wav));
            if (out.pcm || out.wav) std::remove(out.temporary.c_str());
            out.pcm = nullptr;
            out.wav = nullptr;
        }
        track.clear();
    }
}

}  // namespace zmbtool
