// SPDX-License-Identifier: MIT
// Opening and closing movies: the reading choice, ring sizes, statistics, memory, refusals.
#include <gtest/gtest.h>

#include <unistd.h>

#include "core/allocator.h"
#include "decoder/movie.h"
#include "decoder/trees.h"
#include "movie_bytes.h"

namespace {

using namespace decoder_test;

// Opens bytes through a caller's handle; the handle is closed with the fixture.
class Opened {
  public:
    explicit Opened(const std::vector<std::uint8_t>& bytes, std::uint32_t flags = 0,
                    std::uint32_t extra = 0xFFFFFFFFu, std::uint32_t offset = 0)
        : bytes_(bytes), handle_(MemoryHandle(bytes_, offset)) {
        movie_ = ZambOpen(handle_, flags | ZAMB_FILE_HANDLE, extra);
    }
    ~Opened() {
        ZambClose(movie_);
        CloseHandle(handle_);
    }
    Movie* operator->() { return movie_; }
    Movie* get() { return movie_; }
    HANDLE handle() { return handle_; }

  private:
    std::vector<std::uint8_t> bytes_;
    HANDLE handle_;
    Movie* movie_;
};

MovieBytes EvenMovie(std::uint32_t frames, std::uint32_t size) {
    return PatternMovie(std::vector<std::uint32_t>(frames, size));
}

TEST(OpenChoice, SmallMoviesArePreloadedAndLargerOnesStreamThroughTheSmallestRing) {
    // 15,360 bytes: four fifths fit the 12,288-byte ring, so the whole movie is read at once.
    Opened small(EvenMovie(15, 1024).Bytes());
    ASSERT_NE(small.get(), nullptr);
    EXPECT_TRUE(small->OpenFlags & ZAMB_PRELOAD);
    EXPECT_EQ(small->RingSize, 0u);
    EXPECT_EQ(small->RingBase, nullptr);
    EXPECT_EQ(small->FileHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(small->FrameBufferSize, 15360u);

    MovieBytes larger = EvenMovie(15, 1024);
    larger.frames.back().resize(1028);
    Opened streamed(larger.Bytes());
    ASSERT_NE(streamed.get(), nullptr);
    EXPECT_FALSE(streamed->OpenFlags & ZAMB_PRELOAD);
    EXPECT_EQ(streamed->RingSize, 12288u);
    EXPECT_EQ(streamed->FrameBufferSize, 1028u);
    EXPECT_EQ(streamed->FileHandle, streamed.handle());
}

TEST(OpenChoice, AGivenRingSizeIsRoundedToBlocksAndAtLeastTwo) {
    const auto bytes = EvenMovie(60, 1000).Bytes();
    for (auto [extra, ring] :
         {std::pair{0u, 8192u}, {5000u, 8192u}, {9000u, 12288u}, {12288u, 12288u}}) {
        Opened movie(bytes, 0, extra);
        ASSERT_NE(movie.get(), nullptr);
        EXPECT_EQ(movie->RingSize, ring) << extra;
        EXPECT_FALSE(movie->OpenFlags & ZAMB_PRELOAD);
    }
    Opened asked(bytes, ZAMB_PRELOAD, 0);
    EXPECT_TRUE(asked->OpenFlags & ZAMB_PRELOAD);
    EXPECT_EQ(asked->RingSize, 0u);
}

TEST(OpenChoice, AMovieInsideALargerFileStartsAtTheHandlesPosition) {
    const MovieBytes movie = EvenMovie(40, 3000);
    std::vector<std::uint8_t> file(94720, 0xEE);
    const auto bytes = movie.Bytes();
    file.insert(file.end(), bytes.begin(), bytes.end());
    Opened opened(file, 0, 0xFFFFFFFFu, 94720);
    ASSERT_NE(opened.get(), nullptr);
    EXPECT_EQ(opened->FirstFrameOffset, 94720u + 104 + 5 * 40 + 1);
    // The open read up to the next block boundary and then frame 0, so the file now stands
    // at a boundary, and what was read beyond frame 0 waits in the ring.
    const std::uint32_t position = FilePosition(opened.handle());
    EXPECT_EQ(position % 4096, 0u);
    EXPECT_EQ(opened->ReadPosition, opened->FirstFrameOffset + 3000);
    EXPECT_EQ(opened->ReadPosition + opened->RingFill, position);
    EXPECT_EQ(std::vector<std::uint8_t>(opened->FrameData, opened->FrameData + 3000),
              movie.frames[0]);
}

TEST(OpenStatistics, PeakSecondSkipsTheFirstAndLastWindows) {
    // 100 ms frames: ten to the second.
    std::vector<std::uint32_t> sizes(30, 10);
    for (int i = 0; i < 10; ++i) sizes[i] = 500;  // the open's own first second: not counted
    for (int i = 7; i < 17; ++i) sizes[i] += 50;
    sizes[29] = 10000;  // only in the window ending at the last frame: not counted
    MovieBytes movie = PatternMovie(sizes);
    movie.frameRate = 100;
    Opened opened(movie.Bytes());
    ASSERT_NE(opened.get(), nullptr);
    // Window starting at frame 1: frames 1..10 = 9 x 500 + 3 x 50 (7, 8, 9) + 10 + 50 (10).
    EXPECT_EQ(opened->PeakSecondBytes, 9u * 500 + 3 * 50 + 10 + 50);
    EXPECT_EQ(opened->PeakSecondFrame, 2u);
    EXPECT_EQ(opened->LargestFrame, 10000u);
    EXPECT_EQ(opened->AverageFrame, (10 * 500 + 10 * 50 + 19 * 10 + 10000) / 30u);
    EXPECT_EQ(opened->FramePeriod, 10000u);
}

TEST(OpenStatistics, PeakSecondOfAShortMovieIsItsTotal) {
    MovieBytes movie = PatternMovie({100, 200, 300});
    movie.frameRate = -6666;  // 15 to the second
    Opened opened(movie.Bytes());
    ASSERT_NE(opened.get(), nullptr);
    EXPECT_EQ(opened->PeakSecondBytes, 600u);
    EXPECT_EQ(opened->PeakSecondFrame, 1u);
    EXPECT_EQ(opened->FramePeriod, 6666u);
}

TEST(OpenStatistics, MemoryInUseCountsEveryBlockHeld) {
    MovieBytes movie = EvenMovie(60, 1000);
    movie.treeSizes[1] = 400;
    Opened opened(movie.Bytes(), 0, 0);
    ASSERT_NE(opened.get(), nullptr);
    const std::uint32_t held = sizeof(Movie) + (5 * 60 + 4) + (kTreeNodesOffset + 12 * 3 + 400) +
                               (8192 + 4096) + (1000 + 8);
    EXPECT_EQ(opened->MemoryInUse, held);
    // The tree work buffer (8,192 bytes for such small tree data) was held for a while.
    const std::uint32_t duringTrees =
        sizeof(Movie) + (5 * 60 + 4) + (kTreeNodesOffset + 436) + 8192;
    EXPECT_EQ(opened->PeakMemory, std::max(held, duringTrees));

    Opened preloaded(EvenMovie(4, 100).Bytes());
    ASSERT_NE(preloaded.get(), nullptr);
    EXPECT_EQ(preloaded->MemoryInUse, sizeof(Movie) + 24u + kTreeNodesOffset + 48 + 408);
}

TEST(OpenShape, HeightScalingFollowsTheFlagsOverTheHeader) {
    MovieBytes interlaced = EvenMovie(3, 10);
    interlaced.fileFlags = FILE_INTERLACED;
    interlaced.height = 8;
    Opened asStored(interlaced.Bytes());
    EXPECT_EQ(asStored->Height, 16u);
    EXPECT_TRUE(asStored->OpenFlags & ZAMB_INTERLACE);
    Opened noScale(interlaced.Bytes(), ZAMB_NO_SCALE);
    EXPECT_EQ(noScale->Height, 8u);
    EXPECT_FALSE(noScale->OpenFlags & (ZAMB_INTERLACE | ZAMB_DOUBLE));
    EXPECT_EQ(noScale->FileFlags & 6, 0u);
    Opened doubled(EvenMovie(3, 10).Bytes(), ZAMB_DOUBLE);
    EXPECT_EQ(doubled->Height, 32u);
    EXPECT_EQ(doubled->OpenFlags & ZAMB_NO_SCALE, ZAMB_DOUBLE);
    EXPECT_EQ(doubled->FileFlags & 6, FILE_DOUBLED);
}

TEST(OpenShape, KeptFlagsDropTracksThatDidNotOpenAndFrameRateSettingApplies) {
    ZambSetFrameRate(15);
    Opened opened(EvenMovie(3, 10).Bytes(), ZAMB_TRACK3 | ZAMB_FRAME_RATE | ZAMB_NO_SKIP);
    ASSERT_NE(opened.get(), nullptr);
    EXPECT_EQ(opened->OpenFlags & ZAMB_TRACK_MASK, 0u);
    EXPECT_TRUE(opened->OpenFlags & ZAMB_NO_SKIP);
    EXPECT_EQ(opened->FrameRate, -6666);
    EXPECT_EQ(opened->FramePeriod, 6666u);
    EXPECT_EQ(opened->PrimaryTrack, -1);
    EXPECT_EQ(opened->NextFrameTime, 0xFFFFFFFFu);
    EXPECT_EQ(opened->PaletteFrame, -1);
    ZambSetFrameRate(0);
}

TEST(OpenAndClose, ByNameIntoCallerStorageAndCloseNull) {
    ZambClose(nullptr);
    EXPECT_EQ(ZambOpen(nullptr, 0, 0), nullptr);
    const auto bytes = EvenMovie(3, 10).Bytes();
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("zambrel-open-" + std::to_string(getpid()) + ".zmb"))
                                 .string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Movie* byName = ZambOpen(path.c_str(), 0, 0xFFFFFFFFu);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName->FrameCount, 3u);
    ZambClose(byName);

    // Caller storage: the handle travels in its first word, and both stay the caller's.
    HANDLE handle = MemoryHandle(bytes);
    Movie storage;
    std::memcpy(&storage, &handle, sizeof handle);
    Movie* inStorage = ZambOpen(&storage, ZAMB_FILE_HANDLE | ZAMB_USER_RECORD, 0xFFFFFFFFu);
    ASSERT_EQ(inStorage, &storage);
    EXPECT_EQ(storage.Width, 16u);
    ZambClose(inStorage);
    EXPECT_EQ(storage.Width, 0u);  // zeroed, not released
    // The caller's handle is still open and usable.
    EXPECT_NE(SetFilePointer(handle, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    char magic[4];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(handle, magic, 4, &got, nullptr));
    EXPECT_EQ(got, 4u);
    EXPECT_TRUE(CloseHandle(handle));
    std::filesystem::remove(path);
}

TEST(OpenAndClose, DebugMessagesAreWordedExactly) {
    DebugCapture debug;
    Movie* missing = ZambOpen("/nonexistent/folder/none.zmb", 0, 0);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(
        debug.Text(),
        "ZambOpen - file: /nonexistent/folder/none.zmb\r\nCouldn't open the Zambrel file\r\n");
    debug.Clear();
    const auto bytes = EvenMovie(3, 10).Bytes();
    HANDLE handle = MemoryHandle(bytes);
    Movie* movie = ZambOpen(handle, ZAMB_FILE_HANDLE, 0);
    ASSERT_NE(movie, nullptr);
    const std::string address = std::to_string(reinterpret_cast<std::intptr_t>(movie));
    EXPECT_EQ(debug.Text(),
              "ZambOpen - file handle: " + std::to_string(reinterpret_cast<std::intptr_t>(handle)) +
                  "\r\nZambOpen returned: " + address + "\r\n");
    debug.Clear();
    ZambClose(movie);
    EXPECT_EQ(debug.Text(), "ZambClose: " + address + "\r\n");
    CloseHandle(handle);
}

// Every refusal: null, its message, and (under the sanitizers) nothing leaked. Each case
// spoils the movie's fields, or its finished bytes.
struct Refusal {
    const char* name;
    void (*spoilMovie)(MovieBytes&);
    void (*spoilBytes)(std::vector<std::uint8_t>&);
    const char* message;
};

void SetWord(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}

constexpr const char* kNotZambrel = "Wasn't a Zambrel file\r\n";
constexpr const char* kShort = "Zambrel file too short\r\n";
constexpr const char* kUnusable = "Unusable Zambrel header\r\n";

const Refusal kRefusals[] = {
    {"magic", [](MovieBytes& m) { m.magic[0] = 'X'; }, nullptr, kNotZambrel},
    {"version digit", [](MovieBytes& m) { m.magic[3] = '3'; }, nullptr, kNotZambrel},
    {"short header", nullptr, [](auto& b) { b.resize(103); }, kNotZambrel},
    {"short tables", nullptr, [](auto& b) { b.resize(104 + 14); }, kShort},
    {"short tree data", [](MovieBytes& m) { m.treeDataSizeOverride = 1 << 20; }, nullptr, kShort},
    {"width 0", [](MovieBytes& m) { m.width = 0; }, nullptr, kUnusable},
    {"height 0", [](MovieBytes& m) { m.height = 0; }, nullptr, kUnusable},
    {"width not a multiple of 4", [](MovieBytes& m) { m.width = 18; }, nullptr, kUnusable},
    {"height not a multiple of 4", [](MovieBytes& m) { m.height = 6; }, nullptr, kUnusable},
    {"width over the limit", [](MovieBytes& m) { m.width = kMaxWidth + 4; }, nullptr, kUnusable},
    {"height over the limit", [](MovieBytes& m) { m.height = kMaxHeight + 4; }, nullptr, kUnusable},
    {"no frames", [](MovieBytes& m) { m.frameCountOverride = 0; }, nullptr, kUnusable},
    {"frame tables over 32 bits", [](MovieBytes& m) { m.frameCountOverride = 0xFFFFFFFF; }, nullptr,
     kUnusable},
    {"tree size not whole nodes", [](MovieBytes& m) { m.treeSizes[2] = 14; }, nullptr, kUnusable},
    {"tree sizes past the block limit", [](MovieBytes& m) { m.treeSizes[0] = 0xFFFFFFF0u; },
     nullptr, kUnusable},
    {"tree larger than its size", [](MovieBytes& m) { m.treeSizes[3] = 0; }, nullptr,
     "Bad Zambrel trees\r\n"},
    {"frame total over 32 bits", nullptr,
     [](auto& b) {
         SetWord(b, 104, 0xC0000000u);
         SetWord(b, 108, 0xC0000000u);
     },
     "Zambrel frames too large\r\n"},
};

TEST(OpenRefusals, EveryUnusableMovieIsRefusedWithItsMessage) {
    DebugCapture debug;
    for (const Refusal& refusal : kRefusals) {
        MovieBytes movie = EvenMovie(3, 10);
        if (refusal.spoilMovie) refusal.spoilMovie(movie);
        std::vector<std::uint8_t> bytes = movie.Bytes();
        if (refusal.spoilBytes) refusal.spoilBytes(bytes);
        HANDLE handle = MemoryHandle(bytes);
        debug.Clear();
        Movie* opened = ZambOpen(handle, ZAMB_FILE_HANDLE, 0xFFFFFFFFu);
        EXPECT_EQ(opened, nullptr) << refusal.name;
        EXPECT_NE(debug.Text().find(refusal.message), std::string::npos)
            << refusal.name << ": " << debug.Text();
        // The caller's handle survives the refusal.
        EXPECT_NE(SetFilePointer(handle, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER)
            << refusal.name;
        CloseHandle(handle);
        ZambClose(opened);
    }
}

// A preloaded movie cut short holds the bytes the file has: the frames before the cut load,
// the cut one fails as a streamed one does, and nothing past the file is allocated.
TEST(OpenPreload, AMovieCutShortPlaysUpToItsCut) {
    const std::vector<std::uint8_t> whole = EvenMovie(4, 1024).Bytes();
    for (std::uint32_t cut : {1u, 1024u, 1500u}) {
        SCOPED_TRACE(cut);
        const std::vector<std::uint8_t> bytes(whole.begin(), whole.end() - cut);
        Opened movie(bytes, ZAMB_PRELOAD);
        ASSERT_NE(movie.get(), nullptr);
        EXPECT_EQ(movie->FrameBufferSize, 4 * 1024 - cut);
        std::uint32_t loaded = 0;
        while (!movie->ReadFailed && loaded < 4) {
            ++loaded;
            ZambNextFrame(movie.get());
        }
        EXPECT_EQ(loaded, 4 - (cut + 1023) / 1024);
        EXPECT_EQ(movie->ReadFailed, 1u);
    }
}

TEST(OpenRefusals, TheLimitsThemselvesAreAccepted) {
    MovieBytes wide = EvenMovie(3, 10);
    wide.width = kMaxWidth;
    wide.height = kMaxHeight;
    Opened opened(wide.Bytes());
    EXPECT_NE(opened.get(), nullptr);
}

TEST(OpenRefusals, EveryFailedAllocationIsCleanAndNamed) {
    DebugCapture debug;
    const auto bytes =
        EvenMovie(60, 1000).Bytes();  // streams: record, tables, trees, work, ring, frame
    const char* messages[] = {"Couldn't allocate Zamb structure\r\n",
                              "Couldn't allocate track table\r\n",
                              "",
                              "Couldn't allocate input buffer\r\n",
                              "",
                              "Couldn't allocate I/O buffer\r\n"};
    for (int allowed = 0; allowed < 6; ++allowed) {
        HANDLE handle = MemoryHandle(bytes);
        debug.Clear();
        ZambAllocatorFailAfter(allowed);
        Movie* movie = ZambOpen(handle, ZAMB_FILE_HANDLE, 0);
        ZambAllocatorFailAfter(-1);
        EXPECT_EQ(movie, nullptr) << allowed;
        const std::string expected = std::string("ZambOpen - file handle: ") +
                                     std::to_string(reinterpret_cast<std::intptr_t>(handle)) +
                                     "\r\n" + messages[allowed];
        EXPECT_EQ(debug.Text(), expected) << allowed;
        CloseHandle(handle);
    }
    HANDLE handle = MemoryHandle(bytes);
    ZambAllocatorFailAfter(6);
    Movie* movie = ZambOpen(handle, ZAMB_FILE_HANDLE, 0);
    ZambAllocatorFailAfter(-1);
    EXPECT_NE(movie, nullptr);
    ZambClose(movie);
    CloseHandle(handle);
}

}  // namespace
