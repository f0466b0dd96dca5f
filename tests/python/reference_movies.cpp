// SPDX-License-Identifier: MIT
// Writes every movie kind the library's own tests use into a folder, and beside each what
// the C decoder handle hands out for it, so that the Python module is held to the handle:
//   NAME.zmb         the movie
//   NAME.frames      per frame: the palette (768 bytes), then the picture's indices
//   NAME.trackN.pcm  track N's sound, every frame's chunk in order
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "movie_kinds.h"
#include "zambrel/decoder.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void Append(std::vector<std::uint8_t>& to, const std::uint8_t* bytes, std::size_t size) {
    to.insert(to.end(), bytes, bytes + size);
}

bool WriteReference(const std::string& base, const std::vector<std::uint8_t>& movie) {
    ZambDecoder* decoder = nullptr;
    if (ZambDecoderOpenMemory(movie.data(), movie.size(), 0, &decoder) < 0) return false;
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    std::vector<std::uint8_t> frames, picture(std::size_t{info.Width} * info.Height), chunk;
    std::vector<std::uint8_t> sound[ZAMB_MAX_TRACKS];
    std::uint8_t palette[768];
    ZambError result;
    while ((result = ZambDecoderNextFrame(decoder)) == ZAMBERR_NONE) {
        ZambDecoderGetPalette(decoder, palette);
        ZambDecoderGetPicture(decoder, ZAMBPIX_INDEX8, picture.data(), info.Width, picture.size(),
                              0);
        Append(frames, palette, sizeof palette);
        Append(frames, picture.data(), picture.size());
        for (std::uint32_t track = 0; track < ZAMB_MAX_TRACKS; ++track) {
            if (!info.Tracks[track].Decoded) continue;
            std::size_t bytes = 0;
            ZambDecoderFrameSound(decoder, track, nullptr, 0, &bytes);
            chunk.resize(bytes);
            ZambDecoderFrameSound(decoder, track, chunk.data(), chunk.size(), &bytes);
            Append(sound[track], chunk.data(), bytes);
        }
    }
    ZambDecoderClose(decoder);
    if (result != ZAMBERR_END || !WriteFile(base + ".frames", frames)) return false;
    for (std::uint32_t track = 0; track < ZAMB_MAX_TRACKS; ++track)
        if (info.Tracks[track].Decoded &&
            !WriteFile(base + ".track" + std::to_string(track) + ".pcm", sound[track]))
            return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        const zambrel::encoder::WriteResult written = zambrel::encoder::WriteMovie(kind.recipe);
        const std::string base = std::string(argv[1]) + "/" + kind.name;
        if (!written.ok || !WriteFile(base + ".zmb", written.bytes) ||
            !WriteReference(base, written.bytes)) {
            std::fprintf(stderr, "%s: %s\n", kind.name.c_str(),
                         written.ok ? "could not write its files" : written.error.c_str());
            return 1;
        }
    }
    return 0;
}
