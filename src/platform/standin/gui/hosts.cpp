// SPDX-License-Identifier: MIT
// The headless host: no window system; input comes from tests and ZAMBREL_INPUT scripts.
#include "platform/standin/gui/desktop_state.h"

namespace standin::gui {
namespace {

struct HeadlessHost final : Host {
    const char* Name() const override { return "headless"; }
    void PumpEvents() override {}
    void ScreenChanged() override {}
    void CursorChanged(const Desktop&) override {}
    // Printed by MessageBoxA already; answered as if OK were pressed.
    int ShowMessageBox(HWND, const char*, const char*, UINT) override { return IDOK; }
    bool ChangeMode(int, int) override { return true; }
};

}  // namespace

std::unique_ptr<Host> CreateHeadlessHost() {
    return std::make_unique<HeadlessHost>();
}

}  // namespace standin::gui
