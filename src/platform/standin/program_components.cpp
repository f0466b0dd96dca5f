// SPDX-License-Identifier: MIT
// The optional components a program finds by name (LoadLibraryA, LoadModule), put in the
// component table before main. This object goes onto the link line of every program that
// links the platform, and only there: the shared library is made of the modules' objects and
// does not link the platform, so it registers nothing and carries no window system.
#include "platform/standin/gui/desktop_state.h"
#include "platform/win32.h"

namespace {

using standin::ComponentExport;
using standin::ExportOf;

void RegisterGraphicsComponents() {
    static const ComponentExport kDirectDraw[] = {
        {"DirectDrawCreate", ExportOf(DirectDrawCreate), nullptr}};
    static const ComponentExport kWinG[] = {
        {"WinGCreateDC", ExportOf(WinGCreateDC), nullptr},
        {"WinGCreateBitmap", ExportOf(WinGCreateBitmap), nullptr},
        {"WinGBitBlt", ExportOf(WinGBitBlt), nullptr},
        {"WinGStretchBlt", ExportOf(WinGStretchBlt), nullptr},
        {"WinGRecommendDIBFormat", ExportOf(WinGRecommendDIBFormat), nullptr},
        {"WinGSetDIBColorTable", ExportOf(WinGSetDIBColorTable), nullptr}};
    static const ComponentExport kGdi[] = {
        {"SetDIBColorTable", ExportOf(SetDIBColorTable), "dibsection"},
        {"CreateDIBSection", ExportOf(CreateDIBSection), "dibsection"}};
    static const ComponentExport kUser[] = {
        {"ChangeDisplaySettingsA", ExportOf(ChangeDisplaySettingsA), nullptr}};
    standin::RegisterComponent({"DDRAW.DLL", "ddraw", false, kDirectDraw, 1, nullptr});
    standin::RegisterComponent({"WING32.DLL", "wing", false, kWinG, 6, nullptr});
    // Its window class goes with it: every load registers the class again.
    standin::RegisterComponent(
        {"DISPDIB.DLL", "dispdib", false, nullptr, 0, standin::gui::RegisterDisplayDibClass});
    standin::RegisterComponent({"GDI32.DLL", nullptr, true, kGdi, 2, nullptr});
    standin::RegisterComponent({"USER32.DLL", nullptr, true, kUser, 1, nullptr});
}

void RegisterSoundComponents() {
    static const ComponentExport kDirectSound[] = {
        {"DirectSoundCreate", ExportOf(DirectSoundCreate), nullptr}};
    standin::RegisterComponent({"DSOUND.DLL", "dsound", false, kDirectSound, 1, nullptr});
}

// In this order, which gives each its module handle.
const bool registered = (RegisterGraphicsComponents(), RegisterSoundComponents(), true);

}  // namespace
