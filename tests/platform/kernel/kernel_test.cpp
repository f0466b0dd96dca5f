// SPDX-License-Identifier: MIT
// The stand-in's kernel services: files, profile, clock and the program's own name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

class TempFolder {
  public:
    TempFolder() {
        path_ = fs::temp_directory_path() / ("zambrel-kernel-" + std::to_string(::getpid()));
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    fs::path Write(const std::string& name, const std::string& bytes) const {
        fs::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

HANDLE OpenForReading(const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

std::string ReadAll(HANDLE file, DWORD count) {
    std::string bytes(count, '\0');
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, bytes.data(), count, &got, nullptr));
    bytes.resize(got);
    return bytes;
}

}  // namespace

TEST(KernelFiles, BackslashesAndCaseInsensitiveNames) {
    TempFolder folder;
    folder.Write("intro.zmb", "movie");
    std::string windowsName = folder.Path().string() + "\\Intro.Zmb";
    HANDLE file = OpenForReading(windowsName);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadAll(file, 100), "movie");
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file)) << "a closed handle must not be closed twice";
    EXPECT_EQ(OpenForReading(folder.Path().string() + "/absent.zmb"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(
        CreateFileA(windowsName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
        INVALID_HANDLE_VALUE);
}

TEST(KernelFiles, FilePointerAndShortReads) {
    HANDLE file = standin::OpenMemoryFile("0123456789", 10);
    EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_EQ(ReadAll(file, 3), "456");
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 7u);
    EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 8u);
    EXPECT_EQ(ReadAll(file, 5), "89") << "reading past the end delivers what there is";
    EXPECT_EQ(ReadAll(file, 5), "");
    EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    CloseHandle(file);
    DWORD got = 99;
    char byte;
    EXPECT_FALSE(ReadFile(file, &byte, 1, &got, nullptr));
    EXPECT_EQ(got, 0u);
}

TEST(KernelProfile, ReadsIntegersFromTheNamedFile) {
    TempFolder folder;
    fs::path profile = folder.Write("profile.ini",
                                    "; comment\n[Other]\nDebug=7\n[zambrel]\n  debug = 1\n"
                                    "Hex=0x1F\nNegative=-2\nWord=abc\n");
    ::setenv("ZAMBREL_PROFILE", profile.c_str(), 1);
    EXPECT_EQ(GetProfileIntA("Zambrel", "Debug", 5), 1u);
    EXPECT_EQ(GetProfileIntA("Zambrel", "Hex", 0), 31u);
    EXPECT_EQ(GetProfileIntA("Zambrel", "Negative", 0), static_cast<UINT>(-2));
    EXPECT_EQ(GetProfileIntA("Zambrel", "Word", 9), 0u);
    EXPECT_EQ(GetProfileIntA("Zambrel", "Missing", 9), 9u);
    ::setenv("ZAMBREL_PROFILE", (folder.Path() / "none.ini").c_str(), 1);
    EXPECT_EQ(GetProfileIntA("Zambrel", "Debug", 3), 3u);
    ::unsetenv("ZAMBREL_PROFILE");
    ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
    EXPECT_EQ(standin::ProfilePath(), "/xdg/zambrel/profile.ini");
}

TEST(KernelClock, TestClockWrapsAndSleepAdvancesIt) {
    std::vector<DWORD> seen;
    int id = standin::AddClockListener([&](DWORD now) { seen.push_back(now); });
    standin::UseTestClock(0xFFFFFFF0u);
    EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
    standin::AdvanceTestClock(0x20);
    EXPECT_EQ(timeGetTime(), 0x10u);
    Sleep(5);
    EXPECT_EQ(timeGetTime(), 0x15u);
    standin::RemoveClockListener(id);
    standin::AdvanceTestClock(1);
    EXPECT_EQ(seen, (std::vector<DWORD>{0x10u, 0x15u}));
    standin::UseRealClock();
    DWORD before = timeGetTime();
    Sleep(20);
    EXPECT_GE(timeGetTime() - before, 19u);
}

// A finer tick is held by whoever asked for it until they give it back; the sleep may
// never end early whatever the tick.
TEST(KernelClock, FinerTicksArePairedAndNeverShortenASleep) {
    EXPECT_EQ(timeBeginPeriod(0), 97u);
    EXPECT_EQ(timeEndPeriod(3), 97u);
    ASSERT_EQ(timeBeginPeriod(1), 0u);
    ASSERT_EQ(timeBeginPeriod(1), 0u);
    EXPECT_EQ(timeEndPeriod(1), 0u);
    for (DWORD wait : {1u, 2u, 7u}) {
        DWORD before = timeGetTime();
        Sleep(wait);
        EXPECT_GE(timeGetTime() - before, wait);
    }
    EXPECT_EQ(timeEndPeriod(1), 0u);
    EXPECT_EQ(timeEndPeriod(1), 97u);
}

TEST(KernelModule, OwnFileNameIsTheExecutable) {
    char name[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, name, sizeof name);
    ASSERT_GT(length, 0u);
    EXPECT_TRUE(fs::equivalent(name, "/proc/self/exe"));
    char tiny[4];
    EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), 4u);
    EXPECT_EQ(tiny[3], '\0');
}

TEST(KernelDebug, SinkReceivesText) {
    std::string captured;
    standin::SetDebugSink([&](const char* text) { captured += text; });
    OutputDebugStringA("ZambOpen - file: ");
    OutputDebugStringA("a.zmb\r\n");
    standin::SetDebugSink({});
    EXPECT_EQ(captured, "ZambOpen - file: a.zmb\r\n");
}
