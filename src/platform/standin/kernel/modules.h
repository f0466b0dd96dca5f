// SPDX-License-Identifier: MIT
// Library loading: the optional components the stand-in provides, found by name.
#pragma once

#include <cstddef>

#include "platform/standin/kernel/types.h"

#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOOPENFILEERRORBOX 0x8000
#define HINSTANCE_ERROR 32
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L

// Only the components registered below exist; a name is matched without regard to case and
// with or without its ".DLL".
HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BOOL WINAPI FreeLibrary(HMODULE module);
// Loads like LoadLibraryA; answers the module handle (32 or more) or 2, file not found.
DWORD WINAPI LoadModule(LPCSTR moduleName, LPVOID parameterBlock);
UINT WINAPI SetErrorMode(UINT mode);

namespace standin {

// One function a component offers. `hiddenBy`, when set, is a name in ZAMBREL_MISSING that
// hides just this function.
struct ComponentExport {
    const char* name;
    FARPROC proc;
    const char* hiddenBy;
};

// A component: its file name, the ZAMBREL_MISSING name that hides it (or null), whether it is
// loaded from the start (GetModuleHandleA finds it without a load), its functions, and what
// to do at every load (it must tolerate being run again).
struct ComponentDescription {
    const char* fileName;
    const char* hiddenBy;
    bool alwaysLoaded;
    const ComponentExport* exports;
    std::size_t exportCount;
    void (*onLoad)();
};

// Registers (or replaces, by file name) a component. The description and its exports must
// outlive the process.
void RegisterComponent(const ComponentDescription& component);

// Whether ZAMBREL_MISSING (a comma-separated list, read afresh at every call) names `name`.
bool ComponentMissing(const char* name);

template <typename Function>
FARPROC ExportOf(Function* function) {
    // Through the generic function pointer type, which converts to any other without loss.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace standin
