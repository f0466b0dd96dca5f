// SPDX-License-Identifier: MIT
// The movie writer: turns 8-bit pictures with their palettes and sound tracks into a movie.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "encoder/spool.h"
#include "zambrel/movie.h"

namespace zambrel::encoder {

// The format's sizes are the public header's, so that the writer and every reader agree.
inline constexpr int kTrackCount = ZAMB_TRACK_COUNT;
inline constexpr int kPaletteBytes = ZAMB_PALETTE_BYTES;

// The 8-bit value a 6-bit palette level (0..63) is shown as.
constexpr std::uint8_t WidenLevel(std::uint8_t level) {
    return static_cast<std::uint8_t>(level * 4 + level / 16);
}

// One picture: Width x Height palette indices, top row first, and the palette it is shown
// with (256 entries of red, green, blue, 8 bits each, as the player shows them).
struct Picture {
    std::vector<std::uint8_t> pixels;
    std::array<std::uint8_t, kPaletteBytes> palette{};
};

// The movie stores 6-bit levels. Exact refuses any palette value that is not WidenLevel(v)
// for some level v, so a round trip gives back exactly the given palette; Round stores the
// nearest level instead (then the palette read back is the rounded one).
enum class PaletteValues { Exact, Round };

// One sound track. Samples are given as the track stores them: 8-bit unsigned or 16-bit
// signed little-endian, stereo interleaved left then right. Their length must be a whole
// number of sample frames (1, 2 or 4 bytes).
struct SoundTrack {
    bool present = false;
    std::uint32_t sampleRate = 22050;  // 1 .. 0xFFFFFF
    bool is16Bit = false;
    bool stereo = false;
    bool compressed = true;  // delta-coded against per-chunk byte trees; false = raw
    std::vector<std::uint8_t> samples;
    // How many sample bytes each stored frame carries, in playing order (FrameCount entries,
    // plus one for the ring frame). 0 = that frame has no chunk for this track. Each entry a
    // whole number of sample frames; the entries must add up to samples.size().
    // Empty: the samples are shared out by the frame period (with no timing, evenly), and
    // whatever is left after the last frame's share goes into the last stored frame.
    std::vector<std::uint32_t> chunkBytes;
    // A frame whose share is 0 carries no chunk at all, unless this is set: then it carries
    // an empty one (compressed: its first bit says that no samples follow).
    bool emptyChunks = false;
};

// Shapes of the video trees. Huffman: codes from the value statistics. Lopsided: every tree
// (the byte trees inside included) a chain whose n-th leaf has an n-bit code, for testing
// readers on deep trees. A tree with one value is a single leaf either way.
enum class TreeShape { Huffman, Lopsided };

// Recent: a value equal to one of its tree's three recent values is coded through that
// escape, and escape leaves are written for the escapes that are used. Never: every value is
// coded as itself, and the three escape values are values that occur nowhere in the tree.
enum class EscapeUse { Recent, Never };

// Unusual but valid streams, for exercising a reader's corners. The defaults write the
// compact movie.
struct StreamOptions {
    TreeShape treeShape = TreeShape::Huffman;
    EscapeUse escapes = EscapeUse::Recent;
    bool fullBlocksOnly = false;     // every painted block as a full block, even solid ones
    bool noSkip = false;             // repaint unchanged blocks instead of skipping them
    bool overlongLastRun = false;    // each frame's last type word claims more blocks than remain
    bool paletteEveryFrame = false;  // a palette chunk in every frame, keep-only if unchanged
};

// How far each track's sound runs ahead of the pictures it goes with. A player moves on to a
// picture once the sound has reached it, so sound delivered exactly frame by frame leaves the
// device with almost nothing in hand at every frame boundary, and it stutters. With a lead
// the first frame carries that much sound beyond its own share and every later frame its
// share that much earlier; what is played when does not change. It applies to timed movies
// and to tracks shared out by the frame period (not to explicit chunkBytes).
inline constexpr std::int32_t kNoSoundLead = 0;
inline constexpr std::int32_t kAutomaticSoundLead = -1;  // AutomaticSoundLeadBytes

struct MovieRecipe {
    std::uint32_t width = 0;         // multiple of 4
    std::uint32_t height = 0;        // decoded rows, multiple of 4 (before interlacing or doubling)
    std::vector<Picture> pictures;   // frames 0 .. FrameCount - 1
    std::int32_t frameRate = -6666;  // the period code: >0 ms, <0 minus 1/100 ms, 0 untimed
    bool ring = false;  // store a ring frame that turns the last picture back into the first
    bool interlaced = false;
    bool doubled = false;
    PaletteValues paletteValues = PaletteValues::Exact;
    std::array<SoundTrack, kTrackCount> tracks{};
    // kNoSoundLead, kAutomaticSoundLead, or a lead in milliseconds. No lead by default, so
    // that a recipe's frames carry exactly their shares unless asked otherwise.
    std::int32_t soundLead = kNoSoundLead;
    // 0: lossless. Otherwise how far a block may be shown from its picture: the sum over its
    // 16 pixels of the squared differences of red, green and blue as shown (8-bit values).
    // Within it a block is skipped (kept as on screen), made one colour or two, in that order
    // of preference.
    std::uint32_t blockErrorBudget = 0;
    // Per picture in playing order, a budget in place of blockErrorBudget (pictures past its
    // end keep blockErrorBudget): a movie held under a data-rate cap is coarser where busy.
    std::vector<std::uint32_t> pictureErrorBudgets;
    // Palette entries kept for the program the movie plays in: no picture may use them, and
    // the movie never sets them (their palette values are taken as black, the player's
    // start), so the program's colours there stay as it set them.
    std::array<bool, 256> reservedEntries{};
    StreamOptions stream{};
    // Threads the writer works on (its caller's among them): pictures are simplified and
    // frames coded on all of them at once. The movie is the same for any number.
    unsigned threads = 1;
    // Called after each stored frame is coded with the frames done and the stored frames,
    // for a progress display; may be empty.
    std::function<void(std::size_t done, std::size_t total)> progress;
};

// The lead that keeps both sound drivers fed for `track` at the period code `frameRate`, in
// bytes (a whole number of sample frames; 0 for an untimed movie). The player lets the
// pictures fall half a second behind the sound before it skips pictures, so the sound in
// hand must outlast that half second; on top of it comes one play buffer of wave output
// (a quarter second in 4,096-byte pages), which also covers DirectSound's refill: it writes
// silence once less than a fifth of its half-second buffer is left, and its timer comes
// every 75 ms. The lead never takes the first frame's chunk past what the player's ring of
// one second and two frames holds with a frame to spare.
std::uint32_t AutomaticSoundLeadBytes(const SoundTrack& track, std::int32_t frameRate);

// The lead `recipe.soundLead` gives `track`, in bytes (whole sample frames), capped as above.
std::uint32_t SoundLeadBytes(const MovieRecipe& recipe, const SoundTrack& track);

// The sample bytes each stored frame of a movie of `pictures` pictures carries of track
// `index`, in playing order (the ring frame last): the track's own chunkBytes, or its samples
// shared out by the frame period with the recipe's sound lead. False, with `error` saying
// why, for a track that cannot be shared out so.
bool TrackChunkSizes(const MovieRecipe& recipe, std::uint32_t pictures, int index,
                     std::vector<std::uint32_t>& sizes, std::string& error);

// Where things ended up, so that tests can check a reader against the writer's own view.
struct MovieLayout {
    std::uint32_t storedFrames = 0;
    std::uint32_t treeDataSize = 0;
    std::array<std::uint32_t, 4> treeNodes{};  // pattern, colour, full, type; 0 = absent tree
    std::array<std::uint32_t, 4> treeSizes{};  // 4 x nodes + 12, as in the header
    std::array<std::uint32_t, kTrackCount> trackMaxBytes{};
    std::uint32_t firstFrameOffset = 0;  // movie offset of stored frame 0
    std::vector<std::uint32_t> frameSizes;
    std::vector<std::uint8_t> frameTypes;
};

// The header's word for a track: zero where it is absent.
std::uint32_t TrackFormatWord(const SoundTrack& track);

// Appends the header that the first fields of `header` hold: the movie record's start is
// the header's layout, which the library reads it straight into.
void PutMovieHeader(const ZambMovie& header, std::vector<std::uint8_t>& out);

struct WriteResult {
    bool ok = false;
    std::string error;  // one line saying what was wrong with the recipe, when !ok
    std::vector<std::uint8_t> bytes;
    MovieLayout layout;
};

// Writes a movie in two passes, so that only a few pictures are in memory at a time however
// many the movie has: the pictures go to Add one by one and wait in `pictures` as they will
// be shown; Finish builds the trees from them and codes the frames into `frames`; WriteTo
// then gives out the movie in order. The recipe gives everything but the pictures (its own
// are not read) and must outlive the writer: Add reads its size, paletteValues,
// blockErrorBudget and stream options, Finish the rest, so its tracks may still change
// between the two. The first failure sticks; Error says what it was.
class MovieWriter {
  public:
    MovieWriter(const MovieRecipe& recipe, Spool& pictures, Spool& frames);
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // The next picture in playing order.
    bool Add(const Picture& picture);
    std::uint32_t PictureCount() const;
    bool Finish();
    // After Finish: the movie's bytes through `write`, in pieces; stops at the first false.
    bool WriteTo(const std::function<bool(const std::uint8_t* data, std::size_t size)>& write);
    const std::string& Error() const;
    const MovieLayout& Layout() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// Writes the whole movie into memory. Fails (ok false, no bytes) on a recipe that cannot be
// written losslessly: bad geometry, a picture of the wrong size, palette values that are no
// level (with PaletteValues::Exact), bad track formats or chunk sizes, a ring with fewer than
// two pictures, a frame area over 4 GB, or, for a lossless movie, a tree that needs all
// 65,536 values (no escape value would be left; a lossy movie gives up one pixel pair of its
// full blocks instead, showing a near colour for its second pixel).
WriteResult WriteMovie(const MovieRecipe& recipe);

// WriteMovie, then the bytes to `path`. On failure returns false and, when `error` is not
// null, puts the reason there.
bool WriteMovieFile(const MovieRecipe& recipe, const std::string& path, std::string* error);

}  // namespace zambrel::encoder
