#include "common/json.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>

using namespace tarvok;

TEST(Json, ParsesNestedValuesKeepingOrderAndTheLastRepeatedKey) {
    json::Value v = json::parse(" {\"a\": [1, -2.5e3, true, null, {}], \"b\": \"x\", \"a\": {\"k\": false}} \n");
    ASSERT_EQ(v.kind, json::Value::Kind::Object);
    ASSERT_EQ(v.members.size(), 3u);
    EXPECT_EQ(v.members[0].second.items[1].number, -2500);
    EXPECT_EQ(v.members[0].second.items[1].text, "-2.5e3");  // the number as written
    const json::Value* a = v.find("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->kind, json::Value::Kind::Object);
    EXPECT_FALSE(a->find("k")->boolean);
    EXPECT_EQ(v.find("missing"), nullptr);
}

TEST(Json, StringEscapesAndSurrogates) {
    EXPECT_EQ(json::parse(R"("q\" b\\ s\/ \b\f\n\r\t é")").text, "q\" b\\ s/ \b\f\n\r\t \xC3\xA9");
    EXPECT_EQ(json::parse(R"("\ud83d\ude00")").text, "\xF0\x9F\x98\x80");  // a pair is one character
    // A lone surrogate is kept the way the host carries it, and written back escaped.
    std::string lone = json::parse(R"("a\ud83db")").text;
    EXPECT_EQ(lone,
              "a\xED\xA0\xBD"
              "b");
    EXPECT_EQ(json::quote(lone), R"("a\ud83db")");
    EXPECT_EQ(json::parse(R"("\ud83d\u0041")").text,
              "\xED\xA0\xBD"
              "A");
}

TEST(Json, ErrorsSayWhereAndWhy) {
    struct Case {
        const char* text;
        const char* reason;
        std::size_t line, column;
    };
    for (const Case& c :
         {Case{"{\"a\": 1,\n \"b\" 2}", "expected ':' after a member name", 2, 6},
          Case{"[1, 2", "expected ',' or ']' in an array", 1, 6}, Case{"\"open", "unterminated string", 1, 1},
          Case{"{\"a\": tru}", "expected a value", 1, 7}, Case{"1 2", "extra data after the value", 1, 3},
          Case{"\"tab\there\"", "control character in a string", 1, 5}, Case{"\"\\x\"", "invalid escape", 1, 2},
          Case{"01", "extra data after the value", 1, 2}, Case{"\"\xFF\"", "text that is not UTF-8", 1, 2},
          Case{"", "expected a value, found the end of the text", 1, 1}}) {
        try {
            json::parse(c.text);
            ADD_FAILURE() << "accepted " << c.text;
        } catch (const json::ParseError& e) {
            EXPECT_EQ(e.reason(), c.reason) << c.text;
            EXPECT_EQ(e.line(), c.line) << c.text;
            EXPECT_EQ(e.column(), c.column) << c.text;
        }
    }
}

TEST(Json, DeepNestingIsRefusedNotFollowed) {
    std::string deep(100000, '[');
    EXPECT_THROW(json::parse(deep), json::ParseError);
    std::string fine = std::string(500, '[') + std::string(500, ']');
    EXPECT_EQ(json::parse(fine).kind, json::Value::Kind::Array);
}

TEST(Json, NumbersAsTheHostReadsThem) {
    EXPECT_TRUE(std::isnan(json::parse("NaN").number));
    EXPECT_EQ(json::parse("-Infinity").number, -INFINITY);
    EXPECT_EQ(json::parse("1e400").number, INFINITY);
    EXPECT_EQ(json::parse("-1e400").number, -INFINITY);
    EXPECT_EQ(json::parse("1e-400").number, 0.0);
    EXPECT_EQ(json::parse("0.1").number, 0.1);
    EXPECT_THROW(json::parse("+1"), json::ParseError);
    EXPECT_THROW(json::parse("1."), json::ParseError);
    EXPECT_THROW(json::parse(".5"), json::ParseError);
}

TEST(Json, WrittenNumbersReadBackExactly) {
    for (double v : {0.0, -0.0, 0.1, 1.0 / 3.0, 437.6470588235294, 220000.0, 1e300, -5e-324, 123456789012345678.0}) {
        std::string text = json::number(v);
        double back = 0;
        std::from_chars(text.data(), text.data() + text.size(), back);
        EXPECT_EQ(back, v) << text;
        EXPECT_EQ(json::parse(text).number, v) << text;
    }
    EXPECT_EQ(json::number(190), "190");
    EXPECT_EQ(json::number(NAN), "null");
    EXPECT_EQ(json::number(-INFINITY), "null");
}

TEST(Json, QuoteEscapesWhatJsonNeedsAndKeepsTheRest) {
    EXPECT_EQ(json::quote("a\"b\\c\n\t\x01 \x7F \xC3\xA9 \xF0\x9F\x98\x80"),
              "\"a\\\"b\\\\c\\n\\t\\u0001 \x7F \xC3\xA9 \xF0\x9F\x98\x80\"");
    EXPECT_EQ(json::quote("bad \xFF byte"), "\"bad \\ufffd byte\"");
    // Whatever quote writes, parse reads back.
    std::string text = "x\x1f\"\\\n\r\b\f\xE2\x80\xA8";
    EXPECT_EQ(json::parse(json::quote(text)).text, text);
}
