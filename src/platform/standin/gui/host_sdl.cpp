// SPDX-License-Identifier: MIT
// The SDL2 host: chosen only when a real display answers.
#include <cstdlib>

#include "platform/standin/gui/desktop_state.h"

namespace standin::gui {

// Real windows on an X or Wayland display are not connected yet: without them every
// program runs on the headless host, which behaves the same towards it.
std::unique_ptr<Host> CreateSdlHost() {
    return nullptr;
}

void SdlDisplaySize(int*, int*) {}

}  // namespace standin::gui
