// SPDX-License-Identifier: MIT
// Damage a frame's picture shows only while it is decoded, for the player.
#include "decoder/frame_damage.h"

#include "decoder/audio_decode.h"
#include "decoder/limits.h"
#include "decoder/movie.h"
#include "decoder/painters.h"
#include "decoder/trees.h"
#include "decoder/video.h"

namespace {

// Pre-order puts a tree's last node at the end of the path that takes every 1-branch, so
// its nodes are counted without a walk over all of them.
std::uint32_t StoredNodes(const TreeBlock* trees, int tree) {
    const std::uint32_t start = TreeNodesStart(trees, tree);
    std::uint32_t offset = start;
    std::uint32_t node = LoadNode(trees, offset);
    while (NodeLowBits(node) == trees->EscapeMarker) {
        offset += OneBranchDistance(node);
        node = LoadNode(trees, offset);
    }
    return (offset - start) / kNodeBytes + 1;
}

// The tracks a player could play: present, at a rate a device takes.
bool PlayableTrack(const Movie* movie, int n) {
    const std::uint32_t rate = movie->TrackFormat[n] & ZAMB_TRACK_RATE_MASK;
    return (movie->TrackFormat[n] & ZAMB_TRACK_PRESENT) && rate != 0 && rate <= kMaxTrackRate;
}

// The chunk is decoded again, apart from the track's ring: only the count of what its data
// delivers is wanted, and the ring may not exist or may be full.
std::uint32_t Delivered(const Movie* movie, int n, const ChunkSound& sound, SoundCheck& check) {
    if (check.scratch.size() < kAudioScratchBytes) check.scratch.resize(kAudioScratchBytes);
    if (check.pcm.size() < sound.Bytes) check.pcm.resize(sound.Bytes);
    std::uint8_t* pcm = check.pcm.data();
    const std::uint8_t silence = (movie->TrackFormat[n] & ZAMB_TRACK_16BIT) ? 0 : 0x80;
    return ChunkToPcm(sound, sound.Bytes, check.scratch.data(), {pcm, pcm + sound.Bytes, pcm},
                      silence);
}

}  // namespace

SoundDamage FindSoundDamage(const Movie* movie, std::uint32_t tracks, SoundCheck& check) {
    SoundDamage damage;
    if (movie == nullptr || movie->ReadFailed) return damage;
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (!(tracks & (1u << n)) || !PlayableTrack(movie, n)) continue;
        const ChunkSound sound = MeasureChunk(movie, n);
        if (sound.Bytes == 0) continue;
        const std::uint32_t limit = TrackChunkLimit(movie, n);
        const std::uint32_t delivered = sound.Bytes > limit ? 0 : Delivered(movie, n, sound, check);
        if (sound.Bytes <= limit && delivered == sound.Bytes) continue;
        return SoundDamage{n, sound.Bytes, delivered, limit};
    }
    return damage;
}

TreeFaults FindTreeFaults(const Movie* movie) {
    TreeFaults faults;
    if (movie == nullptr || movie->Trees == nullptr) return faults;
    const TreeBlock* trees = movie->Trees;
    faults.absent = AbsentTrees(trees);
    for (int t = 0; t < kTreeCount; ++t) {
        faults.size[t] = trees->Sizes[t];
        if (faults.absent & (1u << t)) continue;
        // The three spare nodes hold recent values; a size without room for them was not
        // written for these trees.
        faults.needed[t] = kNodeBytes * (StoredNodes(trees, t) + 3);
        if (faults.size[t] < faults.needed[t]) faults.tooSmall |= 1u << t;
    }
    return faults;
}
