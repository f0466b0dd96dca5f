// SPDX-License-Identifier: MIT
// zmbtool encode's colour reduction through libimagequant. The library is GPL-3, so a zmbtool
// built with it is under the GPL-3 as a whole; the movie library never links it.
#include "quantise.h"

#include "encoder/palette_chunk.h"

#if ZMBTOOL_WITH_IMAGEQUANT
#include <dlfcn.h>
#include <libimagequant.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
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

// Pictures a scene palette must have served for the next to be worth reducing ahead with.
constexpr std::size_t kShortestForeseenScene = 8;

// Whether a palette made with `sceneError` still serves a picture it remaps with `error`.
bool StillServes(double error, double sceneError) {
    return error <= sceneError * kSceneErrorGrowth + kSceneErrorRoom;
}

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

// A scene palette as reductions ahead need it: the picture it was made from, to make it
// again on their own threads, and where its entries went in the movie's palette.
struct MadePalette {
    std::uint64_t number = 0;
    double sceneError = 0;          // the remapping error it was made with
    std::size_t lasted = SIZE_MAX;  // pictures the palette before it served; none before: SIZE_MAX
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    std::array<std::uint8_t, 256> slotOf{};
    std::array<std::uint8_t, 768> palette{};
};

// The library's objects for one reduction ahead at a time: a result may not be remapped
// with on two threads at once.
struct PaletteCopy {
    Attr attr;
    Result result;
    std::shared_ptr<const MadePalette> made;  // what `result` was made from
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
    std::uint64_t number = 0;  // of the palette in force, counted from 1

    // Shared with the reductions ahead.
    std::mutex lock;
    std::condition_variable changed;
    Attr copyAttr;                              // what their copies' settings are copied from
    std::shared_ptr<const MadePalette> newest;  // the last scene palette made
    std::size_t madeAt = 0;                     // by the picture of this turn
    std::vector<std::unique_ptr<PaletteCopy>> idle;
    std::size_t turns = 0;  // pictures that have had their turn in Add or Pass
    // A picture found ahead to need a new palette, whose turn has not come: reductions
    // ahead of the pictures after it wait for that palette rather than use the old one.
    std::size_t cut = SIZE_MAX;
    bool stopped = false;
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
void PlaceEntries(const std::array<std::uint8_t, 768>& fresh, unsigned count,
                  const std::array<bool, 256>& reserved, std::array<std::uint8_t, 768>& palette,
                  std::array<std::uint8_t, 256>& slotOf) {
    const std::array<std::uint8_t, 768> old = palette;
    std::array<bool, 256> taken = reserved, placed{};
    for (unsigned i = 0; i < count; ++i)
        for (int slot = 0; slot < 256; ++slot)
            if (!taken[slot] && SameEntry(fresh, static_cast<int>(i), old, slot)) {
                taken[slot] = placed[i] = true;
                slotOf[i] = static_cast<std::uint8_t>(slot);
                break;
            }
    int free = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (placed[i]) continue;
        while (taken[free]) ++free;
        taken[free] = true;
        slotOf[i] = static_cast<std::uint8_t>(free);
        for (int c = 0; c < 3; ++c) palette[free * 3 + c] = fresh[i * 3 + c];
    }
}

Image MakeImage(liq_attr* attr, const Pending& picture) {
    return Image(liq_image_create_rgba(attr, picture.rgba.data(), static_cast<int>(picture.width),
                                       static_cast<int>(picture.height), 0));
}

Image MakeImage(const Quantiser::State& s, const Pending& picture) {
    return MakeImage(s.attr.get(), picture);
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

bool RemapWith(liq_result* result, const std::array<std::uint8_t, 256>& slotOf,
               const std::array<std::uint8_t, 768>& palette, liq_image* image,
               const Pending& picture, enc::Picture* out) {
    std::vector<std::uint8_t> indices(std::size_t{picture.width} * picture.height);
    if (liq_write_remapped_image(result, image, indices.data(), indices.size()) != LIQ_OK)
        return false;
    for (std::uint8_t& index : indices) index = slotOf[index];
    out->pixels = std::move(indices);
    out->palette = palette;
    return true;
}

bool Remap(Quantiser::State& s, liq_image* image, const Pending& picture, enc::Picture* out) {
    return RemapWith(s.result.get(), s.slotOf, s.palette, image, picture, out);
}

// Readies a fresh result for remapping. Asking for its palette rounds the library's own
// copy of it, so a copy made again for a reduction ahead is asked too, to remap the same.
const liq_palette* Settle(liq_result* result, bool dither) {
    liq_set_dithering_level(result, dither ? 1.0f : 0.0f);
    return liq_get_palette(result);
}

void AdoptResult(Quantiser::State& s, Result result) {
    s.result = std::move(result);
    ++s.number;
    const liq_palette* palette = Settle(s.result.get(), s.options.dither);
    PlaceEntries(LevelPalette(*palette), palette->count, s.options.reserved, s.palette, s.slotOf);
}

// Hands a new scene palette, with the error it was made with, to the reductions ahead.
void Publish(Quantiser::State& s, const Pending& picture) {
    if (!s.options.foresee) return;
    const auto made = std::make_shared<MadePalette>();
    made->number = s.number;
    made->width = picture.width;
    made->height = picture.height;
    made->rgba = picture.rgba;
    made->slotOf = s.slotOf;
    made->palette = s.palette;
    made->sceneError = s.sceneError;
    const std::lock_guard<std::mutex> lock(s.lock);
    if (s.newest) made->lasted = s.turns - s.madeAt;
    s.madeAt = s.turns;
    s.newest = made;
    s.changed.notify_all();
}

// Remaps with the palette in force when it still serves the picture, else with a new one.
// A reduction ahead with the palette in force is the remapping this would make.
bool QuantiseScene(Quantiser::State& s, const Pending& picture, enc::Picture* out,
                   Foreseen* ahead) {
    Image image;
    if (s.result) {
        enc::Picture attempt;
        double error = 0;
        if (ahead != nullptr && ahead->palette == s.number) {
            attempt = std::move(ahead->picture);
            error = ahead->error;
        } else {
            image = MakeImage(s, picture);
            if (!image || !Remap(s, image.get(), picture, &attempt)) return false;
            error = ShownError(picture, attempt);
        }
        if (StillServes(error, s.sceneError)) {
            *out = std::move(attempt);
            return true;
        }
    }
    if (!image) image = MakeImage(s, picture);
    liq_result* made = nullptr;
    if (!image || liq_image_quantize(image.get(), s.attr.get(), &made) != LIQ_OK) return false;
    AdoptResult(s, Result(made));
    if (!Remap(s, image.get(), picture, out)) return false;
    s.sceneError = ShownError(picture, *out);
    Publish(s, picture);
    return true;
}

// One picture has had its turn: reductions ahead waiting for it may go on.
void TakeTurn(Quantiser::State& s) {
    const std::lock_guard<std::mutex> lock(s.lock);
    ++s.turns;
    if (s.turns > s.cut) s.cut = SIZE_MAX;
    s.changed.notify_all();
}

// Makes `copy` hold `made`, from the picture it was made from, as AdoptResult made it.
bool Refresh(PaletteCopy& copy, const std::shared_ptr<const MadePalette>& made, bool dither) {
    if (copy.made && copy.made->number == made->number) return true;
    copy.made.reset();
    copy.result.reset();
    Image image = MakeImage(copy.attr.get(), {made->width, made->height, made->rgba});
    liq_result* result = nullptr;
    if (!image || liq_image_quantize(image.get(), copy.attr.get(), &result) != LIQ_OK) return false;
    copy.result.reset(result);
    Settle(result, dither);
    copy.made = made;
    return true;
}

void ForeseeWith(PaletteCopy& copy, const std::shared_ptr<const MadePalette>& made, bool dither,
                 const Pending& picture, Foreseen* ahead) {
    if (!Refresh(copy, made, dither)) return;
    Image image = MakeImage(copy.attr.get(), picture);
    if (!image || !RemapWith(copy.result.get(), made->slotOf, made->palette, image.get(), picture,
                             &ahead->picture))
        return;
    ahead->error = ShownError(picture, ahead->picture);
    ahead->palette = made->number;
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
    if (options.foresee) state_->copyAttr.reset(liq_attr_copy(state_->attr.get()));
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
                    const std::vector<std::uint8_t>& rgba, enc::Picture* out, std::string* error,
                    Foreseen* ahead) {
    if (ahead != nullptr && ahead->reduced) {
        if (!ahead->ok) return *error = "the colour reduction failed", false;
        *out = std::move(ahead->picture);
        return true;
    }
    UseOneThreadUnlessAsked();
    State& s = *state_;
    const Pending picture{width, height, rgba};
    bool ok = false;
    if (s.options.mode == PaletteMode::Scene) {
        ok = QuantiseScene(s, picture, out, ahead);
    } else if (MakeMoviePalette(s)) {
        Image image = MakeImage(s, picture);
        ok = image && Remap(s, image.get(), picture, out);
    }
    if (s.options.foresee) TakeTurn(s);
    if (!ok) *error = "the colour reduction failed";
    return ok;
}

void Quantiser::Pass() {
    if (state_->options.foresee) TakeTurn(*state_);
}

void Quantiser::Foresee(std::size_t index, std::uint32_t width, std::uint32_t height,
                        const std::vector<std::uint8_t>& rgba, Foreseen* ahead) {
    ahead->palette = 0;
    ahead->reduced = false;
    State& s = *state_;
    if (!s.options.foresee) return;
    UseOneThreadUnlessAsked();
    std::shared_ptr<const MadePalette> made;
    std::unique_ptr<PaletteCopy> copy;
    {
        // Where palettes last only a few pictures, reducing ahead with one mostly goes to
        // waste (and each new one is made again on every thread), so pictures then wait for
        // their turn, as they do with one movie palette, which needs the survey's end.
        const auto worthIt = [&] {
            return s.options.mode == PaletteMode::Scene && s.newest && s.cut >= index &&
                   s.newest->lasted >= kShortestForeseenScene;
        };
        std::unique_lock<std::mutex> lock(s.lock);
        s.changed.wait(lock, [&] { return worthIt() || s.turns >= index || s.stopped; });
        if (s.stopped) return;
        if (s.turns >= index) {
            // Every picture before has had its turn: this one's is now, on this thread.
            lock.unlock();
            ahead->reduced = true;
            std::string ignored;
            ahead->ok = Add(width, height, rgba, &ahead->picture, &ignored);
            return;
        }
        made = s.newest;
        if (s.idle.empty()) {
            copy = std::make_unique<PaletteCopy>();
            copy->attr.reset(liq_attr_copy(s.copyAttr.get()));
        } else {
            copy = std::move(s.idle.back());
            s.idle.pop_back();
        }
    }
    if (copy->attr) ForeseeWith(*copy, made, s.options.dither, {width, height, rgba}, ahead);
    // Too far from the palette it was reduced with, the picture makes a new one in its turn
    // if that palette is still in force then; the pictures after it had best wait for it.
    const bool cut = ahead->palette != 0 && !StillServes(ahead->error, made->sceneError);
    const std::lock_guard<std::mutex> lock(s.lock);
    if (cut && s.turns <= index && s.newest->number == made->number) s.cut = std::min(s.cut, index);
    s.idle.push_back(std::move(copy));
}

void Quantiser::StopForeseeing() {
    State& s = *state_;
    const std::lock_guard<std::mutex> lock(s.lock);
    s.stopped = true;
    s.changed.notify_all();
}

#else  // built without libimagequant

struct Quantiser::State {};

bool QuantiserAvailable() {
    return false;
}
Quantiser::Quantiser(const QuantiseOptions&) {}
Quantiser::~Quantiser() = default;
void Quantiser::Survey(std::uint32_t, std::uint32_t, const std::vector<std::uint8_t>&) {}
void Quantiser::Pass() {}
void Quantiser::Foresee(std::size_t, std::uint32_t, std::uint32_t, const std::vector<std::uint8_t>&,
                        Foreseen* ahead) {
    ahead->palette = 0;
}
void Quantiser::StopForeseeing() {}
bool Quantiser::Add(std::uint32_t, std::uint32_t, const std::vector<std::uint8_t>&, enc::Picture*,
                    std::string* error, Foreseen*) {
    *error = "this zmbtool was built without libimagequant and cannot reduce colours";
    return false;
}

#endif

}  // namespace zmbtool
