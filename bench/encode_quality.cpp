// SPDX-License-Identifier: MIT
// The encoder's quality table: generated truecolour clips encoded by zmbtool at several
// settings, each decoded again and compared with its source. Prints, per clip and setting,
// bytes per frame, PSNR of the decoded movie against the truecolour source, and encoding
// speed, as the Markdown table of docs/encoder-quality.md.
//
// usage: encode_quality [ZMBTOOL [FRAMES [PHOTO.png...]]]. Given photographs (RGB PNGs at
// least 320x240), it measures pans across each of them instead of the generated clips.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <png.h>
#include <unistd.h>

#include <cmath>

#include "encode_clips.h"

namespace {

namespace fs = std::filesystem;
using zambrel::clips::Clip;

constexpr int kWidth = 320, kHeight = 240;

const char* const kSettings[] = {
    "--lossless",
    "--quality 95",
    "--quality 90",
    "--quality 85",
    "--quality 80",
    "--quality 70",
    "--quality 60",
    "--quality 50",
    "--quality 90 --dither",
    "--quality 90 --palette movie",
};

int Run(const std::string& command) {
    return std::system((command + " > /dev/null 2>&1").c_str());
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The mean squared error per channel over all frames of a `zmbtool decode --raw` file
// (palette, then indices, per frame) against the clip; -1 when the file does not fit it.
double MeanSquaredError(const std::vector<std::uint8_t>& raw, const Clip& clip) {
    const std::size_t pixels = std::size_t{kWidth} * kHeight, frameBytes = 768 + pixels;
    if (raw.size() != frameBytes * clip.frames.size()) return -1;
    double sum = 0;
    for (std::size_t f = 0; f < clip.frames.size(); ++f) {
        const std::uint8_t* palette = &raw[f * frameBytes];
        const std::uint8_t* indices = palette + 768;
        for (std::size_t i = 0; i < pixels; ++i)
            for (int c = 0; c < 3; ++c) {
                const double d = double(clip.frames[f][i * 3 + c]) - palette[indices[i] * 3 + c];
                sum += d * d;
            }
    }
    return sum / (3.0 * pixels * clip.frames.size());
}

void Measure(const std::string& tool, const Clip& clip, const fs::path& folder) {
    for (const char* setting : kSettings) {
        const fs::path movie = folder / "clip.zmb", raw = folder / "clip.raw";
        const auto start = std::chrono::steady_clock::now();
        const int status = Run(tool + " encode --force " + (folder / "f%04d.png").string() + " " +
                               movie.string() + " " + setting);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != 0 ||
            Run(tool + " decode --force " + movie.string() + " --raw " + raw.string())) {
            std::printf("| %s | %s | failed | | |\n", clip.name.c_str(), setting);
            continue;
        }
        const double mse = MeanSquaredError(ReadAll(raw), clip);
        const double psnr = mse <= 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
        std::printf("| %s | %s | %.0f | %.1f | %.0f |\n", clip.name.c_str(), setting,
                    double(fs::file_size(movie)) / clip.frames.size(), psnr,
                    clip.frames.size() / seconds);
        std::fflush(stdout);
    }
}

// A slow diagonal pan of the window across the photograph at PATH, from its top left to its
// bottom right over FRAMES frames: every pixel changes, as in a camera move.
bool PhotoPan(const std::string& path, int frames, Clip* clip) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> photo(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, photo.data(), 0, nullptr)) return false;
    const int width = static_cast<int>(image.width), height = static_cast<int>(image.height);
    if (width < kWidth || height < kHeight) return false;
    clip->name = "photo pan (" + fs::path(path).stem().string() + ")";
    clip->width = kWidth;
    clip->height = kHeight;
    for (int f = 0; f < frames; ++f) {
        const double along = frames > 1 ? double(f) / (frames - 1) : 0;
        const int left = static_cast<int>(std::lround(along * (width - kWidth)));
        const int top = static_cast<int>(std::lround(along * (height - kHeight)));
        std::vector<std::uint8_t> frame;
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t* row = photo.data() + (std::size_t(top + y) * width + left) * 3;
            frame.insert(frame.end(), row, row + kWidth * 3);
        }
        clip->frames.push_back(std::move(frame));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string tool = argc > 1 && argv[1][0] != 0 ? argv[1] : ZMBTOOL_PATH;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 60;
    const fs::path folder =
        fs::temp_directory_path() / ("zambrel-quality-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::printf("%d frames of %dx%d at 15 frames a second; raw indices are %d bytes a frame.\n\n",
                frames, kWidth, kHeight, kWidth * kHeight);
    std::printf("| clip | setting | bytes per frame | PSNR (dB) | frames encoded per second |\n");
    std::printf("|---|---|---:|---:|---:|\n");
    std::vector<Clip> clips;
    for (int i = 3; i < argc; ++i) {
        Clip pan;
        if (!PhotoPan(argv[i], frames, &pan)) {
            std::fprintf(stderr, "encode_quality: %s: not an RGB PNG of at least %dx%d\n", argv[i],
                         kWidth, kHeight);
            return 1;
        }
        clips.push_back(std::move(pan));
    }
    if (clips.empty()) clips = zambrel::clips::AllClips(kWidth, kHeight, frames);
    for (const Clip& clip : clips) {
        for (std::size_t f = 0; f < clip.frames.size(); ++f) {
            char name[32];
            std::snprintf(name, sizeof name, "f%04zu.png", f);
            zambrel::clips::WriteRgbPng((folder / name).string(), kWidth, kHeight, clip.frames[f]);
        }
        Measure(tool, clip, folder);
    }
    fs::remove_all(folder);
    return 0;
}
