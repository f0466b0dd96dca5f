// SPDX-License-Identifier: MIT
// zmbtool decode's sound outputs.
#include "sound_out.h"

#include <algorithm>
#include <string>

#include "movie_file.h"

namespace zmbtool {

namespace {

WavFormat FormatOf(std::uint32_t track) {
    WavFormat format;
    format.rate = track & TRACK_RATE_MASK;
    format.channels = track & TRACK_STEREO ? 2 : 1;
    format.bits = track & TRACK_16BIT ? 16 : 8;
    return format;
}

std::string TrackFile(const std::string& folder, int n, const char* extension) {
    return folder + "/track" + std::to_string(n) + extension;
}

}  // namespace

std::uint32_t PlayableTracks(const ZambMovieInfo& info) {
    std::uint32_t tracks = 0;
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        const std::uint32_t format = TrackFormatOf(info.Tracks[n]);
        if ((format & TRACK_PRESENT) && (format & TRACK_RATE_MASK) != 0) tracks |= 1u << n;
    }
    return tracks;
}

// Mixes several tracks into one 16-bit stream. Sample k of every track sounds at the same
// moment, so a mixed sample goes out only once every track has delivered it; what is left
// when the movie ends is mixed against silence.
class SoundOutputs::Mixer {
  public:
    Mixer(const ZambMovieInfo& info, std::uint32_t tracks) : tracks_(tracks) {
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n)
            if (tracks & (1u << n))
                stereo_ = stereo_ || (TrackFormatOf(info.Tracks[n]) & TRACK_STEREO);
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) format_[n] = TrackFormatOf(info.Tracks[n]);
    }
    int Channels() const { return stereo_ ? 2 : 1; }

    void Add(int n, const std::uint8_t* bytes, std::size_t count) {
        if (!(tracks_ & (1u << n))) return;
        const std::uint32_t format = format_[n];
        const bool sixteen = format & TRACK_16BIT, stereo = format & TRACK_STEREO;
        const std::size_t width = sixteen ? 2 : 1, frame = width * (stereo ? 2 : 1);
        for (std::size_t at = 0; at + frame <= count; at += frame) {
            const int left = Sample(bytes + at, sixteen);
            const int right = stereo ? Sample(bytes + at + width, sixteen) : left;
            pending_[n].push_back(left);
            if (stereo_) pending_[n].push_back(right);
        }
    }

    // Appends every sample all tracks have delivered (all of them when FLUSH) to OUT.
    void Take(bool flush, std::vector<std::uint8_t>* out) {
        std::size_t ready = flush ? 0 : SIZE_MAX;
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
            if (!(tracks_ & (1u << n))) continue;
            ready =
                flush ? std::max(ready, pending_[n].size()) : std::min(ready, pending_[n].size());
        }
        if (ready == SIZE_MAX) ready = 0;
        out->clear();
        for (std::size_t i = 0; i < ready; ++i) {
            int sum = 0;
            for (auto& queue : pending_) {
                if (queue.empty()) continue;
                sum += queue.front();
                queue.pop_front();
            }
            const auto value = static_cast<std::uint16_t>(std::clamp(sum, -32768, 32767));
            out->push_back(static_cast<std::uint8_t>(value & 0xFF));
            out->push_back(static_cast<std::uint8_t>(value >> 8));
        }
    }

  private:
    static int Sample(const std::uint8_t* at, bool sixteen) {
        if (!sixteen) return (at[0] - 128) * 256;
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | at[1] << 8));
    }

    std::uint32_t tracks_;
    bool stereo_ = false;
    std::array<std::uint32_t, ZAMB_TRACK_COUNT> format_{};
    std::array<std::deque<int>, ZAMB_TRACK_COUNT> pending_;
};

SoundOutputs::SoundOutputs() = default;

SoundOutputs::~SoundOutputs() {
    Discard();
}

bool SoundOutputs::Open(const ZambMovieInfo& info, const SoundRequest& request,
                        std::string* error) {
    const std::uint32_t playable = PlayableTracks(info);
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (!(playable & (1u << n))) continue;
        if (!OpenTrack(info, n, request, error)) return Discard(), false;
    }
    if (!request.wavFile.empty() && !OpenWavFile(info, request, error)) return Discard(), false;
    if (request.decodeAll) wanted_ = playable;
    wanted_ |= request.alsoDecode & playable;
    return true;
}

bool SoundOutputs::OpenTrack(const ZambMovieInfo& info, int n, const SoundRequest& request,
                             std::string* error) {
    if (request.pcmFolder.empty() && request.wavFolder.empty()) return true;
    files_[n] = std::make_unique<TrackFiles>();
    wanted_ |= 1u << n;
    if (!request.pcmFolder.empty() &&
        !files_[n]->pcm.Open(TrackFile(request.pcmFolder, n, ".pcm"), error))
        return false;
    return request.wavFolder.empty() ||
           files_[n]->wav.Open(TrackFile(request.wavFolder, n, ".wav"),
                               FormatOf(TrackFormatOf(info.Tracks[n])), error);
}

bool SoundOutputs::OpenWavFile(const ZambMovieInfo& info, const SoundRequest& request,
                               std::string* error) {
    const std::uint32_t chosen = request.tracks & PlayableTracks(info);
    if (chosen == 0) {
        *error = "cannot write " + request.wavFile + ": the movie has none of the chosen tracks";
        return false;
    }
    wanted_ |= chosen;
    int first = -1;
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (!(chosen & (1u << n))) continue;
        if (first < 0) first = n;
        const std::uint32_t rate = TrackFormatOf(info.Tracks[n]) & TRACK_RATE_MASK;
        const std::uint32_t firstRate = TrackFormatOf(info.Tracks[first]) & TRACK_RATE_MASK;
        if (rate != firstRate) {
            *error = "cannot mix tracks " + std::to_string(first) + " and " + std::to_string(n) +
                     ": they play at " + std::to_string(firstRate) + " and " +
                     std::to_string(rate) + " Hz (choose one with --tracks)";
            return false;
        }
    }
    if ((chosen & (chosen - 1)) == 0) {
        // One track goes out exactly as it is stored.
        soleTrack_ = first;
        return single_.Open(request.wavFile, FormatOf(TrackFormatOf(info.Tracks[first])), error);
    }
    mixer_ = std::make_unique<Mixer>(info, chosen);
    WavFormat format;
    format.rate = TrackFormatOf(info.Tracks[first]) & TRACK_RATE_MASK;
    format.channels = static_cast<std::uint16_t>(mixer_->Channels());
    format.bits = 16;
    return single_.Open(request.wavFile, format, error);
}

bool SoundOutputs::Append(int n, const std::uint8_t* bytes, std::size_t count) {
    bool ok = true;
    if (files_[n]) {
        ok = files_[n]->pcm.Write(bytes, count) && ok;
        if (files_[n]->wav.IsOpen()) ok = files_[n]->wav.Append(bytes, count) && ok;
    }
    if (n == soleTrack_) ok = single_.Append(bytes, count) && ok;
    if (mixer_) mixer_->Add(n, bytes, count);
    return ok;
}

bool SoundOutputs::DecodeFrame(const ZambDecoder* decoder, std::string* fault) {
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        decoded_[n].clear();
        if (!(wanted_ & (1u << n))) continue;
        const auto track = static_cast<std::uint32_t>(n);
        ZambChunkSound chunk{};
        if (ZambDecoderGetChunkSound(decoder, track, &chunk, sizeof chunk) != ZAMBERR_NONE ||
            chunk.ClaimedBytes == 0)
            continue;
        const std::string name = "track " + std::to_string(n) + "'s sound chunk";
        if (chunk.ClaimedBytes > chunk.LimitBytes) {
            *fault = name + " claims " + std::to_string(chunk.ClaimedBytes) +
                     " bytes, more than the " + std::to_string(chunk.LimitBytes) +
                     " its track's largest chunk may hold";
            return false;
        }
        // Sound made up where the stream has none would be no sound of the movie's.
        if (chunk.DeliveredBytes < chunk.ClaimedBytes) {
            *fault = name + "'s stream ends after " + std::to_string(chunk.DeliveredBytes) +
                     " of its " + std::to_string(chunk.ClaimedBytes) + " bytes";
            return false;
        }
        std::size_t bytes = 0;
        decoded_[n].resize(chunk.ClaimedBytes);
        ZambDecoderFrameSound(decoder, track, decoded_[n].data(), decoded_[n].size(), &bytes);
        decoded_[n].resize(bytes);
    }
    return true;
}

bool SoundOutputs::WriteFrame() {
    bool ok = true;
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n)
        if (!decoded_[n].empty()) ok = Append(n, decoded_[n].data(), decoded_[n].size()) && ok;
    if (mixer_) {
        mixer_->Take(false, &chunk_);
        ok = single_.Append(chunk_.data(), chunk_.size()) && ok;
    }
    return ok;
}

bool SoundOutputs::Finish(std::string* error) {
    if (mixer_) {
        mixer_->Take(true, &chunk_);
        single_.Append(chunk_.data(), chunk_.size());
    }
    for (auto& track : files_) {
        if (!track) continue;
        if (!track->pcm.Commit(error) || !track->wav.Commit(error)) return Discard(), false;
    }
    if (!single_.Commit(error)) return Discard(), false;
    return true;
}

std::string SoundOutputs::Failure() const {
    for (const auto& track : files_) {
        if (track && track->pcm.Failed()) return track->pcm.Failure();
        if (track && track->wav.Failed()) return track->wav.Failure();
    }
    return single_.Failure();
}

void SoundOutputs::Discard() {
    for (auto& track : files_) track.reset();
    single_.Discard();
    // Nothing is mixed for a file no longer written.
    mixer_.reset();
    soleTrack_ = -1;
}

}  // namespace zmbtool
