// SPDX-License-Identifier: MIT
// The player's message boxes: the one helper every message goes through, and the usage.
#pragma once

#include <cstddef>
#include <string>

constexpr std::size_t kMessageCapacity = 2048;

// Names message boxes and the player's window.
constexpr char kApplicationName[] = "ZambPlay";
constexpr char kVersionText[] = "3.1r";
constexpr char kCopyrightNotice[] = "Copyright (c) 2026 the Zambrel developers";

// Where the player's messages go. A box waits for someone to close it, which a script or a
// terminal session cannot do, so there they go to standard error and the player goes on.
enum class MessageWay { Box, Terminal };
// Box until the entry chooses otherwise.
void SetMessageWay(MessageWay way);
MessageWay CurrentMessageWay();

// One message box owned by the player's window, or by ParentWindow while there is none.
// Its text is text1 (one leading blank dropped), text2 and text3; any may be null, and a
// null caption means the application name. Returns when the user has closed it. Sent to
// the terminal instead, a one-line text is one "zambply: " line on standard error and a
// longer one (the usage, the summary) is written as it stands.
void ShowMessage(const char* caption, const char* text1, const char* text2, const char* text3,
                 bool isError);
// The text ShowMessage shows, built into `out` (kMessageCapacity bytes).
void ComposeMessage(const char* text1, const char* text2, const char* text3, char* out);

// One line on standard error, "zambply: " and the text, for what a message box does not
// say or a script must see.
void ReportProblem(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same line, "zambply: NAME: " and the text, for what ends the movie NAME early; a
// user who started the player from the desktop sees no standard error, so with boxes it is
// shown in one too, the name on a line of its own.
void ReportStop(const char* name, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The usage message box; it marks the run as one that played nothing. `fault` says what
// was wrong with the command line, for the POSIX entry's standard error.
void ShowUsage(const std::string& fault = "");
// The usage box's caption and text, as shown.
const char* UsageCaption();
const char* UsageText();
