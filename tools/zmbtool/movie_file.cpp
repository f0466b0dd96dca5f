// SPDX-License-Identifier: MIT
// zmbtool's movie opening and frame checks.
#include "movie_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "zambrel/movie.h"

namespace zmbtool {

namespace {

FrameCheck ChecksOf(const ZambDecoder* decoder) {
    ZambFrameCheck found{};
    FrameCheck check;
    if (ZambDecoderCheckFrames(decoder, &found, nullptr, 0) != ZAMBERR_NONE) return check;
    std::vector<ZambFrameFault> faults(found.FaultCount);
    ZambDecoderCheckFrames(decoder, &found, faults.data(), found.FaultCount);
    check.frameCount = found.FrameCount;
    check.stored = found.StoredFrames;
    check.whole = found.WholeFrames;
    for (const ZambFrameFault& fault : faults) check.faults.push_back({fault.Frame, fault.Reason});
    return check;
}

}  // namespace

bool CheckMovieInput(const std::string& path, std::string* error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return *error = "cannot read " + path + ": " + std::strerror(errno), false;
    if (S_ISDIR(status.st_mode)) return *error = "cannot read " + path + ": it is a folder", false;
    // The frame checks and a damaged movie's salvage read the file where they need to,
    // which a pipe cannot give; opening one that nobody writes would wait for ever.
    if (!S_ISREG(status.st_mode)) {
        *error = "cannot read " + path +
                 ": it is not a file (a FIFO or a device); save the movie to a file first";
        return false;
    }
    return true;
}

std::uint64_t FramePeriodOf(const ZambMovieInfo& info) {
    if (info.FrameDurationNum == 0) return 0;
    return std::uint64_t{info.FrameDurationNum} * 100000 / info.FrameDurationDen;
}

std::uint32_t TrackFormatOf(const ZambTrackInfo& track) {
    if (!track.Present) return 0;
    std::uint32_t format = ZAMB_TRACK_PRESENT | (track.SampleRate & ZAMB_TRACK_RATE_MASK);
    if (track.Compressed) format |= ZAMB_TRACK_COMPRESSED;
    if (track.BitsPerSample == 16) format |= ZAMB_TRACK_16BIT;
    if (track.Channels == 2) format |= ZAMB_TRACK_STEREO;
    return format;
}

MovieFile::~MovieFile() {
    Close();
}

bool MovieFile::Open(const std::string& path, std::uint32_t flags, std::string* error) {
    Close();
    if (!CheckMovieInput(path, error)) return false;
    // Only a failure to read the file is told as such; everything else is the movie's.
    const ZambError result =
        ZambDecoderOpenFile(path.c_str(), flags | ZAMBOPEN_CHECK | ZAMBOPEN_NO_SOUND, &decoder_);
    if (result == ZAMBERR_OPEN_FAILED)
        return *error = "cannot read " + path + ": " + std::strerror(errno), false;
    if (result != ZAMBERR_NONE) {
        *error = path + ": not a usable movie (its header, tables, trees or sizes are damaged)";
        return false;
    }
    ZambDecoderGetInfo(decoder_, &info_, sizeof info_);
    check_ = ChecksOf(decoder_);
    ZambDecoderCheckPictures(decoder_);
    return true;
}

std::string MovieFile::PictureDamage() const {
    ZambFrameDamage damage{};
    if (ZambDecoderGetFrameDamage(decoder_, &damage, sizeof damage) != ZAMBERR_NONE) return "";
    return damage.Reason;
}

const std::uint8_t* MovieFile::Palette() {
    ZambDecoderGetPalette(decoder_, palette_);
    return palette_;
}

void MovieFile::Close() {
    ZambDecoderClose(decoder_);
    decoder_ = nullptr;
    check_ = FrameCheck{};
}

}  // namespace zmbtool
