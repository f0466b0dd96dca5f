// SPDX-License-Identifier: MIT
// Opening a movie by exactly the name the user gave, and checking its frames against the
// file before anything is decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/tool_open.h"
#include "zambrel/movie.h"

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

// A movie opened through the library, from the file of exactly the given name: zmbtool's
// names are POSIX names, so none of the player's '\' translation or case folding applies.
class MovieFile {
  public:
    MovieFile() = default;
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;
    ~MovieFile();

    // FLAGS go to ZambOpen. ERROR is one line: why the file cannot be read or used.
    // A damaged movie the library refuses whole (it reads small movies in one piece) is
    // opened as its whole frames alone, so that they can still be decoded.
    bool Open(const std::string& path, std::uint32_t flags, std::string* error);
    Movie* Get() const { return movie_.movie; }
    // Where the file stops being whole, from its own frame table and chunk headers: a frame
    // past the file's end, or a chunk that runs out of its frame.
    const FrameCheck& Check() const { return check_; }
    // Decodes the current frame, picture and sound, as ZambDoFrame does. Empty, or why the
    // frame's picture is damaged although it decoded: its stream ran out before its last
    // block, or it took values from a tree the movie does not store whole.
    std::string DecodeFrame();
    void Close();

  private:
    bool OpenWholeFrames(std::uint32_t flags);
    void CheckTrees();

    ToolMovie movie_;
    int descriptor_ = -1;               // for the frame checks, beside the movie's own
    std::vector<std::uint8_t> header_;  // header and frame tables as the file holds them
    FrameCheck check_;
    std::uint32_t absentTrees_ = 0;    // bit t: tree t is not stored
    std::uint32_t shortTrees_ = 0;     // bit t: tree t's size is short of its nodes
    std::uint32_t treeSizes_[4] = {};  // as the header gives them
    std::uint32_t treeSizesNeeded_[4] = {};
};

}  // namespace zmbtool
