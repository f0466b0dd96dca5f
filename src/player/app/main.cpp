// SPDX-License-Identifier: MIT
// zambply: the player program. It also exports the blitter's operations for other programs.
#include <string>
#include <vector>

#include "exported_blitter.h"
#include "player/entry.h"

int main(int argc, char** argv) {
    KeepExportedBlitter();
    return RunPlayerWithArguments(std::vector<std::string>(argv + 1, argv + argc));
}
