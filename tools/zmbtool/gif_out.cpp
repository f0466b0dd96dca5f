// SPDX-License-Identifier: MIT
// zmbtool decode's animated GIF, through giflib.
#include "gif_out.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zmbtool {

namespace {

// GIF delays are 16-bit counts of 1/100 s.
constexpr std::uint32_t kLongestDelay = 65535;
// A period is in 1/100 ms; a GIF delay in 1/100 s.
constexpr std::uint64_t kPeriodPerDelay = 1000;
// An LZW table holds at most this many codes.
constexpr std::size_t kTableCodes = 4096;

int WriteToOutput(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* out = static_cast<OutputFile*>(gif->UserData);
    return out->Write(bytes, static_cast<std::size_t>(count)) ? count : 0;
}

// A colour table of COUNT entries (a power of two) from PALETTE.
ColorMapObject* MakeColourMap(const std::uint8_t* palette, int count) {
    GifColorType colours[256];
    for (int i = 0; i < count; ++i)
        colours[i] = {palette[i * 3], palette[i * 3 + 1], palette[i * 3 + 2]};
    return GifMakeMapObject(count, colours);
}

// The smallest power of two, 2 at least, that holds COUNT colours.
int TableSize(int count) {
    int size = 2;
    while (size < count) size *= 2;
    return size;
}

// The width LZW codes start one bit above: enough for COUNT indices, and 2 at least.
int CodeBits(int count) {
    int bits = 2;
    while ((1 << bits) < count) ++bits;
    return bits;
}

// A palette entry's colour as one number, to compare and look up.
std::uint32_t ColourOf(const std::uint8_t* palette, int index) {
    const std::uint8_t* c = palette + index * 3;
    return std::uint32_t{c[0]} << 16 | std::uint32_t{c[1]} << 8 | c[2];
}

using Colours = std::array<std::uint32_t, 256>;
Colours ColoursOf(const std::uint8_t* palette) {
    Colours colours;
    for (int index = 0; index < 256; ++index)
        colours[std::size_t(index)] = ColourOf(palette, index);
    return colours;
}

}  // namespace

GifWriter::~GifWriter() {
    if (gif_ != nullptr) EGifCloseFile(gif_, nullptr);
}

bool GifWriter::Open(const std::string& path, std::uint32_t width, std::uint32_t height,
                     std::uint64_t period, std::string* error) {
    width_ = width, height_ = height, period_ = period;
    if (width > 65535 || height > 65535) {
        *error = "cannot write " + path + ": GIF pictures are at most 65535 pixels a side";
        return false;
    }
    if (!out_.Open(path, error)) return false;
    int status = 0;
    gif_ = EGifOpen(&out_, WriteToOutput, &status);
    if (gif_ == nullptr) {
        *error = "cannot write " + path + ": " + GifErrorString(status);
        return false;
    }
    EGifSetGifVersion(gif_, true);
    shown_.assign(std::size_t{width} * height, 0);
    return true;
}

bool GifWriter::WriteLoopExtension() {
    // The application extension that asks viewers to loop the animation for ever.
    static const GifByteType kName[] = "NETSCAPE2.0";
    static const GifByteType kLoopForever[] = {1, 0, 0};
    return EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(gif_, 11, kName) == GIF_OK &&
           EGifPutExtensionBlock(gif_, 3, kLoopForever) == GIF_OK &&
           EGifPutExtensionTrailer(gif_) == GIF_OK;
}

std::uint32_t GifWriter::DelayAfter(std::uint64_t frames) const {
    // Periods this long give the longest delay anyway; shorter ones keep n x period far
    // inside 64 bits for any number of frames a movie can have.
    if (period_ >= std::uint64_t{kLongestDelay} * kPeriodPerDelay) return kLongestDelay;
    const auto at = [this](std::uint64_t n) {
        return (n * period_ + kPeriodPerDelay / 2) / kPeriodPerDelay;
    };
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(at(frames + 1) - at(frames), kLongestDelay));
}

// The bounding box of the pixels whose colour differs from what the GIF shows so far, which
// is always the previous frame's colours. Under an unchanged palette only changed indices
// can change a colour, and whole rows compare at once; a row that changes is looked at from
// either end only.
GifWriter::Area GifWriter::ChangedArea(const IndexedFrame& frame) const {
    const bool samePalette = std::memcmp(frame.palette, shownPalette_.data(), 768) == 0;
    const Colours now = ColoursOf(frame.palette), was = ColoursOf(shownPalette_.data());
    std::uint32_t left = width_, right = 0, top = height_, bottom = 0;
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t* in = frame.Row(y);
        const std::uint8_t* before = shown_.data() + std::size_t{y} * width_;
        if (samePalette && std::memcmp(in, before, width_) == 0) continue;
        const auto same = [&](std::uint32_t x) { return now[in[x]] == was[before[x]]; };
        std::uint32_t first = 0, last = width_ - 1;
        while (first < width_ && same(first)) ++first;
        if (first == width_) continue;
        while (same(last)) --last;
        left = std::min(left, first), right = std::max(right, last);
        top = std::min(top, y), bottom = y;
    }
    if (left > right) return {};
    return {left, top, right - left + 1, bottom - top + 1};
}

bool GifWriter::WritePending() {
    if (!pending_) return true;
    pending_ = false;
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.DelayTime = static_cast<int>(delay_);
    control.TransparentColor = best_.transparent;
    GifByteType extension[4];
    const std::size_t length = EGifGCBToExtension(&control, extension);
    ColorMapObject* map =
        best_.local ? MakeColourMap(best_.table.colours.data(), best_.table.size) : nullptr;
    if (map == nullptr && gif_->Image.ColorMap != nullptr) {
        // giflib keeps a copy of the last local table and drops it unfreed when the next
        // image has none.
        GifFreeMapObject(gif_->Image.ColorMap);
        gif_->Image.ColorMap = nullptr;
    }
    bool ok = EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) ==
                  GIF_OK &&
              EGifPutImageDesc(gif_, static_cast<int>(area_.left), static_cast<int>(area_.top),
                               static_cast<int>(area_.width), static_cast<int>(area_.height), false,
                               map) == GIF_OK;
    ok = ok && WriteCodes();
    if (map != nullptr) GifFreeMapObject(map);
    return ok;
}

// The global colour table holds each colour of the first frame's palette once: frames of
// those colours need no table of their own, whatever palette indices the movie gives them.
bool GifWriter::WriteScreen(const std::uint8_t* palette) {
    int count = 0;
    for (int index = 0; index < 256; ++index)
        if (globalIndex_.try_emplace(ColourOf(palette, index), count).second)
            std::memcpy(global_.colours.data() + 3 * count++, palette + 3 * index, 3);
    global_.size = TableSize(count);
    ColorMapObject* map = MakeColourMap(global_.colours.data(), global_.size);
    const bool ok = EGifPutScreenDesc(gif_, static_cast<int>(width_), static_cast<int>(height_), 8,
                                      0, map) == GIF_OK &&
                    WriteLoopExtension();
    GifFreeMapObject(map);
    return ok;
}

// Copies the area's pixels and marks those that keep the colour shown so far: they need not
// be drawn, and see-through pixels there let the previous picture show, in long runs of one
// index that LZW packs far tighter than the picture they cover.
void GifWriter::TakeArea(const IndexedFrame& frame, const Area& area, bool first) {
    const Colours now = ColoursOf(frame.palette), was = ColoursOf(shownPalette_.data());
    pixels_.resize(std::size_t{area.width} * area.height);
    kept_.assign(pixels_.size(), 0);
    drawn_.fill(false), keptUsed_.fill(false);
    std::size_t at = 0;
    for (std::uint32_t y = 0; y < area.height; ++y) {
        const std::uint8_t* in = frame.Row(area.top + y) + area.left;
        const std::uint8_t* before = shown_.data() + std::size_t{area.top + y} * width_ + area.left;
        for (std::uint32_t x = 0; x < area.width; ++x, ++at) {
            const bool kept = !first && now[in[x]] == was[before[x]];
            pixels_[at] = in[x], kept_[at] = kept;
            (kept ? keptUsed_ : drawn_)[in[x]] = true;
        }
    }
}

GifWriter::Mapping GifWriter::GlobalMapping(const std::uint8_t* palette) const {
    Mapping map;
    for (int index = 0; index < 256; ++index) {
        const auto found = globalIndex_.find(ColourOf(palette, index));
        map[index] = found == globalIndex_.end() ? -1 : found->second;
    }
    return map;
}

// The frame in the global table, which costs no table of its own: possible when the table
// holds every colour to draw, and, to see through, has an index that none of them takes.
// giflib starts the codes as wide as the table's indices.
GifWriter::Plan GifWriter::GlobalPlan(const Mapping& toGlobal, bool seeThrough) const {
    Plan plan;
    plan.map = toGlobal;
    plan.codeBits = CodeBits(global_.size);
    std::array<bool, 256> taken{};
    for (int index = 0; index < 256; ++index) {
        if (!drawn_[index] && (seeThrough || !keptUsed_[index])) continue;
        if (toGlobal[index] < 0) return plan.possible = false, plan;
        taken[std::size_t(toGlobal[index])] = true;
    }
    if (seeThrough) {
        const auto free = std::find(taken.begin(), taken.begin() + global_.size, false);
        if (free == taken.begin() + global_.size) return plan.possible = false, plan;
        plan.transparent = int(free - taken.begin());
    }
    return plan;
}

// The frame in a table of just the colours it draws, the see-through index after them.
// A kept pixel whose colour the table has may be coded as that colour instead.
GifWriter::Plan GifWriter::LocalPlan(const std::uint8_t* palette, bool seeThrough) const {
    Plan plan;
    plan.local = true;
    plan.map.fill(-1);
    std::unordered_map<std::uint32_t, int> at;
    int count = 0;
    for (int index = 0; index < 256; ++index) {
        if (!drawn_[index] && (seeThrough || !keptUsed_[index])) continue;
        const auto [found, added] = at.try_emplace(ColourOf(palette, index), count);
        if (added) std::memcpy(plan.table.colours.data() + 3 * count++, palette + 3 * index, 3);
        plan.map[index] = found->second;
    }
    if (seeThrough) {
        if (count == 256) return plan.possible = false, plan;
        plan.transparent = count++;
        for (int index = 0; index < 256; ++index) {
            const auto found = at.find(ColourOf(palette, index));
            if (keptUsed_[index] && found != at.end()) plan.map[index] = found->second;
        }
    }
    plan.table.size = TableSize(count);
    plan.codeBits = CodeBits(plan.table.size);
    return plan;
}

// LZW as GIF takes it, each code as long as the table needs, low bits first.
class GifWriter::Coder {
  public:
    Coder(int bits, Dictionary* dictionary)
        : clear_(1 << bits), rootBits_(bits + 1), dictionary_(*dictionary) {
        Reset();
        Put(clear_);
    }
    // Moves on by one pixel that may be shown by either index (the same twice when only one
    // will do): the longer string already known is kept going, which is where see-through
    // pixels pay.
    void Add(std::uint8_t first, std::uint8_t second) {
        ++pixels_;
        if (current_ < 0) {
            current_ = first;
            return;
        }
        int known = Find(first);
        if (known == 0 && second != first) known = Find(second);
        if (known != 0) {
            current_ = known;
            return;
        }
        Put(current_);
        if (next_ < kMostCodes) {
            dictionary_[Slot(first)] = Key(first) << 12 | std::uint32_t(next_);
            if (next_++ == (1 << bits_) && bits_ < kLongestCode) ++bits_;
        } else if (Outworn()) {
            Put(clear_);
            Reset();
        }
        current_ = first;
    }
    std::size_t Bytes() const { return bytes_.size(); }
    std::size_t Codes() const { return codesPut_; }
    // The codes as GIF sub-blocks: a length byte, then up to 255 bytes.
    std::vector<std::uint8_t> Finish() {
        if (current_ >= 0) Put(current_);
        Put(clear_ + 1);
        if (filled_ > 0) bytes_.push_back(static_cast<std::uint8_t>(pending_));
        std::vector<std::uint8_t> blocks;
        blocks.reserve(bytes_.size() + bytes_.size() / 255 + 1);
        for (std::size_t at = 0; at < bytes_.size(); at += 255) {
            const std::size_t n = std::min<std::size_t>(255, bytes_.size() - at);
            blocks.push_back(static_cast<std::uint8_t>(n));
            blocks.insert(blocks.end(), bytes_.begin() + std::ptrdiff_t(at),
                          bytes_.begin() + std::ptrdiff_t(at + n));
        }
        return blocks;
    }

  private:
    static constexpr int kMostCodes = 4096, kLongestCode = 12;
    static constexpr int kStretch = 128;  // codes between looks at a full table's worth
    // The dictionary is a hash table, twice as large as the most codes so that a search is
    // short, and small enough to stay in the processor's cache.
    static constexpr std::size_t kSlots = 2 * kMostCodes;
    static constexpr std::uint32_t kEmpty = ~0u;
    std::uint32_t Key(std::uint8_t pixel) const { return std::uint32_t(current_) << 8 | pixel; }
    // Where the current string followed by PIXEL is, or would go.
    std::size_t Slot(std::uint8_t pixel) const {
        const std::uint32_t key = Key(pixel);
        std::size_t slot = (key * 2654435761u) >> 19;
        while (dictionary_[slot] != kEmpty && dictionary_[slot] >> 12 != key)
            slot = (slot + 1) % kSlots;
        return slot;
    }
    // The code of the current string followed by PIXEL, or 0 (never a string's) if unknown.
    int Find(std::uint8_t pixel) const {
        const std::uint32_t slot = dictionary_[Slot(pixel)];
        return slot == kEmpty ? 0 : int(slot & 4095);
    }
    void Reset() {
        dictionary_.assign(kSlots, kEmpty);
        next_ = clear_ + 2, bits_ = rootBits_, current_ = -1;
        pixels_ = bitsPut_ = lifePixels_ = lifeBits_ = 0;
        stretchCodes_ = 0;
    }
    // Whether the full table, which takes no new strings, should give way to a fresh one.
    // A full table still knows the picture's strings, and decoders keep using it until the
    // next clear code; it is cleared once it codes the last stretch of pixels in more bits
    // a pixel than it took over its whole life, from empty to full, which is what a fresh
    // table would take again.
    bool Outworn() {
        if (lifePixels_ == 0) lifePixels_ = stretchStart_ = pixels_, lifeBits_ = bitsPut_;
        if (++stretchCodes_ < kStretch) return false;
        const bool worse = std::uint64_t(kStretch) * kLongestCode * lifePixels_ >
                           std::uint64_t(lifeBits_) * (pixels_ - stretchStart_);
        stretchCodes_ = 0, stretchStart_ = pixels_;
        return worse;
    }
    void Put(int code) {
        ++codesPut_;
        bitsPut_ += std::uint64_t(bits_);
        pending_ |= std::uint32_t(code) << filled_;
        for (filled_ += bits_; filled_ >= 8; filled_ -= 8, pending_ >>= 8)
            bytes_.push_back(static_cast<std::uint8_t>(pending_));
    }
    const int clear_, rootBits_;
    Dictionary& dictionary_;
    int next_ = 0, bits_ = 0, current_ = -1;
    // Since the last clear: pixels coded and bits put; when the table filled; the stretch
    // of codes since it was last looked at.
    std::uint64_t pixels_ = 0, bitsPut_ = 0, lifePixels_ = 0, lifeBits_ = 0, stretchStart_ = 0;
    int stretchCodes_ = 0;
    std::size_t codesPut_ = 0;
    std::uint32_t pending_ = 0;
    int filled_ = 0;
    std::vector<std::uint8_t> bytes_;
};

// The pending frame's pixels coded by our own LZW, which giflib then writes as they are:
// a see-through pixel may be coded as either of its indices, which giflib's coder cannot.
// Given up, empty, once the codes reach LIMIT bytes.
std::vector<std::uint8_t> GifWriter::CodePixels(const Plan& plan, std::size_t limit) {
    // For each palette index, what a pixel of it is coded as, when drawn [0] and when kept [1].
    std::array<std::array<std::uint8_t, 256>, 2> first{}, second{};
    const int highest = 1 << plan.codeBits;
    for (int index = 0; index < 256; ++index) {
        const int own = plan.map[index];
        const bool keepable = own >= 0 && own < highest;
        first[0][index] = second[0][index] = static_cast<std::uint8_t>(keepable ? own : 0);
        const bool see = plan.transparent >= 0;
        first[1][index] = static_cast<std::uint8_t>(see ? plan.transparent : first[0][index]);
        second[1][index] = static_cast<std::uint8_t>(keepable ? own : first[1][index]);
    }
    Coder coder(plan.codeBits, &dictionary_);
    for (std::size_t row = 0; row < pixels_.size(); row += area_.width) {
        for (std::size_t i = row; i < row + area_.width; ++i)
            coder.Add(first[kept_[i]][pixels_[i]], second[kept_[i]][pixels_[i]]);
        if (coder.Bytes() >= limit) return {};
    }
    codesPut_ = coder.Codes();
    return coder.Finish();
}

namespace {

// The bits of N codes after a clear code, from a table of 2^BITS roots that does not fill:
// each as wide as the table's next entry needs, as the coder puts them.
std::uint64_t CodeWidths(std::size_t n, int bits) {
    std::uint64_t sum = 0;
    for (int width = bits + 1, next = (1 << bits) + 2; n > 0; --n) {
        sum += std::uint64_t(width);
        if (next++ == (1 << width) && width < 12) ++width;
    }
    return sum;
}

}  // namespace

// The global table and a table of its own code the same strings, seeing through alike, as
// long as neither fills: only the codes' widths differ, and they follow from how many codes
// there are. So the other table's size is known without coding: it is not tried where it
// comes out no smaller (a few bytes spared for the rounding).
bool GifWriter::CannotWin(const Plan& plan) const {
    constexpr std::size_t kSpare = 8;
    const int widest = std::max(plan.codeBits, best_.codeBits);
    if (plan.local == best_.local || (plan.transparent >= 0) != (best_.transparent >= 0) ||
        bestCodes_ + (std::size_t{1} << widest) + 2 >= kTableCodes)
        return false;
    const std::uint64_t bits = codes_.size() * 8 + CodeWidths(bestCodes_, plan.codeBits);
    const std::uint64_t bestBits = CodeWidths(bestCodes_, best_.codeBits);
    const std::size_t predicted = bits > bestBits ? (bits - bestBits) / 8 : 0;
    return predicted + plan.TableBytes() >= codes_.size() + best_.TableBytes() + kSpare;
}

// Codes the pending frame as PLAN says, and keeps it if it is the smallest yet, its own table
// counted; as soon as it cannot be, it is given up.
void GifWriter::Try(const Plan& plan) {
    if (!plan.possible || (!codes_.empty() && CannotWin(plan))) return;
    std::size_t limit = SIZE_MAX;
    if (!codes_.empty()) {
        const std::size_t best = codes_.size() + best_.TableBytes();
        if (best <= plan.TableBytes()) return;
        limit = best - plan.TableBytes();
    }
    std::vector<std::uint8_t> codes = CodePixels(plan, limit);
    if (codes.empty() || codes.size() >= limit) return;
    best_ = plan, codes_.swap(codes), bestCodes_ = codesPut_;
}

// Each frame is tried seeing through its kept pixels and drawing them (where they are
// scattered, as in noise, seeing through only breaks strings), in the global table and in
// one of its own. The two tables give the same strings when their codes start equally
// wide, so a table of its own is tried only where it makes them narrower. The way the
// previous frame took is tried first: frames in a row mostly take the same, and the others
// are then given up early.
void GifWriter::CodeFrame(const std::uint8_t* palette) {
    codes_.clear();
    const Mapping toGlobal = GlobalMapping(palette);
    const bool anyKept = std::find(keptUsed_.begin(), keptUsed_.end(), true) != keptUsed_.end();
    std::vector<Plan> plans;
    for (const bool seeThrough : {true, false}) {
        if (seeThrough && !anyKept) continue;
        plans.push_back(GlobalPlan(toGlobal, seeThrough));
        plans.push_back(LocalPlan(palette, seeThrough));
        if (plans.end()[-2].possible && plans.back().codeBits >= plans.end()[-2].codeBits)
            plans.pop_back();
    }
    const auto likeLast = [this](const Plan& plan) {
        return (plan.transparent >= 0) == (best_.transparent >= 0) && plan.local == best_.local;
    };
    std::stable_partition(plans.begin(), plans.end(), likeLast);
    for (const Plan& plan : plans) Try(plan);
}

bool GifWriter::WriteCodes() {
    bool ok = true;
    for (std::size_t at = 0; at < codes_.size() && ok; at += codes_[at] + 1u)
        ok = (at == 0 ? EGifPutCode(gif_, best_.codeBits, codes_.data() + at)
                      : EGifPutCodeNext(gif_, codes_.data() + at)) == GIF_OK;
    return ok && EGifPutCodeNext(gif_, nullptr) == GIF_OK;
}

bool GifWriter::AddFrame(const IndexedFrame& frame) {
    if (gif_ == nullptr || !ok_) return false;
    const std::uint32_t delay = DelayAfter(frames_);
    const bool first = frames_++ == 0;
    Area area = first ? Area{0, 0, width_, height_} : ChangedArea(frame);
    if (!first && area.width == 0 && pending_ && delay_ + delay <= kLongestDelay) {
        delay_ += delay;
        return true;
    }
    if (area.width == 0) area = {0, 0, 1, 1};  // a delay alone still needs a picture
    ok_ = WritePending();
    TakeArea(frame, area, first);
    if (first) ok_ = ok_ && WriteScreen(frame.palette);
    pending_ = true, area_ = area, delay_ = delay;
    CodeFrame(frame.palette);
    for (std::uint32_t y = 0; y < height_; ++y)
        std::memcpy(shown_.data() + std::size_t{y} * width_, frame.Row(y), width_);
    std::memcpy(shownPalette_.data(), frame.palette, shownPalette_.size());
    return ok_;
}

bool GifWriter::Commit(std::string* error) {
    if (gif_ == nullptr) return true;
    if (frames_ == 0) {
        // A GIF needs a picture; an empty file would only look like one.
        *error = "cannot write " + out_.Name() + ": no frame was played";
        out_.Discard();
        return false;
    }
    ok_ = ok_ && WritePending();
    int status = 0;
    ok_ = EGifCloseFile(gif_, &status) == GIF_OK && ok_;
    gif_ = nullptr;
    if (!ok_) {
        *error = out_.Failure();
        out_.Discard();
        return false;
    }
    return out_.Commit(error);
}

}  // namespace zmbtool
