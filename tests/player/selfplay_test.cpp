// SPDX-License-Identifier: MIT
// The self-play field, its combination with the command line, and the player's own file.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/command_text.h"
#include "player/selfplay.h"
#include "player/settings.h"

namespace {

class SelfPlayTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetPlayerSettings(); }
    void TearDown() override { std::memset(SelfPlay.Config, 0, sizeof SelfPlay.Config); }

    static void Configure(const char* config) {
        std::memset(SelfPlay.Config, 0, sizeof SelfPlay.Config);
        std::strcpy(SelfPlay.Config, config);
    }
    bool Start(const char* commandLine) {
        std::strncpy(line_, commandLine, sizeof line_ - 1);
        return StartPlayList(line_, list_);
    }

    char line_[kCommandLineCapacity] = {};
    PlayList list_;
};

TEST_F(SelfPlayTest, PlainPlayerFieldIsTaggedAndEmpty) {
    EXPECT_EQ(std::memcmp(SelfPlay.Tag, "SELFPLAY", 8), 0);
    EXPECT_EQ(std::memcmp(SelfPlay.End, "ZAMBREL!", 8), 0);
    EXPECT_EQ(SelfPlay.Config[0], '\0');
}

TEST_F(SelfPlayTest, ConfiguredSwitchesApplyWithAnEmptyCommandLine) {
    Configure(":94720 /W640/I4/J/D2/T1/U2/A2");
    ASSERT_TRUE(Start(""));
    EXPECT_STREQ(list_.Current, ":94720");
    EXPECT_FALSE(list_.MultipleMovies);
    EXPECT_EQ(Settings.StretchWidth, 640);
    EXPECT_EQ(Settings.DisplayFlags, 0x4200u);
    EXPECT_TRUE(Settings.NoFocusPause);
    EXPECT_EQ(Settings.DisplayResolution, 2);
    EXPECT_EQ(Settings.OpenFlags & ZAMB_TRACK_MASK, ZAMB_TRACK0);
    EXPECT_EQ(Settings.DisableControls, kDisableSkip);
    EXPECT_EQ(Settings.OpenFlags & ZAMB_NO_SCALE, ZAMB_DOUBLE);
}

TEST_F(SelfPlayTest, CommandLineOverridesTheConfiguration) {
    Configure(":94720 /W640/U2/@/R1");
    ASSERT_TRUE(Start("/U0 /L3"));
    EXPECT_EQ(Settings.DisableControls, 0);
    EXPECT_EQ(Settings.LoopCount, 3);
    EXPECT_EQ(Settings.StretchWidth, 640);
    // Decided anew by the second parse: off unless the real command line gives them.
    EXPECT_FALSE(Settings.NoMMX);
    EXPECT_EQ(Settings.RemapMode, 0);
    EXPECT_STREQ(list_.Current, ":94720");
}

TEST_F(SelfPlayTest, ExtraNamesOnTheCommandLineFollowTheOwnMovie) {
    Configure(":100 /S");
    ASSERT_TRUE(Start("b.zmb"));
    EXPECT_STREQ(list_.Current, ":100");
    EXPECT_TRUE(list_.MultipleMovies);
    EXPECT_STREQ(list_.Remaining, "b.zmb");
}

TEST_F(SelfPlayTest, RefusedConfigurationPlaysNothing) {
    Configure(":100 /Bogus");
    EXPECT_FALSE(Start(""));
    Configure(":100");
    EXPECT_FALSE(Start(std::string(kSelfPlayConfigCapacity, 'x').c_str()));
}

TEST_F(SelfPlayTest, PlainPlayerNeedsAMovie) {
    EXPECT_FALSE(Start(""));
    EXPECT_FALSE(Start("/S /L"));
    EXPECT_FALSE(Start("/S /S a.zmb"));
    ASSERT_TRUE(Start("/L2 a.zmb , b.zmb"));
    EXPECT_STREQ(list_.Current, "a.zmb");
    EXPECT_TRUE(list_.MultipleMovies);
    TakeNextName(list_);
    EXPECT_STREQ(list_.Current, "b.zmb");
    TakeNextName(list_);
    EXPECT_STREQ(list_.Current, "");
    RefillPlayList(list_);
    EXPECT_STREQ(list_.Remaining, "a.zmb , b.zmb");
}

// Where the list is smaller than the command line (the Windows sizes), a longer list is
// refused; on POSIX the list holds whatever the command line holds.
TEST_F(SelfPlayTest, ListLongerThanItsBufferIsRefused) {
    std::string names;
    while (names.size() + 10 < sizeof line_ - 1) names += "movie.zmb ";
    EXPECT_EQ(Start(names.c_str()), names.size() < kNameListCapacity);
    if (kNameListCapacity < sizeof line_) {
        names.resize(kNameListCapacity + 9);
        EXPECT_FALSE(Start(names.c_str()));
    }
}

std::vector<char> OwnBytes() {
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::ifstream file(std::string(path, length), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

TEST_F(SelfPlayTest, OwnFileOpensAtTheOffset) {
    std::vector<char> bytes = OwnBytes();
    ASSERT_GT(bytes.size(), 5000u);
    HANDLE file = OpenOwnFileAt(":4096");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char got[16];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, got, sizeof got, &read, nullptr));
    ASSERT_EQ(read, sizeof got);
    EXPECT_EQ(std::memcmp(got, bytes.data() + 4096, sizeof got), 0);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(OpenOwnFileAt(":99999999999"), INVALID_HANDLE_VALUE);
}

}  // namespace
