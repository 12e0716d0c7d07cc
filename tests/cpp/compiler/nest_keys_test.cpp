#include "compiler/data_values.hpp"

#include <gtest/gtest.h>

namespace tarvok::data {
namespace {

using Entries = std::vector<std::pair<std::vector<std::string>, Value>>;

/// {a: {b: 1}} written compactly, numbers as integers.
std::string show(const Value& v) {
    if (v.kind() != Value::Kind::Object) return std::to_string(v.integer());
    std::string out = "{";
    for (size_t k = 0; k < v.members().size(); ++k)
        out += (k ? ", " : "") + v.members()[k].first + ": " + show(v.members()[k].second);
    return out + "}";
}

TEST(NestKeys, TupleKeysNestInTheOrderGiven) {
    Entries e;
    e.push_back({{"Aalborg", "Odense"}, Value::of(int64_t{1})});
    e.push_back({{"Aarhus", "Odense"}, Value::of(int64_t{2})});
    e.push_back({{"Aalborg", "Vejle"}, Value::of(int64_t{3})});
    e.push_back({{"total"}, Value::of(int64_t{6})});
    EXPECT_EQ(show(nest_keys(std::move(e))), "{Aalborg: {Odense: 1, Vejle: 3}, Aarhus: {Odense: 2}, total: 6}");
}

TEST(NestKeys, LaterEntriesReplaceOrExtendAsAssigningDoes) {
    Entries e;
    e.push_back({{"a"}, Value::of(int64_t{5})});
    e.push_back({{"a", "b"}, Value::of(int64_t{1})});  // a plain value gives way to a mapping
    e.push_back({{"c"}, Value::object({{"x", Value::of(int64_t{7})}})});
    e.push_back({{"c", "y"}, Value::of(int64_t{8})});  // a mapping given as a value is extended
    e.push_back({{"d", "e", "f"}, Value::of(int64_t{9})});
    e.push_back({{"d"}, Value::of(int64_t{4})});  // and a plain key replaces a nesting, keeping its place
    EXPECT_EQ(show(nest_keys(std::move(e))), "{a: {b: 1}, c: {x: 7, y: 8}, d: 4}");
}

}  // namespace
}  // namespace tarvok::data
