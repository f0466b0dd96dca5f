// SPDX-License-Identifier: MIT
// The playback summary's text and number formats.
#include <gtest/gtest.h>

#include <string>

#include "player/summary.h"

namespace {

SummaryFigures Figures() {
    SummaryFigures f{};
    PlaybackSummary& s = f.Summary;
    s.TotalTime = 20000;
    s.FramePeriod = 6666;
    s.OpenTime = 1;
    s.FramesPlayed = 300;
    s.FramesSkipped = 2;
    s.SoundSkips = 1;
    s.BlitTime = 5000;
    s.ReadTime = 1000;
    s.DecodeTime = 2500;
    s.AheadTime = 333;
    s.DeviceSpeed = 2343370752u;  // a fast disk: beyond 2^31, and still shown as it is
    s.SlowestTime = 40;
    s.SecondSlowestTime = 1000;
    s.SlowestFrame = 17;
    s.SecondSlowestFrame = 18;
    s.AverageFrame = 3500;
    s.PeakMemory = 0x80000000u;
    s.ExtraMemory = 65536;
    s.ExtraMemoryUsed = 4096;
    f.PeakSecondBytes = 70000;
    f.PeakSecondFrame = 12;
    f.ScreenColors = 65536;
    f.DisplayDescription = "DIBSection";
    return f;
}

TEST(Summary, WholeText) {
    EXPECT_EQ(PlaybackSummaryText(Figures()),
              "  Frame rate: 15.0"
              "\r\n  Frame rate obtained: 15.0"
              "\r\n  Total frames played: 300"
              "\r\n  Skipped frames: 2"
              "\r\n  Sound skips: 1"
              "\r\n  Total playback time: 20 seconds"
              "\r\n  Total open time: 1 millisecond"
              "\r\n\r\n  Average frame size: 3500"
              "\r\n  Highest one second data rate: 70000"
              "\r\n  Highest one second data rate start frame: 12"
              "\r\n  Speed of playback device: 2343370752"
              "\r\n  Memory used for playback: -2147483648"
              "\r\n  Total extra buffering memory: 65536"
              "\r\n  Highest extra buffering memory used: 4096"
              "\r\n\n  Percentage spent decompressing: 12.5"
              "\r\n  Percentage spent blitting: 25.0"
              "\r\n  Percentage spent reading: 5.0"
              "\r\n  Percentage spent background reading: 1.6"
              " (when idle)\r\n\n  Slowest frame: 17  Frame rate: 25.0"
              "\r\n  Second slowest frame: 18  Frame rate: 1.0"
              "\r\n\r\n  Screen colors: 65536"
              "\r\n  Display blitter: DIBSection");
    SummaryFigures heard = Figures();
    heard.SoundOutput = "wave output to SDL audio";
    const std::string ending =
        "\r\n  Display blitter: DIBSection\r\n  Sound output: wave output to SDL audio";
    const std::string text = PlaybackSummaryText(heard);
    ASSERT_GT(text.size(), ending.size());
    EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
}

TEST(Summary, AsFastAsPossibleAndASingleFrame) {
    SummaryFigures f = Figures();
    f.Summary.FramePeriod = 0;
    f.Summary.FramesPlayed = 1;
    std::string text = PlaybackSummaryText(f);
    EXPECT_EQ(text.rfind("  Frame rate: As fast as possible.\r\n", 0), 0u);
    EXPECT_EQ(text.find("Second slowest"), std::string::npos);
    EXPECT_NE(text.find("Slowest frame: 17  Frame rate: 25.0\r\n\r\n  Screen colors"),
              std::string::npos);
}

TEST(Summary, ZeroTimesDivideByOne) {
    SummaryFigures f = Figures();
    f.Summary.TotalTime = 0;
    std::string text = PlaybackSummaryText(f);
    EXPECT_NE(text.find("Frame rate obtained: 300000.0\r\n"), std::string::npos);
    EXPECT_NE(text.find("decompressing: 250000.0\r\n"), std::string::npos);
}

TEST(Summary, Ratio) {
    EXPECT_EQ(FormatRatio(1000, 66), "15.1");
    EXPECT_EQ(FormatRatio(100000, 6666), "15.0");
    EXPECT_EQ(FormatRatio(7, 0), "7.0");
    // The tenths come from a 32-bit product, which wraps for large numerators.
    EXPECT_EQ(FormatRatio(0xFFFFFFFFu, 1), "4294967295.6");
}

TEST(Summary, Durations) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "0 milliseconds"},
        {1, "1 millisecond"},
        {999, "999 milliseconds"},
        {1000, "1 second"},
        {1500, "1 second"},
        {59999, "59 seconds"},
        {60000, "1 minute 0 seconds"},
        {61000, "1 minute 1 second"},
        {125000, "2 minutes 5 seconds"},
        {3600000, "1 hour 0 minutes"},
        {3661000, "1 hour 1 minute"},
        {7260000, "2 hours 1 minute"},
    };
    for (auto [ms, text] : cases) EXPECT_EQ(FormatDuration(ms), text) << ms;
}

}  // namespace
