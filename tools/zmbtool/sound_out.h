// SPDX-License-Identifier: MIT
// zmbtool decode's sound outputs: each present track's decoded bytes, frame by frame.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "zambrel/movie.h"

namespace zmbtool {

// Writes trackN.pcm (the bytes as the track stores them) and/or trackN.wav for every
// present track, straight from the chunks of the played frames. Files are written under
// temporary names and renamed by Finish, so a failed run leaves none behind.
class SoundOutputs {
public:
    ~SoundOutputs();
    bool Open(const Movie* movie, const std::string& pcmFolder, const std::string& wavFolder,
              std::string* error);
    // Appends what the current frame's chunks deliver; call once per played frame.
    bool AddFrame(const Movie* movie);
    bool Finish(std::string* error);

private:
    struct Output {
        std::string path, temporary;
        std::FILE* pcm = nullptr;
        void* wav = nullptr;  // the sound file library's handle
    };
    bool OpenTrack(const Movie* movie, int n, const std::string& pcmFolder,
                   const std::string& wavFolder, std::string* error);
    bool Append(int n, const std::uint8_t* bytes, std::size_t count);
    void Discard();

    std::array<std::vector<Output>, ZAMB_TRACK_COUNT> outputs_;
    std::vector<std::uint8_t> chunk_;
    std::vector<std::uint8_t> scratch_;
};

}  // namespace zmbtool
