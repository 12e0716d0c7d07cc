// Reading a generator's attributes back: the order, the sizes that must agree
// and what the values mean (None bounds, negated costs).
#include "scipy_emitter/generator_attributes.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

using namespace tarvok::scipy_emitter;

namespace {

/// Attributes held as plain values; records what was asked for, in order.
struct FakeAttributes final : GeneratorAttributes {
    std::map<std::string, std::vector<double>> numbers;
    std::map<std::string, std::vector<std::string>> texts;
    std::vector<std::optional<BoundSides>> bounds;
    std::map<std::string, SparseRows> matrices;
    std::string sense = "minimize";
    std::vector<std::string> asked;
    std::string current;

    size_t length(const char* attribute) override { return texts.at(attribute).size(); }
    size_t open(const char* attribute) override {
        asked.push_back(current = attribute);
        if (current == "bounds") return bounds.size();
        return texts.count(current) ? texts.at(current).size() : numbers.at(current).size();
    }
    double number(size_t k) override { return numbers.at(current).at(k); }
    std::string text(size_t k) override { return texts.at(current).at(k); }
    bool flag(size_t k) override { return numbers.at(current).at(k) != 0; }
    std::optional<BoundSides> sides(size_t k) override { return bounds.at(k); }
    SparseRows matrix(const char* attribute, size_t) override {
        asked.push_back(attribute);
        return matrices[attribute];
    }
    double scalar(const char* attribute) override {
        asked.push_back(attribute);
        return 2.5;
    }
    uint64_t count(const char* attribute) override {
        asked.push_back(attribute);
        return 7;
    }
    bool holds(const char* attribute, std::string_view text) override {
        asked.push_back(attribute);
        return sense == text;
    }
};

/// Two columns, one <= row and no equations, as the build steps would leave them.
FakeAttributes two_columns() {
    FakeAttributes a;
    a.texts = {{"var_names", {"x", "y"}}, {"ub_names", {"cap"}}, {"eq_names", {}}};
    a.numbers = {{"integrality", {0, 1}}, {"c", {3, -1}}, {"b_ub", {4}}, {"b_eq", {}}};
    a.bounds = {BoundSides{std::nullopt, 3.0}, BoundSides{0.0, std::nullopt}};
    std::vector<std::pair<int32_t, double>> row{{0, 1}, {1, 1}};
    a.matrices["A_ub"].add_row(row);
    return a;
}

const tarvok::solver::Program& empty_program() {
    static auto program = tarvok::solver::instantiate("dvar float x; dvar float y; minimize x + y;", "");
    return *program;
}

std::string fault_of(FakeAttributes& a) {
    try {
        read_script_input(empty_program(), a);
    } catch (const AttributeFault& fault) {
        return fault.what();
    }
    return "";
}

}  // namespace

TEST(GeneratorAttributes, ReadsInOrderAndMeansWhatTheBuildStepsMeant) {
    FakeAttributes a = two_columns();
    ScriptInput in = read_script_input(empty_program(), a);
    EXPECT_EQ(a.asked,
              (std::vector<std::string>{"var_names", "bounds", "integrality", "objective_sense", "objective_offset",
                                        "c", "A_ub", "b_ub", "ub_names", "A_eq", "b_eq", "eq_names", "inline_limit"}));
    EXPECT_EQ(in.column_names, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(in.lower, (std::vector<double>{-INFINITY, 0}));  // None: no bound
    EXPECT_EQ(in.upper, (std::vector<double>{3, INFINITY}));
    EXPECT_EQ(in.integer, (std::vector<uint8_t>{0, 1}));
    EXPECT_EQ(in.cost, (std::vector<double>{3, -1}));
    EXPECT_EQ(in.offset, 2.5);
    EXPECT_EQ(in.inline_limit, 7u);
    EXPECT_EQ(in.a_eq.rows(), 0u);

    a = two_columns();
    a.sense = "maximize";  // c holds the negated costs; the script states the model's own
    EXPECT_EQ(read_script_input(empty_program(), a).cost, (std::vector<double>{-3, 1}));
}

TEST(GeneratorAttributes, SizesMustAgree) {
    FakeAttributes a = two_columns();
    a.numbers["c"].push_back(0);
    EXPECT_EQ(fault_of(a), "c has 3 entries; var_names has 2");

    a = two_columns();
    a.numbers["b_ub"].push_back(1);  // rows follow A_ub, not var_names
    EXPECT_EQ(fault_of(a).rfind("b_ub has 2 entries;", 0), 0u);

    a = two_columns();
    a.texts["ub_names"].clear();
    EXPECT_EQ(fault_of(a), "ub_names has 0 entries; var_names has 1");

    a = two_columns();
    a.bounds[1].reset();
    EXPECT_EQ(fault_of(a), "bounds[1] is not a (lower, upper) pair");

    EXPECT_THROW(check_width("A_eq", 3, 2), AttributeFault);
    EXPECT_NO_THROW(check_width("A_eq", 2, 2));
    EXPECT_THROW(check_dimensions("A_ub", 1), AttributeFault);
    EXPECT_NO_THROW(check_dimensions("A_ub", 2));
}
