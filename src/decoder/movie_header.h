// SPDX-License-Identifier: MIT
// The movie's header: read straight into the first bytes of its record, whose fields are
// the header's layout, and judged before anything else of the movie is read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/movie_names.h"
#include "decoder/movie.h"

// Why the header alone refuses the movie; the values are the public ZAMBHDR_ codes.
enum class HeaderRefusal : std::uint32_t {
    None = ZAMBHDR_USABLE,
    NotAMovie = ZAMBHDR_NOT_A_MOVIE,
    CutShort = ZAMBHDR_CUT_SHORT,
    PictureSize = ZAMBHDR_PICTURE_SIZE,
    PictureTooLarge = ZAMBHDR_PICTURE_TOO_LARGE,
    TreeSizes = ZAMBHDR_TREE_SIZES,
    Layout = ZAMBHDR_LAYOUT,
    PastEnd = ZAMBHDR_PAST_END,
};

// Where the movie lies in its input, for the checks that compare the header with it.
struct HeaderPlace {
    std::uint64_t start = 0;   // the movie's first byte in the input
    std::uint64_t length = 0;  // the input's length
    // The stored frames the input's table lists; 0: as many as the header counts. A damaged
    // movie opened as its whole frames counts fewer than its table lists.
    std::uint64_t listed = 0;
};

// Reads the header through the movie's input into the record's first bytes; returns the
// bytes read (fewer than a header's when the input ends first).
std::uint32_t ReadHeader(Movie* movie);
// The magic and the header's length, from the bytes that were read.
HeaderRefusal CheckHeaderStart(const Movie* movie, std::uint32_t bytesRead);
// The stored sizes and counts, against what is decoded and against the input.
HeaderRefusal CheckHeaderFields(const Movie* movie, const HeaderPlace& place);
// How an open fails for the refusal.
OpenFailure FailureOf(HeaderRefusal refusal);
// A sentence saying why the header is refused ("" when it is not), into `out`.
void DescribeRefusal(HeaderRefusal refusal, const Movie* movie, const HeaderPlace& place, char* out,
                     std::size_t capacity);
