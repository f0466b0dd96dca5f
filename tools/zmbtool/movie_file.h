// SPDX-License-Identifier: MIT
// Opening a movie by exactly the name the user gave, with its frames checked against the
// file before anything is decoded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "zambrel/decoder.h"

namespace zmbtool {

// One fault of a movie file: the stored frame where it lies and what is wrong there.
struct FrameFault {
    std::uint32_t frame = 0;
    std::string reason;
};

// What a movie's frame table and chunk headers say about the file holding it.
struct FrameCheck {
    std::uint32_t frameCount = 0;    // the header's frame count, the ring frame not included
    std::uint32_t stored = 0;        // frames in the table, the ring frame included
    std::uint32_t whole = 0;         // frames from the first on that are complete and well formed
    std::vector<FrameFault> faults;  // in frame order; a cut file ends the list
};

// Movies are read from regular files: false, with ERROR naming the path and the reason, for
// anything else.
bool CheckMovieInput(const std::string& path, std::string* error);

// The header of the movie in PATH as the library reads and judges it, also for a movie it
// refuses: false, with ERROR the system's reason, when the file cannot be read at all.
bool ReadHeaderOf(const std::string& path, ZambHeader* header, std::string* error);

// The 1/100 ms a frame lasts, as the header's frame period says it; 0 for an untimed movie.
std::uint64_t FramePeriodOf(const ZambMovieInfo& info);
// A track's format word as the movie stores it (ZAMB_TRACK_ bits and the rate).
std::uint32_t TrackFormatOf(const ZambTrackInfo& track);

// A movie opened through a checked decoder handle, from the file of exactly the given name:
// zmbtool's names are POSIX names, so none of the player's '\' translation or case folding
// applies. A damaged movie that cannot be opened whole opens as its whole frames alone, so
// that they can still be decoded.
class MovieFile {
  public:
    MovieFile() = default;
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;
    ~MovieFile();

    // FLAGS are ZAMBOPEN_ flags. ERROR is one line: why the file cannot be read or used.
    bool Open(const std::string& path, std::uint32_t flags, std::string* error);
    ZambDecoder* Get() const { return decoder_; }
    const ZambMovieInfo& Info() const { return info_; }
    // Where the file stops being whole, from its own frame table and chunk headers: a frame
    // past the file's end, or a chunk that runs out of its frame.
    const FrameCheck& Check() const { return check_; }
    // Empty, or why the current frame's picture is damaged although it decoded: its stream
    // ran out before its last block, or it took values from a tree the movie does not store
    // whole.
    std::string PictureDamage() const;
    // The current frame's palette.
    const std::uint8_t* Palette();
    void Close();

  private:
    std::FILE* file_ = nullptr;
    ZambDecoder* decoder_ = nullptr;
    ZambMovieInfo info_{};
    FrameCheck check_;
    std::uint8_t palette_[768] = {};
};

}  // namespace zmbtool
