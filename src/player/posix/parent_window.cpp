// SPDX-License-Identifier: MIT
// The controller window on the stand-in, where /# carries a socket to the controller.
#include "platform/standin/gui/foreign_window.h"
#include "player/controller.h"
#include "player/settings.h"

// No window crosses processes here: the controller hands down a connected socket.
HWND ParentWindowFromSwitch(std::int32_t value) {
    return value >= 0 ? standin::ForeignWindowFromDescriptor(value) : nullptr;
}

HWND OwnerForPlayerWindow() {
    return standin::IsForeignWindow(ParentWindow) ? nullptr : ParentWindow;
}
