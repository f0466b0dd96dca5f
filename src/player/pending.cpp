// SPDX-License-Identifier: MIT
// The display and the DirectSound driver are not connected to the player yet: message
// boxes go to standard error, there is no player window, the stretch size is only kept in
// the settings, /Z finds no DirectSound, and the summary knows no display. This file is
// the one place that says so; each function goes when its service lands.
#include <cstdio>

#include "player/pending.h"

void ShowMessageBox(HWND, const char* text, const char* caption, bool isError) {
    std::fprintf(stderr, "%s%s\n%s\n", isError ? "[stop] " : "", caption, text);
}

HWND CurrentPlayerWindow() {
    return nullptr;
}

void StoreDisplayStretch(std::int32_t, std::int32_t) {}

bool InstallDirectSound() {
    return false;
}

std::uint32_t ClosedDisplayColors() {
    return 0;
}
const char* ClosedDisplayDescription() {
    return "";
}
