// SPDX-License-Identifier: MIT
// Generated truecolour clips for the encoder's quality benchmark and its tests: each shows a
// kind of material the encoder meets, made on the spot so nothing comes from outside.
#pragma once

#include <png.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace zambrel::clips {

struct Clip {
    std::string name;
    int width = 0, height = 0;
    std::vector<std::vector<std::uint8_t>> frames;  // red, green, blue per pixel
};

inline std::uint8_t Clamp(double v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

// A small, repeatable pseudo-random number per position (no state, so frames are independent).
inline std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

template <typename Pixel>
Clip Make(const std::string& name, int width, int height, int frames, Pixel pixel) {
    Clip clip{name, width, height, {}};
    for (int f = 0; f < frames; ++f) {
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
                pixel(f, x, y, p);
            }
        clip.frames.push_back(std::move(rgb));
    }
    return clip;
}

// Flat animation: a few solid shapes moving over a flat background.
inline Clip FlatAnimation(int width, int height, int frames) {
    return Make("flat animation", width, height, frames, [=](int f, int x, int y, std::uint8_t* p) {
        p[0] = 40, p[1] = 90, p[2] = 160;
        const int cx = (f * 5) % width, cy = height / 2;
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < 900) p[0] = 250, p[1] = 200, p[2] = 40;
        if (x > width - 60 - f % 40 && x < width - 20 - f % 40 && y > 20 && y < 70)
            p[0] = 200, p[1] = 30, p[2] = 60;
    });
}

// Gradients in motion: smooth colour ramps sliding across the picture.
inline Clip MovingGradients(int width, int height, int frames) {
    return Make("gradients in motion", width, height, frames,
                [=](int f, int x, int y, std::uint8_t* p) {
                    p[0] = Clamp(128 + 127 * std::sin((x + 3.0 * f) / 40.0));
                    p[1] = Clamp(255.0 * y / height);
                    p[2] = Clamp(128 + 127 * std::cos((x + y - 2.0 * f) / 60.0));
                });
}

// Photo-like noise: a textured still scene with grain that changes every frame, and a
// slow pan.
inline Clip PhotoNoise(int width, int height, int frames) {
    return Make("photo-like noise", width, height, frames,
                [=](int f, int x, int y, std::uint8_t* p) {
                    const int u = x + f / 2;
                    const double base = 100 + 60 * std::sin(u / 23.0) * std::cos(y / 17.0);
                    const double grain = static_cast<int>(Hash(u, y, f) % 41) - 20;
                    p[0] = Clamp(base + 40 + grain);
                    p[1] = Clamp(base + grain * 0.8);
                    p[2] = Clamp(base - 30 + grain * 0.6 + (Hash(u, y, 7) % 60));
                });
}

// A palette cycle: bands whose colours run through the hues while the picture stands still.
inline Clip PaletteCycle(int width, int height, int frames) {
    return Make("palette cycle", width, height, frames, [=](int f, int x, int y, std::uint8_t* p) {
        const int band = ((x / 8) + (y / 8)) % 32;
        const double hue = (band + f) * 2 * 3.14159265 / 32;
        p[0] = Clamp(128 + 120 * std::sin(hue));
        p[1] = Clamp(128 + 120 * std::sin(hue + 2.094));
        p[2] = Clamp(128 + 120 * std::sin(hue + 4.189));
    });
}

inline std::vector<Clip> AllClips(int width, int height, int frames) {
    return {FlatAnimation(width, height, frames), MovingGradients(width, height, frames),
            PhotoNoise(width, height, frames), PaletteCycle(width, height, frames)};
}

// Writes one frame as a truecolour PNG.
inline bool WriteRgbPng(const std::string& path, int width, int height,
                        const std::vector<std::uint8_t>& rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

// Peak signal-to-noise ratio in dB of `shown` against `source` (both red, green, blue).
inline double Psnr(const std::vector<std::uint8_t>& source,
                   const std::vector<std::uint8_t>& shown) {
    double sum = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const double d = double(source[i]) - shown[i];
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(source.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace zambrel::clips
