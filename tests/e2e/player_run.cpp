// SPDX-License-Identifier: MIT
// One run of the player program on the headless host, in a folder of its own, with its
// debug output and message boxes collected from standard error.
#include "player_run.h"

#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "encoder/writer.h"

namespace zambrel::testing {

using encoder::MovieRecipe;
using encoder::Picture;
using encoder::WidenLevel;

namespace {

double MovieSeconds(int frames, std::int32_t periodCode) {
    return frames * (periodCode < 0 ? -periodCode / 100000.0 : periodCode / 1000.0);
}

MovieRecipe SmallPictures(int frames, std::int32_t periodCode) {
    constexpr std::uint32_t kSize = 16;
    MovieRecipe recipe;
    recipe.width = kSize;
    recipe.height = kSize;
    recipe.frameRate = periodCode;
    for (int f = 0; f < frames; ++f) {
        Picture picture;
        picture.pixels.resize(kSize * kSize);
        for (std::uint32_t i = 0; i < picture.pixels.size(); ++i)
            picture.pixels[i] = static_cast<std::uint8_t>((i / 4 + f) % 8);
        for (int c = 0; c < 8; ++c) {
            picture.palette[3 * c] = WidenLevel(static_cast<std::uint8_t>(c * 8));
            picture.palette[3 * c + 1] = WidenLevel(static_cast<std::uint8_t>(63 - c * 8));
            picture.palette[3 * c + 2] = WidenLevel(32);
        }
        recipe.pictures.push_back(std::move(picture));
    }
    return recipe;
}

std::vector<std::uint8_t> Written(const MovieRecipe& recipe) {
    encoder::WriteResult result = encoder::WriteMovie(recipe);
    if (!result.ok) std::fprintf(stderr, "movie not written: %s\n", result.error.c_str());
    return result.bytes;
}

}  // namespace

std::vector<std::uint8_t> SmallMovie(int frames, std::int32_t periodCode, bool withSound) {
    MovieRecipe recipe = SmallPictures(frames, periodCode);
    if (withSound) {
        auto& track = recipe.tracks[0];
        track.present = true;
        track.sampleRate = 11025;
        track.samples.assign(static_cast<std::size_t>(MovieSeconds(frames, periodCode) * 11025),
                             128);
    }
    return Written(recipe);
}

std::vector<std::uint8_t> CountingSoundMovie(int frames, std::int32_t periodCode,
                                             std::uint32_t rate, bool stereo) {
    MovieRecipe recipe = SmallPictures(frames, periodCode);
    auto& track = recipe.tracks[0];
    track.present = true;
    track.sampleRate = rate;
    track.is16Bit = true;
    track.stereo = stereo;
    const auto count = static_cast<std::size_t>(MovieSeconds(frames, periodCode) * rate);
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint16_t>(CountingSampleAt(i));
        for (int channel = 0; channel < (stereo ? 2 : 1); ++channel) {
            track.samples.push_back(static_cast<std::uint8_t>(value & 0xFF));
            track.samples.push_back(static_cast<std::uint8_t>(value >> 8));
        }
    }
    return Written(recipe);
}

std::vector<std::uint8_t> WavData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    constexpr std::size_t kHeader = 44;  // the capture writes the plain PCM header
    if (bytes.size() < kHeader) return {};
    return std::vector<std::uint8_t>(bytes.begin() + kHeader, bytes.end());
}

std::vector<std::int16_t> Samples16(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        samples.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
    return samples;
}

std::uint32_t RgbImage::At(int x, int y) const {
    const std::uint8_t* p = &pixels[3 * (static_cast<std::size_t>(y) * width + x)];
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

bool ReadPng(const std::string& path, RgbImage* image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_RGB;
    image->width = static_cast<int>(png.width);
    image->height = static_cast<int>(png.height);
    image->pixels.resize(PNG_IMAGE_SIZE(png));
    const bool ok = png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr) != 0;
    png_image_free(&png);
    return ok;
}

std::vector<std::string> PlayerRun::Opened() const {
    static const std::string kLabel = "ZambOpen - file: ";
    std::vector<std::string> names;
    std::istringstream lines(Output);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(kLabel);
        if (at == std::string::npos) continue;
        std::string name = line.substr(at + kLabel.size());
        while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
        names.push_back(name);
    }
    return names;
}

long PlayerRun::NumberAfter(const std::string& label) const {
    const auto at = Output.find(label);
    if (at == std::string::npos) return -1;
    return std::strtol(Output.c_str() + at + label.size(), nullptr, 10);
}

PlayerFolder::PlayerFolder() {
    char pattern[] = "/tmp/zambply-e2e-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "/tmp";
    WriteText("profile.ini", "[Zambrel]\nDebug=1\n");
}

PlayerFolder::~PlayerFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void PlayerFolder::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(path_ + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void PlayerFolder::WriteText(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + "/" + name) << text;
}

PlayerRun PlayerFolder::Run(const std::string& args, const std::string& input,
                            const std::string& environment) const {
    return RunProgram(ZAMBPLY_PATH, args, input, environment);
}

// Messages go to boxes, as from the desktop: the headless host closes each at once and its
// text stays on standard error. An environment that says otherwise comes later and wins.
std::string PlayerFolder::Command(const std::string& program, const std::string& args,
                                  const std::string& input, const std::string& environment) const {
    std::string command = "cd '" + path_ +
                          "' && ZAMBREL_HOST=headless ZAMBREL_AUDIO=simulated"
                          " ZAMBREL_PROFILE=profile.ini ZAMBREL_MESSAGES=box " +
                          environment;
    if (!input.empty()) {
        WriteText("input.txt", input);
        command += " ZAMBREL_INPUT=input.txt";
    }
    // The time limit only guards against a player that never ends; no run comes near it.
    return command + " timeout 60 '" + program + "' " + args + " 2>&1";
}

bool PlayerFolder::MakeSelfPlayingCopy(const std::string& movie, const std::string& copy,
                                       const std::string& switches) const {
    const std::string make = "'" ZMBTOOL_PATH "' selfplay '" + path_ + "/" + movie + "' '" + path_ +
                             "/" + copy + "' --switches '" + switches +
                             "' --player '" ZAMBPLY_PATH "'";
    return std::system(make.c_str()) == 0;
}

PlayerRun PlayerFolder::RunProgram(const std::string& program, const std::string& args,
                                   const std::string& input, const std::string& environment) const {
    const std::string command = Command(program, args, input, environment);
    PlayerRun run;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            run.Output.append(chunk, got);
        const int status = pclose(pipe);
        if (WIFEXITED(status) && WEXITSTATUS(status) != 124) run.Status = WEXITSTATUS(status);
    }
    return run;
}

}  // namespace zambrel::testing
