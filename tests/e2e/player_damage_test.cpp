// SPDX-License-Identifier: MIT
// Movies damaged inside their frames: a picture whose stream runs out or that reads a tree
// the movie does not store is named with its frame and fails the run, the movies after it
// still play; and nothing the writer makes, however unusual, is called damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/movie_names.h"
#include "encoder/writer.h"
#include "player_run.h"
#include "test_movies.h"

namespace zambrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

constexpr std::int32_t kFastPeriod = -1000;

void SetWord(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) bytes[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
}

encoder::WriteResult Written(const encoder::MovieRecipe& recipe) {
    encoder::WriteResult movie = encoder::WriteMovie(recipe);
    EXPECT_TRUE(movie.ok) << movie.error;
    return movie;
}

std::size_t FrameStart(const encoder::WriteResult& movie, std::uint32_t f) {
    std::size_t at = movie.layout.firstFrameOffset;
    for (std::uint32_t i = 0; i < f; ++i) at += movie.layout.frameSizes[i];
    return at;
}

// The movie (without sound) with frame F's picture chunk cut to KEEP bytes, and its size
// in the table to match, so that only decoding the picture can tell.
Bytes CutPicture(const encoder::WriteResult& movie, std::uint32_t f, std::size_t keep) {
    const std::size_t start = FrameStart(movie, f);
    const bool palette = movie.layout.frameTypes[f] & FRAME_PALETTE;
    const std::size_t picture = start + (palette ? movie.bytes[start] * 4u : 0u);
    const std::size_t end = start + movie.layout.frameSizes[f];
    EXPECT_GT(end - picture, keep + 8) << "the picture has something to cut";
    Bytes out(movie.bytes.begin(), movie.bytes.begin() + static_cast<long>(picture + keep));
    out.insert(out.end(), movie.bytes.begin() + static_cast<long>(end), movie.bytes.end());
    SetWord(out, 104 + 4 * f,
            movie.layout.frameSizes[f] - static_cast<std::uint32_t>(end - picture - keep));
    return out;
}

// Tree data of zeros stores no tree at all, yet the movie opens: every value read is made up.
Bytes NoTrees(const encoder::WriteResult& movie) {
    Bytes out = movie.bytes;
    std::fill(out.begin() + 104 + 5 * movie.layout.storedFrames,
              out.begin() + movie.layout.firstFrameOffset, 0);
    return out;
}

TEST(PlayerDamage, UndecodableFrameIsNamedAndTheRunFails) {
    encoder::MovieRecipe recipe = test_movies::MixedRecipe(32, 16, 6, 11);
    recipe.frameRate = kFastPeriod;
    const encoder::WriteResult movie = Written(recipe);
    PlayerFolder folder;
    folder.Write("a.zmb", SmallMovie(3, kFastPeriod));
    struct Case {
        std::string name;
        Bytes bytes;
        std::string shown;
    };
    const std::string ranOut =
        "could not be decoded (the picture's stream ends before its last block); stopped there";
    const Case cases[] = {
        {"cut in half", CutPicture(movie, 3, 40), "d.zmb: frame 4 of 6 " + ranOut},
        {"cut to a byte", CutPicture(movie, 3, 1), "d.zmb: frame 4 of 6 " + ranOut},
        {"first frame cut", CutPicture(movie, 0, 2), "d.zmb: frame 1 of 6 " + ranOut},
        {"no trees", NoTrees(movie),
         "d.zmb: frame 1 of 6 could not be decoded (the picture reads the "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.Write("d.zmb", c.bytes);
        for (const char* switches : {"/F", "/F /P"}) {
            PlayerRun run = folder.Run(std::string(switches) + " d.zmb a.zmb");
            EXPECT_EQ(run.Status, 1) << switches << "\n" << run.Output;
            EXPECT_TRUE(run.Shows("zambply: " + c.shown)) << switches << "\n" << run.Output;
            EXPECT_EQ(run.Opened(), (Names{"d.zmb", "a.zmb"})) << switches << "\n" << run.Output;
        }
        // A lone movie loops without being reopened: it must not run on into its next pass,
        // nor loop for ever past a frame it cannot decode.
        PlayerRun looped = folder.Run("/F /L d.zmb");
        EXPECT_EQ(looped.Status, 1) << looped.Output;
        const auto first = looped.Output.find(c.shown);
        ASSERT_NE(first, std::string::npos) << looped.Output;
        EXPECT_EQ(looped.Output.find(c.shown, first + 1), std::string::npos) << looped.Output;
    }
    // The tree the picture read is named, and the movie's lack of it.
    folder.Write("d.zmb", NoTrees(movie));
    PlayerRun run = folder.Run("/F d.zmb");
    EXPECT_TRUE(run.Shows(" tree, which the movie does not store); stopped there")) << run.Output;
}

// A tree whose header size is a node short of what the writer gave it: the open may refuse
// the movie, and when it does not, the first picture that reads the tree names it.
TEST(PlayerDamage, TreeStoredShortIsNamedWhenRead) {
    encoder::MovieRecipe recipe = test_movies::MixedRecipe(32, 16, 6, 11);
    recipe.frameRate = kFastPeriod;
    const encoder::WriteResult movie = Written(recipe);
    const char* names[] = {"pattern", "colour", "full", "type"};
    PlayerFolder folder;
    int named = 0;
    for (int t = 0; t < 4; ++t) {
        ASSERT_GT(movie.layout.treeNodes[t], 1u) << "every tree is used";
        Bytes bytes = movie.bytes;
        const std::uint32_t size = movie.layout.treeSizes[t] - 4;
        SetWord(bytes, offsetof(Movie, PatternTreeSize) + 4 * t, size);
        folder.Write("d.zmb", bytes);
        PlayerRun run = folder.Run("/F d.zmb");
        EXPECT_EQ(run.Status, 1) << names[t] << "\n" << run.Output;
        if (run.Shows("Error opening file: d.zmb.")) continue;
        EXPECT_TRUE(run.Shows(std::string("(the picture reads the ") + names[t] +
                              " tree, whose size of " + std::to_string(size) +
                              " bytes is short of the " + std::to_string(size + 4) +
                              " its nodes need); stopped there"))
            << run.Output;
        ++named;
    }
    EXPECT_GT(named, 0) << "some short tree still opens";
}

TEST(PlayerDamage, WhatTheWriterMakesPlaysWhole) {
    std::mt19937 random(2026);
    PlayerFolder folder;
    std::string names;
    for (int n = 0; n < 25; ++n) {
        encoder::MovieRecipe recipe =
            test_movies::VariedRecipe(random, static_cast<test_movies::Content>(n % 5));
        recipe.frameRate = kFastPeriod;
        const encoder::WriteResult movie = encoder::WriteMovie(recipe);
        if (!movie.ok) continue;
        const std::string name = "m" + std::to_string(n) + ".zmb";
        folder.Write(name, movie.bytes);
        names += " " + name;
    }
    PlayerRun run = folder.Run("/F" + names);
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_FALSE(run.Shows("could not be")) << run.Output;
}

}  // namespace
}  // namespace zambrel::testing
