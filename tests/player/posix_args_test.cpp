// SPDX-License-Identifier: MIT
// How POSIX arguments become the player's command line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "player/posix_args.h"

namespace {

namespace fs = std::filesystem;

std::string Line(std::vector<std::string> args) {
    return CommandLineFromArguments(args);
}

TEST(PosixArguments, DashSwitches) {
    EXPECT_EQ(Line({"-L3", "-S", "-@", "-#7", "-s"}), "/L3 /S /@ /#7 /s");
    // A dash before anything else is not a switch.
    EXPECT_EQ(Line({"-", "-5"}), "- -5");
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
    EXPECT_EQ(Line({base + "/missing"}), base + "/missing");
    fs::remove_all(folder);
}

TEST(PosixArguments, RelativeNames) {
    EXPECT_EQ(Line({"movies/intro.zmb", "a b.zmb", ""}), "movies\\intro.zmb \"a b.zmb\"");
}

TEST(PosixArguments, Help) {
    EXPECT_TRUE(AsksForHelp({"-L3", "--help"}));
    EXPECT_FALSE(AsksForHelp({"-h", "/?"}));
    std::string text = PosixUsageText();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("  SYNTAX: ZambPly <Zamb1 Zamb2...> [/Switches]\n"), std::string::npos);
}

}  // namespace
