// SPDX-License-Identifier: MIT
// The decoding core with nothing of the platform's lent to it: no clock, no sleep and no
// sound driver, and a file reader of the test's own, as a program built on the core alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "decoder/host.h"
#include "decoder/movie.h"
#include "decoder/system/platform_services.h"
#include "movie_bytes.h"
#include "playing/audio.h"
#include "sound/seams.h"

namespace {

using namespace decoder_test;

// Bytes in memory whose reads stop short at `failAt`, as a device that fails mid-movie.
struct MemoryFile {
    const std::vector<std::uint8_t>* bytes;
    std::size_t failAt = std::numeric_limits<std::size_t>::max();
    std::size_t position = 0;
};

std::size_t ReadMemory(void* opaque, void* buffer, std::size_t size) {
    auto* file = static_cast<MemoryFile*>(opaque);
    const std::size_t end = std::min(file->bytes->size(), file->failAt);
    const std::size_t count = file->position < end ? std::min(size, end - file->position) : 0;
    if (count != 0) std::memcpy(buffer, file->bytes->data() + file->position, count);
    file->position += count;
    return count;
}

int SeekMemory(void* opaque, std::uint64_t position) {
    static_cast<MemoryFile*>(opaque)->position = static_cast<std::size_t>(position);
    return 0;
}

constexpr HostServices kFilesOnly{nullptr, nullptr, nullptr, ReadMemory, SeekMemory};

class CoreAlone : public ::testing::Test {
  protected:
    void SetUp() override {
        SoundForgetDriver();
        InstallHostServices(&kFilesOnly);
    }
    void TearDown() override {
        InstallPlatformServices();
        ZambSetReadSpeed(0);
    }
    // Streams through the smallest ring unless the movie is small enough to preload.
    static Movie* Open(MemoryFile& file, std::uint32_t flags) {
        FileMovieRequest request{};
        request.file = &file;
        request.length = file.bytes->size();
        request.flags = flags;
        request.extraBuffer = 0;
        request.openTracks = &OpenMovieTracks;
        return OpenFileMovie(request);
    }
    static void Close(Movie* movie) {
        CloseMovieTracks(movie);
        ReleaseMovie(movie);
    }
};

// Sixteen 1 KB frames with a sound track in the header: too large to preload.
MovieBytes StreamedMovieWithATrack() {
    MovieBytes movie = PatternMovie(std::vector<std::uint32_t>(16, 1024));
    movie.trackFormat[0] = TRACK_PRESENT | 22050;
    movie.trackMaxBytes[0] = 400;
    return movie;
}

bool FrameIsIntact(const Movie* movie, const MovieBytes& source) {
    const auto& frame = source.frames[movie->FrameNumber];
    return movie->FrameBytes == frame.size() &&
           std::memcmp(movie->FrameData, frame.data(), frame.size()) == 0;
}

// A read speed with no clock to hold it to must not wait for ever, and a track asked for
// with no driver to play it is left out rather than opened on an empty operation table.
TEST_F(CoreAlone, StreamsEveryFrameWithNoClockAndNoSoundDriver) {
    const MovieBytes source = StreamedMovieWithATrack();
    const std::vector<std::uint8_t> bytes = source.Bytes();
    MemoryFile file{&bytes};
    ZambSetReadSpeed(1000);
    Movie* movie = Open(file, ZAMB_TRACK0 | ZAMB_READ_SPEED | ZAMB_FILL_BUFFER);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(movie->PrimaryTrack, -1);
    EXPECT_EQ(movie->OpenFlags & ZAMB_TRACK_MASK, 0u);
    EXPECT_EQ(movie->RingSize, 8192u);
    EXPECT_EQ(movie->ReadSpeed, 1000u);
    for (std::uint32_t n = 0; n < 2 * movie->FrameCount; ++n) {
        ASSERT_TRUE(FrameIsIntact(movie, source)) << n;
        ZambNextFrame(movie);
    }
    EXPECT_EQ(movie->ReadFailed, 0u);
    EXPECT_EQ(movie->OpenTime, 0u);
    EXPECT_EQ(movie->ReadTime, 0u);
    Close(movie);
}

// Frames up to the failure are whole; the one it cuts marks the movie, which then stays
// where it is as a movie read from a failing file does.
TEST_F(CoreAlone, AReaderFailingMidMovieMarksTheFrameItCuts) {
    const MovieBytes source = StreamedMovieWithATrack();
    const std::vector<std::uint8_t> bytes = source.Bytes();
    MemoryFile file{&bytes, source.FirstFrameOffset() + 10 * 1024 + 100};
    Movie* movie = Open(file, 0);
    ASSERT_NE(movie, nullptr);
    while (movie->FrameNumber < 9 && movie->ReadFailed == 0) {
        ASSERT_TRUE(FrameIsIntact(movie, source)) << movie->FrameNumber;
        ZambNextFrame(movie);
    }
    EXPECT_EQ(movie->ReadFailed, 0u);
    ZambNextFrame(movie);
    EXPECT_EQ(movie->FrameNumber, 10u);
    EXPECT_EQ(movie->ReadFailed, 1u);
    EXPECT_EQ(ZambWait(movie), 0);
    Close(movie);
}

}  // namespace
