// SPDX-License-Identifier: MIT
// The devices that play in real time: SDL2 (through its disk driver, which writes exactly
// what it plays) and the simulated device off the test clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/standin/audio/seams.h"
#include "platform/standin/audio/waveout.h"

namespace {

// Writes `sound` to the device and waits, up to five seconds of real time, until the device
// has played it; then stops the device and takes the buffer back. True when it was played.
bool PlayToTheEnd(HWAVEOUT device, std::vector<std::uint8_t>& sound) {
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(sound.data());
    header.dwBufferLength = static_cast<DWORD>(sound.size());
    if (waveOutPrepareHeader(device, &header, sizeof header) != MMSYSERR_NOERROR ||
        waveOutWrite(device, &header, sizeof header) != MMSYSERR_NOERROR)
        return false;
    const auto done = [&header] {
        return (std::atomic_ref<DWORD>(header.dwFlags).load() & WHDR_DONE) != 0;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const bool played = done();
    waveOutReset(device);
    waveOutUnprepareHeader(device, &header, sizeof header);
    return played;
}

TEST(SdlDevice, DiskDriverWritesTheStreamBitForBit) {
    std::string path = ::testing::TempDir() + "zambrel_sdl_disk_test.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    standin::SelectAudioDevice(standin::AudioDeviceKind::Sdl);

    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(standin::OpenAudioDevice(), standin::AudioDeviceKind::Sdl);
    std::vector<std::uint8_t> sound(176400 / 5);  // 200 ms, never silent
    for (std::size_t i = 0; i < sound.size(); ++i)
        sound[i] = static_cast<std::uint8_t>(i % 251 + 1);
    EXPECT_TRUE(PlayToTheEnd(device, sound));
    waveOutClose(device);
    standin::SelectAudioDevice(standin::AudioDeviceKind::Automatic);

    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> written((std::istreambuf_iterator<char>(file)), {});
    auto found = std::search(written.begin(), written.end(), sound.begin(), sound.end());
    EXPECT_NE(found, written.end()) << "disk file of " << written.size() << " bytes";
    std::remove(path.c_str());
}

// Without the test clock the simulated device plays on a thread of its own, in real time.
TEST(SimulatedDevice, PlaysInRealTime) {
    standin::SelectAudioDevice(standin::AudioDeviceKind::Simulated);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 0};
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<std::uint8_t> sound(441, 0x80);  // 20 ms
    EXPECT_TRUE(PlayToTheEnd(device, sound));
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    standin::SelectAudioDevice(standin::AudioDeviceKind::Automatic);
}

}  // namespace
