// SPDX-License-Identifier: MIT
// The conversation with the controller window that may have started the player (/#):
// whether it wants the report, and the report when playback is over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// A controller with this title may decline the report by answering the query.
constexpr char kControllerTitle[] = "Zambrel for Windows";
constexpr UINT kControllerQuery = 10019;
constexpr LRESULT kControllerDeclines = 8995;
constexpr ULONG_PTR kReportIdentifier = 4660;
// The report's length counts the terminating zero and the 15 bytes behind it.
constexpr DWORD kReportSlack = 16;

// The window a /# value names: on Windows the handle itself; elsewhere the controller's
// inherited socket descriptor, made a foreign window. Null when it names none.
HWND ParentWindowFromSwitch(std::int32_t value);
// The owner for the player's own window: ParentWindow, except that another process's
// window reached over a socket cannot own one of ours.
HWND OwnerForPlayerWindow();
// Takes /#N (and then a bare /#) out of the command line into ParentWindow.
void TakeParentWindow(char* commandLine);
// Whether a window title marks a controller that is asked before the report.
bool IsControllerTitle(const char* title);
// Asks a controller titled kControllerTitle whether it wants the report, and forgets it
// when it declines. Other parents are kept without asking.
void QueryParentWindow();

// The report text ("ZambPlay - V3.1r  " and the notice) built at the start of `buffer`
// (kCommandLineCapacity bytes), the rest zeroed; returns its length.
std::size_t BuildReportText(char* buffer);
// Sends the report to ParentWindow, built in `buffer`, if it is still a window.
void ReportToParentWindow(char* buffer);

// The entry's work before playback: takes the controller from the command line, copies
// what is left into `working` (kCommandLineCapacity bytes) and queries the controller.
// False when the command line does not fit, after the usage message: nothing is played,
// but the controller still gets its report.
bool PrepareCommandLine(char* commandLine, char* working);
