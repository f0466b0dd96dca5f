// SPDX-License-Identifier: MIT
// The player program in a real window of the SDL host on an X server: what it shows is on
// the X screen, keys sent through the X server act, its summary is a window of its own, and
// the sound it played through SDL's disk driver is the movie's sound.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "encoder/writer.h"
#include "file_bytes.h"
#include "player_run.h"
#include "test_movies.h"

// After the test framework: the X headers define macros such as None and Bool.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace zambrel::testing {
namespace {

constexpr int kSize = 16;  // the writer-made movies' pictures

// A picture for a failure message: how many pixels, and the first ones.
std::string Describe(const std::vector<std::uint32_t>& pixels) {
    std::string text = std::to_string(pixels.size()) + " pixels";
    char colour[16];
    for (std::size_t i = 0; i < pixels.size() && i < 4; ++i) {
        std::snprintf(colour, sizeof colour, " %06X", static_cast<unsigned>(pixels[i]));
        text += colour;
    }
    return text;
}

// Polls until the condition holds; the X server and the player go at their own pace, so this
// waits for an outcome, giving up only after a generous bound.
template <typename Condition>
bool WaitFor(Condition condition) {
    for (int round = 0; round < 1000; ++round) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class PlayerOnX : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* display = std::getenv("ZAMBREL_TEST_DISPLAY");
        if (!display) GTEST_SKIP() << "ZAMBREL_TEST_DISPLAY is not set: no X server";
        display_ = display;
        x_ = XOpenDisplay(display);
        ASSERT_NE(x_, nullptr) << display;
        // The player's window goes when it ends; asking after it then is no failure.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    void TearDown() override {
        // A player a failed test left waiting is ended rather than waited for.
        if (player_) {
            if (pid_ > 0) kill(static_cast<pid_t>(pid_), SIGKILL);
            pclose(player_);
        }
        if (x_) XCloseDisplay(x_);
    }

    // Starts zambply on the X server; its output is read when it ends.
    void Start(const std::string& args, const std::string& input = "",
               const std::string& environment = "ZAMBREL_AUDIO=simulated") {
        std::string command = "cd '" + folder_.Path() + "' && exec env DISPLAY=" + display_ +
                              " WAYLAND_DISPLAY= ZAMBREL_HOST= ZAMBREL_MESSAGES=box " + environment;
        if (!input.empty()) {
            folder_.WriteText("input.txt", input);
            command += " ZAMBREL_INPUT=input.txt";
        }
        // Every step is an exec, so the shell's number is the player's, and the player is
        // this process's own child: setpriv has it killed when this process ends, even by a
        // crash, which would otherwise leave it holding the test runner's output pipe.
        command += " setpriv --pdeathsig KILL sh -c 'echo $$; exec \"" ZAMBPLY_PATH "\" " + args +
                   "' 2>&1";
        player_ = popen(command.c_str(), "r");
        ASSERT_NE(player_, nullptr);
        char line[32] = {};
        if (std::fgets(line, sizeof line, player_)) pid_ = std::strtol(line, nullptr, 10);
    }
    // Waits for the player to end; its exit status.
    int Finish(std::string* output) {
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, player_)) > 0;)
            output->append(chunk, got);
        const int status = pclose(player_);
        player_ = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int Shell(const std::string& command) {
        return std::system(("export DISPLAY=" + display_ + "; " + command).c_str());
    }
    // The top-level X window whose name is exactly `name`, waited for; "" when none comes.
    std::string WindowNamed(const std::string& name) {
        std::string found;
        WaitFor([&] {
            Window root = 0, parent = 0;
            Window* children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(x_, DefaultRootWindow(x_), &root, &parent, &children, &count))
                return false;
            for (unsigned i = 0; i < count && found.empty(); ++i)
                if (WindowName(std::to_string(children[i])) == name)
                    found = std::to_string(children[i]);
            if (children) XFree(children);
            return !found.empty();
        });
        return found;
    }
    // Keys typed into a window through the X server.
    int Type(const std::string& window, const std::string& keys) {
        return Shell("timeout 10 xdotool windowfocus --sync " + window +
                     " && timeout 10 xdotool key " + keys);
    }

    // The window's name as its WM_NAME holds it, in whatever encoding it was stored with
    // (SDL's message boxes store UTF-8, which XFetchName does not return).
    std::string WindowName(const std::string& window) {
        const auto id = static_cast<Window>(std::strtoul(window.c_str(), nullptr, 10));
        XTextProperty property{};
        std::string text;
        if (XGetWMName(x_, id, &property) && property.value) {
            text.assign(reinterpret_cast<const char*>(property.value), property.nitems);
            XFree(property.value);
        }
        return text;
    }

    // What the X server shows in the window, as 0xRRGGBB values.
    std::vector<std::uint32_t> ScreenPicture(const std::string& window, int width = kSize,
                                             int height = kSize) {
        std::vector<std::uint32_t> pixels;
        const auto id = static_cast<Window>(std::strtoul(window.c_str(), nullptr, 10));
        XImage* image = XGetImage(x_, id, 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (!image) return pixels;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
        return pixels;
    }
    // Frame `n` as the decoder makes it (zmbtool decode --raw), in the colours of its palette.
    std::vector<std::uint32_t> DecodedPicture(const std::string& movie, int n,
                                              std::size_t pixelCount = kSize * kSize) {
        const std::string raw = folder_.Path() + "/frames.raw";
        const std::string command = "'" ZMBTOOL_PATH "' decode --force '" + folder_.Path() + "/" +
                                    movie + "' --raw '" + raw + "'";
        if (std::system(command.c_str()) != 0) return {};
        const std::vector<std::uint8_t> frames = ReadFileBytes(raw);
        const std::size_t frameBytes = 768 + pixelCount;
        const std::size_t at = frameBytes * static_cast<std::size_t>(n);
        if (frames.size() < at + frameBytes) return {};
        std::vector<std::uint32_t> pixels;
        for (std::size_t i = 0; i < pixelCount; ++i) {
            const std::uint8_t* rgb = &frames[at + 3 * frames[at + 768 + i]];
            pixels.push_back(std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2]);
        }
        return pixels;
    }

    // Maps another window over the top-left of `window` for a moment: the X server keeps
    // nothing of what it covered.
    void CoverAndUncover(const std::string& window) {
        const auto id = static_cast<Window>(std::strtoul(window.c_str(), nullptr, 10));
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(x_, id, DefaultRootWindow(x_), 0, 0, &x, &y, &child);
        Window cover = XCreateSimpleWindow(x_, DefaultRootWindow(x_), x, y, 40, 30, 0, 0, 0xFF00FF);
        XSetWindowAttributes attributes;
        attributes.override_redirect = True;
        XChangeWindowAttributes(x_, cover, CWOverrideRedirect, &attributes);
        XMapRaised(x_, cover);
        XSync(x_, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        XDestroyWindow(x_, cover);
        XSync(x_, False);
    }

    PlayerFolder folder_;
    std::string display_;
    Display* x_ = nullptr;
    FILE* player_ = nullptr;
    long pid_ = -1;
};

// Paused from the start, the caption counts the frame on screen from 1 and the X screen
// shows the decoded picture; Enter lets one frame through, Space resumes, '.' ends the lone
// movie and the summary box closes on Return.
TEST_F(PlayerOnX, PlaysInARealWindowAndFollowsTheKeys) {
    folder_.Write("movie.zmb", SmallMovie(40, -10000));
    const std::vector<std::uint32_t> first = DecodedPicture("movie.zmb", 0);
    const std::vector<std::uint32_t> second = DecodedPicture("movie.zmb", 1);
    ASSERT_FALSE(first.empty());
    ASSERT_NE(first, second);
    Start("-Q -S -I4 movie.zmb", "at 0 ms key Space\n");

    const std::string window = WindowNamed("ZambPlay - Frame: 1");
    ASSERT_FALSE(window.empty()) << "no window captioned with the first frame";
    EXPECT_TRUE(WaitFor([&] { return ScreenPicture(window) == first; }))
        << "the window shows " << Describe(ScreenPicture(window)) << "; frame 0 is "
        << Describe(first);

    ASSERT_EQ(Type(window, "Return"), 0);
    EXPECT_FALSE(WindowNamed("ZambPlay - Frame: 2").empty());
    EXPECT_TRUE(WaitFor([&] { return ScreenPicture(window) == second; }));

    ASSERT_EQ(Type(window, "space"), 0);
    EXPECT_TRUE(WaitFor([&] { return WindowName(window) != "ZambPlay - Frame: 2"; }))
        << "the movie did not resume";

    ASSERT_EQ(Type(window, "period"), 0);
    const std::string summary = WindowNamed("Zambrel Summary");
    ASSERT_FALSE(summary.empty()) << "no summary box; the window is " << WindowName(window);
    ASSERT_EQ(Type(summary, "Return"), 0);
    std::string output;
    EXPECT_EQ(Finish(&output), 0) << output;
    const long played = PlayerRun{0, output}.NumberAfter("Total frames played: ");
    EXPECT_GE(played, 3) << output;  // the first, the step, and at least one more
    EXPECT_LT(played, 40) << output;
}

// The window is drawn where the screen changed, and whole after what may have lost it: frame
// by frame, through pictures of which only parts change and palettes that change every other
// frame, and after another window covered it and after it was resized, the X screen shows
// exactly the decoded picture. Through the direct path on a true-colour screen and through
// GDI on a screen with a palette.
TEST_F(PlayerOnX, WindowShowsEveryPictureThroughPartialUpdates) {
    constexpr int kWidth = 64, kHeight = 48, kFrames = 7;
    zambrel::encoder::MovieRecipe recipe = test_movies::MixedRecipe(kWidth, kHeight, kFrames, 41);
    recipe.frameRate = -10000;
    const zambrel::encoder::WriteResult written = zambrel::encoder::WriteMovie(recipe);
    ASSERT_TRUE(written.ok) << written.error;
    folder_.Write("mixed.zmb", written.bytes);
    std::vector<std::vector<std::uint32_t>> decoded;
    for (int n = 0; n < kFrames; ++n)
        decoded.push_back(DecodedPicture("mixed.zmb", n, kWidth * kHeight));
    ASSERT_FALSE(decoded.back().empty());
    const struct {
        const char* switches;
        const char* screen;
    } ways[] = {{"", "1280x1024x32"}, {"-V3", "1280x1024x8"}};
    for (const auto& way : ways) {
        SCOPED_TRACE(std::string(way.switches) + " on " + way.screen);
        Start(std::string("-Q -I4 ") + way.switches + " mixed.zmb", "at 0 ms key Space\n",
              std::string("ZAMBREL_AUDIO=simulated ZAMBREL_SCREEN=") + way.screen);
        auto shows = [&](const std::string& window, int n) {
            return WaitFor([&] { return ScreenPicture(window, kWidth, kHeight) == decoded[n]; });
        };
        const std::string window = WindowNamed("ZambPlay - Frame: 1");
        ASSERT_FALSE(window.empty()) << "no window captioned with the first frame";
        EXPECT_TRUE(shows(window, 0));
        for (int n = 1; n < kFrames; ++n) {
            ASSERT_EQ(Type(window, "Return"), 0);
            ASSERT_FALSE(WindowNamed("ZambPlay - Frame: " + std::to_string(n + 1)).empty());
            EXPECT_TRUE(shows(window, n)) << "frame " << n;
            if (n == 3) {  // covered and uncovered
                CoverAndUncover(window);
                EXPECT_TRUE(shows(window, n))
                    << "after exposure the window " << WindowName(window) << " shows "
                    << Describe(ScreenPicture(window, kWidth, kHeight)) << "; frame " << n << " is "
                    << Describe(decoded[n]);
            }
            if (n == 5) {  // resized and sized back
                ASSERT_EQ(Shell("timeout 10 xdotool windowsize --sync " + window + " 96 80"), 0);
                ASSERT_EQ(Shell("timeout 10 xdotool windowsize --sync " + window + " " +
                                std::to_string(kWidth) + " " + std::to_string(kHeight)),
                          0);
                EXPECT_TRUE(shows(window, n)) << "after resizing";
            }
        }
        ASSERT_EQ(Type(window, "Escape"), 0);
        std::string output;
        EXPECT_EQ(Finish(&output), 0) << output;
    }
}

TEST_F(PlayerOnX, EscapeThroughTheXServerStops) {
    folder_.Write("long.zmb", SmallMovie(20, 1000));  // 20 seconds
    Start("long.zmb");
    // The first window of that name may be replaced while the display settles, so the key
    // goes to whichever one is there when typing succeeds.
    ASSERT_TRUE(WaitFor([&] {
        const std::string window = WindowNamed("long.zmb - ZambPlay");
        return !window.empty() && Type(window, "Escape") == 0;
    })) << "no window took the key";
    std::string output;
    EXPECT_EQ(Finish(&output), 0) << output;
}

// The SDL device plays 44,100 Hz 16-bit stereo, so a movie in that format reaches SDL's disk
// driver byte for byte, with only silence between what the movie gave, through either sound
// driver.
class PlayerSoundOnX : public PlayerOnX {
  protected:
    // Where the sound heard first leaves the movie's: a sample heard twice or stale buffer
    // content shows as a value the movie has elsewhere.
    static std::string FirstDeparture(const std::vector<std::int16_t>& played,
                                      const std::vector<std::int16_t>& decoded) {
        const auto [heard, movie] =
            std::mismatch(played.begin(), played.end(), decoded.begin(), decoded.end());
        const auto at = std::to_string(heard - played.begin());
        if (heard == played.end()) return "every sample heard is the movie's, up to " + at;
        std::string text = "heard sample " + at + " is " + std::to_string(*heard);
        if (movie == decoded.end()) return text + ", after the movie's last";
        const auto same = std::find(decoded.begin(), decoded.end(), *heard);
        text += ", the movie has " + std::to_string(*movie) + " there";
        if (same != decoded.end())
            text += " and that value first at " + std::to_string(same - decoded.begin());
        return text;
    }

    void ExpectDecodedSoundPlayed(const std::string& switches) {
        constexpr int kFrames = 8;
        folder_.Write("sound.zmb", CountingSoundMovie(kFrames, -6666, 44100, true));
        ASSERT_EQ(std::system(("'" ZMBTOOL_PATH "' decode --force '" + folder_.Path() +
                               "/sound.zmb' --pcm '" + folder_.Path() + "'")
                                  .c_str()),
                  0);
        const std::vector<std::int16_t> decoded =
            Samples16(ReadFileBytes(folder_.Path() + "/track0.pcm"));
        ASSERT_FALSE(decoded.empty());
        Start(switches + " sound.zmb", "",
              "ZAMBREL_AUDIO=sdl SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=played.raw");
        std::string output;
        ASSERT_EQ(Finish(&output), 0) << output;
        const std::vector<std::int16_t> samples =
            Samples16(ReadFileBytes(folder_.Path() + "/played.raw"));
        std::vector<std::int16_t> played;
        for (std::size_t i = 0; i + 1 < samples.size(); i += 2)
            if (samples[i] != 0 || samples[i + 1] != 0) {
                played.push_back(samples[i]);
                played.push_back(samples[i + 1]);
            }
        // Closing the movie after its last frame may cut what the device still held of it.
        const std::size_t frameShare = decoded.size() / kFrames;
        ASSERT_GE(played.size() + 2 * frameShare, decoded.size()) << output;
        ASSERT_LE(played.size(), decoded.size()) << FirstDeparture(played, decoded);
        EXPECT_TRUE(std::equal(played.begin(), played.end(), decoded.begin()))
            << FirstDeparture(played, decoded);
    }
};

TEST_F(PlayerSoundOnX, WaveOutputPlaysTheMoviesDecodedSound) {
    ExpectDecodedSoundPlayed("-I4");
}

TEST_F(PlayerSoundOnX, DirectSoundPlaysTheMoviesDecodedSound) {
    ExpectDecodedSoundPlayed("-I4 -Z");
}

}  // namespace
}  // namespace zambrel::testing
