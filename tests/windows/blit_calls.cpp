// SPDX-License-Identifier: MIT
// The recorded blitter calls. Every input is generated from fixed seeds, so both platforms
// feed the operations the same bytes.
#include "blit_calls.h"

#include <cstring>

const char* const kBlitFunctionNames[14] = {
    "ZambBlitOpen",           "ZambBlitClose",
    "ZambBlitSetPalette",     "ZambBlitSetFlags",
    "ZambBlitString",         "ZambBlit",
    "ZambBlitTrans",          "ZambBlitMask",
    "ZambBlitMerge",          "ZambBlitClear",
    "ZambBufferToBuffer",     "ZambBufferToBufferTrans",
    "ZambBufferToBufferMask", "ZambBufferToBufferMerge",
};

namespace {

constexpr std::uint32_t kSrcWidth = 24, kSrcHeight = 14, kSrcPitch = 28;
// Room for a doubled 16-bit copy of the whole source with a margin.
constexpr std::uint32_t kDestPitch = (kSrcWidth * 2 + 8) * 2, kDestRows = kSrcHeight * 2 + 4;

std::vector<std::uint8_t> Noise(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// A picture with runs of a few values, so that key colours and smoothing neighbours occur.
std::vector<std::uint8_t> Picture(std::uint32_t seed) {
    std::vector<std::uint8_t> pixels = Noise(kSrcPitch * kSrcHeight, seed);
    for (std::uint8_t& p : pixels) p = static_cast<std::uint8_t>(p % 5 == 0 ? 7 : p);
    return pixels;
}

class Recorder {
  public:
    void Add(const std::string& name, const void* data, std::size_t size) {
        out_.insert(out_.end(), name.begin(), name.end());
        out_.push_back(0);
        for (int shift = 0; shift < 32; shift += 8)
            out_.push_back(static_cast<std::uint8_t>(size >> shift));
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        out_.insert(out_.end(), bytes, bytes + size);
    }
    void Add(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        Add(name, bytes.data(), bytes.size());
    }
    void AddValue(const std::string& name, std::uint32_t value) {
        std::uint8_t bytes[4];
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
        Add(name, bytes, sizeof bytes);
    }
    std::vector<std::uint8_t> Take() { return std::move(out_); }

  private:
    std::vector<std::uint8_t> out_;
};

struct Inputs {
    std::vector<std::uint8_t> source = Picture(1);
    std::vector<std::uint8_t> mask = Picture(2);
    std::vector<std::uint8_t> merge = Noise(kSrcPitch * kSrcHeight, 3);
    // Big enough for the widest layout: 8-byte entries.
    std::vector<std::uint8_t> palette = Noise(256 * 8, 4);
};

std::vector<std::uint8_t> FreshDest() {
    return std::vector<std::uint8_t>(kDestPitch * kDestRows, 0xA5);
}

// One screen blit top-down and one bottom-up (negative pitch from the last row).
void RecordBlits(const BlitFunctions& f, ZambBlitHandle* h, const Inputs& in,
                 const std::string& tag, Recorder& r) {
    std::vector<std::uint8_t> dest = FreshDest();
    f.Blit(h, dest.data(), kDestPitch, 1, 2, in.source.data(), kSrcPitch, 2, 1, 19, 11);
    r.Add(tag + " blit", dest);
    dest = FreshDest();
    f.Blit(h, dest.data() + kDestPitch * (kDestRows - 1), -static_cast<std::int32_t>(kDestPitch), 0,
           0, in.source.data() + kSrcPitch * (kSrcHeight - 1),
           -static_cast<std::int32_t>(kSrcPitch), 0, 0, kSrcWidth, kSrcHeight);
    r.Add(tag + " blit bottom-up", dest);
}

void RecordScreenModes(const BlitFunctions& f, const Inputs& in, Recorder& r) {
    const std::uint32_t formats[] = {0, ZAMBBLIT_RGB555, ZAMBBLIT_RGB565};
    const std::uint32_t sizes[] = {ZAMBBLIT_1X, ZAMBBLIT_2X, ZAMBBLIT_2X_INTERLACE,
                                   ZAMBBLIT_2X_SMOOTH};
    const std::uint32_t paletteTypes[] = {0, 6, 14, 7};
    int round = 0;
    for (std::uint32_t format : formats) {
        for (std::uint32_t size : sizes) {
            std::uint32_t flags = format | size;
            std::string tag = "mode " + std::to_string(flags);
            ZambBlitHandle* h = f.Open(flags);
            r.AddValue(tag + " opened", h != nullptr);
            if (!h) continue;
            std::uint32_t type = paletteTypes[round++ % 4];
            r.AddValue(tag + " palette", f.SetPalette(h, in.palette.data(), type));
            r.AddValue(tag + " same palette", f.SetPalette(h, in.palette.data(), type));
            char name[32] = {};
            r.Add(tag + " string", f.String(h, name), sizeof name);
            RecordBlits(f, h, in, tag, r);
            // The smoothing table is the one a handle opened without it cannot take.
            r.AddValue(tag + " to smooth", f.SetFlags(h, format | ZAMBBLIT_2X_SMOOTH));
            r.AddValue(tag + " to 2x", f.SetFlags(h, format | ZAMBBLIT_2X));
            RecordBlits(f, h, in, tag + " as 2x", r);
            f.Close(h);
        }
    }
    r.AddValue("lone 16-bit format bit opens", f.Open(0x40000000u) != nullptr);
    f.Close(nullptr);
}

void RecordKeyedCopies(const BlitFunctions& f, const Inputs& in, Recorder& r) {
    ZambBlitHandle* h = f.Open(ZAMBBLIT_1X);
    if (!h) return r.AddValue("keyed handle", 0);
    std::vector<std::uint8_t> dest = FreshDest();
    f.Trans(h, dest.data(), kDestPitch, 3, 1, in.source.data(), kSrcPitch, 1, 2, 20, 10, 0x107);
    r.Add("trans", dest);
    dest = FreshDest();
    f.Mask(h, dest.data(), kDestPitch, 0, 0, in.source.data(), kSrcPitch, 0, 0, kSrcWidth,
           kSrcHeight, 7, in.mask.data());
    r.Add("mask", dest);
    dest = FreshDest();
    f.Merge(h, dest.data(), kDestPitch, 2, 3, in.source.data(), kSrcPitch, 1, 1, 17, 9, 7,
            in.merge.data());
    r.Add("merge", dest);
    dest = FreshDest();
    f.Clear(h, dest.data(), kDestPitch, 4, 2, 9, 5, 0x33);
    r.Add("clear 8-bit", dest);
    f.Close(h);

    h = f.Open(ZAMBBLIT_RGB565 | ZAMBBLIT_2X);
    if (!h) return r.AddValue("clear handle", 0);
    f.SetPalette(h, in.palette.data(), 0);
    dest = FreshDest();
    f.Clear(h, dest.data(), kDestPitch, 1, 1, 7, 4, 200);
    f.Clear(h, dest.data(), kDestPitch, 9, 6, 5, 3, -0x1234);
    r.Add("clear 16-bit", dest);
    f.Close(h);
}

// Display records as the buffer-to-buffer copies read them, stored either way up.
struct Buffer {
    std::vector<std::uint8_t> bytes;
    ZambDisplayBuffer record{};
    Buffer(std::uint32_t width, std::uint32_t height, bool bottomUp, std::vector<std::uint8_t> fill)
        : bytes(std::move(fill)) {
        record.BottomUp = bottomUp;
        record.Width = width;
        record.Height = height;
        record.Pitch = (width + 7) & ~7u;
        bytes.resize(record.Pitch * height);
        record.Buffer = bytes.data();
    }
};

void RecordBufferCopies(const BlitFunctions& f, Recorder& r) {
    for (int way = 0; way < 4; ++way) {
        bool destUp = way & 1, srcUp = way & 2;
        std::string tag = "buffers " + std::to_string(way);
        Buffer src(21, 13, srcUp, Picture(5));
        Buffer mask(21, 13, srcUp, Picture(6));
        Buffer merge(21, 13, srcUp, Noise(24 * 13, 7));
        Buffer dest(30, 17, destUp, Noise(32 * 17, 8));
        f.BufferToBuffer(&dest.record, 2, 3, &src.record, 1, 2, 15, 9);
        r.Add(tag + " copy", dest.bytes);
        f.BufferToBufferTrans(&dest.record, 5, 1, &src.record, 0, 0, 21, 13, 7);
        r.Add(tag + " trans", dest.bytes);
        f.BufferToBufferMask(&dest.record, 0, 4, &src.record, 3, 1, 12, 11, 7, &mask.record);
        r.Add(tag + " mask", dest.bytes);
        f.BufferToBufferMerge(&dest.record, 8, 0, &src.record, 2, 2, 19, 10, 7, &merge.record);
        r.Add(tag + " merge", dest.bytes);
        // Outside the destination and a null record: nothing may be written.
        f.BufferToBuffer(&dest.record, 25, 0, &src.record, 0, 0, 10, 5);
        f.BufferToBuffer(nullptr, 0, 0, &src.record, 0, 0, 10, 5);
        r.Add(tag + " refused", dest.bytes);
    }
}

std::string SectionName(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::string name;
    while (offset < bytes.size() && bytes[offset]) name += static_cast<char>(bytes[offset++]);
    return name;
}

}  // namespace

std::vector<std::uint8_t> RunBlitCalls(const BlitFunctions& f) {
    Inputs in;
    Recorder r;
    RecordScreenModes(f, in, r);
    RecordKeyedCopies(f, in, r);
    RecordBufferCopies(f, r);
    return r.Take();
}

std::string FirstDifference(const std::vector<std::uint8_t>& a,
                            const std::vector<std::uint8_t>& b) {
    std::size_t offset = 0;
    while (offset < a.size() && offset < b.size()) {
        std::string name = SectionName(a, offset);
        std::size_t header = name.size() + 1 + 4;
        if (SectionName(b, offset) != name || offset + header > a.size() ||
            offset + header > b.size())
            return "section \"" + name + "\" is \"" + SectionName(b, offset) + "\" in the other";
        std::size_t length = 0;
        for (int i = 0; i < 4; ++i)
            length |= std::size_t{a[offset + name.size() + 1 + i]} << (8 * i);
        std::size_t start = offset + header, end = start + length;
        for (std::size_t i = start; i < end; ++i)
            if (i >= a.size() || i >= b.size() || a[i] != b[i])
                return "section \"" + name + "\" differs at byte " + std::to_string(i - start);
        offset = end;
    }
    if (a.size() != b.size()) return "one recording ends at byte " + std::to_string(offset);
    return "";
}
