// SPDX-License-Identifier: MIT
// The switch parser: each switch's values, the search rules, and what is refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "display/display_flags.h"
#include "player/command_text.h"
#include "player/settings.h"
#include "player/switches.h"
#include "sound/seams.h"

namespace {

// Parses `text` into fresh settings; answers whether it was accepted, and what was left.
struct Parse {
    bool ok;
    std::string rest;
};

Parse ParseFresh(const char* text) {
    ResetPlayerSettings();
    char buffer[kCommandLineCapacity] = {};
    std::strncpy(buffer, text, sizeof buffer - 1);
    bool ok = ParseSwitches(buffer);
    return {ok, buffer};
}

std::uint32_t Tracks() {
    return (Settings.OpenFlags & ZAMB_TRACK_MASK) / ZAMB_TRACK0;
}

TEST(Switches, DefaultsBeforeAnyParse) {
    ResetPlayerSettings();
    EXPECT_EQ(Settings.PosX, -1);
    EXPECT_EQ(Settings.ExtraBuffer, -1);
    EXPECT_EQ(Settings.LoopCount, 1);
    EXPECT_EQ(Settings.FrameRate, -1);
    EXPECT_EQ(Settings.OpenFlags, 0x000FE000u);
    EXPECT_EQ(Settings.DisplayFlags, 0u);
}

TEST(Switches, LoopCount) {
    EXPECT_TRUE(ParseFresh("/l5 movie").ok);
    EXPECT_EQ(Settings.LoopCount, 5);
    ParseFresh("/L movie");
    EXPECT_EQ(Settings.LoopCount, -1);
    ParseFresh("/L0 movie");
    EXPECT_EQ(Settings.LoopCount, 1);
}

TEST(Switches, FrameRate) {
    ParseFresh("/F movie");
    EXPECT_EQ(Settings.FrameRate, 0);
    EXPECT_TRUE(Settings.OpenFlags & ZAMB_FRAME_RATE);
    ParseFresh("/F30 movie");
    EXPECT_EQ(Settings.FrameRate, 30);
    ParseFresh("/F-66 movie");
    EXPECT_EQ(Settings.FrameRate, -6600);
    ParseFresh("/F-1500 movie");
    EXPECT_EQ(Settings.FrameRate, -150000);
    ParseFresh("/F-2000 movie");
    EXPECT_EQ(Settings.FrameRate, -2000);
    ParseFresh("/F-1 movie");
    EXPECT_EQ(Settings.FrameRate, -1);
    EXPECT_FALSE(Settings.OpenFlags & ZAMB_FRAME_RATE);
    ParseFresh("/F30 /F movie");
    EXPECT_EQ(Settings.FrameRate, 0);
}

TEST(Switches, StoredPeriodIsNotConvertedAgainByALaterParse) {
    ParseFresh("/F-15 movie");
    ASSERT_EQ(Settings.FrameRate, -1500);
    char again[] = "movie";
    ASSERT_TRUE(ParseSwitches(again));
    EXPECT_EQ(Settings.FrameRate, -1500);
}

TEST(Switches, SoundTracks) {
    ParseFresh("/T3 movie");
    EXPECT_EQ(Tracks(), 3u);
    EXPECT_EQ(Settings.OpenFlags & ~ZAMB_TRACK_MASK, 0u);
    ParseFresh("/T0 movie");
    EXPECT_EQ(Tracks(), 0u);
    ParseFresh("/T255 movie");
    EXPECT_EQ(Tracks(), 127u);
}

TEST(Switches, HeightScaling) {
    ParseFresh("/A2 movie");
    EXPECT_EQ(Settings.OpenFlags & ZAMB_NO_SCALE, ZAMB_DOUBLE);
    char clear[] = "/A0 movie";
    ASSERT_TRUE(ParseSwitches(clear));
    EXPECT_EQ(Settings.OpenFlags & ZAMB_NO_SCALE, 0u);
    ParseFresh("/A3 movie");
    char negative[] = "/A-1 movie";
    ASSERT_TRUE(ParseSwitches(negative));
    EXPECT_EQ(Settings.OpenFlags & ZAMB_NO_SCALE, ZAMB_NO_SCALE);
}

TEST(Switches, VideoType) {
    ParseFresh("/V129 movie");
    EXPECT_EQ(Settings.DisplayFlags, kDisplayInterlaced | 22u);
    ParseFresh("/V385 movie");
    EXPECT_EQ(Settings.DisplayFlags, kDisplayNoDirectDraw | 22u);
    ParseFresh("/V384 movie");
    EXPECT_EQ(Settings.DisplayFlags, kDisplayNoDirectDraw);
    ParseFresh("/V260 movie");
    EXPECT_EQ(Settings.DisplayFlags, kDisplaySmoothing | 25u);
    ParseFresh("/V2 movie");
    char unknown[] = "/V5 movie";
    ASSERT_TRUE(ParseSwitches(unknown));
    EXPECT_EQ(Settings.DisplayFlags, 23u);
}

TEST(Switches, WindowStyle) {
    const std::pair<const char*, std::uint32_t> styles[] = {
        {"/I1 m", 0xC000}, {"/I2 m", 0xC200}, {"/I3 m", 0x200}, {"/I4 m", 0x4200}};
    for (auto [text, bits] : styles) {
        ParseFresh(text);
        EXPECT_EQ(Settings.DisplayFlags, bits) << text;
    }
    ParseFresh("/I2 /B m");
    char seven[] = "/I7 m";
    ASSERT_TRUE(ParseSwitches(seven));
    EXPECT_EQ(Settings.DisplayFlags, kDisplayDoubleBuffer);
    ParseFresh("/I4 m");
    char same[] = "/I255 m";
    ASSERT_TRUE(ParseSwitches(same));
    EXPECT_EQ(Settings.DisplayFlags, 0x4200u);
}

TEST(Switches, FlagsAndNumbers) {
    Parse p = ParseFresh(
        "  /X10 /Y-20 /M5000 /E999 /U6 /S /K /Q /J /P /N /G /B /C /R2 /W640 /H480 /D2 /@ a.zmb  ");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(Settings.PosX, 10);
    EXPECT_EQ(Settings.PosY, -20);
    EXPECT_EQ(Settings.ReadSpeed, 5000);
    EXPECT_EQ(Settings.ExtraBuffer, 999);
    EXPECT_EQ(Settings.DisableControls, 6);
    EXPECT_TRUE(Settings.ShowSummary && Settings.DiffOnly && Settings.FrameInCaption);
    EXPECT_TRUE(Settings.NoFocusPause && Settings.NoMMX);
    EXPECT_EQ(Settings.RemapMode, 2);
    EXPECT_EQ(Settings.StretchWidth, 640);
    EXPECT_EQ(Settings.StretchHeight, 480);
    EXPECT_EQ(Settings.DisplayResolution, 2);
    EXPECT_EQ(Settings.OpenFlags & 0xF00u,
              ZAMB_PRELOAD | ZAMB_NO_SKIP | ZAMB_FILL_BUFFER | ZAMB_READ_SPEED);
    EXPECT_EQ(Settings.DisplayFlags, kDisplayDoubleBuffer | kDisplayNoClearing);
    std::string rest = p.rest;
    TrimBlanks(rest.data());
    EXPECT_STREQ(rest.c_str(), "a.zmb");
}

// /@, /Z, /R and the read-speed bit are decided anew by every parse; the rest persist.
TEST(Switches, WhichSettingsASecondParseResets) {
    ParseFresh("/@ /R1 /M100 /S /L3 m");
    char second[] = "m";
    ASSERT_TRUE(ParseSwitches(second));
    EXPECT_FALSE(Settings.NoMMX);
    EXPECT_EQ(Settings.RemapMode, 0);
    EXPECT_EQ(Settings.ReadSpeed, 100);
    EXPECT_TRUE(Settings.OpenFlags & ZAMB_READ_SPEED);
    EXPECT_TRUE(Settings.ShowSummary);
    EXPECT_EQ(Settings.LoopCount, 3);
    char zero[] = "/M0 m";
    ASSERT_TRUE(ParseSwitches(zero));
    EXPECT_FALSE(Settings.OpenFlags & ZAMB_READ_SPEED);
}

TEST(Switches, SoundOnlyUsesTheStandardType) {
    ParseFresh("/V1 /O m");
    EXPECT_TRUE(Settings.SoundOnly);
    EXPECT_EQ(Settings.DisplayFlags & kDisplayVideoTypeMask, 24u);
}

// /Z asks for DirectSound; where it is missing the setting stays off and wave output plays.
TEST(Switches, DirectSoundOnlyWhereItIsInstalled) {
    SoundForgetDriver();
    setenv("ZAMBREL_MISSING", "dsound", 1);
    EXPECT_TRUE(ParseFresh("/Z m").ok);
    EXPECT_FALSE(Settings.UseDirectSound);
    unsetenv("ZAMBREL_MISSING");
    ParseFresh("/Z m");
    EXPECT_TRUE(Settings.UseDirectSound);
    ParseFresh("m");
    EXPECT_FALSE(Settings.UseDirectSound);
    SoundForgetDriver();
}

TEST(Switches, FlagsEndAtPunctuationAndNumbersLeaveWhatFollows) {
    Parse p = ParseFresh("/S-x /L2.zmb");
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(Settings.ShowSummary);
    EXPECT_EQ(Settings.LoopCount, 2);
    EXPECT_EQ(p.rest, "-x .zmb");
}

TEST(Switches, HugeNumbersSaturate) {
    ParseFresh("/X99999999999 /Y-99999999999 m");
    EXPECT_EQ(Settings.PosX, 2147483647);
    EXPECT_EQ(Settings.PosY, -2147483647 - 1);
}

TEST(Switches, RefusedWithTheUsageMessage) {
    for (const char* text : {"/Y m", "/P5 m", "/X m", "/S /S m", "/L2 /L3 m", "/L2 /L m",
                             "dir/movie", "/Unknown m", "/? m", "/ m", "/T3/T m"})
        EXPECT_FALSE(ParseFresh(text).ok) << text;
}

TEST(Switches, AcceptedWithoutSwitchesOrNames) {
    EXPECT_TRUE(ParseFresh("a.zmb b.zmb").ok);
    Parse empty = ParseFresh("   ");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.rest, "");
}

}  // namespace
