// SPDX-License-Identifier: MIT
// The one reading of a movie's header, and the judgement every open makes of it.
#include "decoder/movie_header.h"

#include <cstdio>
#include <cstring>

#include "decoder/limits.h"
#include "decoder/trees.h"

static_assert(offsetof(Movie, PaletteChanged) == ZAMB_HEADER_BYTES,
              "the header is read straight into the record's start");

namespace {

constexpr std::uint64_t kMaxPosition = 0xFFFFFFFFu;

std::uint64_t StoredFrames64(const Movie* movie) {
    return std::uint64_t{movie->FrameCount} + (movie->FileFlags & FILE_RING);
}

std::uint64_t ListedFrames(const Movie* movie, const HeaderPlace& place) {
    return place.listed != 0 ? place.listed : StoredFrames64(movie);
}

// The header, the frame tables as the input lists them and the tree data: frame 0's place.
std::uint64_t FramesStart(const Movie* movie, const HeaderPlace& place, std::uint64_t stored) {
    return place.start + ZAMB_HEADER_BYTES + 5 * stored + movie->TreeDataSize;
}

bool MultipleOfFour(std::uint32_t size) {
    return size != 0 && size % 4 == 0;
}

// Each tree's node area is whole nodes, and lookup entries must be able to address the block.
bool TreeSizesAreUsable(const Movie* movie) {
    std::uint64_t sum = kTreeNodesOffset;
    for (int tree = 0; tree < kTreeCount; ++tree) {
        if (TreeSizes(movie)[tree] % kNodeBytes != 0) return false;
        sum += TreeSizes(movie)[tree];
    }
    return sum <= kTreeBlockLimit;
}

// Tables, tree data and frame 0's position must be expressible in the 32-bit file positions
// and buffer sizes the reader works with.
bool LayoutFits(const Movie* movie, const HeaderPlace& place) {
    const std::uint64_t stored = StoredFrames64(movie);
    return movie->FrameCount != 0 && 5 * stored + 4 < kMaxPosition &&
           FramesStart(movie, place, ListedFrames(movie, place)) <= kMaxPosition;
}

}  // namespace

std::uint32_t ReadHeader(Movie* movie) {
    return ReadMovieData(movie, movie, ZAMB_HEADER_BYTES);
}

HeaderRefusal CheckHeaderStart(const Movie* movie, std::uint32_t bytesRead) {
    if (bytesRead < ZAMB_MAGIC_BYTES ||
        std::memcmp(movie->Magic, ZAMB_MAGIC, ZAMB_MAGIC_BYTES) != 0)
        return HeaderRefusal::NotAMovie;
    return bytesRead < ZAMB_HEADER_BYTES ? HeaderRefusal::CutShort : HeaderRefusal::None;
}

// The tables and tree data are allocated from header counts before they are read, so they
// must lie inside the input: a few hostile bytes must not ask for gigabytes.
HeaderRefusal CheckHeaderFields(const Movie* movie, const HeaderPlace& place) {
    if (!MultipleOfFour(movie->Width) || !MultipleOfFour(movie->Height))
        return HeaderRefusal::PictureSize;
    if (movie->Width > kMaxWidth || movie->Height > kMaxHeight)
        return HeaderRefusal::PictureTooLarge;
    if (!TreeSizesAreUsable(movie)) return HeaderRefusal::TreeSizes;
    if (!LayoutFits(movie, place)) return HeaderRefusal::Layout;
    if (FramesStart(movie, place, StoredFrames64(movie)) > place.length)
        return HeaderRefusal::PastEnd;
    return HeaderRefusal::None;
}

OpenFailure FailureOf(HeaderRefusal refusal) {
    switch (refusal) {
        case HeaderRefusal::None:
            return OpenFailure::None;
        case HeaderRefusal::NotAMovie:
        case HeaderRefusal::CutShort:
            return OpenFailure::NotAMovie;
        case HeaderRefusal::PastEnd:
            return OpenFailure::TooShort;
        default:
            return OpenFailure::UnusableHeader;
    }
}

void DescribeRefusal(HeaderRefusal refusal, const Movie* movie, const HeaderPlace& place, char* out,
                     std::size_t capacity) {
    const unsigned width = movie->Width, height = movie->Height;
    const char* text = "";
    switch (refusal) {
        case HeaderRefusal::None:
            break;
        case HeaderRefusal::NotAMovie:
            text = "not a Zambrel movie";
            break;
        case HeaderRefusal::CutShort:
            text = "the header is cut short";
            break;
        case HeaderRefusal::PictureSize:
            std::snprintf(out, capacity, "the picture size %ux%u is not a positive multiple of 4",
                          width, height);
            return;
        case HeaderRefusal::PictureTooLarge:
            std::snprintf(out, capacity, "the picture size %ux%u is larger than the %ux%u decoded",
                          width, height, unsigned{kMaxWidth}, unsigned{kMaxHeight});
            return;
        case HeaderRefusal::TreeSizes:
            text = "the code trees' sizes are not whole nodes, or larger than is decoded";
            break;
        case HeaderRefusal::Layout:
            text = movie->FrameCount == 0 ? "the movie has no frames"
                                          : "its frames would lie past 4 GB into the file";
            break;
        case HeaderRefusal::PastEnd:
            std::snprintf(
                out, capacity, "the frame tables and trees end at byte %llu, past the input's %llu",
                static_cast<unsigned long long>(FramesStart(movie, place, StoredFrames64(movie))),
                static_cast<unsigned long long>(place.length));
            return;
    }
    std::snprintf(out, capacity, "%s", text);
}
