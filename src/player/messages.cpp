// SPDX-License-Identifier: MIT
// The usage message and the message-box helper.
#include "player/messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "display/window.h"
#include "player/command_text.h"
#include "player/settings.h"

namespace {

constexpr const char* kUsageLines[] = {
    "  SYNTAX: ZambPly <Zamb1 Zamb2...> [/Switches]",
    "  Switches:",
    "    /P  \t- Preload the entire Zambrel animation.",
    "    /L##\t- Loop the animation (/L for infinite).",
    "    /F##\t- Use this frame rate (/F for fast).",
    "    /T##\t- Play the specified sound tracks.",
    "    /S  \t- Show the playback summary when finished.",
    "    /X##\t- Specifies the X coordinate of the playback.",
    "    /Y##\t- Specifies the Y coordinate of the playback.",
    "    /B  \t- Double-buffer (slower, but reduces tearing).",
    "    /M##\t- Simulate this read speed (in bytes/second).",
    "    /E##\t- Use this much extra memory for buffering.",
    "    /G  \t- Fill the extra memory buffer in ZambOpen.",
    "    /U##\t- Disable controls: 1=pause, 2=skip, 4=quit.",
    "    /N  \t- Never skip frames when falling behind.",
    "    /C  \t- Don't clear the buffer in between animations.",
    "    /O  \t- Play sound tracks only - no video.",
    "    /K  \t- Only show differences between frames.",
    "    /A##\t- Height scaling: 1=Interlace, 2=Double, 3=Force none.",
    "    /Z  \t- Use DirectSound for sound output.",
    "    /Q  \t- Show current frame number in caption.",
    "    /I# \t- Window style: 1=thin border, 2=thin, no caption, 3=no caption, 4=nothing.",
    "    /J  \t- Don't pause the video when the focus is lost.",
    "    /R##\t- Remap options: 1=remap to current system palette, 2=don't remap at all.",
    "    /W##\t- Stretch to this width in pixels (very slow!!)",
    "    /H##\t- Stretch to this height in pixels (very slow!!)",
    "    /@  \t- Don't use MMX (even if supported by the CPU).",
    "    /D##\t- Display resolution: 1=640x400, 2=640x480, 3=800x600, 4=1024x768.",
    "    /V##\t- Video type: 1=320x240, 2=320x200, 3=Standard, 4=DIBSection.",
    "        \t    Add 128 for interlaced, 256 for smoothing, or 384 for no DirectDraw.",
};

std::string JoinUsageLines() {
    std::string text;
    for (const char* line : kUsageLines) {
        if (!text.empty()) text += "\r\n";
        text += line;
    }
    return text;
}

MessageWay& Way() {
    static MessageWay way = MessageWay::Box;
    return way;
}

// The box's lines end in "\r\n"; a terminal wants "\n" alone.
std::string TerminalText(const char* text) {
    std::string shown(text);
    for (std::size_t at = 0; (at = shown.find("\r\n", at)) != std::string::npos;)
        shown.erase(at, 1);
    while (!shown.empty() && IsBlank(shown.front())) shown.erase(0, 1);
    return shown;
}

void PrintToTerminal(const char* text) {
    const std::string shown = TerminalText(text);
    if (shown.find('\n') == std::string::npos)
        std::fprintf(stderr, "zambply: %s\n", shown.c_str());
    else
        std::fprintf(stderr, "%s\n", shown.c_str());
}

void PrintLine(const char* format, va_list arguments) {
    std::fputs("zambply: ", stderr);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
}

}  // namespace

void SetMessageWay(MessageWay way) {
    Way() = way;
}

MessageWay CurrentMessageWay() {
    return Way();
}

const char* UsageCaption() {
    static const std::string caption =
        std::string(kApplicationName) + "  V " + kVersionText + " - " + kCopyrightNotice;
    return caption.c_str();
}

const char* UsageText() {
    static const std::string text = JoinUsageLines();
    return text.c_str();
}

void ShowUsage(const std::string& fault) {
    Outcome.UsageShown = true;
    if (Outcome.UsageFault.empty()) Outcome.UsageFault = fault;
    ShowMessage(UsageCaption(), UsageText(), nullptr, nullptr, false);
}

void ComposeMessage(const char* text1, const char* text2, const char* text3, char* out) {
    std::size_t used = 0;
    auto append = [&](const char* piece) {
        if (!piece) return;
        std::size_t length = std::min(std::strlen(piece), kMessageCapacity - 1 - used);
        std::memcpy(out + used, piece, length);
        used += length;
    };
    if (text1 && IsBlank(text1[0])) ++text1;
    append(text1);
    append(text2);
    append(text3);
    out[used] = '\0';
}

void ShowMessage(const char* caption, const char* text1, const char* text2, const char* text3,
                 bool isError) {
    char text[kMessageCapacity];
    ComposeMessage(text1, text2, text3, text);
    if (Way() == MessageWay::Terminal) return PrintToTerminal(text);
    HWND owner = DisplayWindow();
    if (!owner) owner = ParentWindow;
    MessageBoxA(owner, text, caption ? caption : kApplicationName, isError ? MB_ICONHAND : MB_OK);
}

void ReportProblem(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    PrintLine(format, arguments);
    va_end(arguments);
}

void ReportStop(const char* name, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    char text[kMessageCapacity];
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "zambply: %s: %s\n", name, text);
    if (Way() == MessageWay::Box) ShowMessage(nullptr, name, "\r\n", text, true);
}
