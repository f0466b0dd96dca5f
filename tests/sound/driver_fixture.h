// SPDX-License-Identifier: MIT
// What the driver tests stand on: the simulated device in test-driven time with every
// stream it plays recorded, and the library's debug messages turned on the way a user does,
// through the profile, and collected.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/debug.h"
#include "decoder/system/debug_setting.h"
#include "platform/standin/audio/seams.h"
#include "platform/standin/kernel/seams.h"
#include "sound/driver.h"
#include "sound/seams.h"

class SimulatedDeviceTest : public ::testing::Test {
  protected:
    std::string debug;  // the debug output since CollectDebugOutput

    // Before the driver under test is installed: no driver chosen yet.
    void StartSimulatedDevice() {
        standin::UseTestClock(10000);
        standin::SelectAudioDevice(standin::AudioDeviceKind::Simulated);
        standin::RecordPlayedStreams(true);
        standin::TakePlayedStreams();
        SoundForgetDriver();
    }
    // `profileName` is a file in the test's temporary folder, one per test program.
    void CollectDebugOutput(const char* profileName) {
        standin::SetDebugSink([this](const char* text) { debug += text; });
        const std::string profile = ::testing::TempDir() + profileName;
        std::FILE* file = std::fopen(profile.c_str(), "w");
        std::fputs("[Zambrel]\nDebug=1\n", file);
        std::fclose(file);
        setenv("ZAMBREL_PROFILE", profile.c_str(), 1);
        DebugForgetSetting();
        DebugReadSetting();
    }
    void StopSimulatedDevice() {
        standin::SetDebugSink({});
        standin::RecordPlayedStreams(false);
        standin::StallSimulatedAudio(false);
        standin::SelectAudioDevice(standin::AudioDeviceKind::Automatic);
        standin::UseRealClock();
        SoundForgetDriver();
    }
};
