// SPDX-License-Identifier: MIT
// Turns the library's debug messages on the way a user does, through the profile, so the
// driver tests can read them.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/debug.h"
#include "decoder/debug_setting.h"

// `profileName` is a file in the test's temporary folder, one per test program.
inline void TurnDebugOnThroughProfile(const char* profileName) {
    const std::string profile = ::testing::TempDir() + profileName;
    std::FILE* file = std::fopen(profile.c_str(), "w");
    std::fputs("[Zambrel]\nDebug=1\n", file);
    std::fclose(file);
    setenv("ZAMBREL_PROFILE", profile.c_str(), 1);
    DebugForgetSetting();
    DebugReadSetting();
}
