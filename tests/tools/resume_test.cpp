// SPDX-License-Identifier: MIT
// Folder conversions as archivists run them: stopped any way part-way (the parent killed
// outright, or a batch runner killed), then run again with --skip-existing, they end with
// exactly the outputs of a run never stopped; a parent killed outright leaves no movie
// running; each output of a movie stands alone.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "encoder/writer.h"
#include "file_bytes.h"
#include "pattern_movie.h"
#include "run_tool.h"

namespace fs = std::filesystem;
using zambrel::testing::ReadFileBytes;
namespace enc = zambrel::encoder;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Every file under FOLDER by its path from there, with its bytes.
std::map<std::string, Bytes> Tree(const fs::path& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = ReadFileBytes(entry.path());
    return files;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// A shell command line, standard error with standard output.
RunResult RunShell(const std::string& command) {
    RunResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> chunk{};
    while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        result.output.append(chunk.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quoted(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) line += " '" + arg + "'";
    return line;
}

// A PNG as 8-bit red, green, blue; empty when it cannot be read.
struct Rgb {
    std::uint32_t width = 0, height = 0;
    Bytes pixels;
    const std::uint8_t* At(std::uint32_t x, std::uint32_t y) const {
        return pixels.data() + (std::size_t{y} * width + x) * 3;
    }
};
Rgb ReadPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Rgb rgb;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return rgb;
    image.format = PNG_FORMAT_RGB;
    rgb.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.pixels.data(), 0, nullptr)) return {};
    rgb.width = image.width, rgb.height = image.height;
    return rgb;
}

// Starts ARGS (a program and its arguments) with standard output on a pipe; returns its pid.
pid_t Start(std::vector<std::string> args, int* output) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int lines[2];
    if (::pipe(lines) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(lines[1], STDOUT_FILENO);
        ::close(lines[0]);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(lines[1]);
    *output = lines[0];
    return pid;
}

// The children of PARENT, from /proc.
std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...: the name may hold blanks, so read after its ')'.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
            children.push_back(std::stoi(name));
    }
    return children;
}

// Reaps every process left to this one (it is their subreaper) within a few seconds; each
// one's wait status, or -1 for one still running by then.
std::map<pid_t, int> ReapOrphans(const std::vector<pid_t>& pids) {
    std::map<pid_t, int> ended;
    for (pid_t pid : pids) ended[pid] = -1;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (std::size_t left = pids.size(); left > 0 && std::chrono::steady_clock::now() < until;) {
        for (auto& [pid, status] : ended) {
            if (status != -1) continue;
            int got = 0;
            if (::waitpid(pid, &got, WNOHANG) == pid) status = got, --left;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ended;
}

class ZmbtoolResume : public ToolFolderTest {
  protected:
    ZmbtoolResume() : ToolFolderTest("resume") {}

    void SetUp() override {
        ToolFolderTest::SetUp();
        // Orphaned movie runs come to this process, so that it can see how they ended.
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    }

    // A moving pattern, different for each SEED, with sound on track 0 and, when given, a
    // second track at ODD_RATE.
    void WriteMovie(const fs::path& path, int seed, std::uint32_t frames, std::uint32_t width,
                    std::uint32_t height, std::uint32_t oddRate = 0) {
        enc::MovieRecipe recipe = zambrel::test::PatternRecipe(seed, frames, width, height);
        // A frame's worth with each frame, as a player takes it.
        recipe.tracks[0].chunkBytes.assign(frames, 1102);
        if (oddRate != 0) {
            enc::SoundTrack& odd = recipe.tracks[1];
            odd.present = true, odd.sampleRate = oddRate;
            odd.samples.assign(frames * oddRate / 10 + 1, 100);
        }
        fs::create_directories(path.parent_path());
        std::string error;
        ASSERT_TRUE(enc::WriteMovieFile(recipe, path.string(), &error)) << error;
    }

    // A tree with what trips up folder runs: one name in two folders, a blank, a newline and
    // a leading dash in names, a link back up the tree, and the output folder inside it.
    // The quick movie comes first, the slow ones after it.
    void WriteTree() {
        WriteMovie(Path("src/0/quick.zmb"), 1, 3, 32, 16);
        WriteMovie(Path("src/a/slow.zmb"), 2, 25, 320, 240);
        WriteMovie(Path("src/b/slow.zmb"), 3, 25, 320, 240);
        WriteMovie(Path("src/c d/-x.zmb"), 4, 5, 32, 16);
        WriteMovie(Path("src/c d/new\nline.zmb"), 5, 5, 32, 16);
        fs::create_directory_symlink("..", Path("src/a/up"));
        fs::create_directories(Path("src/out"));
        fs::create_directories(Path("ref"));
    }
};

// The parent killed outright takes its running movies with it, and none of them writes
// anything after; the run again with --skip-existing finishes the job, to the same files as
// a run never stopped, and the manifest has a line for every movie.
TEST_F(ZmbtoolResume, AKilledRunResumedEqualsAnUninterruptedOne) {
    WriteTree();
    const std::string outputs = " --webm %s --gif %s --wav %s/ --tracks 0 -j 2";
    auto run = [&](const std::string& out) {
        char text[512];
        std::snprintf(text, sizeof text, outputs.c_str(), out.c_str(), out.c_str(), out.c_str());
        return std::string(text);
    };
    const RunResult whole = RunTool("decode -r '" + Path("src") + "'" + run(Path("ref")));
    ASSERT_EQ(whole.status, 0) << whole.output;
    EXPECT_NE(whole.output.find("5 done"), std::string::npos) << whole.output;
    EXPECT_NE(whole.output.find("c d/new\\nline.zmb: done"), std::string::npos) << whole.output;

    const std::string manifest = Path("manifest.jsonl");
    std::vector<std::string> args = {ZMBTOOL_PATH, "decode",
                                     "-r",         Path("src"),
                                     "--webm",     Path("src/out"),
                                     "--gif",      Path("src/out"),
                                     "--wav",      Path("src/out/"),
                                     "--tracks",   "0",
                                     "-j",         "2",
                                     "--manifest", manifest};
    int output = -1;
    const pid_t parent = Start(args, &output);
    ASSERT_GT(parent, 0);
    FILE* said = ::fdopen(output, "r");
    char line[512] = {};
    ASSERT_NE(std::fgets(line, sizeof line, said), nullptr);
    EXPECT_NE(std::string(line).find("quick.zmb: done"), std::string::npos) << line;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::vector<pid_t> running = ChildrenOf(parent);
    EXPECT_FALSE(running.empty());
    ASSERT_EQ(::kill(parent, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(parent, &status, 0), parent);
    std::fclose(said);
    for (const auto& [pid, ended] : ReapOrphans(running)) {
        EXPECT_TRUE(ended != -1 && WIFSIGNALED(ended) && WTERMSIG(ended) == SIGTERM)
            << "movie run " << pid << " ended as " << ended;
    }
    const auto left = Tree(Path("src/out"));
    for (const auto& [name, bytes] : left) {
        EXPECT_NE(fs::path(name).filename().string()[0], '.') << name << " left behind";
        EXPECT_EQ(bytes, ReadFileBytes(Path("ref/" + name))) << name << " is not whole";
    }
    EXPECT_LT(left.size(), 15u) << "the run was not stopped part-way";

    args.push_back("--skip-existing");
    const RunResult resumed = RunShell(Quoted(args));
    EXPECT_EQ(resumed.status, 0) << resumed.output;
    EXPECT_NE(resumed.output.find("quick.zmb: exists"), std::string::npos) << resumed.output;
    EXPECT_NE(resumed.output.find("note: not searching " + Path("src/out")), std::string::npos)
        << resumed.output;
    EXPECT_NE(resumed.output.find("up: a link to a folder searched already"), std::string::npos)
        << resumed.output;
    EXPECT_EQ(Tree(Path("src/out")), Tree(Path("ref")));
    const Bytes noted = ReadFileBytes(manifest);
    const std::string lines(noted.begin(), noted.end());
    // The movies done before the kill (three outputs each), then every movie once more.
    EXPECT_EQ(Count(lines, "\n"), left.size() / 3 + 5) << lines;
    EXPECT_EQ(Count(lines, "\"status\":\"exists\""), left.size() / 3) << lines;
    EXPECT_EQ(Count(lines, "\"status\":\"done\""), 5u) << lines;
    EXPECT_NE(lines.find("{\"input\":\"" + Path("src/c d/new\\u000aline.zmb") + "\""),
              std::string::npos)
        << lines;
}

// The same conversion as jobs of GNU parallel, one movie a job: the runner killed part-way
// and run again, the movies' runs skip what exists and the outputs equal an unbroken run's.
TEST_F(ZmbtoolResume, UnderGnuParallelAStoppedRunResumesToTheSameOutputs) {
    if (std::system("parallel --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU parallel is not installed";
    WriteMovie(Path("src/0quick.zmb"), 1, 3, 32, 16);
    for (int n = 1; n <= 3; ++n)
        WriteMovie(Path("src/slow" + std::to_string(n) + ".zmb"), n, 20, 320, 240);
    fs::create_directories(Path("ref"));
    fs::create_directories(Path("out"));
    std::vector<std::string> movies;
    for (const auto& entry : fs::directory_iterator(Path("src"))) movies.push_back(entry.path());
    std::sort(movies.begin(), movies.end());
    auto parallel = [&](const std::string& out) {
        std::vector<std::string> args = {"parallel",
                                         "--will-cite",
                                         "-j",
                                         "2",
                                         ZMBTOOL_PATH,
                                         "decode",
                                         "--skip-existing",
                                         "--webm",
                                         out + "/{/.}.webm",
                                         "--gif",
                                         out + "/{/.}.gif",
                                         "--",
                                         "{}",
                                         ":::"};
        args.insert(args.end(), movies.begin(), movies.end());
        return args;
    };
    const RunResult whole = RunShell(Quoted(parallel(Path("ref"))));
    ASSERT_EQ(whole.status, 0) << whole.output;
    ASSERT_EQ(Tree(Path("ref")).size(), 2 * movies.size());

    int output = -1;
    const pid_t runner = Start(parallel(Path("out")), &output);
    ASSERT_GT(runner, 0);
    while (!fs::exists(Path("out/0quick.gif")))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::vector<pid_t> jobs = ChildrenOf(runner);
    ASSERT_EQ(::kill(runner, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(runner, &status, 0), runner);
    ::close(output);
    // Its jobs run on by themselves; what they write is whole.
    ReapOrphans(jobs);
    EXPECT_LT(Tree(Path("out")).size(), 2 * movies.size()) << "the run was not stopped part-way";

    const RunResult resumed = RunShell(Quoted(parallel(Path("out"))));
    EXPECT_EQ(resumed.status, 0) << resumed.output;
    EXPECT_NE(resumed.output.find("0quick.zmb: exists"), std::string::npos) << resumed.output;
    EXPECT_EQ(Tree(Path("out")), Tree(Path("ref")));
}

// A track Opus cannot be given fails the WebM alone, before any frame is decoded, and says
// how to leave it out; the movie's other outputs are written whole.
TEST_F(ZmbtoolResume, ATrackTheWebmCannotTakeFailsTheWebmAlone) {
    WriteMovie(Path("odd.zmb"), 1, 8, 32, 16, 1);
    const std::string outputs = " --webm " + Path("odd.webm") + " --gif " + Path("odd.gif") +
                                " --webp " + Path("odd.webp") + " --wav " + Path("odd.wav");
    const RunResult run = RunTool("decode " + Path("odd.zmb") + outputs + " --tracks 1");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("cannot write " + Path("odd.webm") + ": track 1 plays at 1 Hz"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("leave it out with --tracks none"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(Path("odd.webm")));
    for (const char* kept : {"odd.gif", "odd.webp", "odd.wav"}) {
        const RunResult alone = RunTool("decode " + Path("odd.zmb") + " --" +
                                        fs::path(kept).extension().string().substr(1) + " " +
                                        Path(std::string("own-") + kept) + " --tracks 1");
        ASSERT_EQ(alone.status, 0) << alone.output;
        EXPECT_EQ(ReadFileBytes(Path(kept)), ReadFileBytes(Path(std::string("own-") + kept)))
            << kept;
    }
    EXPECT_EQ(std::count_if(fs::directory_iterator(folder_), fs::directory_iterator(),
                            [](const auto& e) { return e.path().filename().string()[0] == '.'; }),
              0);
    // Left out, the WebM is written; --tracks none makes it silent.
    ASSERT_EQ(
        RunTool("decode " + Path("odd.zmb") + " --webm " + Path("a.webm") + " --tracks 0").status,
        0);
    ASSERT_EQ(RunTool("decode " + Path("odd.zmb") + " --webm " + Path("s.webm") + " --tracks none")
                  .status,
              0);
    const Bytes withSound = ReadFileBytes(Path("a.webm")), silent = ReadFileBytes(Path("s.webm"));
    const std::string opus = "OpusHead";
    EXPECT_NE(std::search(withSound.begin(), withSound.end(), opus.begin(), opus.end()),
              withSound.end());
    EXPECT_EQ(std::search(silent.begin(), silent.end(), opus.begin(), opus.end()), silent.end());
}

// A contact sheet holds, in reading order, exactly the thumbnails of evenly spaced frames
// (the single-frame command at the same size is the independent account of each), each with
// its time beneath; a folder run draws one per movie, and a damaged movie's sheet stops at
// the damage with status 3.
TEST_F(ZmbtoolResume, AContactSheetIsTheThumbnailsOfEvenlySpacedFrames) {
    WriteMovie(Path("a.zmb"), 1, 20, 64, 32);
    WriteMovie(Path("in/b.zmb"), 2, 20, 64, 32);
    const RunResult drawn =
        RunTool("thumbnail --sheet 3x2 --size 40 " + Path("a.zmb") + " " + Path("sheet.png"));
    ASSERT_EQ(drawn.status, 0) << drawn.output;
    const Rgb sheet = ReadPng(Path("sheet.png"));
    // Pictures of 40 x 20 with 6 pixels around them and 14 for each time beneath.
    ASSERT_EQ(sheet.width, 6 + 3 * (40 + 6u));
    ASSERT_EQ(sheet.height, 6 + 2 * (20 + 14 + 6u));
    for (int cell = 0; cell < 6; ++cell) {
        const int frame = cell * 20 / 6;
        SCOPED_TRACE(frame);
        const std::string own = Path("f" + std::to_string(frame) + ".png");
        ASSERT_EQ(RunTool("thumbnail --size 40 --frame " + std::to_string(frame) + " " +
                          Path("a.zmb") + " " + own)
                      .status,
                  0);
        const Rgb thumbnail = ReadPng(own);
        ASSERT_EQ(thumbnail.width, 40u);
        const std::uint32_t left = 6 + (cell % 3) * 46, top = 6 + (cell / 3) * 40;
        for (std::uint32_t y = 0; y < 20; ++y)
            for (std::uint32_t x = 0; x < 40; ++x)
                ASSERT_EQ(std::memcmp(sheet.At(left + x, top + y), thumbnail.At(x, y), 3), 0)
                    << x << "," << y;
        std::size_t lit = 0;  // the time's pixels, on the dark strip beneath
        for (std::uint32_t y = top + 20; y < top + 34; ++y)
            for (std::uint32_t x = left; x < left + 40; ++x) lit += sheet.At(x, y)[0] > 128;
        EXPECT_GT(lit, 20u);
    }
    fs::create_directories(Path("sheets"));
    const RunResult folder =
        RunTool("thumbnail --sheet 3x2 --size 40 " + Path("a.zmb") + " " + Path("in/b.zmb") + " " +
                Path("missing.zmb") + " " + Path("sheets"));
    EXPECT_EQ(folder.status, 1) << folder.output;
    EXPECT_EQ(ReadFileBytes(Path("sheets/a.png")), ReadFileBytes(Path("sheet.png")));
    EXPECT_EQ(ReadPng(Path("sheets/b.png")).width, sheet.width);
    EXPECT_FALSE(fs::exists(Path("sheets/missing.png")));

    const Bytes bytes = ReadFileBytes(Path("a.zmb"));
    std::ofstream(Path("cut.zmb"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size() / 2));
    const RunResult cut =
        RunTool("thumbnail --sheet 3x2 --size 40 " + Path("cut.zmb") + " " + Path("cut.png"));
    EXPECT_EQ(cut.status, 3) << cut.output;
    EXPECT_NE(cut.output.find("pictures were drawn"), std::string::npos) << cut.output;
    EXPECT_EQ(ReadPng(Path("cut.png")).width, sheet.width);
}

}  // namespace
