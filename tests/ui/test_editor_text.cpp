#include "ui/EditorText.h"

#include <gtest/gtest.h>
#include <tuple>

namespace vortigo {
namespace {

TEST(FindNext, StartsAfterTheSelectionAndFindsOverlappingStarts) {
    const std::string text = "one two one two";
    // The selection starts inside the first "two": the second is found.
    EXPECT_EQ(findNextMatch(text, 5, "two"), 12u);
    // From the second occurrence nothing further is found, and there is no wrap.
    EXPECT_EQ(findNextMatch(text, 12, "two"), std::string::npos);
    // A complete search: "ab" in "aab" starts after a broken partial match.
    EXPECT_EQ(findNextMatch("xaab", 0, "ab"), 2u);
    EXPECT_EQ(findNextMatch("Two", 0, "two"), std::string::npos); // case matters
    EXPECT_EQ(findNextMatch("abc", 3, "c"), std::string::npos);
    EXPECT_EQ(findNextMatch("abc", 0, ""), std::string::npos);
}

TEST(LineNumber, ReadsLikeAtoi) {
    EXPECT_EQ(readLineNumber("12"), 12);
    EXPECT_EQ(readLineNumber("  7th"), 7);
    EXPECT_EQ(readLineNumber("abc"), 0);
}

TEST(EditorLineBreaks, EachLineKeepsItsEndingAndNewLinesTakeTheCommonestOne) {
    const auto lines = splitLines("a\r\nb\rc\nd\r\n");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(std::tuple(lines[0].text, lines[0].end), std::tuple("a", LINE_END_CRLF));
    EXPECT_EQ(std::tuple(lines[1].text, lines[1].end), std::tuple("b", LINE_END_CR));
    EXPECT_EQ(std::tuple(lines[2].text, lines[2].end), std::tuple("c", LINE_END_LF));
    EXPECT_EQ(std::tuple(lines[4].text, lines[4].end), std::tuple("", -1));
    EXPECT_EQ(dominantLineEnd(lines), LINE_END_CRLF);
    EXPECT_EQ(dominantLineEnd(splitLines("x\ry\r\nz\n")), LINE_END_LF); // a tie
    EXPECT_EQ(splitLines("\r").size(), 2u);
}

TEST(EditorEncoding, UTF8WhenValidElseEveryByteAsLatin1) {
    EXPECT_EQ(encodingOf("caf\xC3\xA9"), TextEncoding::Utf8);
    EXPECT_EQ(encodingOf("caf\xE9"), TextEncoding::Latin1);
    EXPECT_EQ(encodingOf("\xC0\x80"), TextEncoding::Latin1);         // overlong NUL
    EXPECT_EQ(encodingOf("\xED\xA0\x80"), TextEncoding::Latin1);     // a surrogate
    EXPECT_EQ(encodingOf("\xF4\x90\x80\x80"), TextEncoding::Latin1); // past U+10FFFF
    EXPECT_EQ(encodingOf("\xE2\x80\xA9"), TextEncoding::Latin1);     // the editor breaks U+2029
    EXPECT_EQ(encodingOf("\xC3"), TextEncoding::Latin1);             // cut short

    std::string every;
    for (int b = 1; b < 256; ++b)
        every += static_cast<char>(b);
    const QString shown = decodeText(every, TextEncoding::Latin1);
    EXPECT_EQ(shown.size(), 255);
    EXPECT_EQ(encodeText(shown, TextEncoding::Latin1), every);
    EXPECT_EQ(encodedSize(shown, TextEncoding::Latin1), 255u);

    const std::string utf8 = "\xEF\xBB\xBF"
                             "a\xF0\x9F\x98\x80\xE2\x82\xAC"; // BOM, emoji, euro
    const QString decoded = decodeText(utf8, TextEncoding::Utf8);
    EXPECT_EQ(decoded.size(), 5); // the BOM stays a character
    EXPECT_EQ(encodeText(decoded, TextEncoding::Utf8), utf8);
    // What Latin-1 cannot hold goes in as UTF-8.
    EXPECT_EQ(encodeText(QString::fromUtf8("\xC3\xA9\xE2\x82\xAC"), TextEncoding::Latin1),
              "\xE9\xE2\x82\xAC");
}

TEST(EditorEncoding, APrefixFitsByBytesWithoutSplittingACharacter) {
    const QString text = QString::fromUtf8("ab\n\xF0\x9F\x98\x80z");
    EXPECT_EQ(prefixThatFits(text, TextEncoding::Utf8, 2, 3), 2); // the CR LF needs 2
    EXPECT_EQ(prefixThatFits(text, TextEncoding::Utf8, 2, 7), 3); // the emoji needs 4
    EXPECT_EQ(prefixThatFits(text, TextEncoding::Utf8, 2, 8), 5); // two UTF-16 units
    EXPECT_EQ(prefixThatFits(text, TextEncoding::Utf8, 1, 100), text.size());
}

TEST(ReplaceFirst, ReplacesOnlyTheFirstAndOnlyWithinTheCapacity) {
    std::string text = "x udef[4] y udef[4]";
    EXPECT_TRUE(replaceFirst(text, "udef[4]", "0.2500", 100));
    EXPECT_EQ(text, "x 0.2500 y udef[4]");
    std::string tight = "udef[4]";
    EXPECT_FALSE(replaceFirst(tight, "udef[4]", "123.5000", 7));
    EXPECT_TRUE(replaceFirst(tight, "udef[4]", "12.5000", 7));
    EXPECT_EQ(tight, "12.5000");
    std::string other = "abc";
    EXPECT_FALSE(replaceFirst(other, "z", "1", 100));
    EXPECT_FALSE(replaceFirst(other, "", "1", 100));
    EXPECT_FALSE(replaceFirst(other, "a", "", 100));
    EXPECT_EQ(other, "abc");
}

} // namespace
} // namespace vortigo
