// SPDX-License-Identifier: MIT
// The player as a desktop program run from scripts: messages that never wait for a click,
// a display that cannot be opened said so, names as the user typed them, the keys and
// folders a desktop user reaches for. Headless, and on the X server when there is one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "player_run.h"
#include "zambrel/decoder.h"
#include "test_movies.h"

namespace zambrel::testing {
namespace {

using Names = std::vector<std::string>;

// The messages' way as a script gets it: no choice made, so the player decides.
const std::string kAsFromAScript = "ZAMBREL_MESSAGES= ";

// The lines the player itself wrote that start with `start`.
std::vector<std::string> LinesStartingWith(const std::string& output, const std::string& start) {
    std::vector<std::string> found;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(start, 0) == 0) found.push_back(line);
    return found;
}

// Stills with uncompressed sound: too large to be preloaded, so a cut copy plays its whole
// frames and stops at the first one it cannot read.
std::vector<std::uint8_t> StreamedMovie(int frames, std::int32_t periodCode) {
    encoder::WriteResult written =
        encoder::WriteMovie(test_movies::StreamedStillsRecipe(frames, periodCode));
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

// The hosts a run can have here: always the headless one, and the X server's when the test
// runner names one.
std::vector<std::string> HostSettings() {
    std::vector<std::string> hosts = {""};
    if (const char* display = std::getenv("ZAMBREL_TEST_DISPLAY"))
        hosts.push_back(std::string("ZAMBREL_HOST= WAYLAND_DISPLAY= DISPLAY=") + display + " ");
    return hosts;
}

// A script's list with a missing file and a cut movie among good ones: nothing waits for a
// click, each bad one has exactly one line, the good ones play on, the run fails, and it
// takes its movies' time and little more.
TEST(PlayerDesktop, ScriptListGoesOnWithOneLineForEachBadMovie) {
    PlayerFolder folder;
    constexpr int kFrames = 100;
    constexpr std::int32_t kTenMilliseconds = -1000;
    folder.Write("a.zmb", SmallMovie(10, -5000));  // half a second
    folder.Write("b.zmb", SmallMovie(10, -5000));
    const std::vector<std::uint8_t> whole = StreamedMovie(kFrames, kTenMilliseconds);
    folder.Write("cut.zmb",
                 std::vector<std::uint8_t>(whole.begin(), whole.begin() + whole.size() * 3 / 4));
    constexpr double kMoviesSeconds = 0.5 + 0.5 + kFrames * 0.01;
    for (const std::string& host : HostSettings()) {
        const auto start = std::chrono::steady_clock::now();
        PlayerRun run = folder.Run("/E0 a.zmb gone.zmb cut.zmb b.zmb", "", kAsFromAScript + host);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::string trace = "host: '" + host + "'\n" + run.Output;
        EXPECT_EQ(run.Status, 1) << trace;
        EXPECT_LT(took, kMoviesSeconds + 2.0) << trace;
        EXPECT_EQ(run.Opened(), (Names{"a.zmb", "gone.zmb", "cut.zmb", "b.zmb"})) << trace;
        EXPECT_EQ(LinesStartingWith(run.Output, "zambply: gone.zmb: not found").size(), 1u)
            << trace;
        EXPECT_EQ(LinesStartingWith(run.Output, "zambply: cut.zmb: frame ").size(), 1u) << trace;
        EXPECT_EQ(LinesStartingWith(run.Output, "zambply: ").size(), 2u) << trace;
        EXPECT_FALSE(run.Shows("Error opening file")) << "a box's text: " << trace;
    }
}

// A display that is set but does not answer is no reason to play unseen: one line names
// it and the run fails before anything is opened. Headless is had by asking for it.
TEST(PlayerDesktop, UnreachableDisplayEndsTheRunNamingIt) {
    PlayerFolder folder;
    folder.Write("a.zmb", SmallMovie(3, -1000));
    const std::string unreachable = "ZAMBREL_HOST= WAYLAND_DISPLAY= DISPLAY=:77 ";
    for (const std::string& messages : {kAsFromAScript, std::string("ZAMBREL_MESSAGES=box ")}) {
        PlayerRun run = folder.Run("a.zmb", "", messages + unreachable);
        EXPECT_EQ(run.Status, 1) << messages << run.Output;
        EXPECT_TRUE(run.Opened().empty()) << messages << run.Output;
        const auto lines = LinesStartingWith(run.Output, "zambply: ");
        ASSERT_EQ(lines.size(), 1u) << messages << run.Output;
        EXPECT_NE(lines[0].find("cannot open the display DISPLAY=:77"), std::string::npos)
            << lines[0];
    }
    PlayerRun asked = folder.Run("a.zmb", "", "ZAMBREL_HOST=headless DISPLAY=:77 ");
    EXPECT_EQ(asked.Status, 0) << asked.Output;
    EXPECT_EQ(asked.Opened(), Names{"a.zmb"}) << asked.Output;
}

// What the user typed is what the messages name: no '\', no added extension, and a path
// from the root that names nothing is a missing file rather than a bad switch. A bad switch
// is still one.
TEST(PlayerDesktop, MessagesNameMoviesAsTyped) {
    PlayerFolder folder;
    folder.Write("a.zmb", SmallMovie(3, -1000));
    const std::string deep = folder.Path() + "/sub/gone.zmb";
    const std::string root = "/zambrel-nowhere-" + std::to_string(::getpid()) + ".zmb";
    PlayerRun run = folder.Run("'" + deep + "' gone " + root + " a.zmb", "", kAsFromAScript);
    EXPECT_EQ(run.Status, 1) << run.Output;
    const Names lines = LinesStartingWith(run.Output, "zambply: ");
    EXPECT_EQ(lines, (Names{"zambply: " + deep + ": not found", "zambply: gone: not found",
                            "zambply: " + root + ": not found"}))
        << run.Output;
    EXPECT_EQ(run.Opened().back(), "a.zmb") << run.Output;

    PlayerRun badSwitch = folder.Run("a.zmb /Zq", "", kAsFromAScript);
    EXPECT_EQ(badSwitch.Status, 2) << badSwitch.Output;
    EXPECT_TRUE(badSwitch.Shows("zambply: /Zq: not a switch")) << badSwitch.Output;
}

// A folder plays the movies in it, in name order and whatever the case of their extension;
// what is not a movie is left out. A folder with none in it is no movie.
TEST(PlayerDesktop, FolderPlaysItsMoviesInNameOrder) {
    PlayerFolder folder;
    std::filesystem::create_directories(folder.Path() + "/shelf/inner.zmb");
    std::filesystem::create_directories(folder.Path() + "/empty");
    for (const char* name : {"shelf/c.zmb", "shelf/a.ZMB", "shelf/b.Zmb"})
        folder.Write(name, SmallMovie(3, -1000));
    folder.WriteText("shelf/notes.txt", "not a movie");
    PlayerRun run = folder.Run("shelf", "", kAsFromAScript);
    EXPECT_EQ(run.Status, 0) << run.Output;
    // The open's trace shows the names in the command line's own form.
    EXPECT_EQ(run.Opened(), (Names{"shelf\\a.ZMB", "shelf\\b.Zmb", "shelf\\c.zmb"})) << run.Output;

    PlayerRun empty = folder.Run("empty", "", kAsFromAScript);
    EXPECT_EQ(empty.Status, 1) << empty.Output;
    EXPECT_TRUE(empty.Shows("zambply: empty: a folder, not a movie")) << empty.Output;
}

// 'q' stops as Escape does, in either case, and a disabled quit keeps it from stopping.
TEST(PlayerDesktop, QuitKeyStopsTheList) {
    PlayerFolder folder;
    folder.Write("slow.zmb", SmallMovie(20, 1000));  // a second a frame
    folder.Write("next.zmb", SmallMovie(3, -1000));
    for (const char* key : {"q", "shift+q"}) {
        const auto start = std::chrono::steady_clock::now();
        PlayerRun run = folder.Run("-S slow.zmb next.zmb", std::string("at 200 ms key ") + key);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.Status, 0) << key << run.Output;
        EXPECT_EQ(run.Opened(), Names{"slow.zmb"}) << key << run.Output;
        EXPECT_LT(took, 5.0) << key;
    }
    PlayerRun kept = folder.Run("/U4 -S next.zmb", "at 0 ms key q");
    EXPECT_EQ(kept.NumberAfter("Total frames played: "), 3) << kept.Output;
}

// The largest sample heard, and how many were not silence.
struct Heard {
    int loudest = 0;
    long sounding = 0;
};
Heard Listen(const std::string& wav) {
    Heard heard;
    for (std::int16_t sample : Samples16(WavData(wav))) {
        heard.loudest = std::max(heard.loudest, std::abs(static_cast<int>(sample)));
        heard.sounding += sample != 0;
    }
    return heard;
}

// The volume keys scale what the device is given, against the same movie heard untouched:
// five steps down halve the end of the sound, and mute silences what follows it.
TEST(PlayerDesktop, VolumeAndMuteKeysChangeWhatIsHeard) {
    PlayerFolder folder;
    constexpr int kFrames = 10;
    folder.Write("count.zmb", CountingSoundMovie(kFrames, -10000));  // a second of sound
    const std::string capture = "ZAMBREL_AUDIO_CAPTURE=sound.wav";
    const std::string wav = folder.Path() + "/sound.wav";
    auto play = [&](const std::string& input) {
        std::filesystem::remove(wav);
        PlayerRun run = folder.Run("count.zmb", input, capture);
        EXPECT_EQ(run.Status, 0) << input << run.Output;
        return Listen(wav);
    };
    const Heard untouched = play("");
    ASSERT_GT(untouched.sounding, 0);
    const int lastSample = CountingSampleAt(kFrames * kCountingRate / 10 - 1);
    EXPECT_EQ(untouched.loudest, lastSample);

    const Heard halved = play(
        "at 100 ms key 9\nat 110 ms key 9\nat 120 ms key 9\n"
        "at 130 ms key 9\nat 140 ms key 9\n");
    EXPECT_NEAR(halved.loudest, lastSample / 2, 2);
    EXPECT_GT(halved.sounding, untouched.sounding * 9 / 10);

    const Heard muted = play("at 300 ms key m\n");
    EXPECT_LT(muted.sounding, untouched.sounding * 6 / 10);
    EXPECT_GT(muted.sounding, 0);

    const Heard back = play("at 300 ms key m\nat 320 ms key m\nat 330 ms key 0\n");
    EXPECT_EQ(back.loudest, lastSample);
}

// Right skips five seconds of a movie, with its sound and without: the movie ends that
// much sooner, and plays to its end.
TEST(PlayerDesktop, RightSeeksForward) {
    PlayerFolder folder;
    constexpr int kFrames = 60;  // six seconds at ten frames a second
    for (const bool withSound : {true, false}) {
        folder.Write("six.zmb", SmallMovie(kFrames, -10000, withSound));
        const auto start = std::chrono::steady_clock::now();
        PlayerRun run = folder.Run("six.zmb", "at 300 ms key Right\n");
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.Status, 0) << run.Output;
        EXPECT_GT(took, 0.6) << withSound;
        EXPECT_LT(took, 3.5) << withSound;
    }
}

// A palette of 256 colours no two alike, its reds turned `tint` levels on.
std::array<std::uint8_t, encoder::kPaletteBytes> TintedPalette(int tint) {
    std::array<std::uint8_t, encoder::kPaletteBytes> palette{};
    for (int c = 0; c < 256; ++c) {
        palette[3 * c] = encoder::WidenLevel(static_cast<std::uint8_t>((c + tint) % 64));
        palette[3 * c + 1] = encoder::WidenLevel(static_cast<std::uint8_t>(63 - c % 64));
        palette[3 * c + 2] = encoder::WidenLevel(static_cast<std::uint8_t>(c / 4));
    }
    return palette;
}

// Every frame a picture of its own, so that a frame shown is told from all the others.
std::vector<std::uint8_t> DistinctFramesMovie(int frames, std::int32_t periodCode) {
    encoder::MovieRecipe recipe;
    recipe.width = recipe.height = 16;
    recipe.frameRate = periodCode;
    for (int f = 0; f < frames; ++f) {
        encoder::Picture picture;
        for (int i = 0; i < 16 * 16; ++i)
            picture.pixels.push_back(static_cast<std::uint8_t>((i * 5 + f * 7) % 256));
        picture.palette = TintedPalette(0);
        recipe.pictures.push_back(std::move(picture));
    }
    encoder::WriteResult written = encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

// The last picture a run showed, as the screen was dumped after each change.
RgbImage LastScreen(const PlayerFolder& folder, const std::string& args, const std::string& input,
                    const std::string& screen = "320x240x32", std::string* output = nullptr) {
    const std::string dumps = folder.Path() + "/dump";
    std::filesystem::remove_all(dumps);
    std::filesystem::create_directory(dumps);
    PlayerRun run =
        folder.Run(args, input, "ZAMBREL_SCREEN=" + screen + " ZAMBREL_SCREEN_DUMP=dump");
    EXPECT_EQ(run.Status, 0) << input << run.Output;
    if (output) *output = run.Output;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dumps))
        names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    // The last dump is the desktop once the window has gone; the one before, its last
    // picture.
    RgbImage last;
    EXPECT_GE(names.size(), 2u) << input;
    if (names.size() >= 2) {
        EXPECT_TRUE(ReadPng(names[names.size() - 2], &last)) << names[names.size() - 2];
    }
    return last;
}

// Paused at the start, then `keys` (names separated by spaces) 200 ms apart, then Escape
// once the last one has had time to show its frame on a loaded machine.
std::string PausedKeys(const std::string& keys) {
    std::string input = "at 0 ms key Space\n";
    std::istringstream names(keys);
    int at = 200;
    for (std::string key; names >> key; at += 200)
        input += "at " + std::to_string(at) + " ms key " + key + "\n";
    return input + "at " + std::to_string(at + 400) + " ms key Escape\n";
}

// Pictures that remember their past: each frame recolours one 4x4 block of the picture
// before, and every 40th brings colours of its own, so that a picture is right only when
// every frame before it was decoded onto the right picture under the right palette.
std::vector<std::uint8_t> HistoryMovie(int frames, std::int32_t periodCode) {
    constexpr int kWidth = 64, kHeight = 32, kBlocks = (kWidth / 4) * (kHeight / 4);
    encoder::MovieRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    recipe.frameRate = periodCode;
    std::vector<std::uint8_t> pixels(kWidth * kHeight, 0);
    for (int f = 0; f < frames; ++f) {
        const int block = f * 37 % kBlocks;
        const int left = block % (kWidth / 4) * 4, top = block / (kWidth / 4) * 4;
        for (int i = 0; i < 16; ++i)
            pixels[(top + i / 4) * kWidth + left + i % 4] = static_cast<std::uint8_t>(f * 11 + i);
        encoder::Picture picture;
        picture.pixels = pixels;
        picture.palette = TintedPalette(f / 40 * 16);
        recipe.pictures.push_back(std::move(picture));
    }
    encoder::WriteResult written = encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

// Frame `frame` as the library's decoder handle makes it, decoding every frame before it,
// in red, green and blue.
std::vector<std::uint8_t> LibraryFrame(const std::vector<std::uint8_t>& movie, int frame,
                                       int* width, int* height) {
    ZambDecoder* decoder = nullptr;
    std::vector<std::uint8_t> rgb;
    if (ZambDecoderOpenMemory(movie.data(), movie.size(), ZAMBOPEN_NO_SOUND, &decoder) !=
        ZAMBERR_NONE)
        return rgb;
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    *width = static_cast<int>(info.Width);
    *height = static_cast<int>(info.Height);
    bool decoded = true;
    for (int f = 0; f <= frame && decoded; ++f)
        decoded = ZambDecoderNextFrame(decoder) == ZAMBERR_NONE;
    rgb.resize(std::size_t(*width) * *height * 3);
    if (!decoded || ZambDecoderGetPicture(decoder, ZAMBPIX_RGB24, rgb.data(), *width * 3,
                                          rgb.size(), 0) != ZAMBERR_NONE)
        rgb.clear();
    ZambDecoderClose(decoder);
    return rgb;
}

// Whether the screen shows `frame` in the middle, its rows `rowsShown` times as tall as
// stored: 2 doubled, or interlaced with only every other row compared.
::testing::AssertionResult ShowsFrame(const RgbImage& screen,
                                      const std::vector<std::uint8_t>& movie, int frame,
                                      int rowsShown, bool interlaced) {
    int width = 0, height = 0;
    const std::vector<std::uint8_t> truth = LibraryFrame(movie, frame, &width, &height);
    if (truth.empty())
        return ::testing::AssertionFailure() << "the library decoded no frame " << frame;
    const int shownHeight = height * rowsShown;
    const int left = (screen.width - width) / 2, top = (screen.height - shownHeight) / 2;
    for (int y = 0; y < shownHeight; y += interlaced ? 2 : 1) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = &truth[(std::size_t(y / rowsShown) * width + x) * 3];
            const std::uint32_t expected = std::uint32_t(p[0]) << 16 | p[1] << 8 | p[2];
            if (screen.At(left + x, top + y) != expected)
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " of frame " << frame << " is " << std::hex
                       << screen.At(left + x, top + y) << ", not " << expected;
        }
    }
    return ::testing::AssertionSuccess();
}

// Paused, seeking shows the frame it lands on, as the library decodes it: forward, back past
// the start through the first frame again, and a frame at a time with Shift, the keys a
// frame's time apart.
TEST(PlayerDesktop, SeekKeysLandOnTheFramesTheyName) {
    PlayerFolder folder;
    const std::vector<std::uint8_t> movie = DistinctFramesMovie(120, -10000);  // 5 s is 50 frames
    folder.Write("many.zmb", movie);
    const struct {
        const char* keys;
        int frame;
    } cases[] = {
        {"Right", 50},
        {"Right Right shift+Left", 99},
        {"Right Right Left", 50},
        {"shift+Right shift+Right shift+Right", 3},
        {"Right Left Left", 0},
    };
    for (const auto& c : cases) {
        const RgbImage seeked = LastScreen(folder, "many.zmb", PausedKeys(c.keys));
        ASSERT_GT(seeked.width, 0) << c.keys;
        EXPECT_TRUE(ShowsFrame(seeked, movie, c.frame, 1, false)) << c.keys;
    }
}

// A seek resumes from the picture kept after a frame before its target and decodes on from
// there: what it shows is the frame as the library decodes it from the first frame on, with
// the picture as stored, doubled or interlaced. A picture only the changes are drawn on
// keeps nothing to resume from.
TEST(PlayerDesktop, SeeksResumeFromKeptPicturesAsStraightDecodingLeavesThem) {
    PlayerFolder folder;
    const std::vector<std::uint8_t> movie = HistoryMovie(200, -10000);  // 5 s is 50 frames
    folder.Write("past.zmb", movie);
    // Room for a dozen or two pictures: kept 9 to 16 frames apart, so that a seek decodes
    // on from the one it resumes from.
    folder.WriteText("profile.ini", "[Zambrel]\nDebug=1\nSeekMemory=64\n");
    const struct {
        const char* keys;
        int frame;
    } cases[] = {
        {"Right Right Right Left", 100},
        {"Right Right shift+Left shift+Left", 98},
        {"Right Right Right Left Left shift+Right", 51},
    };
    const struct {
        const char* switches;
        int rowsShown;
        bool interlaced;
    } pictures[] = {{"", 1, false}, {"/A2 ", 2, false}, {"/A1 ", 2, true}};
    for (const auto& p : pictures) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(p.switches) + c.keys);
            std::string output;
            const RgbImage seeked = LastScreen(folder, std::string(p.switches) + "past.zmb",
                                               PausedKeys(c.keys), "320x240x32", &output);
            EXPECT_TRUE(output.find("Seeking from the picture after frame") != std::string::npos)
                << output;
            EXPECT_TRUE(ShowsFrame(seeked, movie, c.frame, p.rowsShown, p.interlaced));
        }
    }
    // A key straight after another finds the frame that one asked for not shown yet: it
    // counts from that frame all the same, so one back lands one before it.
    const RgbImage quick = LastScreen(folder, "past.zmb",
                                      "at 0 ms key Space\nat 200 ms key Right\nat 400 ms key "
                                      "Right\nat 401 ms key shift+Left\nat 1000 ms key Escape\n");
    EXPECT_TRUE(ShowsFrame(quick, movie, 99, 1, false));
    std::string output;
    LastScreen(folder, "/K past.zmb", PausedKeys(cases[0].keys), "320x240x32", &output);
    EXPECT_EQ(output.find("Seeking from the picture"), std::string::npos) << output;
}

// What a shell command printed.
std::string ShellOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[256];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            output.append(chunk, got);
        pclose(pipe);
    }
    return output;
}

// On the X server, 'f' makes the window fill the display and a double-click gives it back
// its own size; the movie plays on and 'q' still ends it.
TEST(PlayerDesktop, FullScreenKeyAndDoubleClickOnTheXServer) {
    const char* display = std::getenv("ZAMBREL_TEST_DISPLAY");
    if (!display) GTEST_SKIP() << "ZAMBREL_TEST_DISPLAY is not set: no X server";
    if (std::system("command -v xdotool > /dev/null") != 0) GTEST_SKIP() << "no xdotool";
    PlayerFolder folder;
    folder.Write("long.zmb", SmallMovie(20, 1000));  // 20 seconds
    const std::string x = std::string("DISPLAY=") + display + " ";
    const std::string run =
        folder.Command(ZAMBPLY_PATH, "long.zmb", "", "ZAMBREL_HOST= WAYLAND_DISPLAY= " + x);
    FILE* player = popen(run.c_str(), "r");
    ASSERT_NE(player, nullptr);
    const std::string find = x + "timeout 20 xdotool search --sync --name '^long.zmb - ZambPlay$'";
    auto geometry = [&] {
        return ShellOutput(find + " getwindowgeometry --shell | grep -E '^(WIDTH|HEIGHT)='");
    };
    // Typed without naming the window, so that a key whose press ends the player is still
    // released on the X server rather than left down for the next program.
    auto act = [&](const std::string& what) {
        return ShellOutput(find + " windowfocus --sync; " + x + "xdotool " + what + "; sleep 0.5");
    };
    const std::string screen = ShellOutput(x + "xdotool getdisplaygeometry");
    const std::string own = geometry();
    act("key f");
    const std::string filled = geometry();
    act("mousemove --window \"$(" + find + ")\" 4 4 click --repeat 2 --delay 50 1");
    const std::string back = geometry();
    act("key q");
    std::string output;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, player)) > 0;)
        output.append(chunk, got);
    const int status = pclose(player);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    std::istringstream size(screen);
    int width = 0, height = 0;
    size >> width >> height;
    EXPECT_EQ(own, "WIDTH=16\nHEIGHT=16\n") << output;
    EXPECT_EQ(filled,
              "WIDTH=" + std::to_string(width) + "\nHEIGHT=" + std::to_string(height) + "\n");
    EXPECT_EQ(back, own);
}

}  // namespace
}  // namespace zambrel::testing
