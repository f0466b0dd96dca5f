// SPDX-License-Identifier: MIT
// zmbtool decode's sound outputs: each present track's decoded bytes, frame by frame, and a
// single WAV of one track or a mix of several.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/movie_names.h"
#include "output.h"
#include "wav_out.h"
#include "zambrel/decoder.h"

namespace zmbtool {

struct SoundRequest {
    std::string pcmFolder;         // trackN.pcm for every present track
    std::string wavFolder;         // trackN.wav for every present track
    std::string wavFile;           // one WAV of the chosen tracks
    std::uint32_t tracks = 0x7F;   // bit n chooses track n for wavFile
    bool decodeAll = false;        // decode every track even with no output, to find faults
    std::uint32_t alsoDecode = 0;  // tracks another output takes through Decoded()
};

// Every present track that can be played (its rate is not 0).
std::uint32_t PlayableTracks(const ZambMovieInfo& info);

// Files are written through zmbtool's output rules; Finish commits them all, and anything
// not finished is discarded, so a failed run leaves no partial files behind.
class SoundOutputs {
  public:
    SoundOutputs();
    ~SoundOutputs();
    bool Open(const ZambMovieInfo& info, const SoundRequest& request, std::string* error);
    // Decodes what the current frame's chunks deliver; call once per played frame. False,
    // with FAULT saying why, when a chunk is damaged: it claims more than its track's
    // largest chunk, or its stream ends before what it claims. Nothing of such a frame
    // is kept.
    bool DecodeFrame(const ZambDecoder* decoder, std::string* fault);
    // Appends the frame DecodeFrame decoded. False when a write failed.
    bool WriteFrame();
    // Track N's sound of the frame DecodeFrame decoded (empty when it had none).
    const std::vector<std::uint8_t>& Decoded(int n) const { return decoded_[n]; }
    bool Finish(std::string* error);
    // After a failed write: which file, and why.
    std::string Failure() const;
    // Drops every file (after a failure) and goes on decoding for the other outputs.
    void StopWriting() { Discard(); }

  private:
    struct TrackFiles {
        OutputFile pcm;
        WavWriter wav;
    };
    class Mixer;
    bool OpenTrack(const ZambMovieInfo& info, int n, const SoundRequest& request,
                   std::string* error);
    bool OpenWavFile(const ZambMovieInfo& info, const SoundRequest& request, std::string* error);
    bool Append(int n, const std::uint8_t* bytes, std::size_t count);
    void Discard();

    std::array<std::unique_ptr<TrackFiles>, ZAMB_TRACK_COUNT> files_;
    std::uint32_t wanted_ = 0;  // tracks whose chunks are decoded at all
    int soleTrack_ = -1;        // the one track the WAV file copies as it is stored
    WavWriter single_;
    std::unique_ptr<Mixer> mixer_;
    std::array<std::vector<std::uint8_t>, ZAMB_TRACK_COUNT> decoded_;  // the frame's sound
    std::vector<std::uint8_t> chunk_;
};

}  // namespace zmbtool
