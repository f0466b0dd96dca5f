// SPDX-License-Identifier: MIT
// zmbtool tracks: replaces, adds or drops a movie's sound tracks without touching a picture.
// The format keeps each track's sound in chunks of its own, so a dub needs no re-encoding:
// every palette and video chunk is copied as it is, and only the chunks of the tracks named
// are rebuilt, shared out over the frames as the encoder shares them.
#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "encode_sound.h"
#include "encoder/audio_chunk.h"
#include "encoder/writer.h"
#include "movie_file.h"
#include "options.h"
#include "output.h"
#include "zambrel/movie.h"

namespace zmbtool {
namespace {

namespace enc = zambrel::encoder;

const char kHelp[] =
    "usage: zmbtool tracks IN.zmb OUT.zmb [--set N=FILE]... [--drop N]... [OPTIONS]\n"
    "  OUT.zmb must not exist unless --force (-f) is given; it is written whole or not at all.\n"
    "  Writes a copy of IN.zmb with sound tracks replaced, added or dropped. Every picture and\n"
    "  palette is kept byte for byte; a new track is shared out over the frames as `encode`\n"
    "  shares it, running ahead of the pictures by the same lead.\n"
    "  --set N=FILE      track N (0..6) from a sound file, replacing the track or adding it:\n"
    "                    mono or stereo, kept 8-bit when the file is 8-bit and 16-bit\n"
    "                    otherwise, at the file's rate; no longer than the movie\n"
    "  --drop N          remove track N\n"
    "  --raw-sound       store the new tracks uncompressed\n"
    "  --sound-lead MS   how far the new tracks run ahead of the pictures, in milliseconds\n"
    "                    (default auto, as encode)\n"
    "  --salvage         from a damaged movie, keep the frames before the damage (status 3)\n";

constexpr std::uint32_t kFrameTrack0 = ZAMB_FRAME_TRACK0;

struct TracksOptions {
    std::array<std::string, enc::kTrackCount> set;
    std::array<bool, enc::kTrackCount> drop{};
    long soundLead = enc::kAutomaticSoundLead;
    bool raw = false, salvage = false;
};

int TrackNumber(const std::string& v) {
    return v.size() >= 1 && v[0] >= '0' && v[0] <= '6' ? v[0] - '0' : -1;
}

bool SetTrack(TracksOptions& o, const std::string& v) {
    const int n = TrackNumber(v);
    if (n < 0 || v.size() < 3 || v[1] != '=' || !o.set[n].empty()) return false;
    o.set[n] = v.substr(2);
    return true;
}

bool DropTrack(TracksOptions& o, const std::string& v) {
    const int n = TrackNumber(v);
    if (n < 0 || v.size() != 1 || o.drop[n]) return false;
    return o.drop[n] = true, true;
}

bool SetSoundLead(TracksOptions& o, const std::string& v) {
    if (v == "auto") return o.soundLead = enc::kAutomaticSoundLead, true;
    char* end = nullptr;
    errno = 0;
    const long ms = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != 0 || errno != 0 || ms < 0 || ms > 10000) return false;
    return o.soundLead = ms, true;
}

const Option<TracksOptions> kOptions[] = {
    {"--set", true, SetTrack, true},
    {"--drop", true, DropTrack, true},
    {"--raw-sound", false, [](TracksOptions& o, const std::string&) { return o.raw = true, true; }},
    {"--sound-lead", true, SetSoundLead},
    {"--salvage", false,
     [](TracksOptions& o, const std::string&) { return o.salvage = true, true; }},
};

std::uint32_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void PutWord(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// What is copied from the movie as it stands: the header, the frame tables and the trees.
struct Source {
    std::FILE* file = nullptr;
    std::string path;
    ZambMovie header{};  // its first fields: the header, read as the library reads it
    std::vector<std::uint8_t> trees;
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint8_t> types;
    std::uint64_t framesAt = 0;  // file offset of stored frame 0

    ~Source() {
        if (file != nullptr) std::fclose(file);
    }

    bool Read(std::uint8_t* into, std::size_t size, std::string* error) {
        if (std::fread(into, 1, size, file) == size) return true;
        *error = "cannot read " + path + ": " +
                 (std::ferror(file) ? std::strerror(errno) : "it was cut short while read");
        return false;
    }
};

// The movie's own tables, which the checked open has already found consistent with the file.
bool ReadSource(const std::string& path, std::uint32_t stored, Source& source, std::string* error) {
    source.path = path;
    source.file = std::fopen(path.c_str(), "rb");
    if (source.file == nullptr)
        return *error = "cannot read " + path + ": " + std::strerror(errno), false;
    std::vector<std::uint8_t> sizes(4 * std::size_t{stored});
    source.types.resize(stored);
    if (!source.Read(reinterpret_cast<std::uint8_t*>(&source.header), ZAMB_HEADER_BYTES, error) ||
        !source.Read(sizes.data(), sizes.size(), error) ||
        !source.Read(source.types.data(), source.types.size(), error))
        return false;
    source.trees.resize(source.header.TreeDataSize);
    if (!source.Read(source.trees.data(), source.trees.size(), error)) return false;
    for (std::uint32_t i = 0; i < stored; ++i) source.sizes.push_back(Word(&sizes[4 * i]));
    source.framesAt = ZAMB_HEADER_BYTES + 5 * std::uint64_t{stored} + source.trees.size();
    return true;
}

// The new chunks of one track, one per stored frame (empty where a frame carries none),
// and the largest share of sound any of them holds.
struct NewTrack {
    enc::SoundTrack sound;
    std::vector<std::vector<std::uint8_t>> chunks;
    std::uint32_t maxBytes = 0;
};

// Reads FILE for track N and cuts its chunks as the encoder would for a movie of PICTURES
// pictures (and the ring frame, when RING).
bool BuildTrack(const TracksOptions& o, int n, const Source& source, std::uint32_t pictures,
                bool ring, NewTrack& track, std::string* error) {
    const std::string& path = o.set[n];
    if (!ReadSoundTrack(path, o.raw, &track.sound, error)) return false;
    if (source.header.FrameRate == 0)
        return *error = path + ": the movie is untimed, so no sound can keep pace with it", false;
    const std::uint64_t needed = FramesForTrack(track.sound, source.header.FrameRate);
    if (needed > pictures) {
        *error = path + ": the sound needs " + std::to_string(needed) + " frames, the movie has " +
                 std::to_string(pictures);
        return false;
    }
    enc::MovieRecipe recipe;
    recipe.frameRate = source.header.FrameRate;
    recipe.ring = ring;
    recipe.soundLead = static_cast<std::int32_t>(o.soundLead);
    recipe.tracks[n] = track.sound;
    std::vector<std::uint32_t> shares;
    if (!enc::TrackChunkSizes(recipe, pictures, n, shares, *error))
        return *error = path + ": " + *error, false;
    const std::uint8_t* samples = track.sound.samples.data();
    for (std::uint32_t bytes : shares) {
        track.chunks.emplace_back();
        if (bytes == 0) continue;
        track.chunks.back() =
            enc::BuildAudioChunk(track.sound, samples, bytes, enc::TreeShape::Huffman);
        samples += bytes;
        track.maxBytes = std::max(track.maxBytes, bytes);
    }
    return true;
}

// Where one stored frame's chunks lie within it.
struct FrameParts {
    std::uint32_t palette = 0;  // bytes of the palette chunk (0 without one)
    std::array<std::uint32_t, enc::kTrackCount> at{}, length{};
    std::uint32_t video = 0;  // offset of the video chunk
};

FrameParts PartsOf(const std::vector<std::uint8_t>& frame, std::uint8_t type) {
    FrameParts parts;
    std::uint32_t at = 0;
    if (type & ZAMB_FRAME_PALETTE) parts.palette = at = 4u * frame[0];
    for (int t = 0; t < enc::kTrackCount; ++t) {
        if (!(type & (kFrameTrack0 << t))) continue;
        parts.at[t] = at;
        parts.length[t] = Word(&frame[at]);
        at += parts.length[t];
    }
    parts.video = at;
    return parts;
}

// The movie being written: the tracks named are rebuilt, every other byte comes from the
// source.
class Rewrite {
  public:
    Rewrite(Source& source, const std::array<NewTrack, enc::kTrackCount>& tracks,
            const std::array<bool, enc::kTrackCount>& replaced)
        : source_(source), tracks_(tracks), replaced_(replaced) {}

    // The frame as it will be written, and its type.
    bool Frame(std::uint32_t i, std::vector<std::uint8_t>& out, std::uint8_t& type,
               std::string* error) {
        frame_.resize(source_.sizes[i]);
        if (!source_.Read(frame_.data(), frame_.size(), error)) return false;
        const std::uint8_t old = source_.types[i];
        const FrameParts parts = PartsOf(frame_, old);
        out.assign(frame_.begin(), frame_.begin() + parts.palette);
        type = old & ZAMB_FRAME_PALETTE;
        for (int t = 0; t < enc::kTrackCount; ++t) {
            const std::uint8_t* begin = frame_.data() + parts.at[t];
            const std::uint8_t* end = begin + parts.length[t];
            if (replaced_[t] && !tracks_[t].chunks.empty()) {
                begin = tracks_[t].chunks[i].data();
                end = begin + tracks_[t].chunks[i].size();
            } else if (replaced_[t] || !(old & (kFrameTrack0 << t))) {
                continue;
            }
            if (begin == end) continue;
            out.insert(out.end(), begin, end);
            type = static_cast<std::uint8_t>(type | (kFrameTrack0 << t));
        }
        out.insert(out.end(), frame_.begin() + parts.video, frame_.end());
        return true;
    }

  private:
    Source& source_;
    const std::array<NewTrack, enc::kTrackCount>& tracks_;
    const std::array<bool, enc::kTrackCount>& replaced_;
    std::vector<std::uint8_t> frame_;
};

// Goes through the first STORED frames once to learn their new sizes and types, then again
// to write them after the header that lists them.
bool WriteMovie(Source& source, Rewrite& rewrite, std::uint32_t stored, const ZambMovie& header,
                OutputFile& out, std::string* error) {
    std::vector<std::uint8_t> head, frame, table(5 * std::size_t{stored});
    enc::PutMovieHeader(header, head);
    std::uint64_t total = head.size() + table.size() + source.trees.size();
    const auto pass = [&](bool writing) {
        if (::fseeko(source.file, static_cast<off_t>(source.framesAt), SEEK_SET) != 0)
            return *error = "cannot read " + source.path + ": " + std::strerror(errno), false;
        for (std::uint32_t i = 0; i < stored; ++i) {
            std::uint8_t type = 0;
            if (!rewrite.Frame(i, frame, type, error)) return false;
            if (writing) {
                if (!out.Write(frame.data(), frame.size())) return false;
                continue;
            }
            PutWord(&table[4 * std::size_t{i}], static_cast<std::uint32_t>(frame.size()));
            table[4 * std::size_t{stored} + i] = type;
            total += frame.size();
        }
        return true;
    };
    if (!pass(false)) return false;
    if (total > 0xFFFFFFFFu) return *error = "the movie would be larger than 4 GB", false;
    return out.Write(head.data(), head.size()) && out.Write(table.data(), table.size()) &&
           out.Write(source.trees.data(), source.trees.size()) && pass(true);
}

// The header with the new frame count, ring flag and track fields.
ZambMovie NewHeader(const Source& source, std::uint32_t pictures, bool ring,
                    const std::array<NewTrack, enc::kTrackCount>& tracks,
                    const std::array<bool, enc::kTrackCount>& replaced) {
    ZambMovie header = source.header;
    header.FrameCount = pictures;
    header.FileFlags =
        ring ? header.FileFlags | ZAMB_FILE_RING : header.FileFlags & ~ZAMB_FILE_RING;
    for (int t = 0; t < enc::kTrackCount; ++t) {
        if (!replaced[t]) continue;
        const NewTrack& track = tracks[t];
        const bool present = !track.chunks.empty();
        header.TrackMaxBytes[t] = present ? track.maxBytes : 0;
        header.TrackFormat[t] = present ? enc::TrackFormatWord(track.sound) : 0;
    }
    return header;
}

int Parse(const std::vector<std::string>& args, TracksOptions& o, std::string& in,
          std::string& out) {
    std::vector<std::string> positional;
    if (const int status =
            ParseOptions<TracksOptions>("tracks", kHelp, args, kOptions, o, positional, 2))
        return status;
    if (positional.size() != 2) return Fail("tracks: give the movie and the output (see --help)");
    in = positional[0];
    out = positional[1];
    bool changes = false;
    for (int t = 0; t < enc::kTrackCount; ++t) {
        if (o.drop[t] && !o.set[t].empty())
            return Fail("tracks: track " + std::to_string(t) + " is both set and dropped");
        changes = changes || o.drop[t] || !o.set[t].empty();
    }
    if (!changes && !o.salvage) return Fail("tracks: give --set or --drop (see --help)");
    return 0;
}

// How many stored frames are copied: all, or with --salvage the whole ones before the damage.
bool FramesToKeep(const std::string& path, const FrameCheck& check, bool salvage,
                  std::uint32_t* keep, std::string* error) {
    *keep = check.stored;
    if (check.whole == check.stored) return true;
    const FrameFault& fault = check.faults.front();
    const std::string where =
        path + ": damaged from frame " + std::to_string(fault.frame) + " on (" + fault.reason + ")";
    if (!salvage)
        return *error =
                   where + "; --salvage keeps its " + std::to_string(check.whole) + " whole frames",
               false;
    if (check.whole == 0) return *error = where + ": no frame is whole", false;
    *keep = check.whole;
    return true;
}

int Run(const std::vector<std::string>& args) {
    TracksOptions o;
    std::string in, outPath, error;
    if (const int status = Parse(args, o, in, outPath)) return status == kHelpShown ? 0 : status;
    NoteInput(in);
    for (const std::string& file : o.set) NoteInput(file);
    if (!CheckOutputs({outPath}, &error)) return Fail("tracks: " + error);
    MovieFile movie;
    if (!movie.Open(in, 0, &error)) return Fail("tracks: " + error);
    const FrameCheck check = movie.Check();
    movie.Close();
    std::uint32_t stored = 0;
    if (!FramesToKeep(in, check, o.salvage, &stored, &error)) return Fail("tracks: " + error);
    Source source;
    if (!ReadSource(in, check.stored, source, &error)) return Fail("tracks: " + error);
    // A ring frame lost to damage leaves a movie that goes back to its first frame instead.
    const bool ring = (source.header.FileFlags & ZAMB_FILE_RING) && stored == check.stored;
    const std::uint32_t pictures = std::min(stored, source.header.FrameCount);
    std::array<NewTrack, enc::kTrackCount> tracks;
    std::array<bool, enc::kTrackCount> replaced{};
    for (int t = 0; t < enc::kTrackCount; ++t) {
        if (o.drop[t] && !(source.header.TrackFormat[t] & ZAMB_TRACK_PRESENT))
            return Fail("tracks: " + in + " has no track " + std::to_string(t) + " to drop");
        replaced[t] = o.drop[t] || !o.set[t].empty();
        if (!o.set[t].empty() && !BuildTrack(o, t, source, pictures, ring, tracks[t], &error))
            return Fail("tracks: " + error);
    }
    const ZambMovie header = NewHeader(source, pictures, ring, tracks, replaced);
    Rewrite rewrite(source, tracks, replaced);
    OutputFile out;
    if (!out.Open(outPath, &error)) return Fail("tracks: " + error);
    if (!WriteMovie(source, rewrite, stored, header, out, &error))
        return Fail("tracks: " + (out.Failed() ? out.Failure() : error));
    if (!out.Commit(&error)) return Fail("tracks: " + error);
    if (stored == check.stored) return 0;
    std::fprintf(stderr, "zmbtool: tracks: %s: kept its %u whole frames of %u\n", in.c_str(),
                 stored, check.stored);
    return kSalvaged;
}

Registration registration{
    {"tracks", "replace, add or drop a movie's sound tracks, keeping every picture", Run, true}};

}  // namespace
}  // namespace zmbtool
