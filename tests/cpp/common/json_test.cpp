#include "common/json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

using namespace tarvok;
using Kind = json::Value::Kind;

TEST(Json, ParsesNestedValuesInOrderWithIntegersApartFromNumbers) {
    json::Value v =
        json::parse(" {\"a\": [1, -2.5e3, true, null, {}], \"b\": \"x\", \"big\": 123456789012345678901} \n");
    ASSERT_EQ(v.kind(), Kind::Object);
    ASSERT_EQ(v.members().size(), 3u);
    const json::Items& a = v.find("a")->items();
    EXPECT_EQ(a[0].kind(), Kind::Integer);
    EXPECT_EQ(a[0].integer(), 1);
    EXPECT_EQ(a[1].kind(), Kind::Number);
    EXPECT_EQ(a[1].number(), -2500);
    EXPECT_TRUE(a[2].boolean());
    EXPECT_TRUE(a[3].is_null());
    EXPECT_EQ(a[4].kind(), Kind::Object);
    const json::Value* big = v.find("big");
    EXPECT_TRUE(big->is_big());
    EXPECT_EQ(big->text(), "123456789012345678901");
    EXPECT_EQ(json::write(*big), "123456789012345678901");
    EXPECT_EQ(v.find("missing"), nullptr);
    // Numbers keep what they were written as only when asked.
    EXPECT_EQ(json::parse("7.0", {.number_text = true}).text(), "7.0");
    EXPECT_EQ(json::parse("7.0").text(), "");
}

TEST(Json, AKeyGivenTwiceIsRefusedNamingBothPlacesUnlessKept) {
    try {
        json::parse("{\"a\": 1,\n \"b\": 2, \"a\": 3}");
        ADD_FAILURE() << "a repeated key was taken";
    } catch (const json::ParseError& e) {
        EXPECT_EQ(e.reason(), "the key \"a\" is given twice (first at line 1 column 2)");
        EXPECT_EQ(e.line(), 2u);
        EXPECT_EQ(e.column(), 10u);
    }
    // Written with an escape it is the same key; many members go through the map.
    std::string many = "{";
    for (int i = 0; i < 40; ++i) many += "\"k" + std::to_string(i) + "\": 0, ";
    EXPECT_THROW(json::parse(many + "\"\\u006b7\": 1}"), json::ParseError);
    EXPECT_NO_THROW(json::parse(many + "\"k40\": 1}"));
    json::Value kept = json::parse("{\"a\": 1, \"a\": {\"k\": false}}", {.repeated_keys = true});
    EXPECT_EQ(kept.members().size(), 2u);
    EXPECT_EQ(kept.find("a")->kind(), Kind::Object);  // the last, as the host keeps it
}

TEST(Json, StringEscapesAndSurrogates) {
    EXPECT_EQ(json::parse(R"("q\" b\\ s\/ \b\f\n\r\t é")").text(), "q\" b\\ s/ \b\f\n\r\t \xC3\xA9");
    EXPECT_EQ(json::parse(R"("\ud83d\ude00")").text(), "\xF0\x9F\x98\x80");  // a pair is one character
    // A lone surrogate is kept the way the host carries it, and written back escaped.
    std::string lone = json::parse(R"("a\ud83db")").text();
    EXPECT_EQ(lone,
              "a\xED\xA0\xBD"
              "b");
    EXPECT_EQ(json::quote(lone), R"("a\ud83db")");
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
    std::string deep(100000, '[');
    EXPECT_THROW(json::parse(deep), json::ParseError);
    EXPECT_EQ(json::parse(std::string(500, '[') + std::string(500, ']')).kind(), Kind::Array);
}

TEST(Json, NumbersAsTheHostReadsThem) {
    EXPECT_TRUE(std::isnan(json::parse("NaN").number()));
    EXPECT_EQ(json::parse("-Infinity").number(), -INFINITY);
    EXPECT_EQ(json::parse("1e400").number(), INFINITY);
    EXPECT_EQ(json::parse("1e-400").number(), 0.0);
    EXPECT_EQ(json::parse("-9223372036854775808").integer(), INT64_MIN);
    EXPECT_TRUE(json::parse("9223372036854775808").is_big());
    for (const char* refused : {"+1", "1.", ".5"}) EXPECT_THROW(json::parse(refused), json::ParseError) << refused;
}

TEST(Json, FloatsAreWrittenAsTheHostsRepr) {
    struct Case {
        double value;
        const char* repr;
    };
    for (const Case& c : {Case{0.1, "0.1"},
                          {100.0, "100.0"},
                          {1e-05, "1e-05"},
                          {1e16, "1e+16"},
                          {1e15, "1000000000000000.0"},
                          {123456789012345680.0, "1.2345678901234568e+17"},
                          {0.0001, "0.0001"},
                          {-0.0, "-0.0"},
                          {5e-324, "5e-324"},
                          {1.7976931348623157e308, "1.7976931348623157e+308"},
                          {1.0 / 3, "0.3333333333333333"},
                          {1.5e-05, "1.5e-05"},
                          {1.5e-4, "0.00015"}})
        EXPECT_EQ(json::float_repr(c.value), c.repr);
    // Random bit patterns: the host's repr of each, and each reads back exactly.
    struct Bits {
        uint64_t bits;
        const char* repr;
    };
    for (const Bits& b : {Bits{0xf2a74de452e6b438ULL, "-1.989032661366619e+244"},
                          {0x0c5c7fd0a6a3a450ULL, "3.980498358697587e-249"},
                          {0x36f675cc81e74ef5ULL, "6.294675241195386e-44"},
                          {0x3d9c172411e20b8fULL, "6.387016158513563e-12"},
                          {0xc201bd708e904a4bULL, "-9524089298.036276"},
                          {0x43a3cf540de429f0ULL, "7.137260127694991e+17"},
                          {0x3fe6b91154b2f6d0ULL, "0.7100912718085173"},
                          {0xc25c371e54cb9e5bULL, "-484735275822.4743"},
                          {0x3f43335616015083ULL, "0.0005859537450399053"},
                          {0xbf5180174fbb9133ULL, "-0.001068136944860032"}}) {
        double d;
        std::memcpy(&d, &b.bits, sizeof d);
        EXPECT_EQ(json::float_repr(d), b.repr);
        EXPECT_EQ(json::parse(b.repr).number(), d);
    }
}

TEST(Json, WritesWhatTheHostsDumpsWrites) {
    json::Value v = json::Value::object();
    v.add("a", json::Value::array({json::Value::of(int64_t{1}), json::Value::of(2.5),
                                   json::Value::object({{"b", json::Value::null()}, {"c", json::Value::array()}})}));
    v.add("\xC3\xA9", json::Value::of("\xE2\x98\x83\x7F\x01\xF0\x9F\x98\x80"));
    v.add("t", json::Value::tuple({json::Value::of(int64_t{1}), json::Value::of(int64_t{2})}));
    v.add("e", json::Value::object());
    // json.dumps(v)
    EXPECT_EQ(
        json::write(v),
        R"({"a": [1, 2.5, {"b": null, "c": []}], "\u00e9": "\u2603\u007f\u0001\ud83d\ude00", "t": [1, 2], "e": {}})");
    // json.dumps(v, indent=2, ensure_ascii=False)
    EXPECT_EQ(json::write(v, {.indent = 2, .ensure_ascii = false}),
              "{\n  \"a\": [\n    1,\n    2.5,\n    {\n      \"b\": null,\n      \"c\": []\n    }\n  ],\n"
              "  \"\xC3\xA9\": \"\xE2\x98\x83\x7F\\u0001\xF0\x9F\x98\x80\",\n  \"t\": [\n    1,\n    2\n  ],\n"
              "  \"e\": {}\n}");
    // json.dumps([inf, -inf, nan, True], indent=0); a range as its integers
    json::Value odd = json::Value::array({json::Value::of(INFINITY), json::Value::of(-INFINITY), json::Value::of(NAN),
                                          json::Value::of(true), json::Value::range(2, 4)});
    EXPECT_EQ(json::write(odd, {.indent = 0}), "[\nInfinity,\n-Infinity,\nNaN,\ntrue,\n[\n2,\n3,\n4\n]\n]");
}

TEST(Json, CopiesShareUntilOneChanges) {
    json::Value leaf = json::Value::object({{"type", json::Value::of("number")}});
    json::Value list = json::Value::array({leaf, leaf});
    EXPECT_EQ(list.items()[0].identity(), list.items()[1].identity());
    json::Value copy = list;
    copy.items()[0].add("value", json::Value::of(int64_t{1}));
    EXPECT_EQ(list.items()[0].size(), 1u);  // the original is untouched
    EXPECT_EQ(copy.items()[0].size(), 2u);
    EXPECT_EQ(copy.items()[1], leaf);
    EXPECT_FALSE(copy == list);
}
