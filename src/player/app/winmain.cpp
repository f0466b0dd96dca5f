// SPDX-License-Identifier: MIT
// zambplw: the player program on Windows, started with the system's own command-line text.
// Its blitter operations are exported by name through the module definition file.
#include "display/window.h"
#include "exported_blitter.h"
#include "platform/win32.h"
#include "player/entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    KeepExportedBlitter();
    DisplaySetInstance(instance);
    return RunPlayer(commandLine);
}
