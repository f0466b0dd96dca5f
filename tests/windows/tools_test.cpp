// SPDX-License-Identifier: MIT
// The Windows check's comparisons: a difference between two blitter recordings, or between
// the screen and a decoded frame, must never pass for equality.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blit_calls.h"
#include "linked_blit.h"
#include "host_screen.h"

namespace {

std::vector<std::uint8_t> Section(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> out(name.begin(), name.end());
    out.push_back(0);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(bytes.size() >> shift));
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::vector<std::uint8_t> Join(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const BlitFunctions kLinked = LinkedBlitFunctions();

TEST(BlitRecording, DifferencesNameTheirSection) {
    auto first = Join(Section("open", {1, 0, 0, 0}), Section("blit", {5, 6, 7, 8}));
    EXPECT_EQ(FirstDifference(first, first), "");
    auto changed = Join(Section("open", {1, 0, 0, 0}), Section("blit", {5, 6, 9, 8}));
    EXPECT_EQ(FirstDifference(first, changed), "section \"blit\" differs at byte 2");
    auto renamed = Join(Section("open", {1, 0, 0, 0}), Section("clear", {5, 6, 7, 8}));
    EXPECT_NE(FirstDifference(first, renamed).find("\"blit\" is \"clear\""), std::string::npos);
    auto shorter = Section("open", {1, 0, 0, 0});
    EXPECT_NE(FirstDifference(first, shorter), "");
    EXPECT_NE(FirstDifference(shorter, first), "");
    auto cut(first);
    cut.pop_back();
    EXPECT_NE(FirstDifference(first, cut), "");
}

// Both platforms must record only what the operations produce: a recording that picked up
// uninitialised memory would differ between runs as it would between systems.
TEST(BlitRecording, RepeatsItselfExactly) {
    std::vector<std::uint8_t> once = RunBlitCalls(kLinked);
    ASSERT_GT(once.size(), 100000u);
    EXPECT_EQ(FirstDifference(once, RunBlitCalls(kLinked)), "");
}

TEST(ScreenMatch, OnlyTheExactFrameMatches) {
    const std::uint32_t width = 4, height = 2;
    std::vector<std::uint8_t> raw;
    for (int frame = 0; frame < 2; ++frame) {
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c)
                raw.push_back(static_cast<std::uint8_t>(i + c * 10 + frame));
        for (std::uint32_t p = 0; p < width * height; ++p)
            raw.push_back(static_cast<std::uint8_t>(p * 3));
    }
    raw.resize(raw.size() + 500);  // part of a third frame: not a frame
    std::vector<DecodedFrame> frames = SplitRawFrames(raw, width, height);
    ASSERT_EQ(frames.size(), 2u);

    ScreenPicture shown{width, height, {}};
    for (std::uint32_t p = 0; p < width * height; ++p) {
        std::uint32_t i = p * 3;
        shown.pixels.push_back((i + 1) << 16 | (i + 11) << 8 | (i + 21));
    }
    EXPECT_NE(CountDifferences(shown, frames[0]), 0u);  // the palettes tell the frames apart
    EXPECT_EQ(CountDifferences(shown, frames[1]), 0u);
    shown.pixels[5] ^= 1;
    EXPECT_EQ(CountDifferences(shown, frames[1]), 1u);
    ScreenPicture smaller{
        width, 1, std::vector<std::uint32_t>(shown.pixels.begin(), shown.pixels.begin() + 4)};
    EXPECT_NE(CountDifferences(smaller, frames[1]), 0u);
}

}  // namespace
