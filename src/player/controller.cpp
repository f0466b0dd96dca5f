// SPDX-License-Identifier: MIT
// The controller exchange through the window system's messages.
#include "player/controller.h"

#include <cstring>
#include <string>

#include "player/command_text.h"
#include "player/messages.h"
#include "player/settings.h"
#include "player/switches.h"

void TakeParentWindow(char* commandLine) {
    bool given = false;
    std::int32_t value = TakeNumericSwitch(commandLine, '#', 0, &given);
    ParentWindow = given ? ParentWindowFromSwitch(value) : nullptr;
    TakeFlagSwitch(commandLine, '#');
}

bool IsControllerTitle(const char* title) {
    return std::strncmp(title, kControllerTitle, sizeof kControllerTitle - 1) == 0;
}

void QueryParentWindow() {
    if (!ParentWindow) return;
    char title[kParentTitleCapacity] = {};
    GetWindowTextA(ParentWindow, title, static_cast<int>(sizeof title));
    if (!IsControllerTitle(title)) return;
    if (SendMessageA(ParentWindow, kControllerQuery, 0, 0) == kControllerDeclines)
        ParentWindow = nullptr;
}

std::size_t BuildReportText(char* buffer) {
    // The bytes behind the text travel with it, so they are cleared rather than whatever
    // the command line left there.
    std::memset(buffer, 0, kCommandLineCapacity);
    std::string text =
        std::string(kApplicationName) + " - V" + kVersionText + "  " + kCopyrightNotice;
    static_assert(sizeof kApplicationName + sizeof kVersionText + sizeof kCopyrightNotice + 4 +
                          kReportSlack <=
                      kCommandLineCapacity,
                  "the report and its slack fit the working buffer");
    std::memcpy(buffer, text.data(), text.size());
    return text.size();
}

void ReportToParentWindow(char* buffer) {
    if (!ParentWindow || !IsWindow(ParentWindow)) return;
    std::size_t length = BuildReportText(buffer);
    COPYDATASTRUCT copy{};
    copy.dwData = kReportIdentifier;
    copy.cbData = static_cast<DWORD>(length) + kReportSlack;
    copy.lpData = buffer;
    SendMessageA(ParentWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
}

bool PrepareCommandLine(char* commandLine, char* working) {
    TakeParentWindow(commandLine);
    std::size_t length = std::strlen(commandLine);
    bool fits = length < kCommandLineCapacity;
    working[0] = '\0';
    if (fits) std::memcpy(working, commandLine, length + 1);
    QueryParentWindow();
    if (!fits)
        ShowUsage("the command line is longer than " + std::to_string(kCommandLineCapacity - 1) +
                  " bytes");
    return fits;
}
