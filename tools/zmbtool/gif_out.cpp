// SPDX-License-Identifier: MIT
// zmbtool decode's animated GIF, through giflib.
#include "gif_out.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace zmbtool {

namespace {

// GIF delays are 16-bit counts of 1/100 s.
constexpr std::uint32_t kLongestDelay = 65535;
// A period is in 1/100 ms; a GIF delay in 1/100 s.
constexpr std::uint64_t kPeriodPerDelay = 1000;

int WriteToOutput(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* out = static_cast<OutputFile*>(gif->UserData);
    return out->Write(bytes, static_cast<std::size_t>(count)) ? count : 0;
}

// A colour table of COUNT entries (a power of two) from PALETTE.
ColorMapObject* MakeColourMap(const std::uint8_t* palette, int count = 256) {
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
// can change a colour, and whole rows compare at once.
GifWriter::Area GifWriter::ChangedArea(const IndexedFrame& frame) const {
    const bool samePalette = std::memcmp(frame.palette, shownPalette_.data(), 768) == 0;
    std::uint32_t left = width_, right = 0, top = height_, bottom = 0;
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t* in = frame.Row(y);
        const std::uint8_t* was = shown_.data() + std::size_t{y} * width_;
        if (samePalette && std::memcmp(in, was, width_) == 0) continue;
        for (std::uint32_t x = 0; x < width_; ++x) {
            if (in[x] == was[x] && samePalette) continue;
            if (!samePalette &&
                std::memcmp(frame.palette + in[x] * 3, shownPalette_.data() + was[x] * 3, 3) == 0)
                continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
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
    control.TransparentColor = transparent_;
    GifByteType extension[4];
    const std::size_t length = EGifGCBToExtension(&control, extension);
    // Frames in the first frame's palette use the global colour table; others, and those
    // that use few enough colours to be coded in fewer bits, carry their own.
    const bool ownPalette = palette_ != global_ || tableSize_ < 256;
    ColorMapObject* map = ownPalette ? MakeColourMap(palette_.data(), tableSize_) : nullptr;
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

// Within the changed area, the pixels that keep their colour are made transparent, so that
// the previous frame shows through them: long runs of one index, which LZW packs far
// tighter than the picture they cover. The index taken is one that no changed pixel uses;
// when every index is used, nothing is. Returns the index, or NO_TRANSPARENT_COLOR.
int GifWriter::SeeThroughUnchanged(const IndexedFrame& frame) {
    std::array<bool, 256> used{};
    std::vector<bool> kept(indices_.size());
    for (std::uint32_t y = 0; y < area_.height; ++y) {
        const std::uint8_t* was = shown_.data() + std::size_t{area_.top + y} * width_ + area_.left;
        const std::uint8_t* in = indices_.data() + std::size_t{y} * area_.width;
        for (std::uint32_t x = 0; x < area_.width; ++x) {
            const bool same =
                std::memcmp(frame.palette + in[x] * 3, shownPalette_.data() + was[x] * 3, 3) == 0;
            kept[std::size_t{y} * area_.width + x] = same;
            if (!same) used[in[x]] = true;
        }
    }
    const auto unused = std::find(used.begin(), used.end(), false);
    // An index no pixel takes would only widen the colour table.
    if (unused == used.end() || std::find(kept.begin(), kept.end(), true) == kept.end())
        return NO_TRANSPARENT_COLOR;
    const auto index = static_cast<std::uint8_t>(unused - used.begin());
    // A see-through pixel keeps its own index as the other choice the coder may take.
    alternatives_ = indices_;
    for (std::size_t i = 0; i < indices_.size(); ++i)
        if (kept[i]) indices_[i] = index;
    return index;
}

// LZW codes start one bit wider than the colour table's index: a frame of few colours may
// get a table of just those, its indices renumbered, and be coded in fewer bits a pixel.
// Returns the table's size (256: left as it was).
int GifWriter::KeepUsedColours() {
    std::array<int, 256> renumbered;
    renumbered.fill(-1);
    int count = 0;
    for (const std::uint8_t index : indices_)
        if (renumbered[index] < 0) renumbered[index] = count++;
    const int size = TableSize(count);
    if (size == 256) return 256;
    std::array<std::uint8_t, 768> kept{};
    for (int index = 0; index < 256; ++index)
        if (renumbered[index] >= 0)
            std::memcpy(kept.data() + renumbered[index] * 3, palette_.data() + index * 3, 3);
    for (std::uint8_t& index : indices_) index = static_cast<std::uint8_t>(renumbered[index]);
    // A see-through pixel whose own colour is not in the smaller table is see-through only.
    for (std::size_t i = 0; i < alternatives_.size(); ++i)
        alternatives_[i] = static_cast<std::uint8_t>(
            renumbered[alternatives_[i]] >= 0 ? renumbered[alternatives_[i]] : indices_[i]);
    if (transparent_ != NO_TRANSPARENT_COLOR) transparent_ = renumbered[transparent_];
    palette_ = kept;
    return size;
}

// LZW as GIF takes it, each code as long as the table needs, low bits first.
class GifWriter::Coder {
  public:
    Coder(int bits, std::vector<std::uint16_t>* table)
        : clear_(1 << bits), rootBits_(bits + 1), table_(*table) {
        Reset();
        Put(clear_);
    }
    // Moves on by one pixel that may be shown by either index (the same twice when only one
    // will do): the longer string already known is kept going, which is where see-through
    // pixels pay.
    void Add(std::uint8_t first, std::uint8_t second) {
        if (current_ < 0) {
            current_ = first;
            return;
        }
        for (const std::uint8_t pixel : {first, second}) {
            const std::uint16_t known = table_[Slot(pixel)];
            if (known != 0) {
                current_ = known;
                return;
            }
        }
        Put(current_);
        table_[Slot(first)] = static_cast<std::uint16_t>(next_);
        current_ = first;
        // The table is full at 4096 codes: cleared and begun again, as every decoder expects.
        if (next_ == kMostCodes) {
            Put(clear_);
            Reset();
            current_ = first;
        } else if (next_++ == (1 << bits_) && bits_ < kLongestCode) {
            ++bits_;
        }
    }
    // The codes as GIF sub-blocks: a length byte, then up to 255 bytes.
    std::vector<std::uint8_t> Finish() {
        if (current_ >= 0) Put(current_);
        Put(clear_ + 1);
        if (filled_ > 0) bytes_.push_back(static_cast<std::uint8_t>(pending_));
        std::vector<std::uint8_t> blocks;
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
    std::size_t Slot(std::uint8_t pixel) const { return std::size_t(current_) * 256 + pixel; }
    void Reset() {
        std::fill(table_.begin(), table_.end(), std::uint16_t{0});
        next_ = clear_ + 2, bits_ = rootBits_, current_ = -1;
    }
    void Put(int code) {
        pending_ |= std::uint32_t(code) << filled_;
        for (filled_ += bits_; filled_ >= 8; filled_ -= 8, pending_ >>= 8)
            bytes_.push_back(static_cast<std::uint8_t>(pending_));
    }
    const int clear_, rootBits_;
    std::vector<std::uint16_t>& table_;  // (string's code, pixel) -> the longer string's code
    int next_ = 0, bits_ = 0, current_ = -1;
    std::uint32_t pending_ = 0;
    int filled_ = 0;
    std::vector<std::uint8_t> bytes_;
};

// The pending frame's pixels coded by our own LZW, which giflib then writes as they are:
// a see-through pixel may be coded as either of its indices, which giflib's coder cannot.
std::vector<std::uint8_t> GifWriter::CodePixels(int bits) {
    table_.resize(std::size_t{4096} * 256);
    Coder coder(bits, &table_);
    for (std::size_t i = 0; i < indices_.size(); ++i)
        coder.Add(indices_[i], alternatives_.empty() ? indices_[i] : alternatives_[i]);
    return coder.Finish();
}

bool GifWriter::WriteCodes() {
    bool ok = true;
    for (std::size_t at = 0; at < codes_.size() && ok; at += codes_[at] + 1u)
        ok = (at == 0 ? EGifPutCode(gif_, codeBits_, codes_.data() + at)
                      : EGifPutCodeNext(gif_, codes_.data() + at)) == GIF_OK;
    return ok && EGifPutCodeNext(gif_, nullptr) == GIF_OK;
}

// Codes the pending frame, with a table of just its colours where that comes out smaller,
// the table's 3 bytes an entry counted: it pays on large frames of few colours, not on
// small ones, whose LZW is short anyway.
void GifWriter::CodeFrame(bool first) {
    tableSize_ = 256, codeBits_ = 8;
    codes_ = CodePixels(codeBits_);
    if (first) return;
    // Where the kept pixels are scattered (noise), seeing through them only breaks strings.
    if (!alternatives_.empty()) {
        std::vector<std::uint8_t> see = indices_;
        indices_.swap(alternatives_), alternatives_.clear();
        std::vector<std::uint8_t> plain = CodePixels(codeBits_);
        if (plain.size() < codes_.size()) {
            codes_.swap(plain), transparent_ = NO_TRANSPARENT_COLOR;
        } else {
            alternatives_.swap(indices_), indices_.swap(see);
        }
    }
    const std::size_t wholeCost = codes_.size() + (palette_ != global_ ? 768 : 0);
    const auto indices = indices_, alternatives = alternatives_;
    const auto palette = palette_;
    const int transparent = transparent_;
    const int size = KeepUsedColours();
    if (size == 256) return;
    int bits = 2;  // the code size giflib announces for a table of SIZE
    while ((1 << bits) < size) ++bits;
    std::vector<std::uint8_t> fewer = CodePixels(bits);
    if (fewer.size() + 3 * std::size_t(size) < wholeCost) {
        codes_.swap(fewer), codeBits_ = bits, tableSize_ = size;
        return;
    }
    indices_ = indices, alternatives_ = alternatives, palette_ = palette;
    transparent_ = transparent;
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
    if (first) {
        std::memcpy(global_.data(), frame.palette, global_.size());
        ColorMapObject* map = MakeColourMap(frame.palette);
        ok_ = ok_ &&
              EGifPutScreenDesc(gif_, static_cast<int>(width_), static_cast<int>(height_), 8, 0,
                                map) == GIF_OK &&
              WriteLoopExtension();
        GifFreeMapObject(map);
    }
    pending_ = true, area_ = area, delay_ = delay;
    std::memcpy(palette_.data(), frame.palette, palette_.size());
    indices_.resize(std::size_t{area.width} * area.height);
    for (std::uint32_t y = 0; y < area.height; ++y)
        std::memcpy(indices_.data() + std::size_t{y} * area.width,
                    frame.Row(area.top + y) + area.left, area.width);
    alternatives_.clear();
    transparent_ = first ? NO_TRANSPARENT_COLOR : SeeThroughUnchanged(frame);
    CodeFrame(first);
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
