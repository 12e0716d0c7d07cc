// The servers' one reader of JSON arguments: each check and its message, and
// that the first fault is the one kept.
#include "compiler/json_args.hpp"

#include <gtest/gtest.h>

#include <cmath>

using tarvok::data::JsonArgs;
using tarvok::data::Value;

namespace {

Value object(std::vector<std::pair<std::string, Value>> members) { return Value::object(std::move(members)); }

/// The message of reading `read` from `given`, "" when it passes.
template <typename Read>
std::string fault(const Value& given, Read read) {
    JsonArgs a(given);
    read(a);
    return a.error();
}

}  // namespace

TEST(JsonArgs, NumbersKeepTheirBoundsInTheMessage) {
    Value zero = object({{"t", Value::of(0.0)}});
    EXPECT_EQ(fault(zero, [](JsonArgs& a) { a.number("t", 0, true); }), "'t' must be a finite number above 0");
    EXPECT_EQ(fault(zero, [](JsonArgs& a) { a.number("t", 0, true, 600); }),
              "'t' must be a number above 0 and at most 600");
    EXPECT_EQ(fault(zero, [](JsonArgs& a) { a.number("t", 0, false, 1); }), "");
    Value big = object({{"t", Value::of(1.5)}});
    EXPECT_EQ(fault(big, [](JsonArgs& a) { a.number("t", 0, false, 1); }),
              "'t' must be a number of at least 0 and at most 1");
    Value infinite = object({{"t", Value::of(HUGE_VAL)}});
    EXPECT_EQ(fault(infinite, [](JsonArgs& a) { a.number("t", 0, false); }),
              "'t' must be a finite number of at least 0");
    Value text = object({{"t", Value::of("1")}});
    EXPECT_EQ(fault(text, [](JsonArgs& a) { a.number("t", 0, false); }), "'t' must be a number, not a string");
    Value seven = object({{"t", Value::of(int64_t{7})}});
    JsonArgs whole(seven);
    EXPECT_EQ(whole.number("t", 0, true), 7.0);
}

TEST(JsonArgs, WholeNumbersFlagsAndChoices) {
    Value given = object({{"k", Value::of(2.0)}, {"on", Value::of(true)}, {"how", Value::of("duals")}});
    JsonArgs a(given);
    EXPECT_EQ(a.integer("k", 1, 32), 2);
    EXPECT_EQ(a.flag("on"), true);
    EXPECT_EQ(a.choice<int>("how", {{"none", 0}, {"duals", 1}}), 1);
    EXPECT_FALSE(a.failed());

    EXPECT_EQ(fault(object({{"k", Value::of(2.5)}}), [](JsonArgs& a) { a.integer("k", 1, 32); }),
              "'k' must be a whole number, not a number");
    EXPECT_EQ(fault(object({{"k", Value::of(int64_t{33})}}), [](JsonArgs& a) { a.integer("k", 1, 32); }),
              "'k' must be from 1 to 32");
    EXPECT_EQ(fault(object({{"on", Value::of("yes")}}), [](JsonArgs& a) { a.flag("on"); }),
              "'on' must be true or false, not a string");
    EXPECT_EQ(fault(object({{"how", Value::of(int64_t{1})}}),
                    [](JsonArgs& a) {
                        a.choice<int>("how", {{"none", 0}, {"duals", 1}});
                    }),
              "'how' must be one of 'none', 'duals'");
}

TEST(JsonArgs, TextsRequiredBoundedAndNotBlank) {
    EXPECT_EQ(fault(object({}), [](JsonArgs& a) { a.text("model", true); }), "'model' is required");
    EXPECT_EQ(fault(object({{"model", Value::null()}}), [](JsonArgs& a) { a.text("model", true); }),
              "'model' is required");
    EXPECT_EQ(fault(object({{"q", Value::of(" \n\t")}}), [](JsonArgs& a) { a.text("q", true, true); }), "'q' is empty");
    EXPECT_EQ(fault(object({{"q", Value::of("abcde")}}), [](JsonArgs& a) { a.text("q", true, false, 4); }),
              "'q' has 5 bytes; at most 4 are taken");
    Value given = object({{"q", Value::of("abcd")}});
    JsonArgs a(given);
    EXPECT_EQ(a.text("q", true, false, 4), "abcd");
    EXPECT_EQ(a.text("absent", false), std::nullopt);
    EXPECT_FALSE(a.failed());
}

TEST(JsonArgs, FirstFaultIsKeptAndLeftoversRefused) {
    Value first = object({{"model", Value::of(int64_t{1})}, {"k", Value::of("x")}, {"extra", Value::of(true)}});
    JsonArgs a(first);
    a.takes({"model", "k"});
    a.text("model", true);
    a.integer("k", 1, 3);
    a.finish("argument", "check_model");
    EXPECT_EQ(a.error(), "'model' must be a string, not a number");

    Value leftover = object({{"model", Value::of("m")}, {"solver", Value::of("x")}});
    JsonArgs b(leftover);
    b.takes({"model", "data"});
    b.text("model", true);
    b.finish("member", "this endpoint");
    EXPECT_EQ(b.error(), "unknown member 'solver'; this endpoint takes model, data");

    // A value that is no object holds no members: nothing is found and nothing is left over.
    Value list = Value::array({Value::of("model")});
    JsonArgs c(list);
    EXPECT_EQ(c.get("model"), nullptr);
    c.finish("member", "this endpoint");
    EXPECT_FALSE(c.failed());
}
