// SPDX-License-Identifier: MIT
// A movie's header for programs that ask what a file says of itself, also when the open
// refuses it: read and judged by the open's own code, on a record of the call's own.
#include <algorithm>
#include <cstring>

#include "decoder/movie.h"
#include "decoder/movie_header.h"
#include "decoder/source.h"
#include "decoder/trees.h"
#include "handles/handle.h"

namespace {

ZambHeader FieldsOf(const Movie& record) {
    ZambHeader header{};
    std::memcpy(header.Magic, record.Magic, sizeof header.Magic);
    header.Width = record.Width;
    header.Height = record.Height;
    header.FrameCount = record.FrameCount;
    header.FrameRate = record.FrameRate;
    header.FileFlags = record.FileFlags;
    std::copy_n(record.TrackMaxBytes, ZAMB_MAX_TRACKS, header.TrackMaxBytes);
    header.TreeDataSize = record.TreeDataSize;
    std::copy_n(TreeSizes(&record), kTreeCount, header.TreeSizes);
    std::copy_n(record.TrackFormat, ZAMB_MAX_TRACKS, header.TrackFormat);
    return header;
}

}  // namespace

extern "C" ZambError ZambReadHeader(const ZambReader* reader, ZambHeader* header,
                                    std::size_t size) {
    if (reader == nullptr || reader->Read == nullptr || reader->Seek == nullptr ||
        header == nullptr)
        return ZAMBERR_INVALID_ARGUMENT;
    if (reader->Seek(reader->Opaque, 0) != 0) return ZAMBERR_READ_FAILED;
    ZambReader input = *reader;
    Movie record{};
    record.FileHandle = &input;
    record.OpenFlags = kReaderMovieFlags;
    const std::uint32_t bytes = ReadHeader(&record);
    const HeaderPlace place{0, input.Size, 0};
    HeaderRefusal refusal = CheckHeaderStart(&record, bytes);
    if (refusal == HeaderRefusal::None) refusal = CheckHeaderFields(&record, place);
    ZambHeader facts = FieldsOf(record);
    facts.HeaderBytes = bytes;
    facts.Refusal = static_cast<std::uint32_t>(refusal);
    DescribeRefusal(refusal, &record, place, facts.Reason, sizeof facts.Reason);
    std::memcpy(header, &facts, std::min(size, sizeof facts));
    return ErrorFor(FailureOf(refusal));
}
