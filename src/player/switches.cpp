// SPDX-License-Identifier: MIT
// The switch parser: each switch is found, taken out of the text and stored, in an order
// that matters because an earlier switch's removal shapes what a later search sees.
#include "player/switches.h"

#include <cstring>
#include <limits>

#include "display/display_flags.h"
#include "display/window.h"
#include "player/command_text.h"
#include "player/messages.h"
#include "player/settings.h"
#include "sound/directsound.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Letters compare without case; '@' and '#' have none.
bool SameLetter(char c, char letter) {
    auto upper = [](char x) { return (x >= 'a' && x <= 'z') ? static_cast<char>(x - 32) : x; };
    return upper(c) == upper(letter);
}

// What may follow a flag switch's letter: the end of the text, a blank, another '/', or
// punctuation. Bytes from 128 on are name characters, so they do not end a flag.
bool EndsFlag(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte <= '/';
}

void RemoveCharacters(char* at, std::size_t count) {
    std::memmove(at, at + count, std::strlen(at + count) + 1);
}

// A run of digits far longer than any setting saturates instead of wrapping, so that an
// absurd /X99999999999 cannot turn into some small or negative value.
std::int32_t ReadSigned(const char* digits, bool negative, std::size_t* length) {
    std::int64_t value = 0;
    std::size_t n = 0;
    for (; IsDigit(digits[n]); ++n) {
        if (value <= std::numeric_limits<std::int32_t>::max())
            value = value * 10 + (digits[n] - '0');
    }
    *length = n;
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t TakeNumericSwitch(char* text, char letter, std::int32_t fallback, bool* found) {
    if (found) *found = false;
    for (char* at = std::strchr(text, '/'); at; at = std::strchr(at + 1, '/')) {
        if (!SameLetter(at[1], letter)) continue;
        bool negative = at[2] == '-';
        const char* digits = at + (negative ? 3 : 2);
        if (!IsDigit(*digits)) continue;
        std::size_t length = 0;
        std::int32_t value = ReadSigned(digits, negative, &length);
        RemoveCharacters(at, static_cast<std::size_t>(digits - at) + length);
        if (found) *found = true;
        return value;
    }
    return fallback;
}

bool TakeFlagSwitch(char* text, char letter) {
    for (char* at = std::strchr(text, '/'); at; at = std::strchr(at + 1, '/')) {
        if (at[1] != '\0' && SameLetter(at[1], letter) && EndsFlag(at[2])) {
            RemoveCharacters(at, 2);
            return true;
        }
    }
    return false;
}

namespace {

void ParsePlacementAndBuffering(char* text, PlayerSettings& s) {
    s.PosX = TakeNumericSwitch(text, 'X', s.PosX);
    s.PosY = TakeNumericSwitch(text, 'Y', s.PosY);
    if (TakeFlagSwitch(text, 'B')) s.DisplayFlags |= kDisplayDoubleBuffer;
    if (TakeFlagSwitch(text, 'C')) s.DisplayFlags |= kDisplayNoClearing;
    if (TakeFlagSwitch(text, 'O')) s.SoundOnly = true;
    s.ReadSpeed = TakeNumericSwitch(text, 'M', s.ReadSpeed);
    s.OpenFlags = s.ReadSpeed != 0 ? s.OpenFlags | ZAMB_READ_SPEED : s.OpenFlags & ~ZAMB_READ_SPEED;
    s.ExtraBuffer = TakeNumericSwitch(text, 'E', s.ExtraBuffer);
}

// /L0 leaves the count alone; only a bare /L, tried when no number was given, is endless.
void ParseLooping(char* text, PlayerSettings& s) {
    std::int32_t loops = TakeNumericSwitch(text, 'L', 0);
    if (loops != 0) {
        s.LoopCount = loops;
    } else if (TakeFlagSwitch(text, 'L')) {
        s.LoopCount = -1;
    }
}

void ParseOpenOptions(char* text, PlayerSettings& s) {
    if (TakeFlagSwitch(text, 'P')) s.OpenFlags |= ZAMB_PRELOAD;
    if (TakeFlagSwitch(text, 'N')) s.OpenFlags |= ZAMB_NO_SKIP;
    s.NoMMX = TakeFlagSwitch(text, '@');
    if (TakeFlagSwitch(text, 'G')) s.OpenFlags |= ZAMB_FILL_BUFFER;
}

void ParseTracks(char* text, PlayerSettings& s) {
    auto current = static_cast<std::int32_t>((s.OpenFlags & ZAMB_TRACK_MASK) / ZAMB_TRACK0);
    auto tracks = static_cast<std::uint32_t>(TakeNumericSwitch(text, 'T', current)) & 0x7F;
    s.OpenFlags = (s.OpenFlags & ~ZAMB_TRACK_MASK) | (tracks * ZAMB_TRACK0);
}

// A negative /A is above 254 as unsigned, so it changes nothing.
void ParseHeightScaling(char* text, PlayerSettings& s) {
    auto scaling = static_cast<std::uint32_t>(TakeNumericSwitch(text, 'A', 255));
    if (scaling >= 255) return;
    s.OpenFlags &= ~(ZAMB_INTERLACE | ZAMB_DOUBLE);
    if (scaling == 1) s.OpenFlags |= ZAMB_INTERLACE;
    if (scaling == 2) s.OpenFlags |= ZAMB_DOUBLE;
    if (scaling == 3) s.OpenFlags |= ZAMB_NO_SCALE;
}

// Only a value written on this command line is converted from milliseconds: a stored
// period in 1/100 ms must not be multiplied again by a later parse.
void ParseFrameRate(char* text, PlayerSettings& s) {
    bool given = false;
    std::int32_t rate = TakeNumericSwitch(text, 'F', s.FrameRate, &given);
    if (given && rate >= -1500 && rate <= -2) rate *= 100;
    if (TakeFlagSwitch(text, 'F')) rate = 0;
    s.FrameRate = rate;
    if (s.FrameRate != -1) s.OpenFlags |= ZAMB_FRAME_RATE;
}

void ParseControlsAndSound(char* text, PlayerSettings& s) {
    s.DisableControls = TakeNumericSwitch(text, 'U', s.DisableControls);
    if (TakeFlagSwitch(text, 'S')) s.ShowSummary = true;
    if (TakeFlagSwitch(text, 'K')) s.DiffOnly = true;
    if (TakeFlagSwitch(text, 'Q')) s.FrameInCaption = true;
    // Without DirectSound on the machine the flag stays off and wave output is used.
    s.UseDirectSound = TakeFlagSwitch(text, 'Z') && SoundUseDirectSound(nullptr);
}

void ParseWindowStyle(char* text, PlayerSettings& s) {
    std::int32_t style = TakeNumericSwitch(text, 'I', 255);
    if (style == 255) return;
    s.DisplayFlags &= ~kDisplayStyleMask;
    static constexpr std::uint32_t kStyles[] = {0, 0xC000, 0xC200, 0x200, 0x4200};
    if (style >= 1 && style <= 4) s.DisplayFlags |= kStyles[style];
}

// /V's value is a video type 1 to 4 plus option bits 128 and 256 (both: no DirectDraw).
void ParseVideoType(char* text, PlayerSettings& s) {
    auto video = static_cast<std::uint32_t>(TakeNumericSwitch(text, 'V', 1024));
    std::uint32_t options = video & 0x180;
    if (options == 0x180) s.DisplayFlags |= kDisplayNoDirectDraw;
    if (options == 0x100) s.DisplayFlags |= kDisplaySmoothing;
    if (options == 0x080) s.DisplayFlags |= kDisplayInterlaced;
    std::uint32_t type = video & ~0x180u;
    if (type >= 1 && type <= 4)
        s.DisplayFlags = (s.DisplayFlags & ~kDisplayVideoTypeMask) | (type + 21);
}

void ParseDisplay(char* text, PlayerSettings& s) {
    ParseWindowStyle(text, s);
    s.RemapMode = static_cast<std::uint8_t>(TakeNumericSwitch(text, 'R', 0));
    ParseVideoType(text, s);
    if (TakeFlagSwitch(text, 'J')) s.NoFocusPause = true;
    s.StretchHeight = TakeNumericSwitch(text, 'H', s.StretchHeight);
    s.StretchWidth = TakeNumericSwitch(text, 'W', s.StretchWidth);
    DisplaySetStretch(s.StretchWidth, s.StretchHeight);
    s.DisplayResolution = TakeNumericSwitch(text, 'D', s.DisplayResolution);
    // Sound only shows a progress bar, which the standard type draws.
    if (s.SoundOnly) s.DisplayFlags = (s.DisplayFlags & ~0x7u) | 0x18;
}

}  // namespace

bool ParseSwitches(char* text) {
    PlayerSettings& s = Settings;
    TrimBlanks(text);
    ParsePlacementAndBuffering(text, s);
    ParseLooping(text, s);
    ParseOpenOptions(text, s);
    ParseTracks(text, s);
    ParseHeightScaling(text, s);
    ParseFrameRate(text, s);
    ParseControlsAndSound(text, s);
    ParseDisplay(text, s);
    if (const char* left = std::strchr(text, '/')) {
        std::size_t length = 0;
        while (left[length] && !IsBlank(left[length])) ++length;
        ShowUsage(std::string(left, length) + ": not a switch");
        return false;
    }
    return true;
}
