// SPDX-License-Identifier: MIT
// Foreign windows: the requests and replies over the controller's socket.
#include <gtest/gtest.h>
#include <fcntl.h>

#include <cstring>

#include "fake_controller.h"
#include "platform/standin/gui/foreign_window.h"

namespace {

// The copy-data record every Windows program passes with WM_COPYDATA.
struct CopyData {
    ULONG_PTR dwData;
    DWORD cbData;
    PVOID lpData;
};
constexpr UINT kCopyDataMessage = 0x004A;

TEST(ForeignWindow, OnlyAConnectedStreamSocketIsAWindow) {
    EXPECT_EQ(standin::ForeignWindowFromDescriptor(-1), nullptr);
    int null = ::open("/dev/null", O_RDONLY);
    EXPECT_EQ(standin::ForeignWindowFromDescriptor(null), nullptr);
    ::close(null);
    int lone = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(standin::ForeignWindowFromDescriptor(lone), nullptr);
    ::close(lone);
    EXPECT_FALSE(standin::IsForeignWindow(nullptr));
}

TEST(ForeignWindow, TitleAndLiveness) {
    FakeController controller("Zambrel for Windows - a long controller title");
    HWND window = standin::ForeignWindowFromDescriptor(controller.PlayerEnd());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(standin::ForeignWindowFromDescriptor(controller.PlayerEnd()), window);
    EXPECT_TRUE(standin::IsForeignWindow(window));
    EXPECT_TRUE(standin::ForeignIsWindow(window));
    char title[32];
    EXPECT_EQ(standin::ForeignGetWindowText(window, title, sizeof title), 31);
    EXPECT_STREQ(title, "Zambrel for Windows - a long co");
    auto requests = controller.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].op, standin::kForeignIsWindow);
    EXPECT_EQ(requests[1].op, standin::kForeignGetText);
    EXPECT_EQ(requests[1].wParam, 32u);
}

TEST(ForeignWindow, MessagesCarryTheirValuesAndCopyData) {
    FakeController controller("other", 8995);
    HWND window = standin::ForeignWindowFromDescriptor(controller.PlayerEnd());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(standin::ForeignSendMessage(window, 10019, 0, 0), 8995);
    char text[40] = "report";
    CopyData copy{4660, 6 + 16, text};
    EXPECT_EQ(
        standin::ForeignSendMessage(window, kCopyDataMessage, 0, reinterpret_cast<LPARAM>(&copy)),
        1);
    auto requests = controller.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].op, standin::kForeignMessage);
    EXPECT_EQ(requests[0].message, 10019u);
    EXPECT_EQ(requests[1].op, standin::kForeignCopyData);
    EXPECT_EQ(requests[1].lParam, 4660u);
    EXPECT_EQ(requests[1].data, std::string("report") + std::string(16, '\0'));
}

TEST(ForeignWindow, AHungUpControllerIsNoLongerAWindow) {
    FakeController controller("gone", 0, 1);
    HWND window = standin::ForeignWindowFromDescriptor(controller.PlayerEnd());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(standin::ForeignIsWindow(window));
    char title[32] = "junk";
    EXPECT_EQ(standin::ForeignGetWindowText(window, title, sizeof title), 0);
    EXPECT_STREQ(title, "");
    EXPECT_FALSE(standin::ForeignIsWindow(window));
    EXPECT_EQ(standin::ForeignSendMessage(window, 10019, 0, 0), 0);
}

}  // namespace
