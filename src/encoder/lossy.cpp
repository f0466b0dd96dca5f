// SPDX-License-Identifier: MIT
// The writer's quality setting: pictures simplified block by block within an error budget.
#include "encoder/lossy.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <vector>

#include "encoder/parts.h"

namespace zambrel::encoder {
namespace {

using Block = std::array<std::uint8_t, 16>;

}  // namespace

// Squared distances between the colours of one palette as shown.
class Simplifier::Distances {
  public:
    void Build(const Levels& levels) {
        if (built_ && levels == levels_) return;
        levels_ = levels;
        built_ = true;
        for (int i = 0; i < kPaletteBytes; ++i) shown_[i] = WidenLevel(levels[i]);
        ForgetNearest();
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
    void Reserve(const std::array<bool, 256>& reserved) {
        reserved_ = reserved;
        ForgetNearest();
    }

    // The entry nearest to the mean colour of the pixels of `block` whose bit is set in
    // `take` (at least one): what a flat or two-colour block of grainy material is best shown
    // as, though the block itself may not hold that colour. The mean is taken to the nearest
    // level first, as the palette holds nothing finer, and each level's answer is kept.
    std::uint8_t NearestToMean(const Block& block, std::uint32_t take) {
        int sum[3] = {}, count = 0;
        for (int i = 0; i < 16; ++i) {
            if (!(take >> i & 1)) continue;
            ++count;
            for (int c = 0; c < 3; ++c) sum[c] += shown_[block[i] * 3 + c];
        }
        int key = 0;
        for (int c = 0; c < 3; ++c) key = key * 64 + (sum[c] * 63 + count * 127) / (count * 255);
        std::int16_t nearest = nearest_[key].load(std::memory_order_relaxed);
        if (nearest < 0) {
            nearest = NearestTo(key);
            nearest_[key].store(nearest, std::memory_order_relaxed);
        }
        return static_cast<std::uint8_t>(nearest);
    }

    // The spread of the block's colours about their mean, 16 times the sum of squared
    // deviations: no one colour shows the block with less error than that spread / 16.
    std::uint64_t Spread16(const Block& block) const {
        std::int64_t sum[3] = {}, squares = 0;
        for (std::uint8_t p : block)
            for (int c = 0; c < 3; ++c) {
                const std::int64_t v = shown_[p * 3 + c];
                sum[c] += v;
                squares += v * v;
            }
        const std::int64_t spread =
            16 * squares - sum[0] * sum[0] - sum[1] * sum[1] - sum[2] * sum[2];
        return static_cast<std::uint64_t>(spread);
    }

  private:
    void ForgetNearest() {
        for (auto& entry : nearest_) entry.store(-1, std::memory_order_relaxed);
    }

    std::int16_t NearestTo(int key) const {
        const int want[3] = {WidenLevel(static_cast<std::uint8_t>(key >> 12)),
                             WidenLevel(static_cast<std::uint8_t>(key >> 6 & 63)),
                             WidenLevel(static_cast<std::uint8_t>(key & 63))};
        std::uint32_t best = ~0u;
        std::int16_t nearest = 0;
        for (int e = 0; e < 256; ++e) {
            if (reserved_[static_cast<std::size_t>(e)]) continue;
            std::uint32_t distance = 0;
            for (int c = 0; c < 3; ++c) {
                const int d = shown_[e * 3 + c] - want[c];
                distance += static_cast<std::uint32_t>(d * d);
            }
            if (distance < best) best = distance, nearest = static_cast<std::int16_t>(e);
        }
        return nearest;
    }

    bool built_ = false;
    std::array<bool, 256> reserved_{};
    Levels levels_{};
    std::array<int, kPaletteBytes> shown_{};  // the levels widened, as the player shows them
    std::vector<std::uint32_t> table_ = std::vector<std::uint32_t>(256 * 256);
    // Each level's nearest entry once it has been asked for, -1 before. The blocks of one
    // picture may be simplified on several threads at once; two that find the same answer
    // both store it, which is harmless, so relaxed atomics are all they need.
    std::vector<std::atomic<std::int16_t>> nearest_ =
        std::vector<std::atomic<std::int16_t>>(64 * 64 * 64);
};

namespace {

using Distances = Simplifier::Distances;

// The candidate colours of one block: its own (at most 16) and one more.
class Colours {
  public:
    void push_back(std::uint8_t c) { values_[size_++] = c; }
    std::size_t size() const { return size_; }
    const std::uint8_t* begin() const { return values_.data(); }
    const std::uint8_t* end() const { return values_.data() + size_; }
    std::uint8_t operator[](std::size_t i) const { return values_[i]; }

  private:
    std::array<std::uint8_t, 17> values_{};
    std::size_t size_ = 0;
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

Fit BestSingle(const Block& wanted, const Colours& colours, const Distances& d) {
    Fit fit{PairError(colours[0], colours[0], wanted, d), colours[0], colours[0]};
    for (std::uint8_t c : colours) {
        const std::uint32_t e = PairError(c, c, wanted, d);
        if (e < fit.error) fit = {e, c, c};
    }
    return fit;
}

// The best pair of the block's own colours, found by improving one colour at a time from
// the best single colour: near the best pair at a fraction of trying them all.
Fit BestPair(Fit fit, const Block& wanted, const Colours& colours, const Distances& d) {
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

// One step of refinement towards the best pair: each colour replaced by the entry nearest
// to the mean of the pixels it stands for.
Fit TowardsMeans(Fit fit, const Block& wanted, Distances& d) {
    std::uint32_t first = 0;
    for (int i = 0; i < 16; ++i)
        if (d(fit.first, wanted[i]) <= d(fit.second, wanted[i])) first |= 1u << i;
    if (first == 0xFFFF) return fit;
    const std::uint8_t a = d.NearestToMean(wanted, first);
    const std::uint8_t b = d.NearestToMean(wanted, ~first & 0xFFFF);
    const std::uint32_t error = PairError(a, b, wanted, d);
    return error < fit.error ? Fit{error, a, b} : fit;
}

Block Simplify(const Block& wanted, const Block* onScreen, std::uint32_t budget, Distances& d) {
    if (onScreen != nullptr && ErrorOf(*onScreen, wanted, d) <= budget) return *onScreen;
    Colours colours;
    for (std::uint8_t p : wanted)
        if (std::find(colours.begin(), colours.end(), p) == colours.end()) colours.push_back(p);
    if (colours.size() == 1) return wanted;
    const std::size_t own = colours.size();
    const bool solidMayFit = d.Spread16(wanted) <= std::uint64_t{budget} * 16;
    if (own == 2 && !solidMayFit) return wanted;
    const std::uint8_t mean = d.NearestToMean(wanted, 0xFFFF);
    if (std::find(colours.begin(), colours.end(), mean) == colours.end()) colours.push_back(mean);
    Fit fit = BestSingle(wanted, colours, d);
    if (fit.error > budget) {
        if (own == 2) return wanted;
        fit = TowardsMeans(BestPair(fit, wanted, colours, d), wanted, d);
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

Simplifier::Simplifier(std::uint32_t width, std::uint32_t height, std::uint32_t budget)
    : width_(width), height_(height), budget_(budget), distances_(std::make_unique<Distances>()) {}

Simplifier::~Simplifier() = default;

void Simplifier::Reserve(const std::array<bool, 256>& reserved) {
    distances_->Reserve(reserved);
}

void Simplifier::Simplify(const std::uint8_t* wanted, const Levels& levels,
                          const std::uint8_t* onScreen, std::uint8_t* shown) {
    distances_->Build(levels);
    // Each block depends only on its own pixels and on what is on screen there, so rows of
    // blocks can be simplified apart; bands of a few rows keep the threads' writes apart.
    constexpr std::uint32_t kBandRows = 4;
    const std::uint32_t rows = height_ / 4, bands = (rows + kBandRows - 1) / kBandRows;
    ForEachPart(threads_, bands, [&](std::size_t band) {
        const auto first = static_cast<std::uint32_t>(band) * kBandRows;
        SimplifyRows(wanted, onScreen, shown, first, std::min(rows, first + kBandRows));
    });
}

void Simplifier::SimplifyRows(const std::uint8_t* wanted, const std::uint8_t* onScreen,
                              std::uint8_t* shown, std::uint32_t firstRow, std::uint32_t endRow) {
    for (std::uint32_t by = firstRow; by < endRow; ++by)
        for (std::uint32_t bx = 0; bx < width_ / 4; ++bx) {
            const Block previous = onScreen ? ReadBlock(onScreen, width_, bx, by) : Block{};
            const Block block =
                zambrel::encoder::Simplify(ReadBlock(wanted, width_, bx, by),
                                           onScreen ? &previous : nullptr, budget_, *distances_);
            WriteBlock(block, shown, width_, bx, by);
        }
}

}  // namespace zambrel::encoder
