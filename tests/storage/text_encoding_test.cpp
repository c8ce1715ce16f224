#include "storage/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace zuz {
namespace {

struct Pair {
    const char* name;
    std::string utf8;
    std::string gb;
};

// Characters whose GBK bytes the other tools must see unchanged, and one that GBK lacks.
const Pair kPairs[] = {
    {"ascii", "20V,12.3456,", "20V,12.3456,"},
    {"ohm", "2K\u03A9", "2K\xA6\xB8"},
    {"celsius", "\u2103", "\xA1\xE6"},
    {"furnace", "1\u53F7\u7089", "1\xBA\xC5\xC2\xAF"},
    {"euro_four_byte", "\u20AC", "\xA2\xE3"},
    {"emoji_four_byte", "\U0001F600", "\x94\x39\xFC\x36"},
    {"empty", "", ""},
};

TEST(TextEncoding, ConvertsBothWaysWithoutLoss) {
    for (const Pair& p : kPairs) {
        SCOPED_TRACE(p.name);
        bool lossless = false;
        EXPECT_EQ(Utf8ToGb18030(p.utf8, &lossless), p.gb);
        EXPECT_TRUE(lossless);
        lossless = false;
        EXPECT_EQ(Gb18030ToUtf8(p.gb, &lossless), p.utf8);
        EXPECT_TRUE(lossless);
    }
}

TEST(TextEncoding, ReplacesWhatCannotBeConvertedAndSaysSo) {
    bool lossless = true;
    EXPECT_EQ(Gb18030ToUtf8("a\xFF" "b", &lossless), "a\xEF\xBF\xBD" "b");
    EXPECT_FALSE(lossless);
    lossless = true;
    // A lead byte with nothing after it at the very end of the text.
    EXPECT_EQ(Gb18030ToUtf8("a\xBA", &lossless), "a\xEF\xBF\xBD");
    EXPECT_FALSE(lossless);
    lossless = true;
    EXPECT_EQ(Utf8ToGb18030("x\xC3", &lossless), "x\x84\x31\xA4\x37");
    EXPECT_FALSE(lossless);
}

// A character split by the end of a piece must be completed by the next piece, wherever
// the split falls.
TEST(TextEncoding, StreamConverterKeepsCutCharactersForTheNextPiece) {
    const std::string gb = "DeviceInfo,,[1\xBA\xC5\xC2\xAF],[2K\xA6\xB8],\x94\x39\xFC\x36\r\n";
    const std::string utf8 = "DeviceInfo,,[1\u53F7\u7089],[2K\u03A9],\U0001F600\r\n";
    for (std::size_t cut = 0; cut <= gb.size(); ++cut) {
        SCOPED_TRACE(cut);
        TextConverter converter(TextConverter::Direction::Gb18030ToUtf8);
        std::string out;
        converter.Feed(std::string_view(gb).substr(0, cut), out);
        converter.Feed(std::string_view(gb).substr(cut), out);
        converter.Finish(out);
        EXPECT_EQ(out, utf8);
        EXPECT_TRUE(converter.Lossless());
    }
    for (std::size_t cut = 0; cut <= utf8.size(); ++cut) {
        SCOPED_TRACE(cut);
        TextConverter converter(TextConverter::Direction::Utf8ToGb18030);
        std::string out;
        converter.Feed(std::string_view(utf8).substr(0, cut), out);
        converter.Feed(std::string_view(utf8).substr(cut), out);
        converter.Finish(out);
        EXPECT_EQ(out, gb);
    }
}

TEST(TextEncoding, RecognisesWellFormedUtf8) {
    struct Case {
        const char* name;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"ascii", "abc", true},
        {"chinese", "\u914D\u7F6E", true},
        {"four_byte", "\U0010FFFF", true},
        {"gbk_bytes", "\xC5\xE4\xD6\xC3", false},
        {"cut_at_end", "\xE9\x85", false},
        {"overlong_slash", "\xC0\xAF", false},
        {"overlong_three", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above_unicode", "\xF4\x90\x80\x80", false},
        {"lone_continuation", "\x80", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.name;
}

}  // namespace
}  // namespace zuz
