// SPDX-License-Identifier: MIT
// The writer's quality setting: pictures simplified block by block within an error budget.
#include "encoder/lossy.h"

#include <algorithm>
#include <array>

namespace zambrel::encoder {
namespace {

using Block = std::array<std::uint8_t, 16>;

// Squared distances between the colours of one palette as shown.
class Distances {
  public:
    void Build(const Levels& levels) {
        if (built_ && levels == levels_) return;
        levels_ = levels;
        built_ = true;
        for (int a = 0; a < 256; ++a)
            for (int b = 0; b < 256; ++b) {
                std::uint32_t sum = 0;
                for (int c = 0; c < 3; ++c) {
                    const int d = WidenLevel(levels[a * 3 + c]) - WidenLevel(levels[b * 3 + c]);
                    sum += static_cast<std::uint32_t>(d * d);
                }
                table_[a * 256 + b] = sum;
            }
    }
    std::uint32_t operator()(std::uint8_t a, std::uint8_t b) const { return table_[a * 256 + b]; }

  private:
    bool built_ = false;
    Levels levels_{};
    std::vector<std::uint32_t> table_ = std::vector<std::uint32_t>(256 * 256);
};

struct Fit {
    std::uint32_t error;
    std::uint8_t first, second;
};

std::uint32_t ErrorOf(const Block& shown, const Block& wanted, const Distances& d) {
    std::uint32_t sum = 0;
    for (int i = 0; i < 16; ++i) sum += d(shown[i], wanted[i]);
    return sum;
}

std::uint32_t PairError(std::uint8_t a, std::uint8_t b, const Block& wanted, const Distances& d) {
    std::uint32_t sum = 0;
    for (std::uint8_t p : wanted) {
        const std::uint32_t da = d(a, p), db = d(b, p);
        sum += da < db ? da : db;
    }
    return sum;
}

Fit BestSingle(const Block& wanted, const std::vector<std::uint8_t>& colours,
               const Distances& d) {
    Fit fit{PairError(colours[0], colours[0], wanted, d), colours[0], colours[0]};
    for (std::uint8_t c : colours) {
        const std::uint32_t e = PairError(c, c, wanted, d);
        if (e < fit.error) fit = {e, c, c};
    }
    return fit;
}

// The best pair of the block's own colours, found by improving one colour at a time from
// the best single colour: near the best pair at a fraction of trying them all.
Fit BestPair(Fit fit, const Block& wanted, const std::vector<std::uint8_t>& colours,
             const Distances& d) {
    for (int round = 0; round < 2; ++round) {
        std::uint8_t& moving = round == 0 ? fit.second : fit.first;
        const std::uint8_t fixed = round == 0 ? fit.first : fit.second;
        for (std::uint8_t c : colours) {
            const std::uint32_t e = PairError(fixed, c, wanted, d);
            if (e < fit.error) fit.error = e, moving = c;
        }
    }
    return fit;
}

Block Simplify(const Block& wanted, const Block* onScreen, std::uint32_t budget,
               const Distances& d) {
    if (onScreen != nullptr && ErrorOf(*onScreen, wanted, d) <= budget) return *onScreen;
    std::vector<std::uint8_t> colours;
    for (std::uint8_t p : wanted)
        if (std::find(colours.begin(), colours.end(), p) == colours.end()) colours.push_back(p);
    if (colours.size() == 1) return wanted;
    Fit fit = BestSingle(wanted, colours, d);
    if (fit.error > budget) {
        if (colours.size() == 2) return wanted;
        fit = BestPair(fit, wanted, colours, d);
        if (fit.error > budget) return wanted;
    }
    Block shown;
    for (int i = 0; i < 16; ++i)
        shown[i] = d(fit.first, wanted[i]) <= d(fit.second, wanted[i]) ? fit.first : fit.second;
    return shown;
}

Block ReadBlock(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t bx,
                std::uint32_t by) {
    Block block;
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 4; ++x)
            block[y * 4 + x] = pixels[(std::size_t{by} * 4 + y) * width + bx * 4 + x];
    return block;
}

void WriteBlock(const Block& block, std::uint8_t* pixels, std::uint32_t width, std::uint32_t bx,
                std::uint32_t by) {
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 4; ++x)
            pixels[(std::size_t{by} * 4 + y) * width + bx * 4 + x] = block[y * 4 + x];
}

}  // namespace

std::vector<std::vector<std::uint8_t>> SimplifyPictures(const MovieRecipe& recipe,
                                                        const std::vector<Levels>& levels,
                                                        std::uint32_t budget) {
    std::vector<std::vector<std::uint8_t>> shown;
    shown.reserve(recipe.pictures.size());
    Distances distances;
    for (std::size_t i = 0; i < recipe.pictures.size(); ++i) {
        const std::uint8_t* wanted = recipe.pictures[i].pixels.data();
        shown.emplace_back(wanted, wanted + recipe.pictures[i].pixels.size());
        distances.Build(levels[i]);
        const std::uint8_t* screen = i == 0 ? nullptr : shown[i - 1].data();
        for (std::uint32_t by = 0; by < recipe.height / 4; ++by)
            for (std::uint32_t bx = 0; bx < recipe.width / 4; ++bx) {
                const Block previous = screen ? ReadBlock(screen, recipe.width, bx, by) : Block{};
                const Block block =
                    Simplify(ReadBlock(wanted, recipe.width, bx, by), screen ? &previous : nullptr,
                             budget, distances);
                WriteBlock(block, shown[i].data(), recipe.width, bx, by);
            }
    }
    return shown;
}

}  // namespace zambrel::encoder
