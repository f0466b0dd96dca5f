// SPDX-License-Identifier: MIT
// Decoder handles on several threads share nothing: each decodes what it decodes alone.
// Built against the shared library, as an embedding program is; run under ThreadSanitizer
// too (a build of its own), where any shared state they change is reported.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "movie_kinds.h"
#include "zambrel/decoder.h"
#include "zambrel/movie.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Every frame's picture in RGBA and every track's queued sound, decoded from `movie`; a
// remap-free pass, a seek back to the middle and on to the end.
Bytes DecodeAll(const Bytes& movie) {
    ZambDecoder* decoder = nullptr;
    if (ZambDecoderOpenMemory(movie.data(), movie.size(), 0, &decoder) != ZAMBERR_NONE) return {};
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    const std::size_t pitch = std::size_t{info.Width} * 4;
    Bytes out, picture(pitch * info.Height), sound(1 << 16);
    auto take = [&] {
        ZambDecoderGetPicture(decoder, ZAMBPIX_RGBA32, picture.data(), pitch, picture.size(), 0);
        out.insert(out.end(), picture.begin(), picture.end());
        for (std::uint32_t n = 0; n < ZAMB_MAX_TRACKS; ++n) {
            const std::size_t got = ZambDecoderReadSound(decoder, n, sound.data(), sound.size());
            out.insert(out.end(), sound.begin(), sound.begin() + got);
        }
    };
    while (ZambDecoderNextFrame(decoder) == ZAMBERR_NONE) take();
    ZambDecoderSeek(decoder, info.FrameCount / 2);
    take();
    while (ZambDecoderNextFrame(decoder) == ZAMBERR_NONE) take();
    ZambDecoderClose(decoder);
    return out;
}

TEST(Threads, HandlesOnTwoThreadsDecodeWhatEachDecodesAlone) {
    const std::vector<library_test::MovieKind> kinds = library_test::AllMovieKinds();
    // Different movies, so that tables or pictures shared by mistake would mix them up;
    // many colours (widened tables) against sound on three tracks, and so on.
    std::vector<Bytes> movies;
    for (const library_test::MovieKind& kind : kinds)
        movies.push_back(library_test::Write(kind.recipe));
    std::vector<Bytes> alone;
    for (const Bytes& movie : movies) {
        alone.push_back(DecodeAll(movie));
        ASSERT_FALSE(alone.back().empty());
    }
    constexpr int kThreads = 2;
    constexpr int kRounds = 3;
    std::vector<std::vector<Bytes>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (std::size_t m = 0; m < movies.size(); ++m) {
                    // Each thread goes through the movies in its own order.
                    const std::size_t which = (m * (t + 1) + round) % movies.size();
                    results[t].push_back(DecodeAll(movies[which]));
                }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        std::size_t i = 0;
        for (int round = 0; round < kRounds; ++round)
            for (std::size_t m = 0; m < movies.size(); ++m, ++i) {
                const std::size_t which = (m * (t + 1) + round) % movies.size();
                EXPECT_TRUE(results[t][i] == alone[which])
                    << "thread " << t << ", " << kinds[which].name;
            }
    }
}

// The player's interface belongs to the thread whose movies are open: another thread's open
// is refused instead of racing it over the process-wide sound state, and once the last
// movie is closed any thread may take the interface over.
TEST(Threads, ThePlayersInterfaceRefusesASecondThreadWhileAMovieIsOpen) {
    const Bytes bytes = library_test::Write(library_test::AllMovieKinds().front().recipe);
    const std::string path = ::testing::TempDir() + "zambrel_threads_test.zmb";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    auto openElsewhere = [&path] {
        bool opened = false;
        std::thread([&] {
            ZambMovie* movie = ZambOpen(path.c_str(), 0, 0xFFFFFFFFu);
            opened = movie != nullptr;
            ZambClose(movie);
        }).join();
        return opened;
    };
    ZambMovie* first = ZambOpen(path.c_str(), 0, 0xFFFFFFFFu);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(openElsewhere());
    ZambMovie* second = ZambOpen(path.c_str(), 0, 0xFFFFFFFFu);  // the owner may open more
    EXPECT_NE(second, nullptr);
    ZambClose(first);
    EXPECT_FALSE(openElsewhere()) << "one movie is still open";
    ZambClose(second);
    EXPECT_TRUE(openElsewhere());
    EXPECT_TRUE(openElsewhere()) << "the other thread closed its movie and let go";
    std::remove(path.c_str());
}

}  // namespace
