// SPDX-License-Identifier: MIT
// zmbtool's movie opening and frame checks.
#include "movie_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zambrel/movie.h"

namespace zmbtool {

namespace {

std::size_t ReadFile(void* opaque, void* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, static_cast<std::FILE*>(opaque));
}

int SeekFile(void* opaque, std::uint64_t position) {
    return ::fseeko(static_cast<std::FILE*>(opaque), static_cast<off_t>(position), SEEK_SET);
}

// The file's length, or -1 when it cannot be told.
std::int64_t LengthOf(std::FILE* file) {
    if (::fseeko(file, 0, SEEK_END) != 0) return -1;
    const off_t end = ::ftello(file);
    return ::fseeko(file, 0, SEEK_SET) == 0 ? end : -1;
}

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

bool ReadHeaderOf(const std::string& path, ZambHeader* header, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const std::int64_t length = file != nullptr ? LengthOf(file) : -1;
    if (length < 0) {
        *error = std::strerror(errno);
        if (file != nullptr) std::fclose(file);
        return false;
    }
    const ZambReader reader{file, &ReadFile, &SeekFile, static_cast<std::uint64_t>(length)};
    const ZambError result = ZambReadHeader(&reader, header, sizeof *header);
    std::fclose(file);
    if (result == ZAMBERR_READ_FAILED) *error = ZambErrorString(result);
    return result != ZAMBERR_READ_FAILED;
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
    file_ = std::fopen(path.c_str(), "rb");
    const std::int64_t length = file_ != nullptr ? LengthOf(file_) : -1;
    if (length < 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        Close();
        return false;
    }
    const ZambReader reader{file_, &ReadFile, &SeekFile, static_cast<std::uint64_t>(length)};
    if (ZambDecoderOpenChecked(&reader, flags | ZAMBOPEN_NO_SOUND, &decoder_) != ZAMBERR_NONE) {
        Close();
        *error = path + ": not a usable movie (its header, tables, trees or sizes are damaged)";
        return false;
    }
    // zmbtool plays each movie once from the start: snapshots for seeks would be work lost.
    ZambDecoderSetIndexBudget(decoder_, 0);
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
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    check_ = FrameCheck{};
}

}  // namespace zmbtool
