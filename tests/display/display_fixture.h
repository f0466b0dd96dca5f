// SPDX-License-Identifier: MIT
// A fresh virtual desktop and display state for every test, with components hidden on demand.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "display/modes.h"
#include "display/state.h"
#include "platform/standin/gui/desktop_seams.h"
#include "platform/win32.h"

class DisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("ZAMBREL_HOST", "headless", 1);
        unsetenv("ZAMBREL_MISSING");
        UseScreen(8);
    }
    void TearDown() override { unsetenv("ZAMBREL_MISSING"); }

    static void UseScreen(int bits, bool rgb555 = false, int width = 1024, int height = 768) {
        standin::ResetDesktop({width, height, bits, rgb555});
        DisplayResetProcessState();
    }
    static void Hide(const char* components) { setenv("ZAMBREL_MISSING", components, 1); }
};

// Destroys the display at the end of a test, whatever the test asserted.
struct DisplayHolder {
    Display* display;
    explicit DisplayHolder(Display* d) : display(d) {}
    ~DisplayHolder() { DisplayDestroy(display); }
    Display* operator->() const { return display; }
    explicit operator bool() const { return display != nullptr; }
};
