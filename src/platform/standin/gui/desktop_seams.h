// SPDX-License-Identifier: MIT
// Controls of the virtual desktop that no Windows program has: tests and tools inject input,
// read the screen back and reset the desktop. Never used by the system itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/standin/gui/gui.h"

namespace standin {

struct ScreenFormat {
    int width = 1024;
    int height = 768;
    int bits = 32;        // 8, 16 or 32
    bool rgb555 = false;  // 16-bit screens: 5-5-5 instead of 5-6-5
};

// Makes the desktop if there is none yet. Empty when its host is the one asked for; else
// why a display that was set (DISPLAY, WAYLAND_DISPLAY) could not be opened, in which case
// the desktop runs headless and a program that shows pictures should say so and stop.
std::string DisplayProblem();

// Throws the whole desktop away (windows, classes, GDI objects, queue, cursor) and starts a
// fresh one with this screen on the headless host. For tests, between cases.
void ResetDesktop(const ScreenFormat& format);
// The same on the SDL host; false (and the headless host) when no display answers.
bool ResetDesktopWithSdl(const ScreenFormat& format);
// The screen as the environment chooses it (ZAMBREL_SCREEN), for the host in use.
ScreenFormat ScreenFromEnvironment(bool sdlHost);
// Parses "WIDTHxHEIGHTxBITS[:555]"; false when it is not such a text.
bool ParseScreenFormat(const std::string& text, ScreenFormat* format);

// The screen's current format and a copy of its memory, rows top to bottom, `pitch` bytes each.
ScreenFormat CurrentScreen();
std::vector<std::uint8_t> ScreenBytes(int* pitch);
// The colour a user sees at a screen point (through the system palette on 8-bit screens),
// with the software cursor as drawn.
COLORREF ScreenColor(int x, int y);
// Writes the whole screen as an RGB PNG file.
bool SaveScreenPng(const std::string& path);

// Input, delivered as the window system would: to the focus window, in order.
void InjectKey(UINT virtualKey, bool down);
void InjectKeyPress(UINT virtualKey);  // down, then up
// Another program takes the activation (our active window deactivates), or gives it back to
// our last active top-level window.
void InjectDeactivate();
void InjectActivate(HWND window);
// The user pressed the close button of a top-level window.
void InjectClose(HWND window);
void InjectCursorPos(int x, int y);

// Everything MessageBoxA showed since the last reset, as "caption|text".
const std::vector<std::string>& MessageBoxLog();

// The ZAMBREL_INPUT script language: parses and schedules the events (times in ms after the
// first message pump). Returns false and a message for a line it cannot read.
bool LoadInputScript(const std::string& text, std::string* error);

}  // namespace standin
