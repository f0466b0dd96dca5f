// SPDX-License-Identifier: MIT
// The demo movie: ten seconds of a little landscape with bouncing balls, a cycling sun, dusk
// falling halfway through, and a stereo tune, all made up on the spot.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "encoder/writer.h"

namespace {

using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;
using zambrel::encoder::SoundTrack;
using zambrel::encoder::WidenLevel;

constexpr std::uint32_t kWidth = 320, kHeight = 240;
constexpr int kFrames = 150;
constexpr std::int32_t kFrameRate = -6666;  // 66.66 ms: 15 frames a second
constexpr std::uint32_t kSampleRate = 22050;
constexpr double kPi = 3.14159265358979323846;

// Palette layout.
constexpr int kSkyFirst = 16, kSkyShades = 42;  // one shade per 5 rows of sky
constexpr int kHill = 70, kGroundA = 60, kGroundB = 61;
constexpr int kBallFirst = 100, kBallShades = 8;  // three balls of 8 shades each
constexpr int kSunFirst = 200, kSunRings = 32;    // rotated one place every frame
constexpr int kHorizon = 208;

struct Rgb {
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void SetEntry(Picture& picture, int index, Rgb colour) {
    auto level = [](double v) {
        const double clamped = v < 0 ? 0 : v > 1 ? 1 : v;
        return WidenLevel(static_cast<std::uint8_t>(std::lround(clamped * 63)));
    };
    picture.palette[3 * index] = level(colour.r);
    picture.palette[3 * index + 1] = level(colour.g);
    picture.palette[3 * index + 2] = level(colour.b);
}

// Day until frame 70, dusk from frame 90, a gradual change between.
double Dusk(int frame) {
    if (frame <= 70) return 0;
    if (frame >= 90) return 1;
    return (frame - 70) / 20.0;
}

void MakePalette(Picture& picture, int frame) {
    const double dusk = Dusk(frame);
    for (int i = 0; i < kSkyShades; ++i) {
        const double t = i / double(kSkyShades - 1);
        const Rgb day = Mix({0.15, 0.35, 0.85}, {0.65, 0.85, 1.0}, t);
        const Rgb evening = Mix({0.20, 0.05, 0.35}, {1.0, 0.55, 0.20}, t);
        SetEntry(picture, kSkyFirst + i, Mix(day, evening, dusk));
    }
    SetEntry(picture, kHill, Mix({0.15, 0.45, 0.15}, {0.10, 0.15, 0.20}, dusk));
    SetEntry(picture, kGroundA, Mix({0.55, 0.40, 0.20}, {0.25, 0.18, 0.15}, dusk));
    SetEntry(picture, kGroundB, Mix({0.45, 0.30, 0.15}, {0.20, 0.12, 0.12}, dusk));
    const std::array<Rgb, 3> balls{{{1.0, 0.2, 0.2}, {0.2, 0.9, 0.3}, {0.3, 0.4, 1.0}}};
    for (int b = 0; b < 3; ++b)
        for (int s = 0; s < kBallShades; ++s)
            SetEntry(picture, kBallFirst + b * kBallShades + s,
                     Mix(balls[b], {1, 1, 1}, 0.6 * (1 - s / double(kBallShades - 1))));
    // The sun's rings glow in waves: the colours move round one entry per frame.
    for (int ring = 0; ring < kSunRings; ++ring) {
        const double wave = 0.5 + 0.5 * std::sin(2 * kPi * (ring + frame) / kSunRings);
        SetEntry(picture, kSunFirst + ring, Mix({1.0, 0.6, 0.1}, {1.0, 0.95, 0.5}, wave));
    }
}

void DrawBackground(std::vector<std::uint8_t>& pixels, int frame) {
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            std::uint8_t p;
            const double hill = 170 + 15 * std::sin(x / 30.0) + 6 * std::sin(x / 11.0 + 1);
            if (y >= kHorizon) {
                const std::uint32_t shifted = x + 2 * static_cast<std::uint32_t>(frame);
                p = ((shifted / 8 + y / 8) & 1) ? kGroundA : kGroundB;
            } else if (y >= hill) {
                p = kHill;
            } else {
                p = static_cast<std::uint8_t>(kSkyFirst + y / 5);
                const double dx = x - 262.0, dy = y - 48.0;
                const double distance = std::sqrt(dx * dx + dy * dy);
                if (distance < 24)
                    p = static_cast<std::uint8_t>(kSunFirst + int(distance * 1.3) % kSunRings);
            }
            pixels[y * kWidth + x] = p;
        }
    }
}

void DrawBall(std::vector<std::uint8_t>& pixels, double cx, double cy, double radius, int first) {
    for (int y = int(cy - radius); y <= int(cy + radius); ++y) {
        for (int x = int(cx - radius); x <= int(cx + radius); ++x) {
            if (x < 0 || y < 0 || x >= int(kWidth) || y >= int(kHeight)) continue;
            const double dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy > radius * radius) continue;
            // Lit from the top left.
            const double hx = x - (cx - radius / 3), hy = y - (cy - radius / 3);
            const double light = std::sqrt(hx * hx + hy * hy) / (1.4 * radius);
            const int shade = std::min(kBallShades - 1, int(light * kBallShades));
            pixels[y * kWidth + x] = static_cast<std::uint8_t>(first + shade);
        }
    }
}

Picture MakeFrame(int frame) {
    Picture picture;
    picture.pixels.resize(kWidth * kHeight);
    DrawBackground(picture.pixels, frame);
    const double t = frame / 15.0;
    for (int b = 0; b < 3; ++b) {
        const double radius = 14 + 4 * b;
        const double x = 40 + b * 90 + 30 * std::sin(t * (0.9 + 0.3 * b));
        const double bounce = std::fabs(std::sin(t * (2.2 - 0.4 * b) + b));
        const double y = kHorizon - radius - bounce * (90 - 15 * b);
        DrawBall(picture.pixels, x, y, radius, kBallFirst + b * kBallShades);
    }
    MakePalette(picture, frame);
    return picture;
}

// A plucked arpeggio over four chords, with a bass and the notes panned left and right.
SoundTrack MakeTune() {
    SoundTrack track;
    track.present = true;
    track.sampleRate = kSampleRate;
    track.is16Bit = true;
    track.stereo = true;
    const std::size_t frames = std::size_t(kFrames) * 6666 * kSampleRate / 100000;
    std::vector<double> left(frames), right(frames);
    const std::array<std::array<int, 4>, 4> chords{
        {{0, 4, 7, 12}, {7, 11, 14, 19}, {9, 12, 16, 21}, {5, 9, 12, 17}}};
    const double noteSeconds = 0.625 / 4;  // 96 beats a minute, four notes a beat
    auto pluck = [&](double start, double freq, double gain, double pan) {
        const std::size_t first = std::size_t(start * kSampleRate);
        for (std::size_t i = 0; i < std::size_t(1.2 * kSampleRate) && first + i < frames; ++i) {
            const double s = i / double(kSampleRate);
            const double v = gain * std::exp(-4.0 * s) *
                             (std::sin(2 * kPi * freq * s) + 0.3 * std::sin(4 * kPi * freq * s));
            left[first + i] += v * (1 - pan);
            right[first + i] += v * pan;
        }
    };
    const double root = 261.63;  // C
    int note = 0;
    for (double start = 0; start < frames / double(kSampleRate); start += noteSeconds, ++note) {
        const auto& chord = chords[(note / 16) % 4];
        const int step = note % 8 < 4 ? note % 4 : 7 - note % 8;  // up and down again
        pluck(start, root * std::pow(2.0, chord[step] / 12.0), 0.16, note % 2 ? 0.75 : 0.25);
        if (note % 8 == 0) pluck(start, root / 4 * std::pow(2.0, chord[0] / 12.0), 0.3, 0.5);
    }
    for (std::size_t i = 0; i < frames; ++i) {
        for (double v : {left[i], right[i]}) {
            const double fade = std::min(1.0, (frames - i) / (0.5 * kSampleRate));
            const auto sample = static_cast<std::int16_t>(std::lround(std::tanh(v) * fade * 28000));
            track.samples.push_back(static_cast<std::uint8_t>(sample & 0xFF));
            track.samples.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
        }
    }
    return track;
}

// The first frame carries a quarter second of sound beyond its own share, and every later
// frame its share that much earlier: a player moves on once the sound has reached a frame,
// and without sound in hand the device would run dry at every frame.
void GiveTheSoundALead(SoundTrack& track) {
    constexpr std::uint64_t kFrameBytes = 4;  // 16-bit stereo
    const std::uint64_t total = track.samples.size() / kFrameBytes;
    const std::uint64_t lead = kSampleRate / 4;
    std::uint64_t given = 0;
    for (int f = 0; f < kFrames; ++f) {
        const std::uint64_t end = std::min(total, (f + 1) * total / kFrames + lead);
        track.chunkBytes.push_back(static_cast<std::uint32_t>((end - given) * kFrameBytes));
        given = end;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zambrel_demo_generator OUTPUT.zmb\n");
        return 2;
    }
    MovieRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    recipe.frameRate = kFrameRate;
    for (int f = 0; f < kFrames; ++f) recipe.pictures.push_back(MakeFrame(f));
    recipe.tracks[0] = MakeTune();
    GiveTheSoundALead(recipe.tracks[0]);
    std::string error;
    if (!zambrel::encoder::WriteMovieFile(recipe, argv[1], &error)) {
        std::fprintf(stderr, "zambrel_demo_generator: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
