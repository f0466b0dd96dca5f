// SPDX-License-Identifier: MIT
// zmbtool decode's WebM: VP9 pictures and one Opus track for each chosen sound track, so a
// movie becomes one file that browsers and video sites take as it is.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "output.h"
#include "picture_out.h"

namespace zmbtool {

// VP9's own constant-quality scale: 0 is the finest, 63 the coarsest.
inline constexpr int kWebmDefaultQuality = 20;
inline constexpr int kWebmWorstQuality = 63;

struct WebmRequest {
    std::string path;
    int quality = kWebmDefaultQuality;
    bool lossless = false;              // VP9's lossless mode, in 4:4:4
    bool chroma444 = false;             // full-resolution chroma for the lossy mode too
    std::uint32_t tracks = 0;           // bit n: track n becomes an audio track
    std::uint32_t trackFormat[8] = {};  // the movie's format word of each track
    std::uint64_t plannedFrames = 0;    // frames the run means to write
    std::uint32_t scale = 1;            // each pixel shown as SCALE x SCALE
    int audioKbps = 0;                  // each Opus track's rate; 0: 128 stereo, 96 mono
};

// The Opus rates --webm-audio-bitrate takes, in kbit/s.
inline constexpr int kWebmLeastAudioKbps = 6;
inline constexpr int kWebmMostAudioKbps = 510;

class WebmWriter {
  public:
    WebmWriter();
    WebmWriter(const WebmWriter&) = delete;
    WebmWriter& operator=(const WebmWriter&) = delete;
    ~WebmWriter();
    // PERIOD: the frame period in 1/100 ms, never 0. WIDTH and HEIGHT are the frames' own
    // size; the video is the request's scale times that.
    bool Open(const WebmRequest& request, std::uint32_t width, std::uint32_t height,
              std::uint64_t period, std::string* error);
    // The sound track N decoded for the frame about to be added (call before AddFrame).
    bool AddSound(int n, const std::uint8_t* bytes, std::size_t count);
    bool AddFrame(const IndexedFrame& frame);
    bool Commit(std::string* error);
    // Why AddSound or AddFrame failed: one line naming the output.
    const std::string& Failure() const { return failure_; }

  private:
    struct Video;
    struct Audio;
    struct Block {
        std::uint64_t track;
        bool key;
        std::vector<std::uint8_t> data;
    };
    bool OpenVideo(std::uint32_t width, std::uint32_t height, std::string* error);
    bool OpenAudio(std::string* error);
    void SuggestTracks(int n, std::string* error) const;
    void NoteChromaLoss() const;
    std::vector<std::uint8_t> Header(std::uint32_t width, std::uint32_t height);
    bool Fail(const std::string& reason);
    bool Queue(std::uint64_t track, std::int64_t ms, bool key, const void* data, std::size_t size);
    bool Flush(bool all);
    bool WriteCluster();
    bool DrainVideo(bool last);
    bool EncodeReady(Audio& audio);
    bool FinishAudio(Audio& audio);
    bool FinishFile();

    WebmRequest request_;
    OutputFile out_;
    std::uint64_t period_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t videoPackets_ = 0;
    std::unique_ptr<Video> video_;
    std::vector<std::unique_ptr<Audio>> audio_;
    std::multimap<std::int64_t, Block> pending_;  // by time in ms, in arrival order
    std::vector<std::uint8_t> cluster_;           // the open cluster's blocks
    std::int64_t clusterMs_ = -1;
    std::int64_t videoMs_ = -1;  // the latest picture's time
    // Where things are: from the file's start, or (the *At_ of the index) from the segment's.
    std::uint64_t segmentStart_ = 0, seekHeadAt_ = 0, durationAt_ = 0, written_ = 0;
    std::uint64_t infoAt_ = 0, tracksAt_ = 0;
    struct Cue {
        std::int64_t ms;
        std::uint64_t position;  // of the cluster, from the segment's start
    };
    std::vector<Cue> cues_;
    std::vector<std::uint8_t> enlarged_;
    std::string failure_;
    double chromaLoss_ = 0, chromaSamples_ = 0;  // what 4:2:0 costs, over every frame
};

}  // namespace zmbtool
