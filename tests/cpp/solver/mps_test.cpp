// The MPS writer: what each section says, read back line by line.
#include "solver/mps.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace tarvok::solver;

namespace {

std::vector<std::string> section(const std::string& text, const std::string& name) {
    std::istringstream in(text);
    std::vector<std::string> out;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != ' ') {
            inside = line == name;
            continue;
        }
        if (inside) out.push_back(line.substr(1));
    }
    return out;
}

bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(Mps, IntegerMarkersEncloseExactlyTheIntegerColumns) {
    // `e` and `f` have no entries: their only constraints became bounds.
    auto p = instantiate(
        "dvar int a in 0..3;\ndvar float e;\ndvar int f;\ndvar int b in 0..4;\ndvar float z in 0..1;\n"
        "maximize a + b + z;\nsubject to {\n  e >= 2;\n  f <= 5;\n  a + b <= 5;\n}",
        "");
    std::vector<std::string> columns = section(mps_text(*p), "COLUMNS");
    std::vector<std::string> expected = {"MARKER0 'MARKER' 'INTORG'",
                                         "a OBJ 1",
                                         "a c10 1",
                                         "MARKER1 'MARKER' 'INTEND'",
                                         "e OBJ 0",
                                         "MARKER2 'MARKER' 'INTORG'",
                                         "f OBJ 0",
                                         "b OBJ 1",
                                         "b c10 1",
                                         "MARKER3 'MARKER' 'INTEND'",
                                         "z OBJ 1"};
    EXPECT_EQ(columns, expected);
    std::vector<std::string> bounds = section(mps_text(*p), "BOUNDS");
    EXPECT_TRUE(has(bounds, "LO BND e 2"));
    EXPECT_TRUE(has(bounds, "PL BND e"));
    EXPECT_TRUE(has(bounds, "MI BND f"));  // an int with no lower bound says so
    EXPECT_TRUE(has(bounds, "UP BND f 5"));
    EXPECT_EQ(section(mps_text(*p), "OBJSENSE"), std::vector<std::string>{"   MAX"});
}

TEST(Mps, RangesOnlyForTrueRangesAndAlwaysPositive) {
    auto p = instantiate(
        "dvar float x in 0..10;\ndvar float y;\nminimize x + 4;\nsubject to {\n  one: x + y <= 3;\n"
        "  two: 1 <= x - y <= 2.5;\n  three: x + 2 * y == 7;\n  four: -3 <= x - 2 * y;\n}",
        "");
    std::string text = mps_text(*p);
    std::vector<std::string> rows = section(text, "ROWS");
    EXPECT_EQ(rows, (std::vector<std::string>{"N OBJ", "L one", "G two", "E three", "G four"}));
    EXPECT_EQ(section(text, "RANGES"), std::vector<std::string>{"RNG two 1.5"});
    std::vector<std::string> rhs = section(text, "RHS");
    EXPECT_TRUE(has(rhs, "RHS OBJ -4"));
    EXPECT_TRUE(has(rhs, "RHS four -3"));
    EXPECT_TRUE(has(section(text, "BOUNDS"), "FR BND y"));
    EXPECT_EQ(text.find("RANGES"), text.rfind("RANGES"));
}

TEST(Mps, NamesStayApartFromTheObjectiveAndFromEachOther) {
    auto p = instantiate(
        "{string} S = {\"a b\", \"a_b\"};\ndvar float x[S] in 0..1;\nsubject to {\n"
        "  OBJ: x[\"a b\"] + x[\"a_b\"] <= 1;\n}",
        "");
    std::string text = mps_text(*p);
    EXPECT_EQ(section(text, "ROWS"), (std::vector<std::string>{"N OBJ~2", "L OBJ"}));
    EXPECT_TRUE(has(section(text, "COLUMNS"), "x[a_b]~2 OBJ 1"));
}

TEST(Mps, AProgramThatCannotHoldIsNotWritable) {
    auto p = instantiate("dvar float x;\ndvar float y;\nsubject to {\n  5 <= x + y <= 3;\n}", "");
    EXPECT_EQ(unwritable_reason(*p), "the program cannot hold whatever the variables are: c4 (line 4)");
    auto q = instantiate("dvar int m in 3.6..3.9;", "");
    EXPECT_EQ(unwritable_reason(*q),
              "the program cannot hold whatever the variables are: m (bounds of its declaration, line 1)");
    EXPECT_EQ(unwritable_reason(*instantiate("dvar float x;", "")), "");
}
