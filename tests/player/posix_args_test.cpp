// SPDX-License-Identifier: MIT
// How POSIX arguments become the player's command line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "player/command_text.h"
#include "player/posix_args.h"
#include "player/settings.h"

namespace {

namespace fs = std::filesystem;

std::string Line(std::vector<std::string> args) {
    return ReadPosixArguments(args).CommandLine;
}

TEST(PosixArguments, DashSwitches) {
    EXPECT_EQ(Line({"-L3", "-S", "-@", "-#7", "-s"}), "/L3 /S /@ /#7 /s");
    // A dash before anything else is not a switch; a lone one is the standard input.
    EXPECT_EQ(Line({"-5"}), "-5");
    char name[kMovieNameCapacity];
    std::snprintf(name, sizeof name, "%s", Line({"-"}).c_str());
    EXPECT_TRUE(ExpandArgumentName(name, sizeof name));
    EXPECT_STREQ(name, "-");
}

TEST(PosixArguments, SlashIsSwitchTextUnlessAFileExists) {
    EXPECT_EQ(Line({"/L3", "/S/P", "intro"}), "/L3 /S/P intro");
    fs::path folder = fs::temp_directory_path() / ("zambrel-args-" + std::to_string(::getpid()));
    fs::create_directories(folder / "my movies");
    std::ofstream(folder / "intro.zmb") << "x";
    std::ofstream(folder / "my movies" / "b.zmb") << "x";
    std::string base = folder.string();
    std::string windows = base;
    for (char& c : windows) c = c == '/' ? '\\' : c;
    EXPECT_EQ(Line({base + "/intro.zmb"}), windows + "\\intro.zmb");
    EXPECT_EQ(Line({base + "/intro"}), windows + "\\intro");
    EXPECT_EQ(Line({base + "/my movies/b.zmb"}), "\"" + windows + "\\my movies\\b.zmb\"");
    // A missing absolute path is a name too: its open fails with the name, not the usage.
    EXPECT_EQ(Line({base + "/missing"}), windows + "\\missing");
    fs::remove_all(folder);
}

// Switch text is what is made of switches only; anything else is a name, and after "--"
// everything is.
TEST(PosixArguments, SwitchTextAndTheEndOfSwitches) {
    EXPECT_EQ(Line({"/F-66", "/L /S", "/P5", "/tmp/a.zmb", "/usr"}),
              "/F-66 /L /S /P5 \\tmp\\a.zmb \\usr");
    EXPECT_EQ(Line({"-S", "--", "-L3", "/S", "--", "a b"}), "/S -L3 \\S -- \"a b\"");
    EXPECT_EQ(ReadPosixArguments({"a.zmb", "--loop"}).Request, PosixRequest::UsageError);
    EXPECT_EQ(ReadPosixArguments({"--", "--loop"}).Request, PosixRequest::Play);
    EXPECT_EQ(ReadPosixArguments({"-L3", "--version", "--help"}).Request, PosixRequest::Version);
}

// A '"' cannot be quoted in the command line, so such a name travels as a stand-in that
// the playback loop expands; it must neither swallow the next name nor collide with one.
TEST(PosixArguments, NamesWithQuotesSurvive) {
    const std::vector<std::string> names = {"\"x.zmb", "a \"b\" c",
                                            "\x7F"
                                            "0",
                                            "q\""};
    std::vector<std::string> args = names;
    args.push_back("plain.zmb");
    char text[kCommandLineCapacity];
    std::string line = Line(args);
    ASSERT_LT(line.size(), sizeof text);
    std::memcpy(text, line.c_str(), line.size() + 1);
    char name[kMovieNameCapacity];
    for (const std::string& expected : names) {
        ASSERT_TRUE(SplitFirstName(name, sizeof name, text));
        ExpandArgumentName(name, sizeof name);
        EXPECT_EQ(std::string(name), expected);
    }
    ASSERT_TRUE(SplitFirstName(name, sizeof name, text));
    EXPECT_STREQ(name, "plain.zmb");
    EXPECT_STREQ(text, "");
}

TEST(PosixArguments, RelativeNames) {
    EXPECT_EQ(Line({"movies/intro.zmb", "a b.zmb", ""}), "movies\\intro.zmb \"a b.zmb\"");
}

TEST(PosixArguments, Help) {
    EXPECT_EQ(ReadPosixArguments({"-L3", "--help"}).Request, PosixRequest::Help);
    EXPECT_EQ(ReadPosixArguments({"-h"}).Request, PosixRequest::Help);
    EXPECT_EQ(ReadPosixArguments({"/?"}).Request, PosixRequest::Play);
    std::string text = PosixUsageText();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("  SYNTAX: ZambPly <Zamb1 Zamb2...> [/Switches]\n"), std::string::npos);
    EXPECT_NE(text.find("Escape"), std::string::npos);
}

}  // namespace
