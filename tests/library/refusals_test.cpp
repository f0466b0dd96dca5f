// SPDX-License-Identifier: MIT
// Bad input and bad calls give a code and a reason, never a crash or a false success.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "movie_kinds.h"
#include "zambrel/decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Every cut of a movie either fails to open with an open's reason, or opens and then
// decodes until its end or until the input comes up short: never a frame made of bytes
// that are not there. A reader that delivers the cut copy exactly catches reads past it.
TEST(Refusals, CutMoviesAreRefusedOrStopShort) {
    const library_test::MovieKind kind = library_test::AllMovieKinds()[1];  // three tracks
    const Bytes whole = library_test::Write(kind.recipe);
    const std::set<ZambError> openReasons = {ZAMBERR_NOT_A_MOVIE, ZAMBERR_UNUSABLE_HEADER,
                                             ZAMBERR_TOO_SHORT, ZAMBERR_BAD_TREES};
    std::set<ZambError> seen;
    for (std::size_t size = 0; size < whole.size(); size += 1 + size / 16) {
        SCOPED_TRACE("cut at " + std::to_string(size));
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        ZambDecoder* decoder = reinterpret_cast<ZambDecoder*>(1);
        const ZambError opened = ZambDecoderOpenMemory(cut.data(), cut.size(), 0, &decoder);
        seen.insert(opened);
        if (opened != ZAMBERR_NONE) {
            EXPECT_TRUE(openReasons.count(opened)) << ZambErrorString(opened);
            EXPECT_EQ(decoder, nullptr);
            continue;
        }
        ZambError result = ZAMBERR_NONE;
        for (int f = 0; result == ZAMBERR_NONE; ++f) result = ZambDecoderNextFrame(decoder);
        // Only the frames' area is cut here, which the open does not read whole.
        EXPECT_TRUE(result == ZAMBERR_READ_FAILED || result == ZAMBERR_END);
        if (result == ZAMBERR_READ_FAILED) {
            EXPECT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_READ_FAILED);  // stays failed
            EXPECT_EQ(ZambDecoderSeek(decoder, 0), ZAMBERR_NONE);           // frame 0 is there
        }
        ZambDecoderClose(decoder);
    }
    EXPECT_TRUE(seen.count(ZAMBERR_NOT_A_MOVIE) && seen.count(ZAMBERR_TOO_SHORT));
}

TEST(Refusals, BadCallsAreRefusedWithTheirOwnCodes) {
    const Bytes movie = library_test::Write(library_test::AllMovieKinds()[0].recipe);
    ZambDecoder* decoder = nullptr;
    EXPECT_EQ(ZambDecoderOpenMemory(movie.data(), movie.size(), 0x8000, &decoder),
              ZAMBERR_INVALID_ARGUMENT);
    // Flags that contradict one another: two ways of showing the height, or two displays.
    for (std::uint32_t flags :
         {ZAMBOPEN_INTERLACED | ZAMBOPEN_DOUBLED, ZAMBOPEN_STORED_HEIGHT | ZAMBOPEN_DOUBLED,
          ZAMBOPEN_DISPLAY555 | ZAMBOPEN_DISPLAY565}) {
        EXPECT_EQ(ZambDecoderOpenMemory(movie.data(), movie.size(), flags, &decoder),
                  ZAMBERR_INVALID_ARGUMENT);
    }
    EXPECT_EQ(ZambDecoderOpenFile("/nonexistent/movie.zmb", 0, &decoder), ZAMBERR_OPEN_FAILED);
    EXPECT_EQ(ZambDecoderOpenReader(nullptr, 0, &decoder), ZAMBERR_INVALID_ARGUMENT);
    ASSERT_EQ(ZambDecoderOpenMemory(movie.data(), movie.size(), 0, &decoder), ZAMBERR_NONE);
    ZambMovieInfo info{};
    ZambFrameCheck check{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    Bytes picture(std::size_t{info.Width} * info.Height * 4, 0x5A);
    EXPECT_EQ(ZambDecoderGetPicture(decoder, ZAMBPIX_INDEX8, picture.data(), info.Width,
                                    picture.size(), 0),
              ZAMBERR_NO_FRAME);
    ASSERT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_NONE);
    const std::size_t pitch = std::size_t{info.Width} * 4;
    const std::size_t needed = pitch * info.Height;
    EXPECT_EQ(ZambDecoderGetPicture(decoder, ZAMBPIX_RGBA32, picture.data(), pitch - 1,
                                    picture.size(), 0),
              ZAMBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ZambDecoderGetPicture(decoder, ZAMBPIX_RGBA32, picture.data(), pitch, needed - 1, 0),
              ZAMBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(picture, Bytes(picture.size(), 0x5A)) << "a refused call wrote";
    EXPECT_EQ(ZambDecoderGetPicture(decoder, 6, picture.data(), pitch, needed, 0),
              ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambDecoderCheckFrames(decoder, &check, nullptr, 0), ZAMBERR_INVALID_ARGUMENT)
        << "a handle opened unchecked";
    std::size_t bytes = 0;
    Bytes sound(4);
    EXPECT_EQ(ZambDecoderFrameSound(decoder, 0, sound.data(), sound.size(), &bytes),
              ZAMBERR_BUFFER_TOO_SMALL);
    EXPECT_GT(bytes, sound.size());
    EXPECT_EQ(ZambDecoderFrameSound(decoder, 5, nullptr, 0, &bytes), ZAMBERR_NO_TRACK);
    ZambDecoderClose(decoder);

    // A null handle is accepted by every call.
    EXPECT_EQ(ZambDecoderNextFrame(nullptr), ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambDecoderSeek(nullptr, 0), ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambDecoderGetInfo(nullptr, &info, sizeof info), ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambDecoderGetChangedRects(nullptr, nullptr, 0), 0u);
    EXPECT_EQ(ZambDecoderReadSound(nullptr, 0, sound.data(), sound.size()), 0u);
    EXPECT_EQ(ZambDecoderSoundQueued(nullptr, 0), 0u);
    ZambSoundPosition position{};
    ZambErrorInfo error{};
    EXPECT_EQ(ZambDecoderGetSoundPosition(nullptr, 0, &position, sizeof position),
              ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambDecoderGetLastError(nullptr, &error, sizeof error), ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambDecoderSetIndexBudget(nullptr, 0), ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambDecoderBuildIndex(nullptr), ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambDecoderIndexBytes(nullptr), 0u);
    ZambDecoderClose(nullptr);
    for (ZambError code = -13; code <= 1; ++code) EXPECT_NE(ZambErrorString(code), nullptr);
}

}  // namespace
