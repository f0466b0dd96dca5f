// SPDX-License-Identifier: MIT
// zmbtool never loses a file the user had: outputs that exist are replaced only with
// --force, a run's outputs appear together or not at all, and a failed write, to a file or to
// standard output, is never reported as success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "encoder/writer.h"
#include "file_bytes.h"
#include "run_tool.h"

namespace fs = std::filesystem;
using zambrel::testing::ReadFileBytes;

namespace {

using Bytes = std::vector<std::uint8_t>;

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes SmallMovie(std::uint32_t frames) {
    zambrel::encoder::MovieRecipe recipe;
    recipe.width = 16;
    recipe.height = 8;
    for (std::uint32_t f = 0; f < frames; ++f) {
        zambrel::encoder::Picture picture;
        picture.pixels.resize(16 * 8);
        for (std::size_t i = 0; i < picture.pixels.size(); ++i)
            picture.pixels[i] = static_cast<std::uint8_t>(i * 3 + f * 11);
        for (int e = 0; e < 768; ++e)
            picture.palette[e] = zambrel::encoder::WidenLevel(static_cast<std::uint8_t>(e % 64));
        recipe.pictures.push_back(picture);
    }
    return zambrel::encoder::WriteMovie(recipe).bytes;
}

// Everything in FOLDER, names and contents, to tell whether a run changed anything.
std::vector<std::pair<std::string, Bytes>> Snapshot(const fs::path& folder) {
    std::vector<std::pair<std::string, Bytes>> all;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        all.emplace_back(entry.path().string(),
                         entry.is_regular_file() ? ReadFileBytes(entry.path()) : Bytes{});
    std::sort(all.begin(), all.end());
    return all;
}

// Runs zmbtool with ARGS straight from fork and exec, with the default action for every
// signal (a shell would leave SIGINT ignored in a background job), and returns its pid.
pid_t Start(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(ZMBTOOL_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(ZMBTOOL_PATH, argv.data());
    ::_exit(127);
}

bool AnyHidden(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string()[0] == '.') return true;
    return false;
}

class ZmbtoolOutputs : public ToolFolderTest {
  protected:
    ZmbtoolOutputs() : ToolFolderTest("outputs") {}
    std::string Q(const std::string& name) const { return "'" + Path(name) + "'"; }
};

}  // namespace

// What a shell glob makes of a command: the last name, an existing file, becomes the
// output. Every writing command refuses it before reading anything, and --force replaces
// it whole, keeping its permissions.
TEST_F(ZmbtoolOutputs, ExistingFilesAreReplacedOnlyWithForce) {
    fs::create_directories(folder_ / "pictures");
    const std::string pictures = folder_.string() + "/pictures";
    WriteFile(folder_ / "m.zmb", SmallMovie(3));
    for (int f = 0; f < 5; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "frame%04d.png", f);
        ASSERT_EQ(RunTool("thumbnail " + Q("m.zmb") + " '" + pictures + "/" + name + "'").status,
                  0);
    }
    ASSERT_EQ(RunTool("decode " + Q("m.zmb") + " --png '" + pictures + "'").status, 0);
    WriteFile(folder_ / "b.zmb", SmallMovie(2));
    const auto before = Snapshot(folder_);
    const std::string glob = "'" + pictures + "'/frame000[0-4].png";
    for (const std::string& command :
         {"encode " + glob, "selfplay " + Q("m.zmb") + " " + Q("b.zmb"),
          "thumbnail " + Q("m.zmb") + " " + Q("b.zmb"),
          "decode " + Q("m.zmb") + " --gif " + Q("b.zmb"),
          "decode " + Q("m.zmb") + " --png '" + pictures + "/' --raw /dev/null"}) {
        const RunResult refused = RunTool(command);
        EXPECT_EQ(refused.status, 1) << command << "\n" << refused.output;
        EXPECT_NE(refused.output.find("will not "), std::string::npos) << refused.output;
        EXPECT_EQ(std::count(refused.output.begin(), refused.output.end(), '\n'), 1)
            << refused.output;
    }
    EXPECT_EQ(Snapshot(folder_), before);

    ::chmod(Path("b.zmb").c_str(), 0640);
    ASSERT_EQ(RunTool("decode " + Q("m.zmb") + " --raw " + Q("b.zmb") + " --force").status, 0);
    EXPECT_EQ(fs::file_size(Path("b.zmb")), 3u * (768 + 16 * 8));
    struct stat status {};
    ASSERT_EQ(::stat(Path("b.zmb").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);

    // A folder output with --force ends up holding exactly the new frames: an older, longer
    // movie's are not left beside them, and nothing else is touched.
    std::ofstream(pictures + "/frame00007.png") << "older";
    EXPECT_EQ(RunTool("decode " + Q("m.zmb") + " --png '" + pictures + "'").status, 1);
    EXPECT_EQ(ReadFileBytes(pictures + "/frame00007.png"), (Bytes{'o', 'l', 'd', 'e', 'r'}));
    std::ofstream(pictures + "/notes.txt") << "mine";
    ASSERT_EQ(RunTool("decode " + Q("m.zmb") + " --png='" + pictures + "' -f").status, 0);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(pictures))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"frame0000.png", "frame00000.png", "frame00001.png",
                                               "frame00002.png", "frame0001.png", "frame0002.png",
                                               "frame0003.png", "frame0004.png", "notes.txt"}));
}

// Two outputs that are one file, by whatever names: refused, and nothing written.
TEST_F(ZmbtoolOutputs, OutputsThatAreOneFileAreRefused) {
    WriteFile(folder_ / "m.zmb", SmallMovie(2));
    fs::create_directory_symlink(".", folder_ / "self");
    fs::create_directories(folder_ / "D");
    for (const std::string& outputs : {"--raw " + Q("o.raw") + " --y4m " + Q("self/o.raw"),
                                       "--png " + Q("D") + " --raw " + Q("D/frame00000.png"),
                                       "--wav " + Q("D/") + " --raw " + Q("self/D/track0.wav"),
                                       "--pcm " + Q("self/D") + " --rects " + Q("D/track0.pcm"),
                                       "--raw " + Q("a") + " --raw " + Q("b")}) {
        const RunResult refused = RunTool("decode " + Q("m.zmb") + " " + outputs);
        EXPECT_EQ(refused.status, 1) << outputs << "\n" << refused.output;
        EXPECT_FALSE(fs::exists(Path("o.raw")) || fs::exists(Path("a")) || fs::exists(Path("b")))
            << outputs;
        EXPECT_TRUE(fs::is_empty(folder_ / "D")) << outputs;
    }
    // A movie is read from a file: a FIFO nobody writes is refused at once, not waited on.
    ASSERT_EQ(::mkfifo(Path("pipe.zmb").c_str(), 0600), 0);
    for (const char* command : {"info ", "verify ", "decode --raw /dev/null "}) {
        const RunResult refused = RunTool(std::string(command) + Q("pipe.zmb"));
        EXPECT_EQ(refused.status, 1) << command << refused.output;
        EXPECT_NE(refused.output.find("not a file"), std::string::npos) << refused.output;
    }
}

// A run stopped by a signal while it writes leaves no temporary and every old file as it
// was, and ends by that signal.
TEST_F(ZmbtoolOutputs, AnInterruptedOrFailedRunChangesNothing) {
    WriteFile(folder_ / "m.zmb", SmallMovie(4));
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        std::ofstream(Path("old.rgba")) << "old";
        const pid_t pid = Start({"decode", Path("m.zmb"), "--rgba", Path("old.rgba"), "--force",
                                 "--frames", "100000000"});
        // Stopped only once the temporary is well on its way.
        for (int wait = 0; wait < 2000; ++wait) {
            bool large = false;
            for (const auto& entry : fs::directory_iterator(folder_))
                large = large || (entry.path().filename().string()[0] == '.' &&
                                  fs::file_size(entry.path()) > (1u << 20));
            if (large) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(::kill(pid, sig), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_FALSE(AnyHidden(folder_));
        EXPECT_EQ(ReadFileBytes(folder_ / "old.rgba"), (Bytes{'o', 'l', 'd'}));
    }

    // An output that cannot be written fails alone, named with the reason; the other is
    // written whole, and the run's status says that not all of it was.
    std::ofstream(Path("a.raw")) << "old";
    const RunResult failed =
        RunTool("decode -f " + Q("m.zmb") + " --raw " + Q("a.raw") + " --y4m /dev/full");
    EXPECT_EQ(failed.status, 1) << failed.output;
    EXPECT_NE(failed.output.find("cannot write /dev/full: No space left"), std::string::npos)
        << failed.output;
    EXPECT_EQ(ReadFileBytes(folder_ / "a.raw").size(), 4u * (768 + 16 * 8));
    EXPECT_FALSE(AnyHidden(folder_));
}

// A report cut short must not pass for a whole one, on every command that writes to
// standard output, whether the disk is full or the reader has gone.
TEST_F(ZmbtoolOutputs, AFailedWriteToStandardOutputFailsTheRun) {
    WriteFile(folder_ / "m.zmb", SmallMovie(2));
    WriteFile(folder_ / "long.zmb", SmallMovie(3000));
    const std::vector<std::string> commands = {"info " + Q("m.zmb"),
                                               "info --frames " + Q("m.zmb"),
                                               "verify " + Q("m.zmb"),
                                               "--help",
                                               "decode --help",
                                               "--version",
                                               "decode " + Q("m.zmb") + " --raw -"};
    for (const std::string& command : commands) {
        const std::string errors = Path("errors.txt");
        const int status = std::system(
            (std::string(ZMBTOOL_PATH) + " " + command + " >/dev/full 2>'" + errors + "'").c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_NE(WEXITSTATUS(status), 0) << command;
        std::ifstream in(errors);
        const std::string said{std::istreambuf_iterator<char>(in), {}};
        EXPECT_NE(said.find("No space left on device"), std::string::npos) << command << said;
    }
    // The list of 3,000 frames is more than a pipe holds, so the early reader's going shows.
    const std::string shell = "{ " + std::string(ZMBTOOL_PATH) + " info --frames " + Q("long.zmb") +
                              " 2>" + Q("errors.txt") + "; echo $? >" + Q("status.txt") +
                              "; } | head -c 10 >/dev/null";
    ASSERT_EQ(std::system(shell.c_str()), 0);
    std::ifstream statusFile(Path("status.txt"));
    int status = 0;
    statusFile >> status;
    EXPECT_EQ(status, 1);
    std::ifstream in(Path("errors.txt"));
    const std::string said{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(said.find("Broken pipe"), std::string::npos) << said;
}
