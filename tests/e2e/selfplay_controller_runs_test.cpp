// SPDX-License-Identifier: MIT
// The player program run whole as a self-playing copy (its own file opened at the movie's
// offset) and under a controller that hands it a socket for its window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_controller.h"
#include "player_run.h"

namespace zambrel::testing {
namespace {

// The descriptors of a running process that lead to `path`.
int DescriptorsOpenOn(long pid, const std::string& path) {
    int count = 0;
    std::error_code error;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
        std::error_code ignored;
        if (std::filesystem::read_symlink(entry.path(), ignored) == path) ++count;
    }
    return count;
}

// Reads the program's output line by line until a line holds `text`; false at its end.
bool ReadUntil(FILE* output, const std::string& text, std::string* all) {
    char line[1024];
    while (std::fgets(line, sizeof line, output)) {
        *all += line;
        if (std::string(line).find(text) != std::string::npos) return true;
    }
    return false;
}

// The copy's own movie is open (its file held) while it plays and let go of before the next
// movie of its command line opens, with the frame number in the caption as well.
TEST(SelfPlayRuns, OwnFileIsHeldOnlyWhileItsMoviePlays) {
    PlayerFolder folder;
    folder.Write("own.zmb", SmallMovie(10, -20000));
    folder.Write("next.zmb", SmallMovie(10, -20000));
    ASSERT_TRUE(folder.MakeSelfPlayingCopy("own.zmb", "copy", "/Q"));
    const std::string copy = std::filesystem::canonical(folder.Path() + "/copy").string();
    // The shell's own number becomes the copy's through exec, so its descriptors can be seen.
    const std::string command = "cd '" + folder.Path() +
                                "' && ZAMBREL_HOST=headless ZAMBREL_AUDIO=simulated "
                                "ZAMBREL_PROFILE=profile.ini sh -c 'echo $$; exec ./copy "
                                "next.zmb' 2>&1";
    FILE* output = popen(command.c_str(), "r");
    ASSERT_NE(output, nullptr);
    std::string all;
    char pidLine[32] = {};
    ASSERT_NE(std::fgets(pidLine, sizeof pidLine, output), nullptr);
    const long pid = std::strtol(pidLine, nullptr, 10);
    ASSERT_TRUE(ReadUntil(output, "ZambOpen - file handle: ", &all)) << all;
    const int whilePlaying = DescriptorsOpenOn(pid, copy);
    ASSERT_TRUE(ReadUntil(output, "ZambOpen - file: next.zmb", &all)) << all;
    const int afterwards = DescriptorsOpenOn(pid, copy);
    ReadUntil(output, "\x01", &all);  // to the end
    pclose(output);
    EXPECT_EQ(whilePlaying, 1) << all;
    EXPECT_EQ(afterwards, 0) << all;
}

// The copy is configured with the skip key disabled; its own command line's /U0 wins.
TEST(SelfPlayRuns, CommandLineSwitchesOverrideTheConfiguredOnes) {
    PlayerFolder folder;
    folder.Write("own.zmb", SmallMovie(20, -5000));
    ASSERT_TRUE(folder.MakeSelfPlayingCopy("own.zmb", "copy", "/U2 /S"));
    const std::string skip = "at 100 ms key .\n";
    PlayerRun configured = folder.RunProgram("./copy", "", skip);
    EXPECT_EQ(configured.NumberAfter("Total frames played: "), 20) << configured.Output;
    PlayerRun overridden = folder.RunProgram("./copy", "/U0", skip);
    EXPECT_EQ(overridden.Status, 0);
    const long played = overridden.NumberAfter("Total frames played: ");
    EXPECT_GE(played, 1) << overridden.Output;
    EXPECT_LT(played, 20) << overridden.Output;
}

const std::string kReport = "ZambPlay - V3.1r  Copyright (c) 2026 the Zambrel developers";
constexpr std::uint32_t kQuery = 10019;
constexpr std::int64_t kDecline = 8995;
constexpr std::uint32_t kCopyData = 0x4A;

std::vector<std::uint32_t> Ops(FakeController& controller) {
    std::vector<std::uint32_t> ops;
    for (const ReceivedRequest& request : controller.Requests()) ops.push_back(request.op);
    return ops;
}

using OpList = std::vector<std::uint32_t>;

PlayerRun RunUnder(FakeController& controller, const PlayerFolder& folder) {
    return folder.Run("-#" + std::to_string(controller.PlayerEnd()) + " -S one.zmb");
}

TEST(ControllerRuns, DecliningControllerIsAskedAndGetsNoReport) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(3, -1000));
    FakeController controller("Zambrel for Windows", kDecline);
    PlayerRun run = RunUnder(controller, folder);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 3) << run.Output;
    EXPECT_EQ(Ops(controller), (OpList{standin::kForeignGetText, standin::kForeignMessage}));
    ASSERT_EQ(controller.Requests().size(), 2u);
    EXPECT_EQ(controller.Requests()[1].message, kQuery);
}

TEST(ControllerRuns, AcceptingControllerGetsTheReportAfterPlayback) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(3, -1000));
    FakeController controller("Zambrel for Windows", 0);
    PlayerRun run = RunUnder(controller, folder);
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 3) << run.Output;
    EXPECT_EQ(Ops(controller), (OpList{standin::kForeignGetText, standin::kForeignMessage,
                                       standin::kForeignIsWindow, standin::kForeignCopyData}));
    const ReceivedRequest report = controller.Requests().back();
    EXPECT_EQ(report.message, kCopyData);
    EXPECT_EQ(report.wParam, 0u);
    EXPECT_EQ(report.lParam, 4660u);
    // The length counts the terminating zero and the fifteen zero bytes behind it.
    EXPECT_EQ(report.data.size(), kReport.size() + 16);
    EXPECT_EQ(report.data, kReport + std::string(16, '\0'));
}

TEST(ControllerRuns, ParentWithAnotherTitleIsReportedToWithoutTheQuery) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(3, -1000));
    FakeController controller("Some launcher", kDecline);
    PlayerRun run = RunUnder(controller, folder);
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(Ops(controller), (OpList{standin::kForeignGetText, standin::kForeignIsWindow,
                                       standin::kForeignCopyData}));
    EXPECT_EQ(controller.Requests().back().data.substr(0, kReport.size()), kReport);
}

}  // namespace
}  // namespace zambrel::testing
