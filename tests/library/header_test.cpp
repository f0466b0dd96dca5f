// SPDX-License-Identifier: MIT
// A movie's header as ZambReadHeader tells it: the writer's values for a whole movie, and for
// every cut or rewritten header the same verdict the open gives.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "movie_kinds.h"
#include "zambrel/decoder.h"
#include "zambrel/movie.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct MemoryInput {
    const Bytes* bytes;
    std::size_t position;
};

std::size_t ReadInput(void* opaque, void* buffer, std::size_t size) {
    auto* input = static_cast<MemoryInput*>(opaque);
    const std::size_t left = input->bytes->size() - std::min(input->position, input->bytes->size());
    const std::size_t count = std::min(size, left);
    if (count != 0) std::memcpy(buffer, input->bytes->data() + input->position, count);
    input->position += count;
    return count;
}

int SeekInput(void* opaque, std::uint64_t position) {
    static_cast<MemoryInput*>(opaque)->position = static_cast<std::size_t>(position);
    return 0;
}

ZambError ReadHeaderOf(const Bytes& bytes, ZambHeader* header) {
    MemoryInput input{&bytes, 77};  // the call starts from position 0 wherever the reader is
    const ZambReader reader{&input, &ReadInput, &SeekInput, bytes.size()};
    return ZambReadHeader(&reader, header, sizeof *header);
}

// A stored word of the header, by the movie record's field that holds it, and the same
// field of the call's record.
struct Field {
    std::size_t at;
    std::uint32_t (*told)(const ZambHeader&);
};

const std::vector<Field>& Fields() {
    static const std::vector<Field> fields = {
        {offsetof(ZambMovie, Width), [](const ZambHeader& h) { return h.Width; }},
        {offsetof(ZambMovie, Height), [](const ZambHeader& h) { return h.Height; }},
        {offsetof(ZambMovie, FrameCount), [](const ZambHeader& h) { return h.FrameCount; }},
        {offsetof(ZambMovie, FileFlags), [](const ZambHeader& h) { return h.FileFlags; }},
        {offsetof(ZambMovie, TreeDataSize), [](const ZambHeader& h) { return h.TreeDataSize; }},
        {offsetof(ZambMovie, PatternTreeSize), [](const ZambHeader& h) { return h.TreeSizes[0]; }},
        {offsetof(ZambMovie, TypeTreeSize), [](const ZambHeader& h) { return h.TreeSizes[3]; }},
        {offsetof(ZambMovie, TrackMaxBytes) + 4 * 6,
         [](const ZambHeader& h) { return h.TrackMaxBytes[6]; }},
        {offsetof(ZambMovie, TrackFormat), [](const ZambHeader& h) { return h.TrackFormat[0]; }},
    };
    return fields;
}

void PutWord(Bytes& bytes, std::size_t at, std::uint32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}

TEST(Header, AWholeMovieTellsWhatTheWriterStored) {
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        SCOPED_TRACE(kind.name);
        const zambrel::encoder::WriteResult written = zambrel::encoder::WriteMovie(kind.recipe);
        ASSERT_TRUE(written.ok) << written.error;
        const zambrel::encoder::MovieRecipe& r = kind.recipe;
        ZambHeader h{};
        ASSERT_EQ(ReadHeaderOf(written.bytes, &h), ZAMBERR_NONE);
        EXPECT_EQ(h.Refusal, ZAMBHDR_USABLE);
        EXPECT_STREQ(h.Reason, "");
        EXPECT_EQ(h.HeaderBytes, ZAMB_HEADER_BYTES);
        EXPECT_EQ(std::string(h.Magic, 4), ZAMB_MAGIC);
        EXPECT_EQ(h.Width, r.width);
        EXPECT_EQ(h.Height, r.height);  // as stored, whatever the open shows
        EXPECT_EQ(h.FrameCount, r.pictures.size());
        EXPECT_EQ(h.FrameRate, r.frameRate);
        EXPECT_EQ(h.FileFlags, (r.ring ? ZAMB_FILE_RING : 0) |
                                   (r.interlaced ? ZAMB_FILE_INTERLACED : 0) |
                                   (r.doubled ? ZAMB_FILE_DOUBLED : 0));
        EXPECT_EQ(h.TreeDataSize, written.layout.treeDataSize);
        for (int t = 0; t < 4; ++t) EXPECT_EQ(h.TreeSizes[t], written.layout.treeSizes[t]);
        for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
            const zambrel::encoder::SoundTrack& track = r.tracks[n];
            EXPECT_EQ(h.TrackMaxBytes[n], written.layout.trackMaxBytes[n]);
            EXPECT_EQ((h.TrackFormat[n] & ZAMB_TRACK_PRESENT) != 0, track.present);
            if (!track.present) continue;
            EXPECT_EQ(h.TrackFormat[n] & ZAMB_TRACK_RATE_MASK, track.sampleRate);
            EXPECT_EQ((h.TrackFormat[n] & ZAMB_TRACK_STEREO) != 0, track.stereo);
            EXPECT_EQ((h.TrackFormat[n] & ZAMB_TRACK_16BIT) != 0, track.is16Bit);
        }
    }
}

// Every cut through the header and tables, and every header word rewritten with values
// about the limits: the call's verdict is the open's, its fields are the stored words, and
// each refusal comes with a sentence.
TEST(Header, CutAndRewrittenHeadersGetTheOpensVerdict) {
    const std::vector<std::uint32_t> values = {0,    1,    2,      3,          4,         6,
                                               8192, 8196, 100000, 0x7FFFFFFF, 0xFFFFFFFF};
    std::vector<Bytes> inputs;
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        const Bytes whole = library_test::Write(kind.recipe);
        for (std::size_t size = 0; size < std::min<std::size_t>(whole.size(), 400); size += 3)
            inputs.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        for (const Field& field : Fields()) {
            for (std::uint32_t value : values) {
                inputs.push_back(whole);
                PutWord(inputs.back(), field.at, value);
            }
        }
        inputs.push_back(whole);
        inputs.back()[1] ^= 0x20;  // the magic's case
    }
    std::set<std::uint32_t> refusals;
    for (const Bytes& input : inputs) {
        SCOPED_TRACE("input of " + std::to_string(input.size()) + " bytes");
        ZambHeader h{};
        const ZambError told = ReadHeaderOf(input, &h);
        ZambDecoder* decoder = nullptr;
        const ZambError opened = ZambDecoderOpenMemory(input.data(), input.size(), 0, &decoder);
        ZambDecoderClose(decoder);
        refusals.insert(h.Refusal);
        ASSERT_LE(h.Refusal, ZAMBHDR_PAST_END);
        EXPECT_EQ(h.Refusal == ZAMBHDR_USABLE, h.Reason[0] == 0) << h.Reason;
        EXPECT_EQ(h.HeaderBytes, std::min<std::size_t>(input.size(), ZAMB_HEADER_BYTES));
        if (told != ZAMBERR_NONE)
            EXPECT_EQ(opened, told) << h.Reason;
        else
            EXPECT_TRUE(opened != ZAMBERR_NOT_A_MOVIE && opened != ZAMBERR_UNUSABLE_HEADER)
                << ZambErrorString(opened);
        if (h.HeaderBytes < ZAMB_HEADER_BYTES || h.Refusal == ZAMBHDR_NOT_A_MOVIE) continue;
        for (const Field& field : Fields()) {
            std::uint32_t stored = 0;
            std::memcpy(&stored, input.data() + field.at, 4);
            EXPECT_EQ(field.told(h), stored) << "the word at " << field.at;
        }
    }
    EXPECT_EQ(refusals.size(), ZAMBHDR_PAST_END + 1u) << "some refusal was never met";
}

TEST(Header, TheReasonsZmbtoolTells) {
    const Bytes whole = library_test::Write(library_test::AllMovieKinds()[0].recipe);
    ZambHeader h{};
    Bytes odd = whole;
    PutWord(odd, offsetof(ZambMovie, Height), 18);
    EXPECT_EQ(ReadHeaderOf(odd, &h), ZAMBERR_UNUSABLE_HEADER);
    EXPECT_EQ(std::string(h.Reason), "the picture size " + std::to_string(h.Width) +
                                         "x18 is not a positive multiple of 4");
    EXPECT_EQ(ReadHeaderOf(Bytes(whole.begin(), whole.begin() + 60), &h), ZAMBERR_NOT_A_MOVIE);
    EXPECT_STREQ(h.Reason, "the header is cut short");
    EXPECT_EQ(ReadHeaderOf(Bytes(whole.begin(), whole.begin() + 3), &h), ZAMBERR_NOT_A_MOVIE);
    EXPECT_STREQ(h.Reason, "not a Zambrel movie");
}

TEST(Header, BadCallsAndOlderRecords) {
    const Bytes whole = library_test::Write(library_test::AllMovieKinds()[0].recipe);
    MemoryInput input{&whole, 0};
    ZambReader reader{&input, &ReadInput, &SeekInput, whole.size()};
    ZambHeader h{};
    EXPECT_EQ(ZambReadHeader(nullptr, &h, sizeof h), ZAMBERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZambReadHeader(&reader, nullptr, sizeof h), ZAMBERR_INVALID_ARGUMENT);
    // A record of older declarations gets its own fields and nothing past them.
    std::memset(&h, 0xA5, sizeof h);
    const std::size_t older = offsetof(ZambHeader, HeaderBytes);
    EXPECT_EQ(ZambReadHeader(&reader, &h, older), ZAMBERR_NONE);
    EXPECT_NE(h.Width, 0xA5A5A5A5u);
    EXPECT_EQ(h.HeaderBytes, 0xA5A5A5A5u);
    reader.Seek = [](void*, std::uint64_t) { return 1; };
    EXPECT_EQ(ZambReadHeader(&reader, &h, sizeof h), ZAMBERR_READ_FAILED);
}

}  // namespace
