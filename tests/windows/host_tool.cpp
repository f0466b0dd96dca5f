// SPDX-License-Identifier: MIT
// wincheck_host: the Linux side of the Windows check.
//   wincheck_host movie PATH [--sound]   writes the movie the check plays under Wine
//   wincheck_host blit OUT               the recorded blitter calls, linked directly
//   wincheck_host compare-blit A B       whether two recordings are equal
//   wincheck_host match DISPLAY X Y W H RAW
//       grabs the rectangle of the X screen and prints the number of the frame of the raw
//       decode RAW (W x H frames) it shows; exits with 1 when it shows none
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "blit_calls.h"
#include "linked_blit.h"
#include "encoder/writer.h"
#include "host_screen.h"

namespace {

namespace enc = zambrel::encoder;

constexpr std::uint32_t kMovieWidth = 160, kMovieHeight = 120, kMovieFrames = 40;

int Fail(const std::string& message) {
    std::fprintf(stderr, "wincheck_host: %s\n", message.c_str());
    return 1;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Diagonal stripes that move with the frame and a bar whose row is the frame's number, so
// that no two frames look alike and any one can be told from a screenshot.
enc::Picture MoviePicture(std::uint32_t frame) {
    enc::Picture picture;
    picture.pixels.resize(kMovieWidth * kMovieHeight);
    for (std::uint32_t y = 0; y < kMovieHeight; ++y)
        for (std::uint32_t x = 0; x < kMovieWidth; ++x) {
            std::uint32_t stripe = ((x + y + frame * 4) / 8) % 24;
            bool bar = y / 3 == frame;
            picture.pixels[y * kMovieWidth + x] =
                static_cast<std::uint8_t>(bar ? 200 + x / 40 : stripe);
        }
    for (int i = 0; i < 256; ++i) {
        picture.palette[i * 3] = enc::WidenLevel(static_cast<std::uint8_t>((i * 7) % 64));
        picture.palette[i * 3 + 1] = enc::WidenLevel(static_cast<std::uint8_t>((i * 13 + 5) % 64));
        picture.palette[i * 3 + 2] = enc::WidenLevel(static_cast<std::uint8_t>(63 - i % 64));
    }
    return picture;
}

int WriteCheckMovie(const std::string& path, bool withSound) {
    enc::MovieRecipe recipe;
    recipe.width = kMovieWidth;
    recipe.height = kMovieHeight;
    recipe.frameRate = -6666;
    recipe.ring = true;
    for (std::uint32_t frame = 0; frame < kMovieFrames; ++frame)
        recipe.pictures.push_back(MoviePicture(frame));
    if (withSound) {
        enc::SoundTrack& track = recipe.tracks[0];
        track.present = true;
        track.sampleRate = 22050;
        // A quiet ramp, a frame's share at 15 frames a second for every frame and the ring.
        track.samples.resize(std::size_t{22050} * (kMovieFrames + 1) / 15);
        for (std::size_t i = 0; i < track.samples.size(); ++i)
            track.samples[i] = static_cast<std::uint8_t>(128 + (i / 64) % 8);
    }
    std::string error;
    if (!enc::WriteMovieFile(recipe, path, &error)) return Fail("cannot write the movie: " + error);
    return 0;
}

int RecordBlit(const std::string& out) {
    if (!WriteFile(out, RunBlitCalls(LinkedBlitFunctions()))) return Fail("cannot write " + out);
    return 0;
}

int CompareBlit(const std::string& a, const std::string& b) {
    std::vector<std::uint8_t> first, second;
    if (!ReadFile(a, &first) || !ReadFile(b, &second)) return Fail("cannot read the recordings");
    if (first.empty()) return Fail(a + " is empty");
    std::string difference = FirstDifference(first, second);
    if (!difference.empty()) return Fail("blitter results differ: " + difference);
    std::printf("blitter results equal (%zu bytes)\n", first.size());
    return 0;
}

int Match(const std::vector<std::string>& a) {
    ScreenPicture picture;
    std::string error;
    int x = std::atoi(a[1].c_str()), y = std::atoi(a[2].c_str());
    auto width = static_cast<std::uint32_t>(std::atoi(a[3].c_str()));
    auto height = static_cast<std::uint32_t>(std::atoi(a[4].c_str()));
    if (!GrabScreen(a[0], x, y, width, height, &picture, &error)) return Fail(error);
    std::vector<std::uint8_t> raw;
    if (!ReadFile(a[5], &raw)) return Fail("cannot read " + a[5]);
    std::vector<DecodedFrame> frames = SplitRawFrames(raw, width, height);
    if (frames.empty()) return Fail(a[5] + " holds no frame of that size");
    std::size_t closest = 0;
    std::uint64_t fewest = ~std::uint64_t{0};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::uint64_t differences = CountDifferences(picture, frames[i]);
        if (differences < fewest) fewest = differences, closest = i;
    }
    if (fewest != 0)
        return Fail("the screen shows no frame; closest is frame " + std::to_string(closest) +
                    " with " + std::to_string(fewest) + " differing pixels");
    std::printf("%zu\n", closest);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string command = args.empty() ? "" : args[0];
    if (command == "movie" && (args.size() == 2 || (args.size() == 3 && args[2] == "--sound")))
        return WriteCheckMovie(args[1], args.size() == 3);
    if (command == "blit" && args.size() == 2) return RecordBlit(args[1]);
    if (command == "compare-blit" && args.size() == 3) return CompareBlit(args[1], args[2]);
    if (command == "match" && args.size() == 7)
        return Match(std::vector<std::string>(args.begin() + 1, args.end()));
    return Fail(
        "usage: wincheck_host movie PATH [--sound] | blit OUT | compare-blit A B | "
        "match DISPLAY X Y W H RAW");
}
