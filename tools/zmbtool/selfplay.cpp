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
#include "output.h"
#include "selfplay/copy.h"

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
    "             build tree's src/player)\n";

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
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "ZMB2", 4) == 0;
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
    std::string switches, player;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help") {
            std::fputs(kSelfPlayHelp, stdout);
            return 0;
        }
        if ((args[i] == "--switches" || args[i] == "--player") && i + 1 < args.size()) {
            (args[i] == "--switches" ? switches : player) = args[i + 1];
            ++i;
        } else if (args[i].rfind("--", 0) == 0) {
            return Fail("selfplay: unknown option " + args[i]);
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2)
        return Fail(std::string("selfplay: MOVIE and OUT expected\n") + kSelfPlayHelp);
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

const Registration registration{{"selfplay", "make a self-playing copy of the player", Run}};

}  // namespace
}  // namespace zmbtool
