// The script's input from a generator's state: what the values mean (None
// bounds, negated costs) and the sizes that must agree, first fault first.
#include "scipy_emitter/generator_state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace tarvok::scipy_emitter;

namespace {

/// Two columns, one <= row and no equations, as the build steps would leave them.
GeneratorState two_columns() {
    GeneratorState s{.var_names = {"x", "y"},
                     .bounds = {BoundSides{std::nullopt, 3.0}, BoundSides{0.0, std::nullopt}},
                     .integrality = {0, 1},
                     .c = {3, -1},
                     .a_ub = {.widths = {2}},
                     .b_ub = {4},
                     .ub_names = {"cap"},
                     .a_eq = {.widths = {2}},
                     .inline_limit = 7};
    std::vector<std::pair<int32_t, double>> row{{0, 1}, {1, 1}};
    s.a_ub.rows.add_row(row);
    return s;
}

const tarvok::solver::Program& program() {
    static auto p = tarvok::solver::instantiate("dvar float x; dvar float y; minimize x + y;", "");
    return *p;
}

std::string fault_of(GeneratorState s) {
    try {
        script_input(program(), std::move(s));
    } catch (const AttributeFault& fault) {
        return fault.what();
    }
    return "";
}

}  // namespace

TEST(GeneratorState, MeansWhatTheBuildStepsMeant) {
    ScriptInput in = script_input(program(), two_columns());
    EXPECT_EQ(in.column_names, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(in.lower, (std::vector<double>{-INFINITY, 0}));  // None: no bound
    EXPECT_EQ(in.upper, (std::vector<double>{3, INFINITY}));
    EXPECT_EQ(in.cost, (std::vector<double>{3, -1}));
    EXPECT_EQ(in.a_ub.rows(), 1u);
    EXPECT_EQ(in.inline_limit, 7u);

    GeneratorState s = two_columns();
    s.maximize = true;  // c holds the negated costs; the script states the model's own
    EXPECT_EQ(script_input(program(), std::move(s)).cost, (std::vector<double>{-3, 1}));
}

TEST(GeneratorState, SizesMustAgree) {
    GeneratorState s = two_columns();
    s.c.push_back(0);
    s.b_ub.push_back(0);  // the first fault is the one named
    EXPECT_EQ(fault_of(s), "c has 3 entries; var_names has 2");

    s = two_columns();
    s.var_names_length = 3;  // a len() that is not the number of names
    EXPECT_EQ(fault_of(s), "var_names has 2 entries; var_names has 3");

    s = two_columns();
    s.b_ub.push_back(1);  // rows follow A_ub, not var_names
    EXPECT_EQ(fault_of(s), "b_ub has 2 entries; var_names has 1");

    s = two_columns();
    s.bounds[1].reset();
    EXPECT_EQ(fault_of(s), "bounds[1] is not a (lower, upper) pair");

    s = two_columns();
    s.a_ub.widths = {2, 3};  // a sequence of rows: every row is checked
    EXPECT_EQ(fault_of(s), "A_ub has 3 columns; var_names has 2");

    s = two_columns();
    s.a_eq = {.dimensions = 1};
    EXPECT_EQ(fault_of(s), "A_eq must have two dimensions, not 1");
}
