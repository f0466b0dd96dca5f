// SPDX-License-Identifier: MIT
// The controller exchange as the entry runs it, against a controller over a socket pair.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_controller.h"
#include "player/command_text.h"
#include "player/controller.h"
#include "player/messages.h"
#include "player/settings.h"

namespace {

const std::string kReport = "ZambPlay - V3.1r  " + std::string(kCopyrightNotice);

// Runs the entry's part before playback on "/#N" + rest, N being the controller's socket.
bool Prepare(FakeController& controller, const std::string& rest, char* working) {
    ResetPlayerSettings();
    std::string line = "/#" + std::to_string(controller.PlayerEnd()) + " " + rest;
    return PrepareCommandLine(line.data(), working);
}

std::vector<std::uint32_t> Ops(FakeController& controller) {
    std::vector<std::uint32_t> ops;
    for (const ReceivedRequest& r : controller.Requests()) ops.push_back(r.op);
    return ops;
}

using Ops_ = std::vector<std::uint32_t>;

TEST(Controller, TitleTestLooksAtTheFirst19Characters) {
    EXPECT_TRUE(IsControllerTitle("Zambrel for Windows"));
    EXPECT_TRUE(IsControllerTitle("Zambrel for Windows 95"));
    EXPECT_FALSE(IsControllerTitle("Zambrel for Window"));
    EXPECT_FALSE(IsControllerTitle("zambrel for windows"));
}

TEST(Controller, DecliningControllerGetsNoReport) {
    FakeController controller("Zambrel for Windows", kControllerDeclines);
    char working[kCommandLineCapacity];
    ASSERT_TRUE(Prepare(controller, "a.zmb /S", working));
    EXPECT_STREQ(working, " a.zmb /S");
    EXPECT_EQ(ParentWindow, nullptr);
    ReportToParentWindow(working);
    EXPECT_EQ(Ops(controller), (Ops_{standin::kForeignGetText, standin::kForeignMessage}));
    EXPECT_EQ(controller.Requests()[1].message, kControllerQuery);
    EXPECT_EQ(controller.Requests()[1].wParam, 0u);
    EXPECT_EQ(controller.Requests()[1].lParam, 0u);
}

TEST(Controller, AcceptingControllerGetsTheReport) {
    FakeController controller("Zambrel for Windows", 0);
    char working[kCommandLineCapacity];
    ASSERT_TRUE(Prepare(controller, "a.zmb", working));
    ASSERT_NE(ParentWindow, nullptr);
    EXPECT_EQ(OwnerForPlayerWindow(), nullptr);
    ReportToParentWindow(working);
    auto requests = controller.Requests();
    EXPECT_EQ(Ops(controller), (Ops_{standin::kForeignGetText, standin::kForeignMessage,
                                     standin::kForeignIsWindow, standin::kForeignCopyData}));
    const ReceivedRequest& report = requests.back();
    EXPECT_EQ(report.message, static_cast<std::uint32_t>(WM_COPYDATA));
    EXPECT_EQ(report.wParam, 0u);
    EXPECT_EQ(report.lParam, kReportIdentifier);
    EXPECT_EQ(report.data.size(), kReport.size() + kReportSlack);
    EXPECT_EQ(report.data, kReport + std::string(kReportSlack, '\0'));
}

TEST(Controller, OtherParentIsReportedToWithoutTheQuery) {
    FakeController controller("Some other program", kControllerDeclines);
    char working[kCommandLineCapacity];
    ASSERT_TRUE(Prepare(controller, "/# a.zmb", working));
    EXPECT_EQ(std::strchr(working, '/'), nullptr);
    ReportToParentWindow(working);
    EXPECT_EQ(Ops(controller), (Ops_{standin::kForeignGetText, standin::kForeignIsWindow,
                                     standin::kForeignCopyData}));
}

TEST(Controller, OverlongCommandLineStillReports) {
    FakeController controller("Some other program");
    char working[kCommandLineCapacity];
    EXPECT_FALSE(Prepare(controller, std::string(kCommandLineCapacity + 50, 'x'), working));
    EXPECT_STREQ(working, "");
    ReportToParentWindow(working);
    EXPECT_EQ(Ops(controller).back(), standin::kForeignCopyData);
}

TEST(Controller, HandleThatIsNoWindowGetsNothing) {
    ResetPlayerSettings();
    char line[] = "/#987 a.zmb";
    char working[kCommandLineCapacity];
    ASSERT_TRUE(PrepareCommandLine(line, working));
    EXPECT_EQ(ParentWindow, nullptr);
    ReportToParentWindow(working);  // must not crash or send anywhere
    char none[] = "a.zmb";
    ASSERT_TRUE(PrepareCommandLine(none, working));
    EXPECT_EQ(ParentWindow, nullptr);
}

TEST(Controller, ReportTextAndSlackAreZeroed) {
    char buffer[kCommandLineCapacity];
    std::memset(buffer, 'j', sizeof buffer);
    std::size_t length = BuildReportText(buffer);
    EXPECT_EQ(std::string(buffer, length), kReport);
    for (std::size_t i = length; i < length + kReportSlack; ++i) EXPECT_EQ(buffer[i], '\0');
}

}  // namespace
