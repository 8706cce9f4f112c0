#include "ui/EditorText.h"

#include <gtest/gtest.h>

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

TEST(EditorLineBreaks, CrLfTextsKeepTheirBytesThroughTheEditor) {
    const char* crlf = "a\r\n\tb\r\n";
    ASSERT_TRUE(usesCrLf(crlf));
    const std::string shown = textForEditor(crlf);
    EXPECT_EQ(shown, "a\n\tb\n");
    EXPECT_EQ(textFromEditor(shown, usesCrLf(crlf)), crlf);
    EXPECT_EQ(textFromEditor("x\ny", false), "x\ny");
    EXPECT_EQ(textForEditor("lone\rcr"), "lone\rcr");
}

} // namespace
} // namespace vortigo
