#include "cli/run_inputs.hpp"
#include "cli/command_options.hpp"
#include "cli/csv_cells.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <cctype>
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
    EXPECT_FALSE(refused_model_file_name("plan.LP"));
    EXPECT_EQ(refused_model_file_name("plan.txt"), "plan.txt ends in neither .mps nor .lp");
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

TEST(Summary, TheAnswerIsWrittenAsTheHostFormatsItToTwelveDigits) {
    // format(x, '.12g') in the host, for each of these.
    EXPECT_EQ(answer_text(tarvok::json::Value::of(3)), "3");
    EXPECT_EQ(answer_text(tarvok::json::Value::of(0.1 + 0.2)), "0.3");
    EXPECT_EQ(answer_text(tarvok::json::Value::of(1e20)), "1e+20");
    EXPECT_EQ(answer_text(tarvok::json::Value::of(-1234567.891234567)), "-1234567.89123");
    EXPECT_EQ(answer_text(tarvok::json::Value::of(1e-5)), "1e-05");
    EXPECT_EQ(answer_text(tarvok::json::Value::of(-std::nan(""))), "nan");
    EXPECT_EQ(answer_text(tarvok::json::Value()), std::nullopt);
    EXPECT_EQ(answer_text(tarvok::json::Value::of(true)), std::nullopt);  // a flag is no number to report
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

TEST(SolutionCsv, VariablesAreKeyedByTheirSetElementsAndFormulaCellsAreText) {
    auto text = [](std::string t) { return SolutionValue{.text = std::move(t)}; };
    auto nested = [](std::vector<std::pair<std::string, SolutionValue>> items) {
        return SolutionValue{.nested = true, .items = std::move(items)};
    };
    const std::string evil = "=cmd|' /C calc'!A0", safe = "'" + evil;
    // x[P][T] keyed by its elements, as the result labels it.
    SolutionValue x = nested({{evil, nested({{"1", text("1")}, {"2", text("-4")}})}});
    SolutionValue solved = nested({
        {"values", nested({{"x", x}, {"z", text("5")}})},
        {"duals", nested({{"c", nested({{evil, text("-1.5")}})}})},
        {"ranging",
         nested({{"costs", nested({{"x", nested({{evil, nested({{"1", nested({{"low", text("-inf")}})}})}})}})}})},
    });
    EXPECT_EQ(solution_csv_rows(solved), (Rows{{"x", safe, "1", "1"},
                                               {"x", safe, "2", "-4"},
                                               {"z", "5"},
                                               {"duals:c", safe, "-1.5"},
                                               {"ranging.costs:x", safe, "1", "low", "'-inf"}}));
    for (const char* runs : {"=1+1", "+A1", "-2+3", "@SUM(A1)", "\tx", "\rx", "-", "+.e1"})
        EXPECT_EQ(spreadsheet_text(runs), "'" + std::string(runs)) << runs;
    for (const char* stays : {"", "plain", "12", "-2.5", "+1e-3", "-.5", "5.", "a=b"})
        EXPECT_EQ(spreadsheet_text(stays), stays) << stays;
}

TEST(JsonData, AKeyGivenTwiceIsNamedWithBothPlaces) {
    EXPECT_EQ(json_key_twice("{\"cap\": 1,\n \"cost\": {\"a\": 1}}", "d.json"), std::nullopt);
    EXPECT_EQ(json_key_twice("{\"cap\": 1,\n \"c\\u0061p\": 2}", "d.json"),
              "data 'cap' is given twice: in d.json:1 and in d.json:2");
    // Inside a value: the path to the object, and keys of other objects are their own.
    EXPECT_EQ(json_key_twice("{\"cost\": {\"a\": {\"x\": 1}, \"b\": {\"x\": 2},\n\"b\": {}}}", "d.json"),
              "data 'cost' has the key \"b\" twice: in d.json:1 and in d.json:2");
    EXPECT_EQ(json_key_twice("{\"m\": [{\"k\": 1}, {\"k\": 1, \"k\": 2}], \"s\": \"{\\\"k\\\": 1}\"}", "d.json"),
              "data 'm[1]' has the key \"k\" twice: in d.json:1 and in d.json:1");
    EXPECT_EQ(json_key_twice("{\"m\": {\"\\ud83d\\ude00\": 1, \"\xf0\x9f\x98\x80\": 2}}", "d.json"),
              "data 'm' has the key \"\xf0\x9f\x98\x80\" twice: in d.json:1 and in d.json:1");
}

namespace {

const char* kModel = "{string} Items = ...;\nfloat cap = ...;\nfloat cost[Items][Items] = ...;\n";

/// Data files in a fresh folder; `at` names one as the command would be given it.
class DataFiles : public tarvok::testing::ScratchFolder {
  protected:
    std::string at(const std::string& name) const { return (root_ / name).string(); }
    std::string refusal(const std::vector<std::string>& names, const char* model = kModel) const {
        std::vector<std::string> paths;
        for (const std::string& name : names) paths.push_back(at(name));
        try {
            run_data(model, gather_data(paths, model));
        } catch (const Failure& failure) {
            return std::to_string(static_cast<int>(failure.status)) + " " + failure.message;
        }
        return "taken";
    }
};

}  // namespace

TEST_F(DataFiles, ReadsDatTextsJsonObjectsAndCsvFoldersInOrder) {
    write("a.dat", "cap = 3;");
    write("tables/Items.csv", "item\r\n a \r\n\r\n\"b\"\r\n");
    write("tables/cost.csv", "i,j,v\na,b,1.5\n2.0,b,4\n");
    write("tables/notes.txt", "not data");
    GatheredData data = gather_data({at("a.dat"), at("tables/")}, kModel);
    EXPECT_EQ(data.dat_text, "cap = 3;");
    EXPECT_EQ(data.inputs, (std::vector<std::string>{at("a.dat"), at("tables/Items.csv"), at("tables/cost.csv")}));
    ASSERT_EQ(data.values.members().size(), 2u);
    const tarvok::data::Value& items = data.values.members()[0].second;
    EXPECT_EQ(items.items()[0].text(), "a");  // blanks around a cell are trimmed
    const tarvok::data::Value& cost = data.values.members()[1].second;
    ASSERT_NE(cost.find("2.0"), nullptr);  // a key over a {string} set is its text
    EXPECT_EQ(cost.find("a")->find("b")->number(), 1.5);
    EXPECT_EQ(data.rows.find("cost")->find("[\"2.0\"][\"b\"]")->text(), at("tables/cost.csv") + ":3");
    EXPECT_EQ(data.rows.find("Items")->find("[1]")->text(), at("tables/Items.csv") + ":4");  // the empty row counts

    // A name that is not UTF-8 is carried as the host's text carries it (U+DCFF for the byte 0xff) and read back.
    write("odd\xff/cap.csv", "cap\n2\n");
    data = gather_data({at("odd\xed\xb3\xbf")}, kModel);
    EXPECT_EQ(data.inputs, (std::vector<std::string>{at("odd\xed\xb3\xbf/cap.csv")}));
    EXPECT_EQ(data.values.find("cap")->integer(), 2);
}

TEST_F(DataFiles, RefusalsSayTheFileAndTheirStatus) {
    write("a.json", "{\"cap\": 3}");
    write("b.json", "{\"cap\": 3}");
    write("list.json", "[]");
    write("bad.json", "{\"cap\":\n 3,}");
    write("twice.json", "{\"cap\": 3,\n\"cap\": 4}");
    EXPECT_NE(refusal({"a.json", "b.json"}).find("1 data 'cap' is given twice"), std::string::npos);
    EXPECT_EQ(refusal({"list.json"}), "1 " + at("list.json") + ": the data must be a JSON object");
    EXPECT_EQ(refusal({"bad.json"}), "1 " + at("bad.json") + ":2:4: expected a member name in double quotes");
    EXPECT_EQ(refusal({"twice.json"}),
              "1 data 'cap' is given twice: in " + at("twice.json") + ":1 and in " + at("twice.json") + ":2");
    EXPECT_EQ(refusal({"none.dat"}), "2 cannot read " + at("none.dat") + ": No such file or directory");
    write("latin.dat", "cap = 3; // \xe9\n");
    EXPECT_EQ(refusal({"latin.dat"}),
              "2 cannot read " + at("latin.dat") + ": not UTF-8: byte 0xe9 at line 1, column 13");
    write("t/cost.csv", "i,j,v\n1,b,1\n 1,b,2\n");
    EXPECT_EQ(refusal({"t"}), "1 " + repeated_key(at("t/cost.csv"), 3, "cost"));  // blanks aside, one key
    write("r/cap.csv", "v\n1\r2\n");
    EXPECT_EQ(refusal({"r"}), "1 " + at("r/cap.csv") + ":2: new-line character seen in unquoted field");
}

TEST_F(DataFiles, ValuesFollowTheDatTextsAndNameTheirFiles) {
    using tarvok::data::Value;
    write("a.dat", "Items = {\"a\"};");
    write("v.json", "{\"cap\": 3}");
    EXPECT_EQ(run_data(kModel, gather_data({at("a.dat")}, kModel)).sources, std::nullopt);

    RunData both = run_data(kModel, gather_data({at("a.dat"), at("v.json")}, kModel));
    ASSERT_TRUE(both.sources);
    const Value* base = both.sources->find("base");
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(both.text.substr(0, base->integer()), "Items = {\"a\"};\n");  // the values start a line of their own
    EXPECT_NE(both.text.find("cap", base->integer()), std::string::npos);
    EXPECT_EQ(both.sources->find("files")->find("cap")->text(), at("v.json"));
    EXPECT_NE(both.sources->find("values")->find("cap"), nullptr);
    EXPECT_NE(both.sources->find("rows"), nullptr);
}

TEST_F(DataFiles, ValuesTheModelCannotTakeFailAtTheirFileAndTooDeepOnesFirst) {
    auto nested = [](std::size_t levels) { return std::string(levels, '[') + "1" + std::string(levels, ']'); };
    write("null.json", "{\"cap\": null}");
    write("63.json", "{\"cap\": " + nested(63) + "}");
    write("64.json", "{\"cap\": " + nested(64) + "}");
    EXPECT_EQ(refusal({"null.json"}), "1 " + at("null.json") + ": 'cap' holds a null");
    // A name's value is at depth 1: 63 lists around a number stay within the 64 levels.
    EXPECT_EQ(refusal({"63.json"}).rfind("1 " + at("63.json") + ": ", 0), 0u);
    EXPECT_EQ(refusal({"64.json"}), "1 " + tarvok::data::too_deep_message());
}

TEST(SolverFigures, StatisticsReadFromThePlainValuesAndRecordsNamedByTheirFile) {
    using tarvok::data::Value;
    // What the host writes for each scalar is its str(), which json::str gives.
    auto scalar = [](Value v, const std::string& text) {
        EXPECT_EQ(tarvok::json::str(v), text);
        return v;
    };
    Value stats = Value::object({{"columns", scalar(Value::of(int64_t{3}), "3")},
                                 {"rows", scalar(Value::of(int64_t{1}), "1")},
                                 {"mip_gap", scalar(Value::null(), "None")},
                                 {"solve_seconds", scalar(Value::of(0.25), "0.25")}});
    EXPECT_EQ(statistics_line(stats), "columns 3, rows 1, mip_gap None, solve_seconds 0.25");
    EXPECT_EQ(sizes_and_times(stats), sizes_and_times(SizesAndTimes{"3", "", "1", "", 0, 0, 0.25}));

    Value model_record = Value::object({{"file", Value::of("model")}, {"path", Value::of("stale")}});
    Value data_record = Value::object({{"file", Value::of("data")}});
    Value records = records_with_paths(Value::array({model_record, data_record}), "m.mod", std::nullopt);
    EXPECT_EQ(records.items()[0].members().size(), 2u);  // the old path replaced where it stood
    EXPECT_EQ(records.items()[0].find("path")->text(), "m.mod");
    EXPECT_EQ(records.items()[1].find("path")->kind(), Value::Kind::Null);  // data merged from several files
    records = records_with_paths(Value::array({data_record}), "m.mod", "m.dat");
    EXPECT_EQ(records.items()[0].find("path")->text(), "m.dat");
}

TEST(SolutionCsv, PlainValuesReadAsTheHostsDictionary) {
    using tarvok::data::Value;
    Value one = Value::of(int64_t{1});
    Value solved = Value::object({{"objective", one},
                                  {"values", Value::object({{"x", Value::array({one, Value::null()})}})},
                                  {"duals", Value::null()}});
    using Rows = std::vector<std::vector<std::string>>;
    EXPECT_EQ(solution_csv_rows(solution_of(solved)), (Rows{{"objective", "1"}, {"x", "0", "1"}, {"x", "1", ""}}));
}

TEST_F(DataFiles, CellsAreReadAsTheDeclarationOfWhatTheyFill) {
    const char* model = "{string} P = ...;\nboolean open[P] = ...;\nint size[P] = ...;\n";
    write("t/P.csv", "p\n1\n2.50\n");
    write("t/open.csv", "p,open\n1,TRUE\n2.50,false\n");
    write("t/size.csv", "p,size\n1,3\n2.50,4\n");
    GatheredData data = gather_data({at("t")}, model);
    const tarvok::data::Value& elements = data.values.find("P")->items()[1];
    EXPECT_EQ(elements.kind(), tarvok::data::Value::Kind::String);  // a string set's element, though it looks a number
    EXPECT_EQ(elements.text(), "2.50");
    const tarvok::data::Value* open = data.values.find("open")->find("2.50");
    ASSERT_NE(open, nullptr);  // the key as written, not the number 2.5
    EXPECT_EQ(open->kind(), tarvok::data::Value::Kind::Boolean);
    EXPECT_TRUE(data.values.find("open")->find("1")->boolean());
    EXPECT_EQ(data.values.find("size")->find("1")->integer(), 3);
}

TEST(CsvCells, RowsSplitAsTheHostsCsvReaderSplitsThem) {
    // Each expectation is what the host's csv.reader gave for the text.
    const std::vector<std::pair<std::string, Rows>> cases = {
        {"a,b", {{"a", "b"}}},
        {"a\n\nb\n", {{"a"}, {}, {"b"}}},
        {"a\r\n\r\nb", {{"a"}, {}, {"b"}}},
        {"\"x,y\",z\r\n", {{"x,y", "z"}}},
        {"\"a\"\"b\",c\n", {{"a\"b", "c"}}},
        {"\"multi\nline\",2\n", {{"multi\nline", "2"}}},
        {"\"q\r\n\"\n", {{"q\r\n"}}},
        {",\n\"\",\n", {{"", ""}, {"", ""}}},
        {"a\"b,\"a\"b,\"a\" ,c\n", {{"a\"b", "ab", "a ", "c"}}},
        {" \"a\",x\r", {{" \"a\"", "x"}}},
        {"\"unclosed\nx", {{"unclosed\nx"}}},
        {"", {}},
    };
    for (const auto& [text, rows] : cases) EXPECT_EQ(csv_rows(text, "t.csv"), rows) << text;
    EXPECT_EQ(csv_rows(std::string(131072, 'x'), "t.csv")[0][0].size(), 131072u);
    try {
        csv_rows("a\n" + std::string(131073, 'x'), "t.csv");
        ADD_FAILURE() << "a field beyond the limit was taken";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message, "t.csv:2: field larger than field limit (131072)");
    }
}

TEST(CsvCells, CellsAreNumbersExactlyWhenTheHostsIntOrFloatTakesThem) {
    using tarvok::data::Value;
    // Each expectation is the host's repr of int(cell), else of float(cell); "" when neither takes the cell.
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1_000", "1000"}, {"+5", "5"}, {"-0", "0"}, {"007", "7"}, {"\xd9\xa3", "3"}, {"\xef\xbc\x95", "5"},
        {"5\n", "5"}, {"\xc2\xa0" "5", "5"}, {"12345678901234567890123", "12345678901234567890123"},
        {"1e5", "100000.0"}, {".5", "0.5"}, {"5.", "5.0"}, {"1.e5", "100000.0"}, {"1E+5", "100000.0"},
        {"1_0.5", "10.5"}, {"1e1_0", "10000000000.0"}, {"\xd9\xa3.\xd9\xa5", "3.5"}, {"inf", "inf"},
        {"-Infinity", "-inf"}, {"nAn", "nan"}, {"+nan", "nan"}, {"1e400", "inf"}, {"-1e400", "-inf"},
        {"1e-400", "0.0"}, {"-1e-400", "-0.0"}, {"0.0001e-320", "0.0"}, {"1000e306", "inf"},
        {"1__0", ""}, {"_1", ""}, {"1_", ""}, {"1._5", ""}, {"1_.5", ""}, {"1e_1", ""}, {".e5", ""}, {".", ""},
        {"e5", ""}, {"0x10", ""}, {"infin", ""}, {"1,5", ""}, {"--1", ""}, {"1e", ""}, {"\x1c" "5", ""},
        {"1 0", ""}, {"", ""}};
    // clang-format on
    for (const auto& [cell, repr] : cases) {
        Value v = cell_value(cell);
        if (repr.empty()) {
            EXPECT_EQ(v, Value::of(cell)) << cell;
        } else {
            EXPECT_TRUE(v.is_numeric()) << cell;
            EXPECT_EQ(v.kind() == Value::Kind::Integer ? tarvok::json::str(v) : tarvok::json::float_repr(v.number()),
                      repr)
                << cell;
        }
    }
    EXPECT_EQ(cell_value(std::string(4300, '9')).kind(), Value::Kind::Integer);
    EXPECT_EQ(cell_value(std::string(4301, '9')).number(), std::numeric_limits<double>::infinity());  // int()'s limit
}
