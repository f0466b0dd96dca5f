// SPDX-License-Identifier: MIT
// Self-playing copies: the field found in a real program file, patched, and read back by
// the running copy together with its appended movie.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/command_text.h"
#include "player/selfplay.h"
#include "player/settings.h"
#include "selfplay/copy.h"

namespace {

namespace fs = std::filesystem;

std::vector<char> ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

fs::path OwnPath() {
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

// A program image around one empty field.
std::vector<char> FakePlayer() {
    std::vector<char> bytes(100, 'p');
    const char* field = reinterpret_cast<const char*>(&SelfPlay);
    bytes.insert(bytes.end(), field, field + 8);
    bytes.insert(bytes.end(), kSelfPlayConfigCapacity, '\0');
    bytes.insert(bytes.end(), kSelfPlayEnd, kSelfPlayEnd + 8);
    bytes.insert(bytes.end(), 50, 'q');
    return bytes;
}

TEST(SelfPlayCopy, FieldIsFoundOnceInARealProgramFile) {
    std::vector<char> own = ReadBytes(OwnPath());
    std::size_t at = 0;
    std::string error;
    ASSERT_TRUE(FindSelfPlayField(own, &at, &error)) << error;
    EXPECT_EQ(std::memcmp(own.data() + at + 8, std::string(kSelfPlayConfigCapacity, '\0').data(),
                          kSelfPlayConfigCapacity),
              0);
}

TEST(SelfPlayCopy, FieldSetAndMovieAppended) {
    std::vector<char> player = FakePlayer(), copy;
    std::vector<char> movie = {'Z', 'M', 'B', '2', 1, 2, 3};
    std::string error;
    ASSERT_TRUE(MakeSelfPlayCopy(player, movie, "/U2/T1", &copy, &error)) << error;
    ASSERT_EQ(copy.size(), player.size() + movie.size());
    std::string expected = ":" + std::to_string(player.size()) + " /U2/T1";
    EXPECT_STREQ(copy.data() + 108, expected.c_str());
    EXPECT_TRUE(std::equal(movie.begin(), movie.end(), copy.begin() + player.size()));
    EXPECT_TRUE(std::equal(copy.begin(), copy.begin() + 108, player.begin()));
    EXPECT_TRUE(std::equal(player.begin() + 108 + 208, player.end(), copy.begin() + 108 + 208));

    std::vector<char> again;
    EXPECT_FALSE(MakeSelfPlayCopy(copy, movie, "", &again, &error));
    EXPECT_EQ(error, "the player is already a self-playing copy");
    // ":374 " and 202 characters fill the field's 207; one more does not fit.
    EXPECT_TRUE(MakeSelfPlayCopy(player, movie, std::string(202, 'x'), &again, &error));
    EXPECT_FALSE(MakeSelfPlayCopy(player, movie, std::string(203, 'x'), &again, &error));
    EXPECT_FALSE(MakeSelfPlayCopy(std::vector<char>(500, 'p'), movie, "", &again, &error));
    std::vector<char> twice = player;
    twice.insert(twice.end(), player.begin(), player.end());
    EXPECT_FALSE(MakeSelfPlayCopy(twice, movie, "", &again, &error));
}

// Run inside a copy of this test program made by the next test.
TEST(SelfPlayCopyRun, SeesItsConfigurationAndMovie) {
    const char* moviePath = std::getenv("ZAMBREL_TEST_SELFPLAY_MOVIE");
    if (!moviePath) GTEST_SKIP() << "runs inside a self-playing copy";
    ResetPlayerSettings();
    char commandLine[kCommandLineCapacity] = "/U0";
    PlayList list;
    ASSERT_TRUE(StartPlayList(commandLine, list));
    EXPECT_EQ(Settings.DisableControls, 0);
    EXPECT_EQ(Settings.OpenFlags & ZAMB_TRACK_MASK, ZAMB_TRACK0);
    ASSERT_TRUE(NamesOwnFile(list.Current));
    HANDLE file = OpenOwnFileAt(list.Current);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<char> movie = ReadBytes(moviePath), got(movie.size() + 1);
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, got.data(), static_cast<DWORD>(got.size()), &read, nullptr));
    CloseHandle(file);
    got.resize(read);
    EXPECT_EQ(got, movie);
}

TEST(SelfPlayCopy, CopyOfThisProgramPlaysItsOwnMovie) {
    fs::path folder =
        fs::temp_directory_path() / ("zambrel-selfplay-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::vector<char> movie = {'Z', 'M', 'B', '2'};
    for (int i = 0; i < 5000; ++i) movie.push_back(static_cast<char>(i * 7));
    std::ofstream(folder / "movie.zmb", std::ios::binary).write(movie.data(), movie.size());
    std::vector<char> copy;
    std::string error;
    ASSERT_TRUE(MakeSelfPlayCopy(ReadBytes(OwnPath()), movie, "/U2/T1", &copy, &error)) << error;
    fs::path program = folder / "copy";
    std::ofstream(program, std::ios::binary).write(copy.data(), copy.size());
    ::chmod(program.c_str(), 0755);
    std::string command = "ZAMBREL_TEST_SELFPLAY_MOVIE='" + (folder / "movie.zmb").string() +
                          "' '" + program.string() +
                          "' --gtest_filter=SelfPlayCopyRun.* --gtest_brief=1 >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    fs::remove_all(folder);
}

}  // namespace
