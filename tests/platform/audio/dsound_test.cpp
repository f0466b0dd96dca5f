// SPDX-License-Identifier: MIT
// The stand-in's DirectSound and multimedia timers, in test-driven time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/standin/audio/seams.h"
#include "platform/standin/gui/desktop_seams.h"
#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"

namespace {

WAVEFORMATEX Mono8(DWORD rate) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 8;
    format.nBlockAlign = 1;
    format.nAvgBytesPerSec = rate;
    return format;
}

using CreateFunction = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);

CreateFunction LoadCreate() {
    HMODULE library = LoadLibraryA("DSOUND.DLL");
    if (!library) return nullptr;
    return reinterpret_cast<CreateFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DirectSoundCreate")));
}

class StandInDirectSound : public ::testing::Test {
  protected:
    LPDIRECTSOUND object = nullptr;
    void SetUp() override {
        standin::UseTestClock(20000);
        standin::SelectAudioDevice(standin::AudioDeviceKind::Simulated);
        standin::RecordPlayedStreams(true);
        standin::TakePlayedStreams();
        CreateFunction create = LoadCreate();
        ASSERT_NE(create, nullptr);
        ASSERT_EQ(create(nullptr, &object, nullptr), DS_OK);
    }
    void TearDown() override {
        if (object) object->Release();
        standin::RecordPlayedStreams(false);
        standin::SetAudioCapture("");
        standin::SelectAudioDevice(standin::AudioDeviceKind::Automatic);
        standin::UseRealClock();
    }
    LPDIRECTSOUNDBUFFER Make(DWORD bytes, DWORD flags, WAVEFORMATEX format = Mono8(22050)) {
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof(DSBUFFERDESC1);
        desc.dwFlags = flags;
        desc.dwBufferBytes = bytes;
        desc.lpwfxFormat = &format;
        LPDIRECTSOUNDBUFFER buffer = nullptr;
        EXPECT_EQ(object->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
        return buffer;
    }
    static void Write(LPDIRECTSOUNDBUFFER buffer, DWORD offset, const std::vector<BYTE>& bytes) {
        LPVOID first = nullptr, second = nullptr;
        DWORD firstBytes = 0, secondBytes = 0;
        ASSERT_EQ(buffer->Lock(offset, static_cast<DWORD>(bytes.size()), &first, &firstBytes,
                               &second, &secondBytes, 0),
                  DS_OK);
        std::memcpy(first, bytes.data(), firstBytes);
        if (second) std::memcpy(second, bytes.data() + firstBytes, secondBytes);
        ASSERT_EQ(buffer->Unlock(first, firstBytes, second, secondBytes), DS_OK);
    }
};

TEST_F(StandInDirectSound, HiddenByTheEnvironment) {
    setenv("ZAMBREL_MISSING", "ddraw, dsound", 1);
    EXPECT_EQ(LoadLibraryA("dsound"), nullptr);
    unsetenv("ZAMBREL_MISSING");
    EXPECT_NE(LoadLibraryA("dsound"), nullptr);
}

TEST_F(StandInDirectSound, LockGivesTwoRegionsAcrossTheEnd) {
    LPDIRECTSOUNDBUFFER buffer = Make(1000, DSBCAPS_GLOBALFOCUS);
    LPVOID first = nullptr, second = nullptr;
    DWORD firstBytes = 0, secondBytes = 0;
    ASSERT_EQ(buffer->Lock(900, 300, &first, &firstBytes, &second, &secondBytes, 0), DS_OK);
    EXPECT_EQ(firstBytes, 100u);
    EXPECT_EQ(secondBytes, 200u);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(buffer->Unlock(first, firstBytes, second, secondBytes), DS_OK);
    EXPECT_EQ(buffer->Lock(1000, 10, &first, &firstBytes, &second, &secondBytes, 0),
              DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Lock(0, 1001, &first, &firstBytes, &second, &secondBytes, 0),
              DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->SetFormat(nullptr), DSERR_INVALIDCALL);  // only the primary's
    EXPECT_EQ(buffer->SetVolume(0), DSERR_CONTROLUNAVAIL);
    buffer->Release();
}

// The play cursor follows the mixer: 22050 bytes a second at the device's own rate, around
// the buffer while looping, standing still when stopped; the write cursor stays ahead.
TEST_F(StandInDirectSound, CursorsMoveAsTheMixerPlays) {
    LPDIRECTSOUNDBUFFER buffer = Make(4410, DSBCAPS_GLOBALFOCUS);
    std::vector<BYTE> sound(4410);
    for (std::size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<BYTE>(i);
    Write(buffer, 0, sound);
    DWORD play = 1, write = 1;
    standin::AdvanceTestClock(50);
    ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 0u);  // not playing yet
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    standin::AdvanceTestClock(100);
    buffer->GetCurrentPosition(&play, &write);
    EXPECT_EQ(play, 2205u);
    EXPECT_EQ(write, 2205u + 220u);
    standin::AdvanceTestClock(200);  // 300 ms = 6615 bytes, once around and on
    buffer->GetCurrentPosition(&play, nullptr);
    EXPECT_EQ(play, 6615u - 4410u);
    buffer->Stop();
    standin::AdvanceTestClock(100);
    buffer->GetCurrentPosition(&play, &write);
    EXPECT_EQ(play, 2205u);
    EXPECT_EQ(write, play);
    ASSERT_EQ(buffer->SetCurrentPosition(4000), DS_OK);
    buffer->Play(0, 0, 0);  // without looping it stops at the end
    standin::AdvanceTestClock(100);
    DWORD status = 1;
    buffer->GetStatus(&status);
    EXPECT_EQ(status, 0u);

    auto streams = standin::TakePlayedStreams();
    ASSERT_EQ(streams.size(), 1u);
    std::vector<BYTE> expected(sound);
    expected.insert(expected.end(), sound.begin(), sound.begin() + 2205);
    expected.insert(expected.end(), sound.begin() + 4000, sound.end());
    EXPECT_EQ(streams[0].Bytes, expected);
    buffer->Release();
}

TEST_F(StandInDirectSound, PrimaryBufferTakesAFormatAtPriorityLevel) {
    standin::ResetDesktop({});
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "DsoundTestWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "DsoundTestWindow", "", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(DSBUFFERDESC1);
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    LPDIRECTSOUNDBUFFER primary = nullptr;
    ASSERT_EQ(object->CreateSoundBuffer(&desc, &primary, nullptr), DS_OK);
    WAVEFORMATEX format = Mono8(11025);
    EXPECT_EQ(primary->SetFormat(&format), DSERR_PRIOLEVELNEEDED);
    EXPECT_EQ(object->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    ASSERT_EQ(object->SetCooperativeLevel(window, DSSCL_PRIORITY), DS_OK);
    EXPECT_EQ(primary->SetFormat(&format), DS_OK);
    EXPECT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    desc.dwBufferBytes = 100;
    EXPECT_EQ(object->CreateSoundBuffer(&desc, &primary, nullptr), DSERR_INVALIDPARAM);
    // The object's release takes the primary buffer with it.
    DestroyWindow(window);
}

// Without global focus a buffer is heard only while its window is active; its cursor runs on.
TEST_F(StandInDirectSound, BufferWithoutGlobalFocusFallsSilentInTheBackground) {
    standin::ResetDesktop({});
    const std::string path = ::testing::TempDir() + "dsound_focus.wav";
    standin::SetAudioCapture(path);
    standin::SelectAudioDevice(standin::AudioDeviceKind::Simulated);
    object->Release();
    ASSERT_EQ(LoadCreate()(nullptr, &object, nullptr), DS_OK);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "DsoundFocusWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "DsoundFocusWindow", "", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 100,
                                  100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    SetActiveWindow(window);
    ASSERT_EQ(object->SetCooperativeLevel(window, DSSCL_PRIORITY), DS_OK);
    LPDIRECTSOUNDBUFFER buffer = Make(22050, 0);
    Write(buffer, 0, std::vector<BYTE>(22050, 0xC0));
    buffer->Play(0, 0, DSBPLAY_LOOPING);
    standin::AdvanceTestClock(100);
    standin::InjectDeactivate();
    standin::AdvanceTestClock(100);
    standin::InjectActivate(window);
    standin::AdvanceTestClock(100);
    DWORD play = 0;
    buffer->GetCurrentPosition(&play, nullptr);
    EXPECT_EQ(play, 6615u);
    buffer->Release();
    standin::SelectAudioDevice(standin::AudioDeviceKind::Simulated);  // finishes the file

    std::ifstream in(path, std::ios::binary);
    std::vector<BYTE> wav((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(wav.size(), 44u + 6615u);
    std::vector<BYTE> heard(wav.begin() + 44, wav.begin() + 44 + 6615);
    std::vector<BYTE> expected(2205, 0xC0);
    expected.insert(expected.end(), 2205, 0x80);
    expected.insert(expected.end(), 2205, 0xC0);
    EXPECT_EQ(heard, expected);
    DestroyWindow(window);
}

std::atomic<int> ticks{0};
std::atomic<bool> onOtherThread{true};
std::thread::id testThread;

void CALLBACK CountTick(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    ticks += static_cast<int>(user);
    if (std::this_thread::get_id() == testThread) onOtherThread = false;
}

TEST(StandInTimers, FireOnTheirOwnThreadAsTheTestClockMoves) {
    standin::UseTestClock(1000);
    testThread = std::this_thread::get_id();
    ticks = 0;
    EXPECT_EQ(timeSetEvent(0, 0, CountTick, 1, TIME_PERIODIC), 0u);
    UINT periodic = timeSetEvent(75, 25, CountTick, 1, TIME_PERIODIC);
    ASSERT_NE(periodic, 0u);
    standin::AdvanceTestClock(74);
    EXPECT_EQ(ticks, 0);
    standin::AdvanceTestClock(1);
    EXPECT_EQ(ticks, 1);  // the callback has run when the move returns
    standin::AdvanceTestClock(75);
    EXPECT_EQ(ticks, 2);
    standin::AdvanceTestClock(1000);  // late: once, no catching up
    EXPECT_EQ(ticks, 3);
    UINT once = timeSetEvent(10, 0, CountTick, 100, TIME_ONESHOT);
    standin::AdvanceTestClock(10);
    standin::AdvanceTestClock(100);
    EXPECT_EQ(ticks, 3 + 100 + 1);
    EXPECT_EQ(timeKillEvent(once), MMSYSERR_INVALPARAM);  // a one-shot is gone once fired
    EXPECT_EQ(timeKillEvent(periodic), TIMERR_NOERROR);
    standin::AdvanceTestClock(500);
    EXPECT_EQ(ticks, 104);
    EXPECT_TRUE(onOtherThread);
    standin::UseRealClock();
}

}  // namespace
