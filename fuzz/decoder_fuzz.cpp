// SPDX-License-Identifier: MIT
// A whole movie through the embedding interface, from an exact-size copy in memory: every
// frame in every picture format (whole and changes only), every track's sound taken per frame
// and from its queue, and seeks to frames the input chooses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "tame.h"
#include "zambrel/decoder.h"

namespace {

constexpr std::uint32_t kMaxFrames = 24;
constexpr std::uint64_t kMaxPictureBytes = 64u << 10;  // decoded pixels per frame
constexpr std::uint32_t kSeeks = 3;
constexpr std::uint32_t kBytesPerPixel[] = {1, 4, 4, 3, 2};

void Check(bool condition) {
    if (!condition) std::abort();
}

void TakePictures(ZambDecoder* decoder, const ZambMovieInfo& info) {
    for (std::uint32_t format = ZAMBPIX_INDEX8; format <= ZAMBPIX_RGB565; ++format) {
        const std::size_t pitch = std::size_t{info.Width} * kBytesPerPixel[format];
        // Exact size, so that a write past the picture is one past the allocation.
        std::vector<std::uint8_t> pixels(pitch * info.Height);
        for (std::uint32_t flags : {0u, unsigned{ZAMBPIC_CHANGED_ONLY}})
            Check(ZambDecoderGetPicture(decoder, format, pixels.data(), pitch, pixels.size(),
                                        flags) == ZAMBERR_NONE);
        Check(ZambDecoderGetPicture(decoder, format, pixels.data(), pitch, pixels.size() - 1, 0) ==
              ZAMBERR_BUFFER_TOO_SMALL);
    }
    std::vector<ZambRect> rects(ZambDecoderGetChangedRects(decoder, nullptr, 0));
    ZambDecoderGetChangedRects(decoder, rects.data(), static_cast<std::uint32_t>(rects.size()));
    for (const ZambRect& r : rects)
        Check(r.X >= 0 && r.Y >= 0 && r.W > 0 && r.H > 0 &&
              std::uint64_t(r.X) + r.W <= info.Width && std::uint64_t(r.Y) + r.H <= info.Height);
}

void TakeSound(ZambDecoder* decoder) {
    for (std::uint32_t n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        std::size_t bytes = 0;
        if (ZambDecoderFrameSound(decoder, n, nullptr, 0, &bytes) == ZAMBERR_NO_TRACK) continue;
        std::vector<std::uint8_t> sound(bytes);
        Check(ZambDecoderFrameSound(decoder, n, sound.data(), sound.size(), &bytes) ==
              ZAMBERR_NONE);
        std::vector<std::uint8_t> queued(ZambDecoderSoundQueued(decoder, n) / 2 + 1);
        Check(ZambDecoderReadSound(decoder, n, queued.data(), queued.size()) <= queued.size());
    }
}

// Every track answers where its sound is, or that it has none, and a failure's sentence
// is a terminated string.
void TakePlaces(ZambDecoder* decoder) {
    for (std::uint32_t n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        ZambSoundPosition position{};
        const ZambError result =
            ZambDecoderGetSoundPosition(decoder, n, &position, sizeof position);
        Check(result == ZAMBERR_NONE || result == ZAMBERR_NO_TRACK);
    }
    ZambErrorInfo error{};
    Check(ZambDecoderGetLastError(decoder, &error, sizeof error) == ZAMBERR_NONE);
    Check(std::memchr(error.Reason, 0, sizeof error.Reason) != nullptr);
}

// What tools ask of a frame: each chunk's sound, the picture's damage, both merges.
void TakeDamage(ZambDecoder* decoder) {
    for (std::uint32_t n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        ZambChunkSound chunk{};
        const ZambError result = ZambDecoderGetChunkSound(decoder, n, &chunk, sizeof chunk);
        Check(result == ZAMBERR_NONE || result == ZAMBERR_NO_TRACK);
        Check(chunk.DeliveredBytes <= chunk.ClaimedBytes);
    }
    ZambFrameDamage damage{};
    Check(ZambDecoderGetFrameDamage(decoder, &damage, sizeof damage) == ZAMBERR_NONE);
    Check(std::memchr(damage.Reason, 0, sizeof damage.Reason) != nullptr);
    for (std::uint32_t mode : {0u, 1u}) {
        std::vector<ZambRect> rects(ZambDecoderGetMergedRects(decoder, mode, nullptr, 0));
        const auto count = static_cast<std::uint32_t>(rects.size());
        Check(ZambDecoderGetMergedRects(decoder, mode, rects.data(), count) == count);
    }
}

void Decode(ZambDecoder* decoder, const ZambMovieInfo& info) {
    TakePictures(decoder, info);
    TakeSound(decoder);
    TakePlaces(decoder);
    TakeDamage(decoder);
}

struct MemoryInput {
    const std::vector<std::uint8_t>* bytes;
    std::size_t position;
};

// A checked open through a reader over the same bytes; its faults are sentences.
ZambError OpenChecked(const std::vector<std::uint8_t>& movie, std::uint32_t flags,
                      MemoryInput* input, ZambDecoder** decoder) {
    ZambReader reader{};
    reader.Opaque = input;
    reader.Read = [](void* opaque, void* buffer, std::size_t size) -> std::size_t {
        auto* in = static_cast<MemoryInput*>(opaque);
        const std::size_t left = in->bytes->size() - in->position;
        const std::size_t count = size < left ? size : left;
        if (count != 0) std::memcpy(buffer, in->bytes->data() + in->position, count);
        in->position += count;
        return count;
    };
    reader.Seek = [](void* opaque, std::uint64_t position) {
        auto* in = static_cast<MemoryInput*>(opaque);
        if (position > in->bytes->size()) return -1;
        in->position = static_cast<std::size_t>(position);
        return 0;
    };
    reader.Size = movie.size();
    const ZambError opened = ZambDecoderOpenChecked(&reader, flags, decoder);
    if (*decoder == nullptr) return opened;
    ZambFrameCheck check{};
    std::vector<ZambFrameFault> faults(4);
    Check(ZambDecoderCheckFrames(*decoder, &check, faults.data(), 4) == ZAMBERR_NONE);
    Check(check.WholeFrames <= check.StoredFrames);
    for (std::uint32_t i = 0; i < check.FaultCount && i < 4; ++i)
        Check(std::memchr(faults[i].Reason, 0, sizeof faults[i].Reason) != nullptr);
    ZambStoredFrame stored{};
    const ZambError first = ZambDecoderGetStoredFrame(*decoder, 0, &stored, sizeof stored);
    Check(first == ZAMBERR_NONE || first == ZAMBERR_NO_FRAME);
    Check(ZambDecoderCheckPictures(*decoder) == ZAMBERR_NONE);
    return opened;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The choices come from the input's last bytes, which a movie's reading never needs.
    FuzzInput choices{size < 8 ? data : data + size - 8, size < 8 ? size : 8};
    const std::uint32_t flags = choices.Word() & 0x1F;
    const std::uint32_t seeds = choices.Word();
    const std::vector<std::uint8_t> tamed = Tamed(data, size);
    // A copy of exactly the input's size: reading one byte past it is caught.
    std::vector<std::uint8_t> movie(tamed);
    ZambDecoder* decoder = nullptr;
    MemoryInput input{&movie, 0};
    // The top bit of the seeks' word, which they leave alone, chooses the checked way in.
    const ZambError opened =
        (seeds >> 31) != 0 ? OpenChecked(movie, flags, &input, &decoder)
                           : ZambDecoderOpenMemory(movie.data(), movie.size(), flags, &decoder);
    Check((opened == ZAMBERR_NONE) == (decoder != nullptr));
    Check(ZambErrorString(opened) != nullptr);
    if (decoder == nullptr) return 0;
    ZambMovieInfo info{};
    Check(ZambDecoderGetInfo(decoder, &info, sizeof info) == ZAMBERR_NONE);
    if (std::uint64_t{info.Width} * info.Height <= kMaxPictureBytes) {
        // A small index, so that seeks resume from snapshots as well as from frame 0.
        const std::size_t snapshot = std::size_t{info.Width} * info.Height + 776;
        Check(ZambDecoderSetIndexBudget(decoder, snapshot * (1 + (seeds & 7))) == ZAMBERR_NONE);
        for (std::uint32_t f = 0; f < kMaxFrames && ZambDecoderNextFrame(decoder) == ZAMBERR_NONE;
             ++f)
            Decode(decoder, info);
        const std::uint32_t reach = info.FrameCount < kMaxFrames ? info.FrameCount : kMaxFrames;
        for (std::uint32_t s = 0; s < kSeeks; ++s) {
            const std::uint32_t target = ((seeds >> (8 * s)) & 0xFF) % (reach + 1);
            if (ZambDecoderSeek(decoder, target) == ZAMBERR_NONE) Decode(decoder, info);
        }
        Check(ZambDecoderIndexBytes(decoder) <= snapshot * (1 + (seeds & 7)));
    }
    ZambDecoderClose(decoder);
    return 0;
}
