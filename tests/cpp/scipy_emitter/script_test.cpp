// The script core: standard form, Python literals, the model's own text in
// comments and where the numbers go.
#include "scipy_emitter/script.hpp"
#include "scipy_emitter/describe.hpp"
#include "scipy_emitter/standard_form.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace tarvok::scipy_emitter;
using tarvok::NamedArray;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string text_of(const Script& script) {
    std::string out;
    for (const Line& line : script.lines) out += std::string(4 * line.indent, ' ') + line.text + "\n";
    return out;
}

/// A script input with `columns` columns and one row over all of them.
ScriptInput one_row(size_t columns) {
    ScriptInput in;
    for (size_t j = 0; j < columns; ++j) {
        in.column_names.push_back("x[" + std::to_string(j + 1) + "]");
        in.lower.push_back(0);
        in.upper.push_back(kInf);
        in.integer.push_back(j % 2);
        in.cost.push_back(1.5);
        in.a_ub.columns.push_back(static_cast<int32_t>(j));
        in.a_ub.values.push_back(-2);
    }
    in.a_ub.end_row();
    in.b_ub.push_back(-10);
    in.ub_names.push_back("cover");
    in.variables.push_back({"x", 0, {columns}, false});
    return in;
}

}  // namespace

TEST(StandardForm, MaximizingNegatesCostsAndSplitsRowsBySide) {
    auto p = tarvok::solver::instantiate(
        "dvar float+ x; dvar float+ y; maximize 3*x - y + 4;\n"
        "subject to { r: 1 <= x + y <= 4; g: x - y >= -2; e: x + 2*y == 3; x + y <= 9; }",
        "");
    StandardObjective o = standard_objective(*p);
    EXPECT_TRUE(o.maximize);
    EXPECT_EQ(o.offset, 4);
    EXPECT_EQ(o.c, (std::vector<double>{-3, 1}));

    StandardConstraints s = standard_constraints(*p);
    // r's upper side, r's lower side negated, g negated, the last row as written.
    EXPECT_EQ(s.upper.rhs, (std::vector<double>{4, -1, 2, 9}));
    EXPECT_EQ(s.upper.matrix.starts, (std::vector<int64_t>{0, 2, 4, 6, 8}));
    EXPECT_EQ(s.upper.matrix.values, (std::vector<double>{1, 1, -1, -1, -1, 1, 1, 1}));
    std::vector<bool> negated;
    for (const RowOrigin& o : s.upper.origin) negated.push_back(o.negated);
    EXPECT_EQ(negated, (std::vector<bool>{false, true, true, false}));
    EXPECT_EQ(s.upper.origin[1].row, s.upper.origin[0].row);
    ASSERT_EQ(s.equal.rhs, (std::vector<double>{3}));
    EXPECT_EQ(s.equal.matrix.values, (std::vector<double>{1, 2}));
}

TEST(Literals, StringsReadBackAsTheSameText) {
    EXPECT_EQ(python_string("ship[Aalborg]"), "\"ship[Aalborg]\"");
    EXPECT_EQ(python_string("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(python_string("line\nnext\ttab\r\x01\x7f"), "\"line\\nnext\\ttab\\x0d\\x01\\x7f\"");
    EXPECT_EQ(python_string("Århus Ø"), "\"Århus Ø\"");
    // Reordering marks, line separators and C1 controls are spelled out.
    EXPECT_EQ(python_string("a\u202Eb\u2028"), "\"a\\u202eb\\u2028\"");
    EXPECT_EQ(python_string("\u0085\u009b\x1c\x0b\u2066"), "\"\\x85\\x9b\\x1c\\x0b\\u2066\"");
    // A lone surrogate (as the host passes it) stays one; stray bytes stay visible.
    EXPECT_EQ(python_string("\xED\xA0\x80"), "\"\\ud800\"");
    EXPECT_EQ(python_string("\xFF"
                            "a"),
              "\"\\xffa\"");
}

TEST(Literals, NumbersRoundTripAndNameTheInfinities) {
    for (double v : {0.1, 1.0 / 3, 500.0, -2.5e-300, 1e22, 123456789012345678.0, -0.0}) {
        std::string text = python_number(v);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
    EXPECT_EQ(python_number(500), "500");
    EXPECT_EQ(python_number(kInf), "inf");
    EXPECT_EQ(python_number(-kInf), "-inf");
    EXPECT_EQ(python_number(std::nan("")), "nan");
}

TEST(Literals, CommentsStayOnOneLine) {
    EXPECT_EQ(comment_text("a\rb\nc\x0c"
                           "d\u2029e\u202Ef"),
              "a b c d e f");
    // Whatever some reader takes as a line end: \v, \x1c-\x1e, NEL; and a lone surrogate, a stray byte.
    EXPECT_EQ(comment_text(std::string("1\x0b"
                                       "2\x1c"
                                       "3\x1e"
                                       "4\u0085"
                                       "5\u2028"
                                       "6\xED\xA0\x80"
                                       "7\xFF"
                                       "8\0"
                                       "9",
                                       22)),
              "1 2 3 4 5 6   7 8 9");
    EXPECT_EQ(family_of("ship[Aalborg][Aarhus]"), "ship");
    EXPECT_EQ(family_of("c14"), "c14");
}

TEST(ModelText, OpeningCommentInBothStyles) {
    EXPECT_EQ(opening_comment("\n// Cement plan:\n//   tonnes  per  route\n//\n// end\nfloat x;\n// later"),
              (std::vector<std::string>{"Cement plan:", "tonnes per route", "", "end"}));
    EXPECT_EQ(opening_comment("/* Diet\n * cheapest menu\n */\nfloat x;"),
              (std::vector<std::string>{"Diet", "cheapest menu"}));
    EXPECT_TRUE(opening_comment("float x; // not an opening comment").empty());
    EXPECT_EQ(opening_comment("// one\n// two\n// three", 2).size(), 2u);
}

TEST(ModelText, SourceLineAroundAnOffset) {
    std::string text = "first\n  forall(p in P)\tcap:  x[p] <= 3;\nlast";
    EXPECT_EQ(source_line(text, text.find("cap")), "forall(p in P) cap: x[p] <= 3;");
    EXPECT_EQ(source_line(text, 0), "first");
    EXPECT_EQ(source_line(text, text.size()), "last");
    EXPECT_EQ(source_line("ééééé", 0, 5), "éé...");  // cut at a character boundary
}

TEST(Script, SmallProgramsCarryTheirNumbersAndNames) {
    ScriptInput in = one_row(3);
    in.family_notes["x"] = "x, model line 2: dvar float+ x[1..3];";
    in.family_notes["cover"] = "cover, model line 5: cover: sum(i in I) x[i] >= 5;";
    Script script = render_script(in);
    EXPECT_TRUE(script.arrays.empty());
    std::string text = text_of(script);
    EXPECT_NE(text.find("    # x, model line 2: dvar float+ x[1..3];\n    (\"x[1]\", 0, inf, 0, 1.5),  # 0\n"),
              std::string::npos);
    EXPECT_NE(text.find("    (\"cover\", {0: -2, 1: -2, 2: -2}, -10),\n"), std::string::npos);
    EXPECT_NE(text.find("EQ_ROWS = []\n"), std::string::npos);
    EXPECT_NE(text.find("(\"x\", 0, (3,), False),"), std::string::npos);
    EXPECT_NE(text.find("(1 integer)"), std::string::npos);
    EXPECT_EQ(text.find("npz"), std::string::npos);
    EXPECT_EQ(script.lines.front().text, "#!/usr/bin/env python3");
}

TEST(Script, TheFirstTwoLinesAreAlwaysTheEmittersOwn) {
    // The host reads a coding declaration in lines 1 and 2; the model's opening comment comes after them.
    ScriptInput in = one_row(2);
    in.preamble = {"-*- coding: unicode_escape -*-", "\\u000aimport os"};
    Script script = render_script(in);
    ASSERT_GE(script.lines.size(), 4u);
    EXPECT_EQ(script.lines[0].text, "#!/usr/bin/env python3");
    EXPECT_EQ(script.lines[1].text, "# -*- coding: utf-8 -*-");
    EXPECT_EQ(script.lines[2].text, "# -*- coding: unicode_escape -*-");
    in.preamble.clear();
    EXPECT_EQ(render_script(in).lines[1].text, "# -*- coding: utf-8 -*-");
}

TEST(Script, LongRowsWrapAndEveryLineIsShort) {
    Script script = render_script(one_row(60));
    for (const Line& line : script.lines) {
        if (line.text.rfind("#", 0) == 0) continue;  // comments quote the model
        EXPECT_LE(4 * line.indent + line.text.size(), 110u) << line.text;
    }
    std::string text = text_of(script);
    EXPECT_NE(text.find("    (\"cover\", {\n        0: -2, 1: -2,"), std::string::npos);
    EXPECT_NE(text.find("59: -2,\n    }, -10),\n"), std::string::npos);
}

TEST(Script, LargeProgramsMoveTheirNumbersToArrays) {
    ScriptInput in = one_row(4);
    in.inline_limit = 3;
    in.dexprs.push_back({"total", {1, 3}, {2.0, 5.0}, 7, false});
    ASSERT_TRUE(needs_npz(in));
    Script script = render_script(in);
    std::string text = text_of(script);
    EXPECT_EQ(text.find("COLUMNS"), std::string::npos);
    EXPECT_NE(text.find("with_suffix(\".npz\")"), std::string::npos);
    EXPECT_NE(text.find("(\"total\", 7, False),"), std::string::npos);

    std::map<std::string, const NamedArray*> by_name;
    for (const NamedArray& a : script.arrays) by_name[a.name] = &a;
    auto doubles = [&](const char* name) { return std::get<std::vector<double>>(by_name.at(name)->data); };
    auto ints = [&](const char* name) { return std::get<std::vector<int32_t>>(by_name.at(name)->data); };
    EXPECT_EQ(doubles("cost"), (std::vector<double>{1.5, 1.5, 1.5, 1.5}));
    EXPECT_EQ(std::get<std::vector<uint8_t>>(by_name.at("integrality")->data), (std::vector<uint8_t>{0, 1, 0, 1}));
    EXPECT_EQ(ints("ub_rows"), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(ints("ub_columns"), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(doubles("b_ub"), (std::vector<double>{-10}));
    EXPECT_TRUE(doubles("b_eq").empty());
    EXPECT_EQ(ints("dexpr_columns"), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(doubles("dexpr_values"), (std::vector<double>{2, 5}));
    std::vector<uint8_t> blob = std::get<std::vector<uint8_t>>(by_name.at("column_names")->data);
    EXPECT_EQ(std::string(blob.begin(), blob.end()), "x[1]x[2]x[3]x[4]");
    EXPECT_EQ(std::get<std::vector<int64_t>>(by_name.at("column_name_ends")->data),
              (std::vector<int64_t>{4, 8, 12, 16}));
}

TEST(Script, ConflictsFoundWhileExpandingAreStatedAsData) {
    ScriptInput in = one_row(1);
    EXPECT_NE(text_of(render_script(in)).find("\nCONFLICTS = []\n"), std::string::npos);
    in.conflicts = {"c4 (model line 4)", "x\"y (model line 5)"};
    std::string text = text_of(render_script(in));
    EXPECT_NE(text.find("CONFLICTS = [\n    \"c4 (model line 4)\",\n    \"x\\\"y (model line 5)\",\n]\n"),
              std::string::npos);
}
