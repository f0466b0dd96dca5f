// SPDX-License-Identifier: MIT
// Presenting writer-made movies in every mode and reading the picture back from the screen;
// rectangle batching, palettes, clipping, foreground changes and the progress bar.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/movie_names.h"
#include "display/present.h"
#include "display/window.h"
#include "display_fixture.h"
#include "encoder/writer.h"
#include "platform/standin/kernel/seams.h"

namespace {

namespace enc = zambrel::encoder;

constexpr std::uint32_t kStandard = 24;
constexpr std::uint32_t kSection = 25;
constexpr std::uint32_t kNoFrame = 0x4200;

// Sixteen well separated colours at indices 16 to 31, so 16-bit rounding cannot confuse two.
std::array<std::uint8_t, enc::kPaletteBytes> TestPalette() {
    std::array<std::uint8_t, enc::kPaletteBytes> p{};
    for (int i = 0; i < 16; ++i) {
        p[3 * (16 + i) + 0] =
            enc::WidenLevel(static_cast<std::uint8_t>((i & 1) ? 63 : 8 * (i & 6) / 2));
        p[3 * (16 + i) + 1] =
            enc::WidenLevel(static_cast<std::uint8_t>((i & 2) ? 48 : 4 * (i >> 2)));
        p[3 * (16 + i) + 2] = enc::WidenLevel(static_cast<std::uint8_t>((i & 4) ? 56 : 2 + i));
    }
    return p;
}

// Blocks of random colours that change between frames in a few places.
std::vector<std::uint8_t> MakeMovie(std::uint32_t width, std::uint32_t height, int frames) {
    enc::MovieRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    std::srand(7);
    std::vector<std::uint8_t> pixels(width * height);
    for (std::uint32_t by = 0; by < height; by += 4)
        for (std::uint32_t bx = 0; bx < width; bx += 4) {
            auto colour = static_cast<std::uint8_t>(16 + std::rand() % 16);
            for (std::uint32_t y = 0; y < 4; ++y)
                for (std::uint32_t x = 0; x < 4; ++x) pixels[(by + y) * width + bx + x] = colour;
        }
    for (int f = 0; f < frames; ++f) {
        enc::Picture picture;
        picture.palette = TestPalette();
        picture.pixels = pixels;
        recipe.pictures.push_back(picture);
        for (int n = 0; n < 6; ++n) {
            std::uint32_t x = static_cast<std::uint32_t>(std::rand()) % width;
            std::uint32_t y = static_cast<std::uint32_t>(std::rand()) % height;
            pixels[y * width + x] = static_cast<std::uint8_t>(16 + std::rand() % 16);
        }
    }
    enc::WriteResult written = enc::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

Movie* OpenMovie(const std::vector<std::uint8_t>& bytes) {
    HANDLE file = standin::OpenMemoryFile(bytes.data(), bytes.size());
    Movie* movie = ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_PRELOAD, 0xFFFFFFFFu);
    EXPECT_NE(movie, nullptr);
    return movie;
}

// What the screen shows for a palette colour: 16-bit screens keep the top bits only.
COLORREF OnScreen(BYTE r, BYTE g, BYTE b) {
    standin::ScreenFormat f = standin::CurrentScreen();
    if (f.bits != 16) return RGB(r, g, b);
    auto widen5 = [](int v) { return static_cast<BYTE>((v << 3) | (v >> 2)); };
    auto widen6 = [](int v) { return static_cast<BYTE>((v << 2) | (v >> 4)); };
    if (f.rgb555) return RGB(widen5(r >> 3), widen5(g >> 3), widen5(b >> 3));
    return RGB(widen5(r >> 3), widen6(g >> 2), widen5(b >> 3));
}

std::uint8_t BufferPixel(const Display* d, std::uint32_t x, std::uint32_t y) {
    std::uint32_t row = d->BottomUp ? d->Height - 1 - y : y;
    return d->Buffer[row * d->Pitch + x];
}

COLORREF TableColour(const Display* d, std::uint8_t index) {
    const std::uint8_t* c = d->ColorTable + 4 * index;
    return OnScreen(c[2], c[1], c[0]);
}

struct Placement {
    int left, top;  // where picture pixel (0, 0) is on the screen
    int scale = 1;  // 2 for doubled pictures
    bool interlaced = false;
};

// Counts picture pixels whose screen colour differs from their palette colour.
int Mismatches(const Display* d, const Placement& at, std::uint32_t width, std::uint32_t height) {
    int wrong = 0;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            COLORREF want = TableColour(d, BufferPixel(d, x, y));
            for (int dy = 0; dy < at.scale; ++dy)
                for (int dx = 0; dx < at.scale; ++dx) {
                    int sx = at.left + at.scale * static_cast<int>(x) + dx;
                    int sy = at.top + at.scale * static_cast<int>(y) + dy;
                    COLORREF expect = at.interlaced && dy == 1 ? RGB(0, 0, 0) : want;
                    if (standin::ScreenColor(sx, sy) != expect) ++wrong;
                }
        }
    return wrong;
}

Placement ClientPlacement(int scale = 1, bool interlaced = false) {
    POINT origin{0, 0};
    ClientToScreen(DisplayWindow(), &origin);
    return {origin.x, origin.y, scale, interlaced};
}

class PresentTest : public DisplayTest {
  protected:
    void SetUp() override {
        DisplayTest::SetUp();
        standin::UseTestClock(1000);
        DisplaySetTitle("ZambPlay");
        DisplaySetStretch(0, 0);
    }
    void TearDown() override {
        ZambClose(movie_);
        movie_ = nullptr;
        DisplayClose();
        DisplaySetStretch(0, 0);
        standin::UseRealClock();
        DisplayTest::TearDown();
    }

    // The player's frame loop without its waiting: palette, decode, present, advance.
    void PlayFrame() {
        Display* d = DisplayCurrent();
        if (movie_->PaletteChanged) {
            DisplaySetPalette(d, movie_->Palette);
            if (d->FreeCount < 256)
                ZambRemapColours(movie_, d->ColorTable, d->PaletteEntries, d->PaletteType);
        }
        ZambDoFrame(movie_);
        DisplayPresentChanges(movie_);
        ZambNextFrame(movie_);
        DisplayPumpMessages();
    }

    Display* Open(std::uint32_t width, std::uint32_t height, std::int32_t x, std::int32_t y,
                  std::uint32_t flags, int frames = 3) {
        movie_ = OpenMovie(MakeMovie(width, height, frames));
        if (!movie_ || !DisplayOpen(width, height, x, y, flags)) return nullptr;
        DisplayBindMovie(movie_, 0, 0);
        return DisplayCurrent();
    }

    // Plays every frame and checks the picture after each.
    void PlayAndCompare(const Placement& at, int frames = 3) {
        Display* d = DisplayCurrent();
        for (int f = 0; f < frames; ++f) {
            PlayFrame();
            ASSERT_EQ(Mismatches(d, at, movie_->Width, movie_->Height), 0) << "frame " << f;
        }
    }

    Movie* movie_ = nullptr;
};

}  // namespace

TEST_F(PresentTest, StandardDibsOnATrueColourScreen) {
    UseScreen(32);
    Display* d = Open(128, 96, 40, 40, kStandard);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Mode, 4u);
    PlayAndCompare(ClientPlacement());
}

TEST_F(PresentTest, StandardDibsStretchedTwice) {
    UseScreen(32);
    DisplaySetStretch(256, 192);
    Display* d = Open(128, 96, 40, 40, kStandard);
    ASSERT_NE(d, nullptr);
    PlayAndCompare(ClientPlacement(2));
}

TEST_F(PresentTest, StandardDibsWithoutDibSectionsAreBottomUp) {
    UseScreen(32);
    Hide("dibsection,wing");
    Display* d = Open(128, 96, 40, 40, kStandard);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->BottomUp, 1u);
    PlayAndCompare(ClientPlacement());
}

TEST_F(PresentTest, DibSectionThroughGdi) {
    UseScreen(32);
    Display* d = Open(128, 96, 40, 40, kSection);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Blit, nullptr);
    PlayAndCompare(ClientPlacement());
    DisplayClose();
    UseScreen(32);
    Hide("dibsection");
    ZambClose(movie_);
    d = Open(128, 96, 40, 40, kSection);
    ASSERT_NE(d, nullptr);
    PlayAndCompare(ClientPlacement());
}

TEST_F(PresentTest, EightBitScreenThroughTheRemappedPalette) {
    Display* d = Open(128, 96, 40, 40, kSection | kDisplayNoDirectDraw);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->FreeCount, 236u);
    PlayAndCompare(ClientPlacement());
}

struct DirectCase {
    int bits;
    std::uint32_t stretch;  // 1 or 2
    std::uint32_t options;  // display flags
    bool interlaced;
};

class DirectPresentTest : public PresentTest, public ::testing::WithParamInterface<DirectCase> {};

TEST_P(DirectPresentTest, FramesAppearExactlyAsDecoded) {
    const DirectCase& c = GetParam();
    UseScreen(c.bits);
    DisplaySetStretch(static_cast<std::int32_t>(128 * c.stretch),
                      static_cast<std::int32_t>(96 * c.stretch));
    Display* d = Open(128, 96, 40, 40, kSection | c.options);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->Blit, nullptr);
    PlayAndCompare(ClientPlacement(static_cast<int>(c.stretch), c.interlaced));
    EXPECT_EQ(d->Accelerated, 1u);
    char text[kDisplayDescribeCapacity];
    EXPECT_NE(std::strstr(DisplayDescribe(d, text), "DIBSection with accelerated blitting ("),
              nullptr);
}

INSTANTIATE_TEST_SUITE_P(Screens, DirectPresentTest,
                         ::testing::Values(DirectCase{8, 1, 0, false}, DirectCase{16, 1, 0, false},
                                           DirectCase{8, 2, 0, false}, DirectCase{16, 2, 0, false},
                                           DirectCase{16, 2, kDisplayInterlaced, true},
                                           DirectCase{8, 2, kDisplayInterlaced, true}));

TEST_F(PresentTest, SmoothedDoublingFillsTheDoubledArea) {
    UseScreen(16);
    DisplaySetStretch(256, 192);
    Display* d = Open(128, 96, 40, 40, kSection | kDisplaySmoothing);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->BlitFlags, 0xC0000004u);
    PlayFrame();
    Placement at = ClientPlacement();
    // Smoothing blends neighbours, but a pixel inside a block of one colour keeps it.
    int wrong = 0;
    for (std::uint32_t by = 0; by < 96; by += 4)
        for (std::uint32_t bx = 0; bx < 128; bx += 4) {
            std::uint8_t index = BufferPixel(d, bx + 1, by + 1);
            if (standin::ScreenColor(at.left + 2 * static_cast<int>(bx) + 3,
                                     at.top + 2 * static_cast<int>(by) + 3) !=
                TableColour(d, index))
                ++wrong;
        }
    EXPECT_LT(wrong, 10);  // a few blocks hold a changed single pixel
}

TEST_F(PresentTest, FullScreenModesShowTheBuffer) {
    struct Case {
        std::uint32_t flags;
        int screenHeight;
    } cases[] = {{22, 240}, {23 | kDisplayDoubleBuffer, 200}, {23, 200}};
    for (const Case& c : cases) {
        UseScreen(8);
        Display* d = Open(320, 200, -1, -1, c.flags);
        ASSERT_NE(d, nullptr);
        for (int f = 0; f < 3; ++f) PlayFrame();
        ASSERT_EQ(standin::CurrentScreen().height, c.screenHeight);
        int top = (c.screenHeight - static_cast<int>(d->Height)) / 2;
        if (d->Mode == 3) top = 0;
        EXPECT_EQ(Mismatches(d, {0, top}, 320, 200), 0) << "flags " << c.flags;
        ZambClose(movie_);
        movie_ = nullptr;
        DisplayClose();
    }
}

TEST_F(PresentTest, FullScreenPresentsAreWhole) {
    Display* d = Open(320, 200, -1, -1, 23 | kDisplayDoubleBuffer, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 8, 8, 16, 16), kPresentedWhole);
    DisplayClose();
    ZambClose(movie_);
    UseScreen(8);
    d = Open(320, 200, -1, -1, 23, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 8, 8, 16, 16), 0u);
    EXPECT_EQ(DisplayRealizePalette(d), 0u);
}

TEST_F(PresentTest, FullRectangleListPresentsAtOnce) {
    UseScreen(32);
    Display* d = Open(320, 240, 0, 0, kStandard | kNoFrame, 1);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->RectCapacity, 150u);
    PlayFrame();
    Placement at = ClientPlacement();
    DisplayBeginRects(d);
    std::memset(d->Buffer, 20, d->Pitch * d->Height);
    // 151 one-pixel rectangles along the top rows.
    for (int i = 0; i < 151; ++i) DisplayPresent(d, nullptr, 0, 0, i % 300, i / 300, 1, 1);
    EXPECT_EQ(d->RectCount, 150u);
    COLORREF fresh = TableColour(d, 20);
    EXPECT_EQ(standin::ScreenColor(at.left + 150, at.top), fresh);  // the 151st, at once
    EXPECT_NE(standin::ScreenColor(at.left + 149, at.top), fresh);
    EXPECT_EQ(DisplayEndRects(d), 0u);
    EXPECT_EQ(standin::ScreenColor(at.left + 0, at.top), fresh);
    EXPECT_EQ(standin::ScreenColor(at.left + 149, at.top), fresh);
    EXPECT_NE(standin::ScreenColor(at.left + 151, at.top), fresh);
    EXPECT_EQ(d->RectMode, 0u);
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 0, 0, 0, 5), 0u);
}

TEST_F(PresentTest, PaletteChangeOnASixteenBitScreenRedrawsOnce) {
    UseScreen(16);
    Display* d = Open(128, 96, 40, 40, kSection | kDisplayNoDirectDraw, 1);
    ASSERT_NE(d, nullptr);
    PlayFrame();
    std::array<std::uint8_t, 768> palette = TestPalette();
    palette[3 * 20] = 255;
    DisplaySetPalette(d, palette.data());
    EXPECT_EQ(d->PaletteChanged, 1u);
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 0, 0, 4, 4), kPresentedWhole);
    EXPECT_EQ(Mismatches(d, ClientPlacement(), 128, 96), 0);
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 0, 0, 4, 4), 0u);
    // On an 8-bit screen the same change only realises the new palette.
    DisplayClose();
    ZambClose(movie_);
    UseScreen(8);
    d = Open(128, 96, 40, 40, kSection | kDisplayNoDirectDraw, 1);
    DisplaySetPalette(d, palette.data());
    EXPECT_EQ(d->PaletteChanged, 0u);
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 0, 0, 4, 4), 0u);
}

TEST_F(PresentTest, MovieColoursAvoidTheStaticEntries) {
    Display* d = Open(64, 64, 0, 0, kStandard, 1);
    ASSERT_NE(d, nullptr);
    std::uint8_t system[1024];
    std::memcpy(system, d->ColorTable, sizeof system);
    std::uint8_t palette[768];
    for (int i = 0; i < 256; ++i) {
        palette[3 * i] = static_cast<std::uint8_t>(i);
        palette[3 * i + 1] = 1;
        palette[3 * i + 2] = 2;
    }
    palette[3 * 100] = palette[3 * 100 + 1] = palette[3 * 100 + 2] = 255;  // the static white
    DisplaySetPalette(d, palette);
    EXPECT_EQ(std::memcmp(d->ColorTable, system, 40), 0);
    EXPECT_EQ(std::memcmp(d->ColorTable + 4 * 246, system + 4 * 246, 40), 0);
    EXPECT_EQ(d->ColorTable[4 * 100 + 2], 254);
    EXPECT_EQ(d->ColorTable[4 * 100 + 1], 255);
    EXPECT_EQ(d->ColorTable[4 * 100 + 0], 255);
    EXPECT_EQ(d->ColorTable[4 * 50 + 2], 50);
    EXPECT_EQ(d->ColorTable[4 * 50 + 0], 2);
    EXPECT_EQ(d->HasContent, 1u);
}

TEST_F(PresentTest, WindowHalfOffTheLeftEdgeIsTrimmed) {
    for (std::uint32_t scale : {1u, 2u}) {
        UseScreen(16);
        DisplaySetStretch(static_cast<std::int32_t>(128 * scale),
                          static_cast<std::int32_t>(96 * scale));
        Display* d = Open(128, 96, -64 * static_cast<int>(scale), 40, kSection | kNoFrame, 1);
        ASSERT_NE(d, nullptr);
        ASSERT_NE(d->Blit, nullptr);
        Placement at = ClientPlacement(static_cast<int>(scale));
        ASSERT_EQ(at.left, -64 * static_cast<int>(scale));
        PlayFrame();
        EXPECT_EQ(d->ClipRect[0], 0);
        // The visible half shows the picture's right half; the trimmed columns are not drawn.
        int wrong = 0;
        for (std::uint32_t y = 0; y < 96; ++y)
            for (std::uint32_t x = 64; x < 128; ++x)
                if (standin::ScreenColor(at.left + static_cast<int>(scale * x),
                                         at.top + static_cast<int>(scale * y)) !=
                    TableColour(d, BufferPixel(d, x, y)))
                    ++wrong;
        EXPECT_EQ(wrong, 0) << "scale " << scale;
        ZambClose(movie_);
        movie_ = nullptr;
        DisplayClose();
    }
}

TEST_F(PresentTest, RegainingTheForegroundRedrawsTheWholePicture) {
    UseScreen(16);
    DisplaySetStretch(256, 192);
    Display* d = Open(128, 96, 40, 40, kSection | kDisplayInterlaced, 1);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->Blit, nullptr);
    PlayFrame();
    EXPECT_EQ(d->DirectActive, 1u);
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 0, 0, 4, 4), 0u);
    standin::InjectDeactivate();
    DisplayPumpMessages();
    // Away from the foreground: drawn whole through GDI, stretched over every row.
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 0, 0, 4, 4), kPresentedWhole);
    EXPECT_EQ(d->DirectActive, 0u);
    Placement at = ClientPlacement(2);
    EXPECT_EQ(Mismatches(d, at, 128, 96), 0);
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 0, 0, 4, 4), 0u);
    standin::InjectActivate(DisplayWindow());
    // The first present after the activation, before any repaint, is the whole picture.
    EXPECT_EQ(DisplayPresent(d, nullptr, 0, 0, 0, 0, 4, 4), kPresentedWhole);
    EXPECT_EQ(d->DirectActive, 1u);
    DisplayPumpMessages();
    at.interlaced = true;
    EXPECT_EQ(Mismatches(d, at, 128, 96), 0);
}

TEST_F(PresentTest, SoundOnlyProgressBar) {
    UseScreen(32);
    ASSERT_TRUE(DisplayOpen(160, 1, 0, 0, 0x18));
    Display* d = DisplayCurrent();
    ASSERT_EQ(d->Mode, 4u);
    Movie progress{};
    progress.FrameCount = 100;
    progress.FrameNumber = 49;
    DisplayShowProgress(&progress);
    for (int x = 0; x < 160; ++x) EXPECT_EQ(d->Buffer[x], x < 79 ? 9 : 0) << x;
    progress.FrameNumber = 99;
    DisplayShowProgress(&progress);
    EXPECT_EQ(d->Buffer[158], 9);
    EXPECT_EQ(d->Buffer[159], 0);
    progress.FrameCount = 10;
    progress.FrameNumber = 20;  // past the end: never beyond the row
    DisplayShowProgress(&progress);
    EXPECT_EQ(d->Buffer[159], 9);
    progress.FrameCount = 0;
    DisplayShowProgress(&progress);
    EXPECT_EQ(d->Buffer[0], 9);
}
