// Semantic passes and evaluation: what only types, linearity or the data can tell.
#include "compiler/compiler.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvok::compiler;

namespace {

std::vector<std::string> messages(const Compilation& c) {
    std::vector<std::string> out;
    for (const Diagnostic& d : c.diagnostics.items()) out.push_back(d.message);
    return out;
}

bool reports(const Compilation& c, const std::string& part) {
    for (const Diagnostic& d : c.diagnostics.items())
        if (d.message.find(part) != std::string::npos) return true;
    return false;
}

const DeclValue& value_of(const Compilation& c, std::string_view name) {
    for (size_t i = 0; i < c.model.decls.size(); ++i)
        if (c.ast.texts[c.model.decls[i].name] == name) return c.values.decls[i];
    throw std::runtime_error("no such declaration");
}

}  // namespace

TEST(Linearity, ProductsAndDivisors) {
    auto c = compile(
        "dvar float x;\ndvar float y;\ndexpr float d = 2 * x;\nfloat k = 4;\n"
        "minimize 3 * x * k / 2 + y / k;\nsubject to {\n x * y <= 1;\n k / x >= 0;\n d * d == 1;\n}",
        "");
    auto m = messages(*c);
    ASSERT_EQ(m.size(), 3u) << ::testing::PrintToString(m);
    EXPECT_EQ(m[0], "non-linear term 'x * y': a product needs a factor free of decision variables");
    EXPECT_EQ(m[1], "non-linear term 'k / x': a divisor must be free of decision variables");
    EXPECT_EQ(m[2], "non-linear term 'd * d': a product needs a factor free of decision variables");
}

TEST(Linearity, ANonLinearTermIsReportedOnce) {
    auto c = compile("dvar float x;\nminimize ((x * x) * 2) * 3 + (x * x);", "");
    EXPECT_EQ(c->diagnostics.size(), 2u);  // the inner product and the second one, nothing for the enclosing terms
}

TEST(Evaluation, ValuesFromInitializersAndData) {
    auto c = compile(
        "{string} C = ...;\nfloat d[C] = ...;\nfloat total = sum(c in C) d[c];\n"
        "int n = card(C) * 2;\nboolean big = total > 10;\ndvar float x;\nminimize x;",
        "C = {\"a\", \"b\", \"c\"};\nd = [1, 2.5, 10];");
    ASSERT_TRUE(c->ok()) << c->report();
    EXPECT_DOUBLE_EQ(value_of(*c, "total").scalar.f, 13.5);
    EXPECT_EQ(value_of(*c, "n").scalar.i, 6);
    EXPECT_EQ(value_of(*c, "big").scalar.kind, VKind::Bool);
    EXPECT_EQ(value_of(*c, "big").scalar.i, 1);
    EXPECT_EQ(value_of(*c, "d").array->cells[1].f, 2.5);
}

TEST(Evaluation, IntegerOverflowAndDivisionByZeroAreErrors) {
    auto c = compile(
        "int big = 9223372036854775807;\nint over = big + 1;\nint zero = 0;\nfloat q = 1 / zero;\n"
        "int neg = -(-big - 1);\ndvar float x;\nminimize x;",
        "");
    EXPECT_TRUE(reports(*c, "integer overflow in 'big + 1'"));
    EXPECT_TRUE(reports(*c, "division by zero in data: '1 / zero' divides by 'zero', which is 0"));
    EXPECT_TRUE(reports(*c, "integer overflow in '-(-big - 1)'"));
}

TEST(Evaluation, ShortCircuitGuardsIndices) {
    // Without '&&' stopping early, a[0] would be reported outside its range.
    auto c = compile(
        "range R = 1..3;\nfloat a[R] = [1, 2, 3];\ndvar float x[R];\n"
        "subject to { forall(i in R: i > 1 && a[i - 1] > 0) x[i] >= x[i - 1]; }",
        "");
    EXPECT_TRUE(c->ok()) << c->report();
}

TEST(Evaluation, TupleLiteralsMatchDataTuplesWithWidenedFields) {
    auto c = compile(
        "tuple Arc { string from; float cost; }\n{Arc} Arcs = ...;\ndvar float f[Arcs];\n"
        "subject to { f[<\"a\", 3>] >= 1; f[<\"a\", 4>] >= 1; }",
        "Arcs = {<\"a\", 3.0>};");
    auto m = messages(*c);
    ASSERT_EQ(m.size(), 1u) << c->report();
    EXPECT_EQ(m[0], "index <\"a\", 4> of 'f' is not in 'Arcs'");
}

TEST(Budget, RunawayInitializerEndsInADiagnostic) {
    CompileOptions options;
    options.steps_per_declaration = 100'000;
    options.sizes = {UINT64_MAX, UINT64_MAX, UINT64_MAX};  // the initializer's budget alone, not x's size
    auto c = compile(
        "range R = 1..1000000000;\nfloat t = sum(i in R) i;\nint k = card(R);\ndvar float x[R];\n"
        "subject to { forall(i in R, j in R) x[i] <= x[j]; }",
        "", options);
    auto m = messages(*c);
    ASSERT_EQ(m.size(), 1u) << c->report();
    EXPECT_EQ(m[0], "computing the value of 't' takes too long; simplify its initializer");
    EXPECT_EQ(value_of(*c, "k").scalar.i, 1000000000);
}

TEST(Limits, HostileShapesEndInOneDiagnostic) {
    for (std::string model : {std::string("dvar float x; minimize ") + std::string(5000, '(') + "x;",
                              std::string("dvar float x; minimize ") + std::string(5000, '-') + "x;",
                              std::string("dvar float x; subject to { ") +
                                  [] {
                                      std::string s;
                                      for (int i = 0; i < 3000; ++i) s += "forall(i in 1..2) ";
                                      return s;
                                  }() +
                                  "x >= 0; }"}) {
        auto c = compile(model, "");
        ASSERT_EQ(c->diagnostics.size(), 1u) << model.substr(0, 40);
        EXPECT_NE(c->diagnostics.items()[0].message.find("nested too deeply"), std::string::npos);
    }
    CompileOptions small;
    small.limits.max_nodes = 1000;
    std::string chain = "dvar float x; minimize x";
    for (int i = 0; i < 2000; ++i) chain += " + x";
    auto c = compile(chain + ";", "", small);
    ASSERT_EQ(c->diagnostics.size(), 1u);
    EXPECT_NE(c->diagnostics.items()[0].message.find("too large"), std::string::npos);
}

TEST(Limits, LongFlatChainsNeedNoStack) {
    std::string chain = "dvar float x; minimize x";
    for (int i = 0; i < 200000; ++i) chain += i % 2 ? " + x" : " - 2 * x";
    auto c = compile(chain + ";", "");
    EXPECT_TRUE(c->ok()) << c->report().substr(0, 300);
}

TEST(InstanceChecks, BindingsThatCannotFaultTakeOneValueAndTheMessageIsTheFullOnes) {
    // The fault depends on d and t only; c is fixed at its first value, as the
    // first fault of a full enumeration would have it.
    std::string model =
        "range D = 1..40;\nrange C = 1..40;\nrange T = 1..40;\nint lead[D] = ...;\n"
        "dvar float x[D][C][T];\nsubject to {\n"
        "  forall(d in D, c in C, t in T: t > 1) a: x[d][c][t - lead[d]] >= 0;\n}";
    std::string data = "lead = [";
    for (int i = 1; i <= 40; ++i) data += (i > 1 ? ", " : "") + std::string(i == 40 ? "5" : "1");
    data += "];";
    CompileOptions tight;
    tight.check_steps = 40 * 40 * 12;  // far fewer steps than the 64,000 bindings
    auto c = compile(model, data, tight);
    EXPECT_EQ(messages(*c), std::vector<std::string>{
                                "index 't - lead[d]' = -3 of 'x' is outside 'T' (1..40), when d = 40, c = 1, t = 2"});
}

TEST(InstanceChecks, RunningOutOfStepsIsAnErrorAtTheConstraint) {
    std::string model =
        "range I = 1..300;\ndvar float x[I][1..600];\nsubject to {\n"
        "  x[1][1] >= 0;\n  forall(i in I, j in I) s: x[i][j + i - 1] >= 0;\n}";
    CompileOptions tight;
    tight.check_steps = 100'000;
    auto c = compile(model, "", tight);
    ASSERT_EQ(c->diagnostics.size(), 1u);
    EXPECT_EQ(c->diagnostics.items()[0].code, Code::CheckIncomplete);
    EXPECT_EQ(c->diagnostics.items()[0].at.line, 5u);
    EXPECT_TRUE(compile(model, "")->ok());  // the shipped budget checks all 90,000 bindings
}

TEST(InstanceChecks, EmptyFamiliesAreWarnedAbout) {
    auto c = compile(
        "range I = 1..3;\nint n = 0;\ndvar float x[I];\nminimize sum(i in I) x[i];\nsubject to {\n"
        "  forall(i in I: i > 5) big: x[i] >= 1;\n  forall(i in I, j in 1..n) x[i] <= 4;\n"
        "  forall(i in I: i > 1) x[i] >= x[i - 1];\n}",
        "");
    ASSERT_TRUE(c->ok()) << c->report();
    std::vector<uint32_t> lines;
    for (const Diagnostic& w : c->diagnostics.warnings())
        if (w.code == Code::EmptyFamily) lines.push_back(w.at.line);
    EXPECT_EQ(lines, (std::vector<uint32_t>{6, 7}));
}

TEST(InstanceChecks, AnArrayWhoseDimensionsAreUnknownIsNotEnumerated) {
    // Found by the fuzzer's time oracle: nothing can be checked against an
    // unknown dimension, so the 36 million bindings are not walked at all.
    auto c = compile(
        "range I = 1..6000;\ndvar float x[J][1..12000];\nsubject to {\n"
        "  forall(i in I, j in I) x[i][j + i - 1] >= 0;\n}",
        "");
    EXPECT_EQ(messages(*c), std::vector<std::string>{"undeclared name 'J'"});
}
