// SPDX-License-Identifier: MIT
// The example programs run as an embedder would run them: the decoding one writes what the
// handle decodes, the SDL player plays a movie through SDL's dummy video and audio drivers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "file_bytes.h"
#include "movie_kinds.h"
#include "zambrel/decoder.h"

namespace {

namespace fs = std::filesystem;
using zambrel::testing::ReadFileBytes;
using Bytes = std::vector<std::uint8_t>;

struct Scratch {
    fs::path folder = fs::temp_directory_path() / ("zambrel_examples_" + std::to_string(getpid()));
    Scratch() { fs::create_directories(folder); }
    ~Scratch() { fs::remove_all(folder); }
};

// A movie with sound on track 0, written where the programs can open it.
fs::path WriteMovie(const Scratch& scratch, Bytes& bytes) {
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        if (!kind.recipe.tracks[0].present) continue;
        bytes = library_test::Write(kind.recipe);
        break;
    }
    const fs::path path = scratch.folder / "movie.zmb";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(Examples, DecodeWritesEveryFrameAndTheSound) {
    Scratch scratch;
    Bytes movie;
    const fs::path path = WriteMovie(scratch, movie);
    const std::string command = std::string(ZAMBREL_DECODE_EXAMPLE) + " '" + path.string() + "' '" +
                                scratch.folder.string() + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    ZambDecoder* decoder = nullptr;
    ASSERT_EQ(ZambDecoderOpenMemory(movie.data(), movie.size(), 0, &decoder), ZAMBERR_NONE);
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    Bytes sound, rgba(std::size_t{info.Width} * info.Height * 4), piece(1 << 16);
    for (std::uint32_t f = 0; ZambDecoderNextFrame(decoder) == ZAMBERR_NONE; ++f) {
        ZambDecoderGetPicture(decoder, ZAMBPIX_RGBA32, rgba.data(), info.Width * 4, rgba.size(), 0);
        char name[32];
        std::snprintf(name, sizeof name, "frame%05u.pam", f);
        const Bytes pam = ReadFileBytes(scratch.folder / name);
        ASSERT_GE(pam.size(), rgba.size()) << name;
        EXPECT_TRUE(std::equal(rgba.begin(), rgba.end(), pam.end() - rgba.size())) << name;
        const std::size_t got = ZambDecoderReadSound(decoder, 0, piece.data(), piece.size());
        sound.insert(sound.end(), piece.begin(), piece.begin() + got);
    }
    ZambDecoderClose(decoder);
    const Bytes wav = ReadFileBytes(scratch.folder / "sound.wav");
    ASSERT_EQ(wav.size(), 44 + sound.size());
    EXPECT_TRUE(std::equal(sound.begin(), sound.end(), wav.begin() + 44));
}

TEST(Examples, SdlPlayerPlaysHeadless) {
    Scratch scratch;
    Bytes movie;
    const fs::path path = WriteMovie(scratch, movie);
    const fs::path out = scratch.folder / "out.txt";
    const std::string command = "SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy " +
                                std::string(ZAMBREL_PLAY_EXAMPLE) + " '" + path.string() + "' > '" +
                                out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes text = ReadFileBytes(out);
    ZambDecoder* decoder = nullptr;
    ASSERT_EQ(ZambDecoderOpenMemory(movie.data(), movie.size(), 0, &decoder), ZAMBERR_NONE);
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    ZambDecoderClose(decoder);
    EXPECT_EQ(std::string(text.begin(), text.end()),
              std::to_string(info.FrameCount) + " frames shown\n");
}

}  // namespace
