// SPDX-License-Identifier: MIT
// The wave-output driver against the simulated device in test-driven time.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "platform/standin/audio/seams.h"
#include "platform/standin/kernel/seams.h"
#include "ring_track.h"
#include "sound/driver.h"
#include "sound/seams.h"
#include "sound/track.h"
#include "sound/waveout.h"

namespace {

using TestTrack = RingTrack;

class WaveOutDriver : public SimulatedDeviceTest {
  protected:
    void SetUp() override {
        StartSimulatedDevice();
        ASSERT_TRUE(SoundInstallWaveOut());
        CollectDebugOutput("zambrel_sound_debug.ini");
    }
    void TearDown() override { StopSimulatedDevice(); }
};

TEST(WaveOutSizes, BuffersAreAQuarterSecondInWholePages) {
    EXPECT_EQ(WaveOutBufferSize(22050), 8192u);
    EXPECT_EQ(WaveOutBufferSize(176400), 45056u);
    EXPECT_EQ(WaveOutBufferSize(16384), 4096u);
}

TEST(WaveOutSizes, VolumeAndPan) {
    EXPECT_EQ(WaveOutVolumeWord(0x20000, 0x8000), 0xFFFFFFFFu);
    EXPECT_EQ(WaveOutVolumeWord(0xFFFF, 0), 0x0000FFFFu);       // right silent
    EXPECT_EQ(WaveOutVolumeWord(0x8000, 0xFFFF), 0x80000001u);  // left = volume / 0x8000
    EXPECT_EQ(WaveOutVolumeWord(0x8000, 0x4000), 0x40008000u);
}

TEST_F(WaveOutDriver, SecondInstallationKeepsTheFirstDriver) {
    auto other = [](SoundTrack*, std::uint32_t) { return false; };
    SoundForgetDriver();
    SoundDriver.SoundOpenTrack = other;
    EXPECT_FALSE(SoundInstallWaveOut());
    EXPECT_EQ(SoundDriver.SoundOpenTrack, +other);
}

TEST_F(WaveOutDriver, OpenTestsTheDeviceAndPlaysTheRingBitForBit) {
    TestTrack t(22050, false, false);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0x1234));
    EXPECT_EQ(t.track.BufferSize, 8192u);
    EXPECT_NE(t.track.Device, nullptr);
    EXPECT_EQ(t.track.Driver.WaveOut.OpenFlags, 0x1234u);
    EXPECT_NE(debug.find("Using standard waveOut\r\n"), std::string::npos);

    t.Put({1, 2, 3});
    SoundDriver.SoundService();  // three bytes are not worth a buffer
    EXPECT_EQ(RingFillLoad(&t.track), 3u);
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 0u);

    auto sound = Pattern(20000, 7);
    t.Put(sound);
    SoundDriver.SoundService();
    SoundDriver.SoundService();  // one buffer per call: both are busy now
    SoundDriver.SoundService();
    EXPECT_EQ(RingFillLoad(&t.track), 20003u - 2 * 8192u);
    for (int i = 0; i < 200; ++i) {
        standin::AdvanceTestClock(10);
        SoundDriver.SoundService();
    }
    EXPECT_EQ(RingFillLoad(&t.track), 0u);
    SoundDriver.SoundCloseTrack(&t.track);
    EXPECT_EQ(t.track.Device, nullptr);

    auto played = standin::TakePlayedStreams();
    ASSERT_EQ(played.size(), 1u);
    std::vector<std::uint8_t> expected{0x80, 0x80, 0x80, 0x80, 1, 2, 3};  // the device test first
    expected.insert(expected.end(), sound.begin(), sound.end());
    EXPECT_EQ(played[0].Bytes, expected);
}

TEST_F(WaveOutDriver, PositionGrowsWithTheClockWithinTheBuffer) {
    TestTrack t(22050, false, false);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0));
    t.Put(Pattern(2205, 1));  // 100 ms
    SoundDriver.SoundService();
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 0u);
    standin::AdvanceTestClock(40);
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 882u);
    standin::AdvanceTestClock(500);
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 2205u);  // never past what was written
    EXPECT_EQ(t.track.Underrun, 1u);                        // both buffers came back
    t.Put(Pattern(2205, 2));
    SoundDriver.SoundService();  // a new buffer after a gap
    EXPECT_EQ(t.track.Driver.WaveOut.PlayedBase, 2205u);
    standin::AdvanceTestClock(50);
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 2205u + 1102u);

    SoundDriver.SoundReset(&t.track);
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 0u);
    SoundDriver.SoundCloseTrack(&t.track);
}

TEST_F(WaveOutDriver, PauseClosesTheDeviceAndResumeReopensIt) {
    TestTrack t(44100, true, true);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0));
    EXPECT_EQ(t.track.BufferSize, 45056u);
    t.Put(Pattern(1000, 3));
    SoundDriver.SoundService();
    SoundDriver.SoundPause(&t.track);
    EXPECT_EQ(t.track.Device, nullptr);
    t.track.Underrun = 0;
    SoundDriver.SoundService();
    EXPECT_EQ(t.track.Underrun, 1u);
    EXPECT_TRUE(SoundDriver.SoundResume(&t.track));
    HWAVEOUT resumed = t.track.Device;
    EXPECT_NE(resumed, nullptr);
    EXPECT_TRUE(SoundDriver.SoundResume(&t.track));  // already playing: kept as it is
    EXPECT_EQ(t.track.Device, resumed);
    SoundDriver.SoundVolumePan(&t.track, 0xFFFF, 0);
    DWORD volume = 0;
    waveOutGetVolume(nullptr, &volume);  // device number 0
    EXPECT_EQ(volume, 0x0000FFFFu);
    waveOutSetVolume(nullptr, 0xFFFFFFFF);
    SoundDriver.SoundCloseTrack(&t.track);
    SoundDriver.SoundCloseTrack(&t.track);  // no track open: nothing happens
}

TEST_F(WaveOutDriver, DeviceThatDoesNotPlayWithinASecondIsRefused) {
    standin::StallSimulatedAudio(true);
    TestTrack t(22050, false, true);
    DWORD start = timeGetTime();
    EXPECT_FALSE(SoundDriver.SoundOpenTrack(&t.track, 0));
    EXPECT_EQ(timeGetTime() - start, 1000u);
    EXPECT_EQ(t.track.Device, nullptr);
}

TEST_F(WaveOutDriver, NoDeviceReportsTheError) {
    standin::SelectAudioDevice(standin::AudioDeviceKind::None);
    TestTrack t(22050, false, false);
    EXPECT_FALSE(SoundDriver.SoundOpenTrack(&t.track, 0));
    EXPECT_NE(debug.find("WaveOut open failed - error #: 6\r\n"), std::string::npos);
}

}  // namespace
