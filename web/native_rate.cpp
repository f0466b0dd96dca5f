// SPDX-License-Identifier: MIT
// The benchmark's native side: the element's work on a movie (each frame decoded, its
// picture brought up to date as RGBA and its sound turned into floats, through the same
// glue) as fast as it goes, so that the browser's rate can be read as a ratio to it.
//
// usage: native_rate MOVIE SECONDS   prints the pictures a second of its own CPU time, which
// a machine busy with other work does not take from it as it takes wall-clock time
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "zambrel/decoder.h"

struct WebMovie;
extern "C" {
WebMovie* WebCreate();
void WebDestroy(WebMovie* movie);
std::uint8_t* WebInputBuffer(WebMovie* movie, std::size_t size);
void WebArrived(WebMovie* movie, std::size_t count);
ZambError WebOpen(WebMovie* movie);
const ZambMovieInfo* WebInfo(WebMovie* movie);
ZambError WebNextFrame(WebMovie* movie);
ZambError WebSeek(WebMovie* movie, std::uint32_t frame);
std::int32_t WebUpdatePicture(WebMovie* movie, std::int32_t whole);
std::int32_t WebFrameSound(WebMovie* movie, std::uint32_t track);
}

namespace {

std::vector<std::uint8_t> ReadWhole(const char* path) {
    std::vector<std::uint8_t> bytes;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return bytes;
    std::uint8_t buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(file);
    return bytes;
}

void TakeSound(WebMovie* movie, const ZambMovieInfo& info) {
    for (std::uint32_t t = 0; t < ZAMB_MAX_TRACKS; ++t)
        if (info.Tracks[t].Decoded != 0) WebFrameSound(movie, t);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return std::fputs("usage: native_rate MOVIE SECONDS\n", stderr), 2;
    const std::vector<std::uint8_t> bytes = ReadWhole(argv[1]);
    WebMovie* movie = WebCreate();
    std::uint8_t* input = WebInputBuffer(movie, bytes.size());
    if (bytes.empty() || input == nullptr) return std::fputs("native_rate: no movie\n", stderr), 1;
    std::memcpy(input, bytes.data(), bytes.size());
    WebArrived(movie, bytes.size());
    if (WebOpen(movie) < 0) return std::fputs("native_rate: the movie does not open\n", stderr), 1;
    const ZambMovieInfo info = *WebInfo(movie);
    const double seconds = std::atof(argv[2]);
    const std::clock_t start = std::clock();
    const auto elapsed = [&] { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; };
    std::uint64_t frames = 0;
    do {
        WebSeek(movie, 0);
        WebUpdatePicture(movie, 1);
        TakeSound(movie, info);
        ++frames;
        while (WebNextFrame(movie) == ZAMBERR_NONE) {
            WebUpdatePicture(movie, 0);
            TakeSound(movie, info);
            ++frames;
        }
    } while (elapsed() < seconds);
    std::printf("%.1f\n", static_cast<double>(frames) / elapsed());
    WebDestroy(movie);
    return 0;
}
