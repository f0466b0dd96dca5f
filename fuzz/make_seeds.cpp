// SPDX-License-Identifier: MIT
// Writes the harnesses' starting corpora: movies from the movie writer in a spread of shapes,
// and the pieces of them (trees, sound chunks, palette chunks) that the part harnesses take.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "encoder/writer.h"

namespace {

using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;
using Bytes = std::vector<std::uint8_t>;

void PutWord(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t WordAt(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t{bytes[at + i]} << (8 * i);
    return value;
}

bool Save(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Moving stripes over a palette whose levels change from frame to frame.
std::vector<Picture> Pictures(std::uint32_t width, std::uint32_t height, std::uint32_t count) {
    std::vector<Picture> pictures(count);
    for (std::uint32_t f = 0; f < count; ++f) {
        Picture& p = pictures[f];
        p.pixels.resize(std::size_t{width} * height);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                p.pixels[y * width + x] =
                    static_cast<std::uint8_t>(((x + f) / 4 + y / 3) % 7 + (x * y + f) % 3 * 40);
        for (int i = 0; i < 768; ++i)
            p.palette[i] =
                zambrel::encoder::WidenLevel(static_cast<std::uint8_t>((i + f * (i % 3)) % 64));
    }
    return pictures;
}

std::vector<MovieRecipe> Recipes() {
    std::vector<MovieRecipe> recipes;
    auto add = [&](std::uint32_t w, std::uint32_t h, std::uint32_t frames) -> MovieRecipe& {
        MovieRecipe recipe;
        recipe.width = w;
        recipe.height = h;
        recipe.pictures = Pictures(w, h, frames);
        recipes.push_back(recipe);
        return recipes.back();
    };
    add(4, 4, 1);
    add(16, 16, 4);
    add(32, 8, 3).ring = true;
    add(8, 16, 2).interlaced = true;
    add(8, 8, 2).doubled = true;
    add(16, 8, 3).stream.treeShape = zambrel::encoder::TreeShape::Lopsided;
    add(16, 8, 2).stream.escapes = zambrel::encoder::EscapeUse::Never;
    {
        MovieRecipe& s = add(12, 12, 3);
        s.stream.fullBlocksOnly = true;
        s.stream.overlongLastRun = true;
        s.stream.paletteEveryFrame = true;
    }
    add(8, 8, 2).stream.noSkip = true;
    {
        MovieRecipe& s = add(16, 16, 4);
        s.frameRate = 50;
        // One palette throughout, so that later frames open with their sound chunks.
        for (Picture& p : s.pictures) p.palette = s.pictures[0].palette;
        auto& mono = s.tracks[0];
        mono.present = true;
        mono.samples.resize(4000);
        for (std::size_t i = 0; i < mono.samples.size(); ++i)
            mono.samples[i] = static_cast<std::uint8_t>(128 + (i * 5 % 61) - 30);
        auto& wide = s.tracks[1];
        wide.present = true;
        wide.is16Bit = wide.stereo = true;
        wide.samples.resize(8000);
        for (std::size_t i = 0; i < wide.samples.size(); ++i)
            wide.samples[i] = static_cast<std::uint8_t>(i * 13 ^ (i >> 3));
        auto& raw = s.tracks[2];
        raw.present = true;
        raw.compressed = false;
        raw.samples.assign(1000, 0x80);
        raw.emptyChunks = true;
    }
    return recipes;
}

// The header's tree sizes followed by the tree data, as the tree harness takes them: each
// size as its count of nodes shifted up by four, with no shift down.
Bytes TreeSeed(const Bytes& movie, const zambrel::encoder::MovieLayout& layout) {
    Bytes seed;
    for (std::uint32_t size : layout.treeSizes) PutWord(seed, size / 4 << 4);
    const std::size_t at = 104 + 5 * std::size_t{layout.storedFrames};
    seed.insert(seed.end(), movie.begin() + at, movie.begin() + at + layout.treeDataSize);
    return seed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    for (const char* part : {"movie", "trees", "audio", "palette", "decoder"})
        std::filesystem::create_directories(root / part);
    int n = 0;
    for (const MovieRecipe& recipe : Recipes()) {
        const auto result = zambrel::encoder::WriteMovie(recipe);
        if (!result.ok) {
            std::fprintf(stderr, "seed %d: %s\n", n, result.error.c_str());
            return 1;
        }
        const std::string name = "seed" + std::to_string(n++);
        bool ok = Save(root / "movie" / name, result.bytes);
        ok = Save(root / "decoder" / name, result.bytes) && ok;
        ok = Save(root / "trees" / name, TreeSeed(result.bytes, result.layout)) && ok;
        std::uint32_t at = result.layout.firstFrameOffset;
        for (std::size_t f = 0; f < result.layout.frameSizes.size(); ++f) {
            const std::uint32_t size = result.layout.frameSizes[f];
            const Bytes frame(result.bytes.begin() + at, result.bytes.begin() + at + size);
            at += size;
            const std::string frameName = name + "-" + std::to_string(f);
            // A frame opens with its palette chunk, then its sound chunks: whole frames make
            // good starting points for both part harnesses, which find the pieces themselves.
            if (result.layout.frameTypes[f] & 0x01) {
                Bytes palette(768, 0);
                palette.insert(palette.end(), frame.begin(), frame.end());
                ok = Save(root / "palette" / frameName, palette) && ok;
            }
            if ((result.layout.frameTypes[f] & 0x03) == 0x02 && frame.size() > 8) {
                Bytes audio;
                PutWord(audio, WordAt(frame, 4) << 4);  // the declared size, unshifted
                PutWord(audio, 8192);
                PutWord(audio, 0);
                audio.insert(audio.end(), frame.begin() + 8, frame.end());
                ok = Save(root / "audio" / frameName, audio) && ok;
            }
        }
        if (!ok) {
            std::fprintf(stderr, "cannot write seeds under %s\n", argv[1]);
            return 1;
        }
    }
    std::printf("%d seed movies under %s\n", n, argv[1]);
    return 0;
}
