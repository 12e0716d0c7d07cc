// Arrays handed to the compiler packed rather than in the data text: read
// into the same cells the text gives, and refused (marked, not reported)
// whenever they are not exactly what the text would give.
#include "compiler/compiler.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace tarvok::compiler;

namespace {

const char* kModel =
    "int n = ...;\nrange N = 1..n;\n{string} S = ...;\nfloat cost[N][S] = ...;\nint pick[S] = ...;\n"
    "dvar float+ x[N][S];\nminimize sum(i in N, s in S) cost[i][s] * pick[s] * x[i][s];\n"
    "subject to {\n  forall(i in N) sum(s in S) x[i][s] >= 1;\n}\n";
const char* kScalars = "n = 2;\nS = {\"a\", \"b\", \"c\"};\n";

GivenArray reals(const std::string& name, std::vector<uint64_t> shape, const std::vector<double>& numbers) {
    GivenArray g;
    g.name = name;
    g.shape = std::move(shape);
    g.reals = numbers.data();
    return g;
}

GivenArray integers(const std::string& name, std::vector<uint64_t> shape, const std::vector<int64_t>& numbers) {
    GivenArray g;
    g.name = name;
    g.shape = std::move(shape);
    g.is_int = true;
    g.integers = numbers.data();
    return g;
}

std::unique_ptr<Compilation> compiled(const std::string& data, std::vector<GivenArray> given) {
    CompileOptions options;
    options.given_arrays = std::move(given);
    return compile(kModel, data, options);
}

/// The cells of the array declared `index`-th, as the compiler holds them.
std::vector<Value> cells(const Compilation& c, size_t index) { return c.values.decls.at(index).array->cells; }

}  // namespace

TEST(GivenArrays, GiveTheCellsOfTheDataText) {
    std::vector<double> cost{1.5, -0.0, 3, 4, 5.25, -9.5e19};
    std::vector<int64_t> whole_cost{1, 2, 3, 4, 5, -6};
    std::vector<int64_t> pick{1, 0, 7};
    auto text =
        compile(kModel, std::string(kScalars) + "cost = [[1.5, -0.0, 3], [4, 5.25, -9.5e19]];\npick = [1, 0, 7];\n");
    ASSERT_TRUE(text->ok()) << text->report();

    auto packed = compiled(kScalars, {reals("cost", {2, 3}, cost), integers("pick", {3}, pick)});
    ASSERT_TRUE(packed->ok()) << packed->report();
    EXPECT_EQ(cells(*packed, 3), cells(*text, 3));
    EXPECT_EQ(cells(*packed, 4), cells(*text, 4));
    EXPECT_EQ(packed->values.decls[3].array->dims.size(), 2u);

    // Ints into a float array become the floats the text's ints become.
    auto widened = compiled(kScalars, {integers("cost", {2, 3}, whole_cost), integers("pick", {3}, pick)});
    ASSERT_TRUE(widened->ok()) << widened->report();
    EXPECT_EQ(cells(*widened, 3)[5], Value::real(-6.0));
    EXPECT_EQ(cells(*widened, 3)[5].kind, VKind::Float);
}

TEST(GivenArrays, AnythingTheTextWouldNotGiveAsItIsIsLeftToTheText) {
    std::vector<double> cost(6, 1.0), pick_reals{1, 0, 7};
    std::vector<int64_t> pick{1, 0, 7};
    std::vector<double> not_finite{1, 2, std::numeric_limits<double>::quiet_NaN(), 4, 5, 6};
    std::vector<double> infinite{1, 2, 3, 4, 5, -std::numeric_limits<double>::infinity()};
    std::vector<double> beyond{1, 2, 3, 4, 5, -1e20};
    struct Case {
        const char* why;
        std::string data;
        std::vector<GivenArray> given;
    };
    std::string with_pick = std::string(kScalars) + "pick = [1, 0, 7];\n";
    const Case cases[] = {
        {"wrong shape", with_pick, {reals("cost", {3, 2}, cost)}},
        {"too few dimensions", with_pick, {reals("cost", {6}, cost)}},
        {"floats for ints", kScalars, {reals("cost", {2, 3}, cost), reals("pick", {3}, pick_reals)}},
        {"NaN", with_pick, {reals("cost", {2, 3}, not_finite)}},
        {"infinity", with_pick, {reals("cost", {2, 3}, infinite)}},
        {"the solver's infinity", with_pick, {reals("cost", {2, 3}, beyond)}},
        {"given twice", with_pick + "cost = [[1, 1, 1], [1, 1, 1]];\n", {reals("cost", {2, 3}, cost)}},
        {"not declared", with_pick + "cost = [[1, 1, 1], [1, 1, 1]];\n", {reals("costs", {2, 3}, cost)}},
        {"a decision variable", with_pick + "cost = [[1, 1, 1], [1, 1, 1]];\n", {reals("x", {2, 3}, cost)}},
        {"a set", with_pick + "cost = [[1, 1, 1], [1, 1, 1]];\n", {integers("S", {3}, pick)}},
    };
    for (const Case& c : cases) {
        auto packed = compiled(c.data, c.given);
        EXPECT_TRUE(packed->given_misfit) << c.why;
        EXPECT_FALSE(packed->ok()) << c.why;
    }
    // An initializer in the model: the data text's error, not the packed numbers, decides.
    auto initialized =
        compile("float c[1..2] = [1, 2];\ndvar float x;\nminimize x;\nsubject to { x >= c[1]; }\n", "", [&] {
            CompileOptions o;
            o.given_arrays = {reals("c", {2}, cost)};
            return o;
        }());
    EXPECT_TRUE(initialized->given_misfit);
}

TEST(GivenArrays, CountAgainstTheNodeLimitOfTheTextTheyReplace) {
    std::vector<double> cost(6, 1.0);
    std::vector<int64_t> pick{1, 0, 7};
    CompileOptions options;
    options.given_arrays = {reals("cost", {2, 3}, cost), integers("pick", {3}, pick)};
    auto text_nodes = compile(kModel, kScalars)->ast.exprs.size();
    options.limits.max_nodes = text_nodes + 9;
    EXPECT_TRUE(compile(kModel, kScalars, options)->ok());
    options.limits.max_nodes = text_nodes + 8;  // one short of the nine numbers
    EXPECT_TRUE(compile(kModel, kScalars, options)->given_misfit);
}
