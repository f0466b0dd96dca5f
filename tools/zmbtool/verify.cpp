// SPDX-License-Identifier: MIT
// zmbtool verify: decodes whole movies without writing anything and reports every fault.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "movie_file.h"
#include "sound_out.h"
#include "zambrel/decoder.h"

namespace zmbtool {
namespace {

constexpr const char* kVerifyHelp =
    "usage: zmbtool verify MOVIE...\n"
    "\n"
    "Checks each movie's frame table against the file, every frame's chunks against its\n"
    "frame, and decodes every frame's picture and sound, writing nothing. Prints one line per\n"
    "fault (MOVIE: frame N: what) and one summary line per movie.\n"
    "Exit status: 0 every movie is whole; 3 a movie is damaged (the frames before the first\n"
    "fault are usable); 1 a movie cannot be used at all.\n";

void Report(const std::string& path, const FrameFault& fault) {
    std::printf("%s: frame %u: %s\n", path.c_str(), fault.frame, fault.reason.c_str());
}

// Decodes the movie's whole frames through the library, as a player would, and reports
// what the decoding itself finds. Returns the faults found; FIRST becomes the first frame
// with one.
int DecodeWholeFrames(const std::string& path, MovieFile& file, std::uint32_t* first) {
    ZambDecoder* decoder = file.Get();
    const FrameCheck& check = file.Check();
    SoundOutputs sound;
    SoundRequest request;
    request.decodeAll = true;
    std::string error;
    if (!sound.Open(file.Info(), request, &error)) return Report(path, {0, error}), 1;
    int faults = 0;
    const auto note = [&](std::uint32_t f, const std::string& fault) {
        Report(path, {f, fault});
        if (faults++ == 0) *first = f;
    };
    for (std::uint32_t f = 0; f < check.whole; ++f) {
        if (ZambDecoderNextFrame(decoder) != ZAMBERR_NONE) {
            note(f, "the library could not read it");
            return faults;
        }
        std::string fault;
        if (!sound.DecodeFrame(decoder, &fault)) note(f, fault);
        fault = file.PictureDamage();
        if (!fault.empty()) note(f, fault);
    }
    return faults;
}

// The reason of an open's error without the movie's name, which the line already starts with.
std::string WithoutName(const std::string& error, const std::string& path) {
    if (error.rfind(path + ": ", 0) == 0) return error.substr(path.size() + 2);
    const std::string reading = "cannot read " + path + ": ";
    if (error.rfind(reading, 0) == 0) return "cannot read it: " + error.substr(reading.size());
    return error;
}

// 0, kSalvaged or 1, as for the whole run.
int VerifyMovie(const std::string& path) {
    MovieFile file;
    std::string error;
    // The ring frame is decoded too: it follows the last frame as the player shows it.
    if (!file.Open(path, ZAMBOPEN_LOOP, &error)) {
        std::printf("%s: unusable: %s\n", path.c_str(), WithoutName(error, path).c_str());
        return 1;
    }
    const FrameCheck& check = file.Check();
    for (const FrameFault& fault : check.faults) Report(path, fault);
    std::uint32_t whole = check.whole;
    const int faults =
        static_cast<int>(check.faults.size()) + DecodeWholeFrames(path, file, &whole);
    whole = std::min(whole, check.whole);
    if (faults == 0) {
        std::printf("%s: whole, %u frames\n", path.c_str(), check.stored);
        return 0;
    }
    std::printf("%s: damaged, %d fault%s; %u of %u frames whole\n", path.c_str(), faults,
                faults == 1 ? "" : "s", whole, check.stored);
    return whole == 0 ? 1 : kSalvaged;
}

int RunVerify(const std::vector<std::string>& args) {
    std::vector<std::string> movies;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") return std::fputs(kVerifyHelp, stdout), 0;
        if (arg.rfind("--", 0) == 0) return Fail("verify: unknown option " + arg);
        movies.push_back(arg);
    }
    if (movies.empty()) return Fail("verify: no movie given (zmbtool verify --help)");
    int status = 0;
    for (const std::string& movie : movies) {
        const int one = VerifyMovie(movie);
        // "Unusable" outranks "damaged", which outranks "whole".
        if (one == 1 || (one == kSalvaged && status == 0)) status = one;
    }
    return status;
}

const Registration registration{
    {"verify", "decode whole movies without writing anything and report every fault", RunVerify}};

}  // namespace
}  // namespace zmbtool
