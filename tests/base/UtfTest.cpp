#include "base/Utf.h"

#include <gtest/gtest.h>

namespace pelo {
namespace {

TEST(Utf, SurrogatePairsRoundTripAndBrokenTextBecomesReplacement) {
    const std::string text =
        "a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80"; // a, e-acute, hiragana a, emoji
    const std::vector<std::uint16_t> units = Utf8ToUtf16(text);
    EXPECT_EQ(units, (std::vector<std::uint16_t>{0x61, 0xE9, 0x3042, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf16ToUtf8(units), text);
    const std::vector<std::uint16_t> lone = {0xD800, 0x41};
    EXPECT_EQ(Utf16ToUtf8(lone), "\xEF\xBF\xBD"
                                 "A");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), (std::vector<std::uint16_t>{0xFFFD}));
}

TEST(Utf, CutNeverEndsInsideACharacter) {
    const std::string text = "ab\xE3\x81\x82";
    EXPECT_EQ(CutUtf8(text, 4), "ab");
    EXPECT_EQ(CutUtf8(text, 5), text);
    EXPECT_EQ(CutUtf8("a\xFF"
                      "b",
                      2),
              "a\xFF"); // a stray byte counts alone
}

} // namespace
} // namespace pelo
