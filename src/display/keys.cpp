// SPDX-License-Identifier: MIT
// Turning key messages into the one-byte codes of the key queue.
#include "display/keys.h"

#include <cstring>

#include "display/state.h"

namespace {

constexpr int kNoKey = -1;
// Alt held while a system key went down.
constexpr LPARAM kContextAlt = 0x20000000;

int FunctionKeyIndex(WPARAM key) {
    return key >= VK_F1 && key <= VK_F10 ? static_cast<int>(key - VK_F1) : kNoKey;
}

int KeyDownCode(WPARAM key, KeyModifiers modifiers) {
    int f = FunctionKeyIndex(key);
    if (f != kNoKey) {
        if (modifiers.shift) return 218 + f;
        if (modifiers.control) return 228 + f;
        return 208 + f;
    }
    if (modifiers.shift && key == VK_LEFT) return kKeyShiftLeft;
    if (modifiers.shift && key == VK_RIGHT) return kKeyShiftRight;
    if (key >= VK_PRIOR && key <= VK_DOWN) return static_cast<int>(key) + 128;
    if (key == VK_INSERT || key == VK_DELETE) return static_cast<int>(key) + 128;
    return kNoKey;
}

int SystemKeyDownCode(WPARAM key, LPARAM lParam) {
    int f = FunctionKeyIndex(key);
    if (f == kNoKey) return kNoKey;
    if (f == 9) return (lParam & kContextAlt) ? 247 : 217;
    return 238 + f;
}

}  // namespace

int KeyCodeForMessage(UINT message, WPARAM wParam, LPARAM lParam, KeyModifiers modifiers) {
    switch (message) {
        case WM_CHAR:
            if (wParam == VK_TAB && modifiers.shift) return kKeyShiftTab;
            return static_cast<int>(wParam & 0xFF);
        case WM_KEYDOWN:
            return KeyDownCode(wParam, modifiers);
        case WM_SYSKEYDOWN:
            return SystemKeyDownCode(wParam, lParam);
        default:
            return kNoKey;
    }
}

void QueueKey(std::uint8_t code) {
    KeyQueue& queue = DisplayState().Keys;
    if (queue.Count < kKeyQueueCapacity) queue.Codes[queue.Count++] = code;
}

bool KeyQueued() {
    return DisplayState().Keys.Count > 0;
}

std::uint8_t DequeueKey() {
    KeyQueue& queue = DisplayState().Keys;
    std::uint8_t code = queue.Codes[0];
    --queue.Count;
    std::memmove(queue.Codes, queue.Codes + 1, queue.Count);
    return code;
}
