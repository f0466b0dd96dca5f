// SPDX-License-Identifier: MIT
// zmbtool encode's colour reduction through libimagequant. The library is GPL-3, so a zmbtool
// built with it is under the GPL-3 as a whole; the movie library never links it.
#include "quantise.h"

#include "encoder/palette_chunk.h"

#if ZMBTOOL_WITH_IMAGEQUANT
#include <dlfcn.h>
#include <libimagequant.h>

#include <algorithm>
#include <cstdlib>
#endif

namespace zmbtool {

namespace enc = zambrel::encoder;

#if ZMBTOOL_WITH_IMAGEQUANT

namespace {

// A remapping error this much above the one the palette was made with (mean squared error
// per channel, with a little absolute room for nearly perfect palettes) starts a new scene:
// about a decibel of PSNR given up for a palette that stays.
constexpr double kSceneErrorGrowth = 1.25;
constexpr double kSceneErrorRoom = 1.0;

// Scene palettes are made often, so quickly (libimagequant's speed 8 leaves out its slowest
// refinements: on the benchmark's clips 12 % more error on moving gradients, the same on the
// rest, at a quarter of the time); the one movie palette is made once, with more care.
constexpr int kSceneSpeed = 8;
constexpr int kMovieSpeed = 4;

// libimagequant spreads its work over OpenMP threads that spin while they wait. On a machine
// whose cores are busy with anything else that costs three to five times the work itself
// (measured on two shared cores), so unless the user asks for threads with OMP_NUM_THREADS
// the reduction runs on the encoding thread alone. Found at run time: the OpenMP runtime is
// there only when the library was built with it. The setting is the calling thread's own,
// so it is made on whichever thread reduces the pictures, before each.
void UseOneThreadUnlessAsked() {
    using SetThreads = void (*)(int);
    static const SetThreads set = [] {
        if (std::getenv("OMP_NUM_THREADS") != nullptr) return SetThreads{};
        return reinterpret_cast<SetThreads>(dlsym(RTLD_DEFAULT, "omp_set_num_threads"));
    }();
    if (set != nullptr) set(1);
}

struct AttrDeleter {
    void operator()(liq_attr* a) const { liq_attr_destroy(a); }
};
struct ImageDeleter {
    void operator()(liq_image* i) const { liq_image_destroy(i); }
};
struct ResultDeleter {
    void operator()(liq_result* r) const { liq_result_destroy(r); }
};
using Attr = std::unique_ptr<liq_attr, AttrDeleter>;
using Image = std::unique_ptr<liq_image, ImageDeleter>;
using Result = std::unique_ptr<liq_result, ResultDeleter>;

struct HistogramDeleter {
    void operator()(liq_histogram* h) const { liq_histogram_destroy(h); }
};
using Histogram = std::unique_ptr<liq_histogram, HistogramDeleter>;

// A picture as the library is given it; the pixels stay the caller's.
struct Pending {
    std::uint32_t width, height;
    const std::vector<std::uint8_t>& rgba;
};

}  // namespace

struct Quantiser::State {
    QuantiseOptions options;
    Attr attr{liq_attr_create()};
    Result result;                            // the palette in force
    double sceneError = 0;                    // the remapping error it was made with
    std::array<std::uint8_t, 256> slotOf{};   // libimagequant's entry -> our palette entry
    std::array<std::uint8_t, 768> palette{};  // our palette, widened levels
    Histogram histogram;                      // PaletteMode::Movie, until the palette is made
    bool surveyFailed = false;
};

namespace {

std::array<std::uint8_t, 768> LevelPalette(const liq_palette& from) {
    std::array<std::uint8_t, 768> values{};
    for (unsigned i = 0; i < from.count && i < 256; ++i) {
        values[i * 3] = from.entries[i].r;
        values[i * 3 + 1] = from.entries[i].g;
        values[i * 3 + 2] = from.entries[i].b;
    }
    enc::Levels levels;
    std::string ignored;
    enc::PaletteToLevels(values, enc::PaletteValues::Round, levels, ignored);
    for (int i = 0; i < 768; ++i) values[i] = enc::WidenLevel(levels[i]);
    return values;
}

bool SameEntry(const std::array<std::uint8_t, 768>& a, int i,
               const std::array<std::uint8_t, 768>& b, int j) {
    return a[i * 3] == b[j * 3] && a[i * 3 + 1] == b[j * 3 + 1] && a[i * 3 + 2] == b[j * 3 + 2];
}

// Puts the new palette's entries where the old palette had the same colour, the others in
// the slots left over, so that the palette chunk keeps what did not change.
void PlaceEntries(const std::array<std::uint8_t, 768>& fresh, unsigned count, Quantiser::State& s) {
    const std::array<std::uint8_t, 768> old = s.palette;
    std::array<bool, 256> taken = s.options.reserved, placed{};
    for (unsigned i = 0; i < count; ++i)
        for (int slot = 0; slot < 256; ++slot)
            if (!taken[slot] && SameEntry(fresh, static_cast<int>(i), old, slot)) {
                taken[slot] = placed[i] = true;
                s.slotOf[i] = static_cast<std::uint8_t>(slot);
                break;
            }
    int free = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (placed[i]) continue;
        while (taken[free]) ++free;
        taken[free] = true;
        s.slotOf[i] = static_cast<std::uint8_t>(free);
        for (int c = 0; c < 3; ++c) s.palette[free * 3 + c] = fresh[i * 3 + c];
    }
}

Image MakeImage(const Quantiser::State& s, const Pending& picture) {
    return Image(liq_image_create_rgba(s.attr.get(), picture.rgba.data(),
                                       static_cast<int>(picture.width),
                                       static_cast<int>(picture.height), 0));
}

// Mean squared error per channel of the picture as shown against its source.
double ShownError(const Pending& picture, const enc::Picture& shown) {
    double sum = 0;
    for (std::size_t i = 0; i < shown.pixels.size(); ++i)
        for (int c = 0; c < 3; ++c) {
            const int d = picture.rgba[i * 4 + c] - shown.palette[shown.pixels[i] * 3 + c];
            sum += d * d;
        }
    return shown.pixels.empty() ? 0 : sum / (3.0 * shown.pixels.size());
}

bool Remap(Quantiser::State& s, liq_image* image, const Pending& picture, enc::Picture* out) {
    std::vector<std::uint8_t> indices(std::size_t{picture.width} * picture.height);
    if (liq_write_remapped_image(s.result.get(), image, indices.data(), indices.size()) != LIQ_OK)
        return false;
    for (std::uint8_t& index : indices) index = s.slotOf[index];
    out->pixels = std::move(indices);
    out->palette = s.palette;
    return true;
}

void AdoptResult(Quantiser::State& s, Result result) {
    s.result = std::move(result);
    liq_set_dithering_level(s.result.get(), s.options.dither ? 1.0f : 0.0f);
    const liq_palette* palette = liq_get_palette(s.result.get());
    PlaceEntries(LevelPalette(*palette), palette->count, s);
}

// Remaps with the palette in force when it still serves the picture, else with a new one.
bool QuantiseScene(Quantiser::State& s, const Pending& picture, enc::Picture* out) {
    Image image = MakeImage(s, picture);
    if (!image) return false;
    if (s.result) {
        enc::Picture attempt;
        if (!Remap(s, image.get(), picture, &attempt)) return false;
        const double error = ShownError(picture, attempt);
        if (error <= s.sceneError * kSceneErrorGrowth + kSceneErrorRoom) {
            *out = std::move(attempt);
            return true;
        }
    }
    liq_result* made = nullptr;
    if (liq_image_quantize(image.get(), s.attr.get(), &made) != LIQ_OK) return false;
    AdoptResult(s, Result(made));
    if (!Remap(s, image.get(), picture, out)) return false;
    s.sceneError = ShownError(picture, *out);
    return true;
}

}  // namespace

bool QuantiserAvailable() {
    return true;
}

Quantiser::Quantiser(const QuantiseOptions& options) : state_(std::make_unique<State>()) {
    state_->options = options;
    UseOneThreadUnlessAsked();
    const auto reserved = std::count(options.reserved.begin(), options.reserved.end(), true);
    liq_set_max_colors(state_->attr.get(), static_cast<int>(256 - reserved));
    liq_set_speed(state_->attr.get(),
                  options.mode == PaletteMode::Movie ? kMovieSpeed : kSceneSpeed);
    // The movie keeps 6 bits a channel: tell the library, so that it does not spend
    // entries on colours that would come out the same.
    liq_set_min_posterization(state_->attr.get(), 2);
}

Quantiser::~Quantiser() = default;

void Quantiser::Survey(std::uint32_t width, std::uint32_t height,
                       const std::vector<std::uint8_t>& rgba) {
    UseOneThreadUnlessAsked();
    State& s = *state_;
    if (!s.histogram && !s.surveyFailed) s.histogram.reset(liq_histogram_create(s.attr.get()));
    Image image = MakeImage(s, {width, height, rgba});
    const bool added =
        s.histogram && image &&
        liq_histogram_add_image(s.histogram.get(), s.attr.get(), image.get()) == LIQ_OK;
    s.surveyFailed = s.surveyFailed || !added;
}

namespace {

// The movie palette from the colours of every picture, made once.
bool MakeMoviePalette(Quantiser::State& s) {
    if (s.result) return true;
    liq_result* made = nullptr;
    if (s.surveyFailed || !s.histogram ||
        liq_histogram_quantize(s.histogram.get(), s.attr.get(), &made) != LIQ_OK)
        return false;
    s.histogram.reset();
    AdoptResult(s, Result(made));
    return true;
}

}  // namespace

bool Quantiser::Add(std::uint32_t width, std::uint32_t height,
                    const std::vector<std::uint8_t>& rgba, enc::Picture* out, std::string* error) {
    UseOneThreadUnlessAsked();
    State& s = *state_;
    const Pending picture{width, height, rgba};
    bool ok = false;
    if (s.options.mode == PaletteMode::Scene) {
        ok = QuantiseScene(s, picture, out);
    } else if (MakeMoviePalette(s)) {
        Image image = MakeImage(s, picture);
        ok = image && Remap(s, image.get(), picture, out);
    }
    if (!ok) *error = "the colour reduction failed";
    return ok;
}

#else  // built without libimagequant

struct Quantiser::State {};

bool QuantiserAvailable() {
    return false;
}
Quantiser::Quantiser(const QuantiseOptions&) {}
Quantiser::~Quantiser() = default;
void Quantiser::Survey(std::uint32_t, std::uint32_t, const std::vector<std::uint8_t>&) {}
bool Quantiser::Add(std::uint32_t, std::uint32_t, const std::vector<std::uint8_t>&, enc::Picture*,
                    std::string* error) {
    *error = "this zmbtool was built without libimagequant and cannot reduce colours";
    return false;
}

#endif

}  // namespace zmbtool
