#include "cli/run_inputs.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace tarvok::cli;
using Rows = std::vector<std::vector<std::string>>;

namespace {

const std::map<std::string, tarvok::data::Declared> kDeclared = {
    {"Items", {.is_set = true}},
    {"cap", {.is_set = false, .dims = 0}},
    {"cost", {.is_set = false, .dims = 2}},
};

}  // namespace

TEST(CsvTable, EachDeclarationReadsItsRowsAndSkipsBlankOnes) {
    CsvTable set = read_csv_table("d/Items.csv", "Items", kDeclared, Rows{{"item"}, {"a"}, {}, {"b", "2"}});
    EXPECT_EQ(set.error, "");
    ASSERT_EQ(set.entries.size(), 2u);
    EXPECT_EQ(set.entries[1].line, 4u);  // the blank row still counts as a line
    EXPECT_EQ(set.entries[1].cells, (std::vector<std::string>{"b", "2"}));

    CsvTable cost = read_csv_table("d/cost.csv", "cost", kDeclared, Rows{{"i", "j", "v"}, {"a", "b", "3"}});
    EXPECT_EQ(cost.error, "");
    EXPECT_EQ(cost.dims, 2u);
    EXPECT_EQ(cost.entries.size(), 1u);
}

TEST(CsvTable, RefusalsNameTheFileLineAndName) {
    EXPECT_EQ(read_csv_table("d/x.csv", "x", kDeclared, Rows{}).error,
              "d/x.csv:1: the model declares no set or parameter 'x'");
    CsvTable short_row = read_csv_table("d/cost.csv", "cost", kDeclared, Rows{{"h"}, {"a", "b", "1"}, {"a", "2"}});
    EXPECT_EQ(short_row.error, "d/cost.csv:3: 'cost' takes 2 index column(s) and a value, but the row has 2 column(s)");
    EXPECT_EQ(short_row.entries.size(), 1u);  // the rows before the fault are still there to check
    EXPECT_EQ(read_csv_table("d/cap.csv", "cap", kDeclared, Rows{{"v"}, {"1"}, {"2"}}).error,
              "d/cap.csv:3: 'cap' takes one value");
    EXPECT_EQ(read_csv_table("d/cap.csv", "cap", kDeclared, Rows{{"v"}}).error, "d/cap.csv: 'cap' has no value");
    EXPECT_EQ(repeated_key("d/cost.csv", 4, "cost"), "d/cost.csv:4: 'cost' has this key twice");
}

TEST(DataOrigins, ASecondSourceIsRefusedAndMessagesGoToTheirFile) {
    DataOrigins origins;
    EXPECT_FALSE(origins.add("cap", "a.json"));
    EXPECT_EQ(origins.add("cap", "d/cap.csv"), "data 'cap' is given twice: in a.json and in d/cap.csv");
    EXPECT_EQ(origins.placed("'cap' must be a number"), "a.json: 'cap' must be a number");
    EXPECT_EQ(origins.placed("'capacity' is missing"), "'capacity' is missing");
}

TEST(RunOptions, RefusedValuesNameTheOption) {
    EXPECT_FALSE(refused_solve_option({}));
    EXPECT_EQ(refused_solve_option({.time_limit = 0.0, .time_limit_shown = "0"}),
              "--time-limit must be a number of seconds greater than 0, not 0");
    EXPECT_TRUE(refused_solve_option({.time_limit = std::nan(""), .time_limit_shown = "nan"}));
    EXPECT_TRUE(refused_solve_option({.mip_gap = INFINITY, .mip_gap_shown = "inf"}));
    EXPECT_FALSE(refused_solve_option({.mip_gap = 0.0}));
    EXPECT_TRUE(refused_solve_option({.threads = 65537, .threads_shown = "65537"}));
    EXPECT_FALSE(refused_solve_option({.threads = 65536}));
    EXPECT_TRUE(refused_solve_option({.threads = 0}));
    // Ranging is HiGHS's alone; duals are every solver's.
    EXPECT_EQ(refused_solve_option({.solver = "scip", .ranging = true}),
              "--sensitivity needs --solver highs (scip gives no ranging); --duals works with every solver");
    EXPECT_FALSE(refused_solve_option({.solver = "scip"}));
    EXPECT_FALSE(refused_solve_option({.ranging = true}));
}

TEST(RunPaths, SuffixesDecideTheFormIgnoringCase) {
    EXPECT_EQ(data_source("x.JSON", false), DataSource::JsonObject);
    EXPECT_EQ(data_source("x.json", true), DataSource::CsvFolder);
    EXPECT_EQ(data_source("json", false), DataSource::DatText);
    EXPECT_FALSE(refused_solution_name("out.CSV"));
    EXPECT_EQ(refused_solution_name("out.txt"), "--solution writes FILE.json or FILE.csv, not out.txt");
    EXPECT_EQ(csv_data_name("cost.csv"), "cost");
    EXPECT_FALSE(csv_data_name(".csv"));
    EXPECT_FALSE(csv_data_name("cost.CSV"));  // a folder's files are named exactly
    std::string text = "a = 1;";
    append_on_new_line(text, "b = 2;");
    EXPECT_EQ(text, "a = 1;\nb = 2;");
}

TEST(SizesAndTimes, CountsAgreeWithTheirNouns) {
    EXPECT_EQ(sizes_and_times({"1", "0", "2", "1", 0.0014, 0, 0.012}),
              "1 column, 2 rows, 1 nonzero; compile 0.001 s, expansion 0.000 s, solve 0.012 s");
    EXPECT_EQ(sizes_and_times({"3", "1", "1", "4"}).substr(0, 38), "3 columns (1 integer), 1 row, 4 nonzer");
}

TEST(Summary, TheAnswerStandsBesideTheObjective) {
    std::string summary = "Status: optimal\nObjective: 12\nx = 3\n\n";
    EXPECT_EQ(summary_with_answer(summary, std::nullopt), "Status: optimal\nObjective: 12\nx = 3");
    EXPECT_EQ(summary_with_answer(summary, "3"), "Status: optimal\nObjective: 12\nAnswer: 3\nx = 3");
    EXPECT_EQ(summary_with_answer("Status: optimal\nObjective: 12", "3"), "Status: optimal\nObjective: 12\nAnswer: 3");
    // Without an objective line (an infeasible model) there is nothing to stand beside.
    EXPECT_EQ(summary_with_answer("Status: infeasible\n", "3"), "Status: infeasible");
}

TEST(SolutionCsv, ARowPerValueWithItsKeysThenTheFigures) {
    auto text = [](std::string t) { return SolutionValue{.text = std::move(t)}; };
    auto table = [](std::vector<std::pair<std::string, SolutionValue>> items) {
        return SolutionValue{.nested = true, .items = std::move(items)};
    };
    SolutionValue none{.none = true};
    SolutionValue solved = table({
        {"status", text("optimal")},
        {"objective", text("12.5")},
        {"values", table({{"x", table({{"a", table({{"0", text("1")}, {"1", none}})}})}, {"y", text("2")}})},
        {"sensitivity_basis", none},
        {"duals", table({{"meet", text("-1.5")}})},
        {"reduced_costs", none},
        {"ranging", table({{"costs", table({{"buy", table({{"low", text("1")}})}})}, {"rhs", none}})},
    });
    using Rows = std::vector<std::vector<std::string>>;
    EXPECT_EQ(solution_csv_rows(solved), (Rows{{"objective", "12.5"},
                                               {"x", "a", "0", "1"},
                                               {"x", "a", "1", ""},
                                               {"y", "2"},
                                               {"duals:meet", "-1.5"},
                                               {"ranging.costs:buy", "low", "1"}}));
}
