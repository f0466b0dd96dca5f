// SPDX-License-Identifier: MIT
// zmbtool selfplay: a copy of the player that plays the movie appended to it.
#include <unistd.h>

#include <cstdio>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "command.h"
#include "options.h"
#include "output.h"
#include "selfplay/copy.h"
#include "zambrel/movie.h"

namespace zmbtool {
namespace {

constexpr const char* kSelfPlayHelp =
    "usage: zmbtool selfplay MOVIE OUT [--switches TEXT] [--player PLAYER]\n"
    "\n"
    "Writes OUT, an executable copy of the player with MOVIE appended, configured to play\n"
    "it when started without arguments. TEXT holds the player's switches for it, such as\n"
    "\"/W640/I4/J/D2/T1/U2/A2\"; switches on the copy's own command line override them.\n"
    "\n"
    "  --player   the plain player to copy (default: zambply beside zmbtool, or in the\n"
    "             build tree's src/player)\n"
    "  --force    replace OUT if it exists (-f)\n";

struct SelfPlayOptions {
    std::string switches, player;
};

const Option<SelfPlayOptions> kOptions[] = {
    {"--switches", true,
     [](SelfPlayOptions& o, const std::string& v) { return o.switches = v, true; }},
    {"--player", true, [](SelfPlayOptions& o, const std::string& v) { return o.player = v, true; }},
};

bool ReadWhole(const std::string& path, std::vector<char>* bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes->assign(std::istreambuf_iterator<char>(file), {});
    return !file.bad();
}

std::string OwnFolder() {
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string own(path, static_cast<std::size_t>(length));
    return own.substr(0, own.find_last_of('/'));
}

std::string DefaultPlayer() {
    std::string folder = OwnFolder();
    for (const std::string& candidate : {folder + "/zambply", folder + "/../../src/player/zambply"})
        if (::access(candidate.c_str(), R_OK) == 0) return candidate;
    return folder + "/zambply";
}

bool IsMovie(const std::vector<char>& bytes) {
    return bytes.size() >= ZAMB_MAGIC_BYTES &&
           std::memcmp(bytes.data(), ZAMB_MAGIC, ZAMB_MAGIC_BYTES) == 0;
}

int WriteCopy(const std::string& path, const std::vector<char>& bytes) {
    OutputFile out;
    std::string error;
    if (!out.Open(path, &error)) return Fail("selfplay: " + error);
    out.MarkExecutable();
    out.Write(bytes.data(), bytes.size());
    return out.Commit(&error) ? 0 : Fail("selfplay: " + error);
}

int Run(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    SelfPlayOptions o;
    if (const int status =
            ParseOptions<SelfPlayOptions>("selfplay", kSelfPlayHelp, args, kOptions, o, files, 2))
        return status == kHelpShown ? 0 : status;
    if (files.size() != 2) return Fail("selfplay: MOVIE and OUT expected (see --help)");
    const std::string& switches = o.switches;
    std::string player = o.player;
    if (player.empty()) player = DefaultPlayer();
    NoteInput(files[0]);
    NoteInput(player);
    std::string error;
    if (!CheckOutputs({files[1]}, &error)) return Fail("selfplay: " + error);
    std::vector<char> playerBytes, movie, copy;
    if (!ReadWhole(files[0], &movie)) return Fail("cannot read " + files[0]);
    if (!IsMovie(movie)) return Fail(files[0] + ": not a Zambrel movie");
    if (!ReadWhole(player, &playerBytes)) return Fail("cannot read the player " + player);
    if (!MakeSelfPlayCopy(playerBytes, movie, switches, &copy, &error))
        return Fail(player + ": " + error);
    return WriteCopy(files[1], copy);
}

const Registration registration{{"selfplay", "make a self-playing copy of the player", Run, true}};

}  // namespace
}  // namespace zmbtool
