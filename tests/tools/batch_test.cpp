// SPDX-License-Identifier: MIT
// zmbtool decode of several movies into folders: each movie's outputs are what its own run
// writes, a damaged or failing movie costs the others nothing, mistakes that concern every
// movie are refused before any is decoded, and a stopped run leaves no temporaries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

std::size_t CountLines(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::vector<std::string> Hidden(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string()[0] == '.') names.push_back(entry.path().string());
    return names;
}

class ZmbtoolBatch : public ToolFolderTest {
  protected:
    ZmbtoolBatch() : ToolFolderTest("batch") {}

    // A moving pattern, different for each SEED, with a little sound.
    std::string WriteMovie(const std::string& name, int seed, std::uint32_t frames,
                           std::uint32_t width = 32, std::uint32_t height = 16) {
        const enc::MovieRecipe recipe = zambrel::test::PatternRecipe(seed, frames, width, height);
        std::string error;
        EXPECT_TRUE(enc::WriteMovieFile(recipe, Path(name), &error)) << error;
        return Path(name);
    }

    // MOVIE cut to two thirds of its bytes: the frames before the cut are whole.
    std::string WriteCut(const std::string& movie, const std::string& name) {
        const Bytes bytes = ReadFileBytes(movie);
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   std::streamsize(bytes.size() * 2 / 3));
        return Path(name);
    }
};

// Every output of every movie is byte for byte what the movie's own run gives with the same
// options, the damaged one's salvage included; one line per movie and a total.
TEST_F(ZmbtoolBatch, EachMovieGetsWhatItsOwnRunWritesAndDamageIsStatus3) {
    const std::string a = WriteMovie("a.zmb", 1, 12), b = WriteMovie("b.zmb", 2, 12);
    const std::string c = WriteCut(WriteMovie("c-whole.zmb", 3, 12), "c.zmb");
    fs::create_directories(Path("out"));
    fs::create_directories(Path("ref"));
    const std::string options = " --scale 2 --frames 9 --tracks 0";
    const RunResult run = RunTool("decode " + a + " " + b + " " + c + " --y4m " + Path("out") +
                                  " --wav " + Path("out/") + " --png " + Path("out") +
                                  " --gif=" + Path("out") + " -j 2" + options);
    EXPECT_EQ(run.status, 3) << run.output;
    EXPECT_EQ(CountLines(run.output, ".zmb: done in"), 2u) << run.output;
    EXPECT_EQ(CountLines(run.output, "c.zmb: salvaged in"), 1u) << run.output;
    EXPECT_NE(run.output.find("3 movies in"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("2 done, 1 salvaged, 0 failed"), std::string::npos) << run.output;
    for (const char* name : {"a", "b", "c"}) {
        SCOPED_TRACE(name);
        const std::string movie = Path(std::string(name) + ".zmb");
        const fs::path ref = folder_ / "ref" / name;
        fs::create_directories(ref);
        const RunResult own =
            RunTool("decode " + movie + " --y4m " + (ref / "m.y4m").string() + " --wav " +
                    (ref / "m.wav").string() + " --gif " + (ref / "m.gif").string() + " --png " +
                    ref.string() + options);
        ASSERT_EQ(own.status, std::string(name) == "c" ? 3 : 0) << own.output;
        const fs::path out = folder_ / "out";
        for (const char* kind : {"y4m", "wav", "gif"})
            EXPECT_EQ(ReadFileBytes(out / (std::string(name) + "." + kind)),
                      ReadFileBytes(ref / (std::string("m.") + kind)))
                << kind;
        std::size_t frames = 0;
        for (const auto& entry : fs::directory_iterator(out / name)) {
            EXPECT_EQ(ReadFileBytes(entry.path()), ReadFileBytes(ref / entry.path().filename()));
            ++frames;
        }
        // The reference folder holds the three files beside its frames.
        const auto ownFrames = std::distance(fs::directory_iterator(ref), fs::directory_iterator());
        EXPECT_EQ(frames + 3, static_cast<std::size_t>(ownFrames));
        EXPECT_EQ(frames == 9, std::string(name) != "c");
    }
}

// A movie that cannot be used, and one whose output exists, fail on their own: the others'
// outputs are complete, and a folder made for a failed movie is taken away again.
TEST_F(ZmbtoolBatch, AFailureIsTheFailingMoviesAlone) {
    const std::string a = WriteMovie("a.zmb", 1, 6), b = WriteMovie("b.zmb", 2, 6);
    const std::string c = WriteMovie("c.zmb", 3, 6);
    fs::create_directories(Path("out"));
    std::ofstream(Path("out/b.y4m")) << "kept";
    const std::string missing = Path("missing.zmb");
    const std::string outputs = " --y4m " + Path("out") + " --png " + Path("out");
    const RunResult run = RunTool("decode " + a + " " + b + " " + missing + " " + c + outputs);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("2 done, 0 salvaged, 2 failed"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("b.zmb: failed"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("missing.zmb: failed"), std::string::npos) << run.output;
    EXPECT_EQ(ReadFileBytes(Path("out/b.y4m")), Bytes({'k', 'e', 'p', 't'}));
    EXPECT_FALSE(fs::exists(Path("out/missing")));
    EXPECT_FALSE(fs::exists(Path("out/b")));
    for (const char* name : {"a", "c"}) {
        ASSERT_EQ(RunTool("decode " + Path(std::string(name) + ".zmb") + " --y4m " +
                          Path(std::string(name) + ".y4m"))
                      .status,
                  0);
        EXPECT_EQ(ReadFileBytes(Path("out/" + std::string(name) + ".y4m")),
                  ReadFileBytes(Path(std::string(name) + ".y4m")));
        EXPECT_EQ(std::distance(fs::directory_iterator(Path("out/" + std::string(name))),
                                fs::directory_iterator()),
                  6);
    }
    // --force replaces it, and the run is whole.
    EXPECT_EQ(RunTool("decode " + a + " " + b + outputs + " --frames 2 -f").status, 0);
    EXPECT_EQ(ReadFileBytes(Path("out/b.y4m")).size(), ReadFileBytes(Path("out/a.y4m")).size());
}

// What concerns every movie is refused before any of them is decoded.
TEST_F(ZmbtoolBatch, MistakesForAllTheMoviesAreRefusedBeforeAny) {
    const std::string a = WriteMovie("a.zmb", 1, 3), b = WriteMovie("b.zmb", 2, 3);
    fs::create_directories(Path("other"));
    fs::copy_file(b, Path("other/a.zmb"));
    fs::create_directories(Path("out"));
    const struct {
        std::string arguments, says;
    } cases[] = {
        {a + " " + Path("other/a.zmb") + " --y4m " + Path("out"), "would both write"},
        {a + " " + b + " --y4m -", "cannot be standard output"},
        {a + " " + b + " --y4m " + Path("out") + " --gif " + Path("one.gif"), "is not one"},
        {a + " " + b + " --y4m " + Path("nowhere/"), "is not one"},
        {a + " " + b + " --y4m " + Path("out") + " -j 0", "bad value for -j"},
        {a + " " + b, "no output given"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const RunResult run = RunTool("decode " + c.arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_TRUE(fs::is_empty(Path("out")));
    }
}

// Stopped part-way, the run ends by the signal; the movies done keep their outputs, the
// others leave nothing, not even a temporary.
TEST_F(ZmbtoolBatch, StoppedRunEndsByTheSignalAndLeavesNoTemporaries) {
    std::vector<std::string> args = {"zmbtool", "decode", WriteMovie("quick.zmb", 1, 2)};
    for (const char* name : {"slow1.zmb", "slow2.zmb"})
        args.push_back(WriteMovie(name, 2, 100, 320, 240));
    fs::create_directories(Path("out"));
    args.insert(args.end(), {"--webm", Path("out"), "-j", "1"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int lines[2];
    ASSERT_EQ(::pipe(lines), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(lines[1], STDOUT_FILENO);
        ::execv(ZMBTOOL_PATH, argv.data());
        ::_exit(127);
    }
    ::close(lines[1]);
    // The quick movie's line says it is done and the first slow one has begun.
    FILE* said = ::fdopen(lines[0], "r");
    char line[512] = {};
    ASSERT_NE(std::fgets(line, sizeof line, said), nullptr);
    EXPECT_NE(std::string(line).find("quick.zmb: done"), std::string::npos) << line;
    ::usleep(200000);
    ::kill(pid, SIGTERM);
    std::string rest;
    while (std::fgets(line, sizeof line, said) != nullptr) rest += line;
    std::fclose(said);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << rest;
    EXPECT_NE(rest.find("slow1.zmb: stopped"), std::string::npos) << rest;
    EXPECT_NE(rest.find("1 stopped, 1 not begun"), std::string::npos) << rest;
    EXPECT_TRUE(fs::exists(Path("out/quick.webm")));
    EXPECT_FALSE(fs::exists(Path("out/slow1.webm")));
    EXPECT_TRUE(Hidden(folder_ / "out").empty());
}

}  // namespace
