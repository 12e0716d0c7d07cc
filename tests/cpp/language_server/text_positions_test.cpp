#include "language_server/text_positions.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace tarvok::language_server;

namespace {

Position at(uint32_t line, uint32_t character) { return {line, character}; }

}  // namespace

TEST(LineMap, CountsUnitsOfTheAgreedEncoding) {
    // "é" is 2 bytes and 1 unit; "😀" is 4 bytes, 2 UTF-16 units and 1 code point.
    std::string text = "a\xC3\xA9\xF0\x9F\x98\x80z\nx";
    LineMap utf8(text, Encoding::Utf8), utf16(text, Encoding::Utf16), utf32(text, Encoding::Utf32);
    std::size_t z = text.find('z');
    EXPECT_EQ(utf8.position(z), at(0, 7));
    EXPECT_EQ(utf16.position(z), at(0, 4));
    EXPECT_EQ(utf32.position(z), at(0, 3));
    EXPECT_EQ(utf16.offset(at(0, 4)), z);
    EXPECT_EQ(utf32.offset(at(0, 3)), z);
    EXPECT_EQ(utf16.position(text.size()), at(1, 1));
}

TEST(LineMap, LineBreaksAreLfCrlfAndCr) {
    std::string text = "ab\r\ncd\ref\ng";
    LineMap map(text, Encoding::Utf16);
    EXPECT_EQ(map.position(text.find('c')), at(1, 0));
    EXPECT_EQ(map.position(text.find('e')), at(2, 0));
    EXPECT_EQ(map.position(text.find('g')), at(3, 0));
    // An offset inside "\r\n" is the end of its line.
    EXPECT_EQ(map.position(3), at(0, 2));
    EXPECT_EQ(map.offset(at(1, 1)), text.find('d'));
}

TEST(LineMap, AnyPositionLandsOnACharacterStartInTheText) {
    std::string text = "x\xF0\x9F\x98\x80y\nshort\n";
    LineMap map(text, Encoding::Utf16);
    EXPECT_EQ(map.offset(at(0, 2)), 1u) << "between the two halves of a surrogate pair: the character's start";
    EXPECT_EQ(map.offset(at(1, 99)), text.find("short") + 5) << "past the end of the line: its end";
    EXPECT_EQ(map.offset(at(7, 3)), text.size()) << "past the last line: the end of the text";
    EXPECT_EQ(map.position(2), at(0, 1)) << "an offset inside a character: its start";
    EXPECT_EQ(map.position(999), map.position(text.size()));
    LineMap empty("", Encoding::Utf16);
    EXPECT_EQ(empty.offset(at(3, 3)), 0u);
    EXPECT_EQ(empty.position(5), at(0, 0));
    // What an editor sends is held within the counts a position has.
    EXPECT_EQ(Position::clamped(-1, 1LL << 40), at(0, UINT32_MAX));
    EXPECT_EQ(map.offset(Position::clamped(1, -7)), text.find("short"));
}

TEST(LineMap, LoneSurrogatesAndBrokenBytesCountAsOneCharacter) {
    // A lone surrogate as the host carries it (surrogatepass), and a stray byte.
    std::string text =
        "\xED\xA0\x80"
        "a\xFF"
        "b";
    LineMap map(text, Encoding::Utf16);
    EXPECT_EQ(map.position(3), at(0, 1));
    EXPECT_EQ(map.position(text.find('b')), at(0, 3));
    EXPECT_EQ(map.offset(at(0, 3)), text.find('b'));
}

TEST(LineMap, RoundTripsEveryCharacterStartOfLongMixedLines) {
    // Lines far longer than the distance between checkpoints, with
    // characters of every width straddling them.
    std::mt19937 random(7);
    const char* pieces[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\n", "\r\n", " "};
    std::string text;
    std::vector<std::size_t> starts;
    for (int i = 0; i < 20000; ++i) {
        std::size_t piece = random() % 7;
        if (piece >= 4 && random() % 50 != 0) piece = 0;  // mostly long lines
        if (piece < 4 || piece == 6) starts.push_back(text.size());
        text += pieces[piece];
    }
    for (Encoding encoding : {Encoding::Utf8, Encoding::Utf16, Encoding::Utf32}) {
        LineMap map(text, encoding);
        Position previous{};
        for (std::size_t offset : starts) {
            Position p = map.position(offset);
            ASSERT_EQ(map.offset(p), offset) << "offset " << offset;
            ASSERT_TRUE(previous <= p);
            previous = p;
        }
    }
}

TEST(LineMap, EncodingNamesAreTheProtocolsOwn) {
    EXPECT_EQ(encoding_named("utf-16"), Encoding::Utf16);
    EXPECT_EQ(encoding_named("utf-8"), Encoding::Utf8);
    EXPECT_EQ(encoding_named("utf-32"), Encoding::Utf32);
    EXPECT_EQ(encoding_named("UTF-16"), std::nullopt);
    EXPECT_TRUE(meet(Range{at(0, 4), at(0, 4)}, Range{at(0, 0), at(0, 4)}));
    EXPECT_FALSE(meet(Range{at(0, 5), at(0, 6)}, Range{at(0, 0), at(0, 4)}));
}
