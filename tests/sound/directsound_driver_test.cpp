// SPDX-License-Identifier: MIT
// The DirectSound driver against the stand-in's sound buffers and timer, in test-driven time.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver_fixture.h"
#include "platform/standin/audio/seams.h"
#include "platform/standin/kernel/seams.h"
#include "ring_track.h"
#include "sound/directsound.h"
#include "sound/directsound_seams.h"
#include "sound/driver.h"
#include "sound/seams.h"
#include "sound/track.h"

namespace {

struct TestTrack : RingTrack {
    using RingTrack::RingTrack;
    DirectSoundTrackArea& Area() { return track.Driver.DirectSound; }
    DWORD PlayCursor() {
        DWORD play = 0, write = 0;
        EXPECT_EQ(Area().SoundBuffer->GetCurrentPosition(&play, &write), DS_OK);
        return play;
    }
    bool Playing() {
        DWORD status = 0;
        Area().SoundBuffer->GetStatus(&status);
        return (status & DSBSTATUS_PLAYING) != 0;
    }
};

class DirectSoundDriver : public SimulatedDeviceTest {
  protected:
    void SetUp() override {
        StartSimulatedDevice();
        DirectSoundForgetState();
        ASSERT_TRUE(SoundUseDirectSound(nullptr));
        CollectDebugOutput("zambrel_dsound_debug.ini");
    }
    void TearDown() override {
        standin::SetDirectSoundHook({});
        standin::FailSoundBufferLocks(false);
        standin::RefuseGlobalFocusBuffers(false);
        StopSimulatedDevice();
    }
    // Moves the clock in steps of `step` ms, servicing after each as the decoder would.
    void Play(SoundTrack* track, std::uint32_t ms, std::uint32_t step = 5) {
        for (std::uint32_t t = 0; t < ms; t += step) {
            standin::AdvanceTestClock(step);
            SoundDriver.SoundPosition(track);
        }
    }
};

TEST(DirectSoundSizes, BufferIsHalfASecondInWholePagesAndLevelsAreHundredthsOfADecibel) {
    EXPECT_EQ(DirectSoundBufferSize(22050), 12288u);
    EXPECT_EQ(DirectSoundBufferSize(176400), 90112u);
    EXPECT_EQ(DirectSoundPanLevel(0), -10000);
    EXPECT_EQ(DirectSoundPanLevel(0x8000), 0);
    EXPECT_EQ(DirectSoundPanLevel(0xFFFF), 9999);
    EXPECT_EQ(DirectSoundVolumeLevel(0), -10000);
    EXPECT_EQ(DirectSoundVolumeLevel(0x8000), 0);
    EXPECT_EQ(DirectSoundVolumeLevel(0x20000), 0);
    EXPECT_EQ(DirectSoundVolumeLevel(0x4000), -5000);
}

TEST_F(DirectSoundDriver, InstallsOnlyIntoAnEmptyTableOrOverItself) {
    EXPECT_TRUE(SoundUseDirectSound(nullptr));
    EXPECT_EQ(SoundDriver.SoundOpenTrack, &DirectSoundOpenTrack);
    SoundForgetDriver();
    ASSERT_TRUE(SoundInstallWaveOut());
    EXPECT_FALSE(SoundUseDirectSound(nullptr));
    EXPECT_NE(SoundDriver.SoundOpenTrack, &DirectSoundOpenTrack);
    SoundForgetDriver();
    setenv("ZAMBREL_MISSING", "dsound", 1);
    EXPECT_FALSE(SoundUseDirectSound(nullptr));
    unsetenv("ZAMBREL_MISSING");
    EXPECT_EQ(SoundDriver.SoundOpenTrack, nullptr);
}

TEST_F(DirectSoundDriver, PlaysTheRingBitForBitThenRunsDryOnItsSilenceTail) {
    TestTrack t(22050, false, false);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0));
    EXPECT_EQ(t.track.BufferSize, 12288u);
    EXPECT_EQ(t.Area().BufferFlags, 0x18000u);
    EXPECT_NE(debug.find("Using DirectSound\r\n"), std::string::npos);
    EXPECT_NE(debug.find("DirectSound using HWND: "), std::string::npos);

    const auto sound = Pattern(6000, 3);
    t.Put(sound);
    SoundDriver.SoundService();
    EXPECT_EQ(RingFillLoad(&t.track), 0u);
    EXPECT_TRUE(t.Playing());
    EXPECT_EQ(t.Area().SilenceStart, -1);

    // Once less than a fifth of the buffer is left to play, a quarter buffer of silence
    // follows the sound and the decoder is told the device ran short.
    std::uint32_t played = 0;
    while (t.Area().SilenceStart == -1 && played < 6000) {
        Play(&t.track, 5);
        played = t.PlayCursor();
    }
    EXPECT_GE(played, 6000u - 12288u / 5);
    EXPECT_EQ(t.Area().SilenceStart, 6000);
    EXPECT_EQ(t.Area().SilenceEnd, 6000u + 3072u);
    EXPECT_EQ(t.track.Underrun, 1u);

    // When the cursor reaches the silence the buffer stops at its start.
    t.track.Underrun = 0;
    Play(&t.track, 200);
    EXPECT_FALSE(t.Playing());
    EXPECT_EQ(t.PlayCursor(), 0u);
    EXPECT_EQ(t.track.Underrun, 1u);
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 6000u);

    // The next sound starts it again from offset 0.
    const auto more = Pattern(4000, 9);
    t.Put(more);
    Play(&t.track, 400);
    SoundDriver.SoundCloseTrack(&t.track);
    EXPECT_EQ(t.Area().SoundBuffer, nullptr);

    auto streams = standin::TakePlayedStreams();
    ASSERT_EQ(streams.size(), 1u);
    std::vector<std::uint8_t> heard;
    for (std::uint8_t byte : streams[0].Bytes)
        if (byte != 0x80) heard.push_back(byte);
    std::vector<std::uint8_t> expected = sound;
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(heard, expected);
    // Between the two, only silence.
    ASSERT_GT(streams[0].Bytes.size(), 10000u);
    EXPECT_TRUE(std::equal(sound.begin(), sound.end(), streams[0].Bytes.begin()));
}

// A loaded machine runs the services late, so the cursor passes the last sound written
// before anyone writes a silence tail behind it. What it plays there must be silence, not
// what an earlier, longer burst left in the buffer: bursts of every order of size, serviced
// from promptly to a quarter of a second late, are heard whole, in order and nothing else.
TEST_F(DirectSoundDriver, LateServicesLetTheDeviceHearOnlyTheSoundAndSilence) {
    const std::vector<std::vector<std::size_t>> burstLists = {
        {7000, 5000, 3000, 1000}, {2000, 9000, 4000, 600}, {12288, 8, 6000, 5996}};
    for (const std::uint32_t late : {5u, 25u, 60u, 110u, 170u, 230u}) {
        for (const auto& bursts : burstLists) {
            SCOPED_TRACE("services " + std::to_string(late) + " ms apart, first burst " +
                         std::to_string(bursts[0]));
            TestTrack t(22050, false, false);
            ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0));
            std::vector<std::uint8_t> expected;
            unsigned seed = 0;
            for (std::size_t bytes : bursts) {
                const auto sound = Pattern(bytes, seed += 7);
                expected.insert(expected.end(), sound.begin(), sound.end());
                t.Put(sound);
                Play(&t.track, 400, late);  // some bursts come before the last has played
            }
            Play(&t.track, 1200, late);
            EXPECT_FALSE(t.Playing());
            SoundDriver.SoundCloseTrack(&t.track);

            auto streams = standin::TakePlayedStreams();
            ASSERT_EQ(streams.size(), 1u);
            std::size_t next = 0;
            for (std::size_t i = 0; i < streams[0].Bytes.size(); ++i) {
                const std::uint8_t byte = streams[0].Bytes[i];
                if (next < expected.size() && byte == expected[next]) {
                    ++next;
                } else {
                    ASSERT_EQ(byte, 0x80) << "byte " << i << " played, sound byte " << next;
                }
            }
            EXPECT_EQ(next, expected.size());
        }
    }
}

TEST_F(DirectSoundDriver, PositionNeverGoesBackAndResetStartsItAgain) {
    TestTrack t(22050, false, false);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0));
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 0u);
    std::uint32_t last = 0;
    // Sound arrives in bursts with gaps, so the buffer runs dry and restarts in between.
    for (int burst = 0; burst < 4; ++burst) {
        t.Put(Pattern(3000 + 1000 * burst, burst));
        for (int step = 0; step < 100; ++step) {
            standin::AdvanceTestClock(3);
            std::uint32_t now = SoundDriver.SoundPosition(&t.track);
            EXPECT_GE(now, last) << "burst " << burst << " step " << step;
            EXPECT_LE(now, t.Area().BytesWritten);
            last = now;
        }
    }
    EXPECT_EQ(last, 3000u + 4000u + 5000u + 6000u);

    t.Put(Pattern(2000, 1));
    SoundDriver.SoundService();
    SoundDriver.SoundReset(&t.track);
    EXPECT_EQ(RingFillLoad(&t.track), 0u);
    EXPECT_EQ(t.track.RingRead, t.track.RingWrite);
    EXPECT_FALSE(t.Playing());
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 0u);
    t.Put(Pattern(2000, 2));
    Play(&t.track, 300);
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 2000u);
    SoundDriver.SoundCloseTrack(&t.track);
}

TEST_F(DirectSoundDriver, ServiceWorksAtMostOnceEvery10Milliseconds) {
    TestTrack t(22050, false, false);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0));
    t.Put(Pattern(1000, 1));
    SoundDriver.SoundService();
    EXPECT_EQ(RingFillLoad(&t.track), 0u);
    t.Put(Pattern(1000, 2));
    SoundDriver.SoundService();
    standin::AdvanceTestClock(9);
    SoundDriver.SoundService();
    EXPECT_EQ(RingFillLoad(&t.track), 1000u);
    standin::AdvanceTestClock(1);
    SoundDriver.SoundService();
    EXPECT_EQ(RingFillLoad(&t.track), 0u);
    SoundDriver.SoundCloseTrack(&t.track);
}

// The timer keeps the buffer fed without the decoder, except while the player's thread is
// inside a DirectSound call: then the timer's service stands back.
TEST_F(DirectSoundDriver, TimerServicesTheTrackUnlessThePlayerIsInDirectSound) {
    TestTrack t(22050, false, false);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0));
    const std::thread::id player = std::this_thread::get_id();
    std::uint32_t fillWhileInside = 0;
    bool hookRan = false;
    standin::SetDirectSoundHook([&](const char* method) {
        if (std::this_thread::get_id() != player || std::strcmp(method, "SetPan") != 0) return;
        hookRan = true;
        standin::AdvanceTestClock(200);  // the timer is due at 75 ms
        fillWhileInside = RingFillLoad(&t.track);
    });
    t.Put(Pattern(4000, 5));
    SoundDriver.SoundVolumePan(&t.track, 0x8000, 0x8000);
    EXPECT_TRUE(hookRan);
    EXPECT_EQ(fillWhileInside, 4000u);
    standin::SetDirectSoundHook({});

    standin::AdvanceTestClock(100);
    EXPECT_EQ(RingFillLoad(&t.track), 0u);
    EXPECT_TRUE(t.Playing());
    // With nobody else calling, the timer alone plays the sound out and the buffer runs dry.
    for (int i = 0; i < 40; ++i) standin::AdvanceTestClock(25);
    EXPECT_FALSE(t.Playing());
    EXPECT_EQ(t.Area().BytesWritten, 4000u);
    SoundDriver.SoundCloseTrack(&t.track);
    // No timer is left behind: the sound stays put without a track.
    t.Put(Pattern(100, 1));
    standin::AdvanceTestClock(200);
    EXPECT_EQ(RingFillLoad(&t.track), 100u);
}

TEST_F(DirectSoundDriver, PauseReleasesEverythingAndResumeMakesAFreshBuffer) {
    TestTrack t(44100, true, true);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0x60));
    EXPECT_EQ(t.track.BufferSize, 90112u);
    EXPECT_EQ(t.Area().BufferFlags, 0x180C0u);
    t.Put(Pattern(8000, 4));
    Play(&t.track, 300);
    EXPECT_EQ(SoundDriver.SoundPosition(&t.track), 8000u);

    SoundDriver.SoundPause(&t.track);
    EXPECT_EQ(t.Area().SoundBuffer, nullptr);
    SoundDriver.SoundService();  // a paused track is left alone
    ASSERT_TRUE(SoundDriver.SoundResume(&t.track));
    ASSERT_NE(t.Area().SoundBuffer, nullptr);
    EXPECT_TRUE(SoundDriver.SoundResume(&t.track));  // a second resume keeps the buffer
    EXPECT_EQ(t.Area().MaxReported, 0u);
    EXPECT_FALSE(t.Playing());  // started only by sound

    SoundDriver.SoundVolumePan(&t.track, 0x8000, 0);
    LONG pan = 1;
    LONG volume = 1;
    EXPECT_EQ(t.Area().SoundBuffer->GetPan(&pan), DS_OK);
    EXPECT_EQ(t.Area().SoundBuffer->GetVolume(&volume), DS_OK);
    EXPECT_EQ(pan, -10000);
    EXPECT_EQ(volume, 0);
    SoundDriver.SoundCloseTrack(&t.track);
}

TEST_F(DirectSoundDriver, FailuresAreReportedAndLeaveNothingBehind) {
    TestTrack t(22050, false, false);
    // A buffer refused with global focus is made without it.
    standin::RefuseGlobalFocusBuffers(true);
    ASSERT_TRUE(SoundDriver.SoundOpenTrack(&t.track, 0));
    DSBCAPS caps{};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(t.Area().SoundBuffer->GetCaps(&caps), DS_OK);
    EXPECT_EQ(caps.dwFlags & DSBCAPS_GLOBALFOCUS, 0u);

    // A failed lock changes nothing, and a stopped buffer stays stopped.
    standin::FailSoundBufferLocks(true);
    t.Put(Pattern(2000, 1));
    Play(&t.track, 50);
    EXPECT_EQ(RingFillLoad(&t.track), 2000u);
    EXPECT_FALSE(t.Playing());
    standin::FailSoundBufferLocks(false);
    Play(&t.track, 20);
    EXPECT_EQ(RingFillLoad(&t.track), 0u);
    SoundDriver.SoundCloseTrack(&t.track);

    // A format no buffer takes, with global focus or without: the open fails and says why.
    debug.clear();
    TestTrack odd(50, false, false);
    EXPECT_FALSE(SoundDriver.SoundOpenTrack(&odd.track, 0));
    EXPECT_NE(debug.find("Unable to create sound buffer - Error #: -2005401500\r\n"),
              std::string::npos)
        << debug;

    // No device at all: no object.
    standin::SelectAudioDevice(standin::AudioDeviceKind::None);
    debug.clear();
    TestTrack u(22050, false, false);
    EXPECT_FALSE(SoundDriver.SoundOpenTrack(&u.track, 0));
    EXPECT_NE(debug.find("Unable to create DirectSound object - error #: -2005401480\r\n"),
              std::string::npos)
        << debug;
}

}  // namespace
