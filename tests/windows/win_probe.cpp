// SPDX-License-Identifier: MIT
// wincheck.exe: the Windows side of the Windows check, run under the same window system
// as the player.
//   wincheck blit OUT            loads zambplw.exe, takes its fourteen blitter operations by
//                                name and writes the recorded calls to OUT
//   wincheck where TITLE W H     waits for the top-level window TITLE to be shown with a
//                                W x H client area and prints where: X Y W H on the screen
//   wincheck text TITLE OUT      waits for the message box TITLE and writes its text to OUT
// Each waits at most 60 seconds for its window and exits with 1 on any failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "blit_calls.h"
#include "platform/win32.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "wincheck: %s\n", message.c_str());
    return 1;
}

bool WriteFile(const char* path, const void* data, std::size_t size) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

template <typename T>
T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

IMAGE_NT_HEADERS32* Headers(HMODULE module) {
    return At<IMAGE_NT_HEADERS32>(module, At<IMAGE_DOS_HEADER>(module, 0)->e_lfanew);
}

bool Patch(DWORD* where, DWORD value) {
    DWORD old;
    if (!VirtualProtect(where, sizeof *where, PAGE_EXECUTE_READWRITE, &old)) return false;
    *where = value;
    VirtualProtect(where, sizeof *where, old, &old);
    return true;
}

// Wine's loader maps an executable that another program loads away from its preferred
// base without applying its relocations or binding its imports, which the Windows loader
// does. The two steps below do what was left undone, as the loader would. A loader that
// relocated the image records the base it chose in the header, so relocating again finds
// nothing to move, and binding an already bound table writes the same addresses.
bool ApplyRelocations(HMODULE module) {
    IMAGE_NT_HEADERS32* nt = Headers(module);
    DWORD base = reinterpret_cast<DWORD>(module);
    DWORD delta = base - nt->OptionalHeader.ImageBase;
    if (delta == 0) return true;
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    if (!directory.VirtualAddress) return false;
    DWORD offset = 0;
    while (offset + sizeof(IMAGE_BASE_RELOCATION) <= directory.Size) {
        auto* block = At<IMAGE_BASE_RELOCATION>(module, directory.VirtualAddress + offset);
        if (block->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION)) return false;
        auto* entries = reinterpret_cast<WORD*>(block + 1);
        DWORD count = (block->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        for (DWORD i = 0; i < count; ++i) {
            int type = entries[i] >> 12;
            if (type == IMAGE_REL_BASED_ABSOLUTE) continue;
            if (type != IMAGE_REL_BASED_HIGHLOW) return false;
            auto* target = At<DWORD>(module, block->VirtualAddress + (entries[i] & 0xFFF));
            if (!Patch(target, *target + delta)) return false;
        }
        offset += block->SizeOfBlock;
    }
    return Patch(&nt->OptionalHeader.ImageBase, base);
}

bool BindImports(HMODULE module) {
    IMAGE_NT_HEADERS32* nt = Headers(module);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress) return true;
    for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress); entry->Name;
         ++entry) {
        HMODULE library = LoadLibraryA(At<char>(module, entry->Name));
        if (!library) return false;
        DWORD lookup = entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* names = At<IMAGE_THUNK_DATA32>(module, lookup);
        auto* slots = At<IMAGE_THUNK_DATA32>(module, entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            FARPROC function =
                IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)
                    ? GetProcAddress(library, MAKEINTRESOURCEA(IMAGE_ORDINAL32(names->u1.Ordinal)))
                    : GetProcAddress(
                          library, At<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData)->Name);
            if (!function || !Patch(&slots->u1.Function, reinterpret_cast<DWORD>(function)))
                return false;
        }
    }
    return true;
}

int Blit(const char* out) {
    HMODULE player = LoadLibraryA("zambplw.exe");
    if (!player) return Fail("cannot load zambplw.exe, error " + std::to_string(GetLastError()));
    if (!ApplyRelocations(player) || !BindImports(player))
        return Fail("cannot relocate zambplw.exe or bind its imports");
    FARPROC found[14];
    for (int i = 0; i < 14; ++i) {
        found[i] = GetProcAddress(player, kBlitFunctionNames[i]);
        if (!found[i])
            return Fail(std::string("zambplw.exe does not export ") + kBlitFunctionNames[i]);
    }
    BlitFunctions f;
    static_assert(sizeof f == sizeof found, "one field per exported operation");
    std::memcpy(&f, found, sizeof f);
    std::vector<std::uint8_t> bytes = RunBlitCalls(f);
    if (!WriteFile(out, bytes.data(), bytes.size()))
        return Fail(std::string("cannot write ") + out);
    return 0;
}

HWND WaitForWindow(const char* title) {
    for (int tries = 0; tries < 600; ++tries) {
        if (HWND window = FindWindowA(nullptr, title)) return window;
        Sleep(100);
    }
    return nullptr;
}

// The window is created before it is shown at the size of its movie, so the answer waits
// for it to be visible with a client area of the expected size.
int Where(const char* title, long width, long height) {
    RECT client = {};
    for (int tries = 0; tries < 600; ++tries, Sleep(100)) {
        HWND window = FindWindowA(nullptr, title);
        POINT origin = {0, 0};
        if (!window || !IsWindowVisible(window) || !GetClientRect(window, &client) ||
            client.right != width || client.bottom != height || !ClientToScreen(window, &origin))
            continue;
        std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
        return 0;
    }
    return Fail(std::string("no visible window ") + title + " of that size; last seen " +
                std::to_string(client.right) + " x " + std::to_string(client.bottom));
}

// A message box shows its text in a static control; the icon, when there is one, is a
// static control without text. The longest text is the message.
BOOL CALLBACK KeepLongestText(HWND child, LPARAM context) {
    char className[16] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") != 0) return TRUE;
    std::vector<char> text(4096);
    DWORD_PTR length = 0;
    SendMessageTimeoutA(child, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &length);
    auto* longest = reinterpret_cast<std::string*>(context);
    if (length > longest->size()) longest->assign(text.data(), length);
    return TRUE;
}

int Text(const char* title, const char* out) {
    HWND box = WaitForWindow(title);
    if (!box) return Fail(std::string("no message box ") + title);
    std::string text;
    // The box may still be filling in its controls when it first appears.
    for (int tries = 0; tries < 50 && text.empty(); ++tries) {
        EnumChildWindows(box, KeepLongestText, reinterpret_cast<LPARAM>(&text));
        if (text.empty()) Sleep(100);
    }
    if (text.empty()) return Fail("the message box shows no text");
    if (!WriteFile(out, text.data(), text.size())) return Fail(std::string("cannot write ") + out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "blit" && argc == 3) return Blit(argv[2]);
    if (command == "where" && argc == 5)
        return Where(argv[2], std::atol(argv[3]), std::atol(argv[4]));
    if (command == "text" && argc == 4) return Text(argv[2], argv[3]);
    return Fail("usage: wincheck blit OUT | where TITLE W H | text TITLE OUT");
}
