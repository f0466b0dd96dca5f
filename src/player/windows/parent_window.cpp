// SPDX-License-Identifier: MIT
// The controller window on Windows, where /# carries the window's own handle.
#include "player/argument_names.h"
#include "player/messages.h"
#include "player/controller.h"
#include "player/settings.h"

HWND ParentWindowFromSwitch(std::int32_t value) {
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(value));
}

HWND OwnerForPlayerWindow() {
    return ParentWindow;
}

bool ExpandArgumentName(char*, std::size_t) {
    return false;
}

GivenName OpenGivenName(const char*, bool) {
    return {};
}

std::string WhyNotOpened(const char*, bool) {
    return {};
}

std::string NameAsGiven(const char* name, bool) {
    return name;
}

std::string MovieCaption(const std::string&) {
    return kApplicationName;
}
