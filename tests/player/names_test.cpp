// SPDX-License-Identifier: MIT
// Movie names: splitting the list, the extension rule, and the start of a run.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "player/command_text.h"
#include "player/messages.h"
#include "player/selfplay.h"
#include "player/settings.h"

namespace {

std::vector<std::string> SplitAll(const char* text) {
    char list[kNameListCapacity] = {};
    std::strncpy(list, text, sizeof list - 1);
    std::vector<std::string> names;
    char name[kMovieNameCapacity];
    for (int guard = 0; guard < 20; ++guard) {
        SplitFirstName(name, sizeof name, list);
        if (name[0] == '\0') break;
        names.push_back(name);
    }
    return names;
}

using Names = std::vector<std::string>;

TEST(Names, SplitByBlanksAndOneComma) {
    EXPECT_EQ(SplitAll("a.zmb b"), (Names{"a.zmb", "b"}));
    EXPECT_EQ(SplitAll("a.zmb , b.zmb"), (Names{"a.zmb", "b.zmb"}));
    EXPECT_EQ(SplitAll("  a,b  c\t\td "), (Names{"a,b", "c", "d"}));
    EXPECT_EQ(SplitAll("a ,, b"), (Names{"a", ",", "b"}));
    EXPECT_EQ(SplitAll("   "), Names{});
}

TEST(Names, QuotesHoldBlanks) {
    EXPECT_EQ(SplitAll("\"my movie.zmb\" next"), (Names{"my movie.zmb", "next"}));
    EXPECT_EQ(SplitAll("\" padded \"x"), (Names{"padded", "x"}));
    // An unclosed quote takes everything, the quote included.
    EXPECT_EQ(SplitAll("\"open ended name"), (Names{"\"open ended name"}));
}

TEST(Names, ByteAbove127IsPartOfAName) {
    EXPECT_EQ(SplitAll("caf\xC3\xA9.zmb b"), (Names{"caf\xC3\xA9.zmb", "b"}));
}

TEST(Names, NameTooLongForItsBufferIsRefused) {
    char list[kNameListCapacity] = "abcdefgh rest";
    char name[5];
    EXPECT_FALSE(SplitFirstName(name, sizeof name, list));
    EXPECT_STREQ(name, "");
    EXPECT_STREQ(list, "rest");
}

TEST(Names, ExtensionRule) {
    EXPECT_TRUE(HasExtension("a.zmb"));
    EXPECT_FALSE(HasExtension("dir.old\\movie"));
    EXPECT_FALSE(HasExtension("c:movie"));
    EXPECT_FALSE(HasExtension(""));
    EXPECT_TRUE(HasExtension("c:\\dir\\.hidden"));
    char name[kMovieNameCapacity] = "dir.old\\movie";
    ASSERT_TRUE(AddMovieExtension(name, sizeof name));
    EXPECT_STREQ(name, "dir.old\\movie.Zmb");
    ASSERT_TRUE(AddMovieExtension(name, sizeof name));
    EXPECT_STREQ(name, "dir.old\\movie.Zmb");
    char tight[8] = "abcd";
    EXPECT_FALSE(AddMovieExtension(tight, sizeof tight));
    EXPECT_STREQ(tight, "abcd");
}

TEST(Names, OwnFileNames) {
    EXPECT_TRUE(NamesOwnFile(":94720"));
    EXPECT_FALSE(NamesOwnFile("c:movie"));
}

TEST(Message, FirstBlankDroppedAndPiecesJoined) {
    char text[kMessageCapacity];
    ComposeMessage("  Error opening file: ", "a.Zmb", ".", text);
    EXPECT_STREQ(text, " Error opening file: a.Zmb.");
    ComposeMessage("plain", nullptr, nullptr, text);
    EXPECT_STREQ(text, "plain");
    std::string huge(5000, 'x');
    ComposeMessage(huge.c_str(), "tail", nullptr, text);
    EXPECT_EQ(std::strlen(text), kMessageCapacity - 1);
}

TEST(Usage, CaptionAndText) {
    EXPECT_EQ(std::string(UsageCaption()).rfind("ZambPlay  V 3.1r - ", 0), 0u);
    std::string text = UsageText();
    EXPECT_EQ(text.rfind("  SYNTAX: ZambPly <Zamb1 Zamb2...> [/Switches]\r\n  Switches:\r\n", 0),
              0u);
    EXPECT_NE(text.find("\r\n    /I# \t- Window style: 1=thin border, 2=thin, no caption, 3=no "
                        "caption, 4=nothing.\r\n"),
              std::string::npos);
    const std::string last =
        "\r\n        \t    Add 128 for interlaced, 256 for smoothing, or 384 for no DirectDraw.";
    ASSERT_GT(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    std::size_t lines = 1;
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    EXPECT_EQ(lines, 30u);
}

}  // namespace
