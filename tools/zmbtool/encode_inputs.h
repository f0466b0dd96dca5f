// SPDX-License-Identifier: MIT
// zmbtool encode's picture files as people name them: a numbered first file, a printf-style
// pattern, or a list.
#pragma once

#include <string>
#include <vector>

namespace zmbtool {

struct PictureInputs {
    // One name: a pattern when it holds a %d conversion (frame%04d.png), otherwise the first
    // of a numbered series (the number is the last run of digits, its width kept). Several
    // names: exactly those files, in that order.
    std::vector<std::string> names;
    long count = -1;         // at most this many pictures; -1 = all
    bool allowGaps = false;  // a missing number is stepped over instead of refused
};

// The picture files, in playing order. Fails with one line naming the file and the problem,
// and the option that would accept it where there is one.
// `missing` receives the numbers stepped over with allowGaps, so that they can be reported.
bool PictureFiles(const PictureInputs& inputs, std::vector<std::string>* files,
                  std::vector<std::string>* missing, std::string* error);

}  // namespace zmbtool
