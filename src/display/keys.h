// SPDX-License-Identifier: MIT
// The key codes the player window queues for the playback loop, and the queue itself.
#pragma once

#include <cstdint>

#include "platform/win32.h"

inline constexpr std::uint8_t kKeyEnter = 13;
inline constexpr std::uint8_t kKeyEscape = 27;
inline constexpr std::uint8_t kKeySpace = 32;
inline constexpr std::uint8_t kKeyStep = 46;
inline constexpr std::uint8_t kKeyShiftTab = 137;
inline constexpr std::uint8_t kKeyClose = 241;
// Characters the player answers beyond the codes above; both cases of a letter count.
inline constexpr std::uint8_t kKeyQuit = 'q';
inline constexpr std::uint8_t kKeyMute = 'm';
inline constexpr std::uint8_t kKeyQuieter = '9';
inline constexpr std::uint8_t kKeyLouder = '0';
inline constexpr std::uint8_t kKeyLeft = VK_LEFT + 128;
inline constexpr std::uint8_t kKeyRight = VK_RIGHT + 128;
// The arrows with Shift held: codes of their own, where the arrows alone keep theirs.
inline constexpr std::uint8_t kKeyShiftLeft = 175;
inline constexpr std::uint8_t kKeyShiftRight = 176;
// A double-click in the window, queued among the keys so the loop takes it in order.
inline constexpr std::uint8_t kKeyDoubleClick = 177;
inline constexpr std::uint8_t kKeyFullScreen = 'f';

// Which modifier keys are held while a key message is handled.
struct KeyModifiers {
    bool shift;
    bool control;
};

// The code a key message queues, or -1 when the message carries no key of the table
// (it then goes to the default processing).
int KeyCodeForMessage(UINT message, WPARAM wParam, LPARAM lParam, KeyModifiers modifiers);

// Appends a code; a full queue drops it.
void QueueKey(std::uint8_t code);
// Whether a code is queued, without pumping.
bool KeyQueued();
// The oldest code; the queue must not be empty.
std::uint8_t DequeueKey();
