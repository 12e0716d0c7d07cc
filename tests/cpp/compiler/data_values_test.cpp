// Data written from values: arrays keyed by a range the model defines, and
// messages that name where in the given data a fault lies.
#include "compiler/data_values.hpp"
#include "compiler/compiler.hpp"
#include "compiler/packed_numbers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <variant>

using namespace tarvok;
using data::Value;

namespace {

const char* kModel =
    "int n = ...;\n"
    "range T = 1..n;\n"
    "{string} S = ...;\n"
    "float d[T] = ...;\n"
    "float c[S][T] = ...;\n";

Value keyed(std::vector<std::pair<std::string, Value>> members) { return Value::object(std::move(members)); }

std::string written(const Value& data) {
    auto out = data::data_from_json(kModel, data);
    return out.index() == 0 ? std::get<0>(out) : "error: " + std::get<1>(out);
}

}  // namespace

TEST(DataValues, ArraysKeyedByAModelRangeAreWrittenInItsOrder) {
    Value n = Value::of(int64_t{3});
    Value d = keyed({{"3", Value::of(7.5)}, {"1", Value::of(int64_t{5})}, {"2", Value::of(int64_t{1})}});
    Value s = Value::array({Value::of("a"), Value::of("b")});
    Value row = keyed({{"2", Value::of(int64_t{2})}, {"1", Value::of(int64_t{1})}, {"3", Value::of(int64_t{3})}});
    Value c = keyed({{"b", row}, {"a", row}});
    EXPECT_EQ(written(Value::object({{"n", n}, {"S", s}, {"d", d}, {"c", c}})),
              "n = 3;\nS = {\"a\", \"b\"};\nd = [5, 1, 7.5];\nc = [[1, 2, 3], [1, 2, 3]];\n");
    // A key outside the range, or one missing from it, is named with the range.
    Value outside = keyed({{"1", n}, {"2", n}, {"4", n}});
    EXPECT_EQ(written(Value::object({{"n", n}, {"d", outside}})), "error: data 'd': key '4' is not in T");
    Value missing = keyed({{"1", n}, {"3", n}});
    EXPECT_EQ(written(Value::object({{"n", n}, {"d", missing}})), "error: 'd' has no value for \"2\" of T");
    // Without the size of the range there are no keys to place values by.
    EXPECT_NE(written(Value::object({{"d", missing}})).find("keyed by the elements"), std::string::npos);
}

TEST(DataValues, APlaceOfTheWrittenTextLeadsBackToItsValueFileAndRow) {
    Value data = Value::object({{"n", Value::of(int64_t{2})},
                                {"S", Value::array({Value::of("a")})},
                                {"d", Value::array({Value::of(int64_t{4}), Value::of("x")})},
                                {"c", keyed({{"a", Value::array({Value::of(int64_t{1}), Value::of("y")})}})}});
    std::string text = written(data);
    ASSERT_EQ(text, "n = 2;\nS = {\"a\"};\nd = [4, \"x\"];\nc = [[1, \"y\"]];\n");
    auto path_at = [&](const std::string& needle) {
        auto path = data::data_path_at(kModel, data, text.find(needle));
        return path ? data::path_text(*path) : std::string("none");
    };
    EXPECT_EQ(path_at("\"x\""), "d[1]");
    EXPECT_EQ(path_at("\"y\""), "c[\"a\"][1]");
    EXPECT_EQ(path_at("[[1"), "c");
    EXPECT_EQ(path_at("S ="), "S");
    // Data given as a mapping in the host names the mapping first.
    auto mapping_at = [&](const std::string& needle) { return data::mapping_path_at(kModel, data, text.find(needle)); };
    EXPECT_EQ(mapping_at("\"y\""), "data[\"c\"][\"a\"][1]");
    EXPECT_EQ(mapping_at("S ="), "data[\"S\"]");
    EXPECT_EQ(data::mapping_path_at(kModel, data, text.size() + 100), "");

    data::DataSources sources;
    sources.base = 10;  // a data text of ten bytes came first
    sources.model_text = kModel;
    sources.values = data;
    sources.files = {{"d", "d.json"}, {"c", "t/c.csv"}};
    sources.rows["c"] = {{"[\"a\"][\"2\"]", "t/c.csv:3"}};
    auto source_at = [&](const std::string& needle) { return data::describe_source(sources, 10 + text.find(needle)); };
    EXPECT_EQ(source_at("\"x\""), "d.json: d[1]");
    EXPECT_EQ(data::describe_source(sources, 3), "");
    // A table names its row; a place within no row of it names the file.
    sources.values.members()[3].second = keyed({{"a", keyed({{"2", Value::of("y")}, {"1", Value::of(int64_t{1})}})}});
    text = written(sources.values);
    EXPECT_EQ(source_at("\"y\""), "t/c.csv:3");
    EXPECT_EQ(source_at("[[1"), "t/c.csv: c");
}

TEST(DataValues, DiagnosticsAtWrittenPlacesAreHeadedByTheirSource) {
    compiler::CompileOptions options;
    options.data_origin = [](uint32_t offset) { return offset >= 4 ? "d.json: d[1]" : ""; };
    std::string data = "n = \"two\";\n";
    auto c = compiler::compile("int n = ...;\n", data, options);
    ASSERT_FALSE(c->ok());
    EXPECT_EQ(c->report().rfind("d.json: d[1]: ", 0), 0u) << c->report();
    EXPECT_EQ(c->report().find("\"two\";"), std::string::npos);  // the written line is not shown
    compiler::FileNames names{"m.mod", "data", options.data_origin};
    std::string for_files = compiler::render_for_files(c->diagnostics, c->model_text, c->data_text, names);
    EXPECT_EQ(for_files.rfind("d.json: d[1]: error: ", 0), 0u) << for_files;
}

TEST(DataValues, AMappingIsWrittenWithTheNamerOfItsPlacesOrRefused) {
    Value n = Value::of(int64_t{2});
    auto out = data::write_mapping(kModel, Value::object({{"n", n}, {"d", Value::array({n, Value::of("x")})}}));
    ASSERT_EQ(out.index(), 0u);
    // The namer keeps its own copies: what was given is gone by now.
    const data::WrittenMapping& w = std::get<0>(out);
    EXPECT_EQ(w.text, "n = 2;\nd = [2, \"x\"];\n");
    EXPECT_EQ(w.origin(static_cast<uint32_t>(w.text.find("\"x\""))), "data[\"d\"][1]");
    EXPECT_EQ(w.origin(static_cast<uint32_t>(w.text.size() + 5)), "");
    auto refused = data::write_mapping(kModel, Value::object({{"n", n}, {"d", keyed({{"1", n}, {"4", n}})}}));
    ASSERT_EQ(refused.index(), 1u);
    EXPECT_EQ(std::get<1>(refused), "data 'd': key '4' is not in T");
}

namespace tarvok::data {
namespace {

TEST(PackedNumbers, ReadNumbersAsTheDataTextWouldAndRefuseWhatOnlyTheTextCanSpell) {
    PackedNumbers n;
    EXPECT_TRUE(n.enter_row(0, 2));
    EXPECT_TRUE(n.enter_row(1, 2));
    n.add_whole(1);
    n.add_whole(2);
    EXPECT_TRUE(n.is_int);
    EXPECT_TRUE(n.enter_row(1, 2));
    EXPECT_TRUE(n.add_real(0.5));  // from the first float on, every number is one
    n.add_whole(4);
    EXPECT_FALSE(n.is_int);
    EXPECT_TRUE(n.integers.empty());
    EXPECT_EQ(n.reals, (std::vector<double>{1, 2, 0.5, 4}));
    compiler::GivenArray given = n.given("cost");
    EXPECT_EQ(given.name, "cost");
    EXPECT_EQ(given.shape, (std::vector<uint64_t>{2, 2}));
    EXPECT_FALSE(given.is_int);
    EXPECT_EQ(given.reals, n.reals.data());
    EXPECT_FALSE(n.enter_row(1, 3));  // ragged
    EXPECT_FALSE(n.add_real(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(n.add_real(std::nan("")));
}

TEST(PackedNumbers, OnlyEightByteNumbersOfTheDeclaredDimensionsAreViewed) {
    EXPECT_EQ(packed_buffer_is_int("d", 2, 8, 2), false);
    EXPECT_EQ(packed_buffer_is_int("<q", 1, 8, 1), true);
    EXPECT_EQ(packed_buffer_is_int("@l", 1, 8, 1), true);
    EXPECT_EQ(packed_buffer_is_int("=d", 1, 8, 1), false);
    EXPECT_FALSE(packed_buffer_is_int(">d", 1, 8, 1));  // big-endian
    EXPECT_FALSE(packed_buffer_is_int("f", 1, 4, 1));
    EXPECT_FALSE(packed_buffer_is_int("i", 1, 8, 1));
    EXPECT_FALSE(packed_buffer_is_int("d", 1, 8, 2));
    std::map<std::string, Declared> declared =
        declared_names("{string} S = ...;\nint n = ...;\nfloat c[S][S] = ...;\n");
    EXPECT_EQ(packed_dimensions(declared, "c"), 2u);
    EXPECT_EQ(packed_dimensions(declared, "S"), 0u);
    EXPECT_EQ(packed_dimensions(declared, "n"), 0u);
    EXPECT_EQ(packed_dimensions(declared, "missing"), 0u);
}

}  // namespace
}  // namespace tarvok::data

TEST(DataValues, KeysNameElementsByTheirTypeAndTuplesByTheirFields) {
    using data::CellType;
    EXPECT_EQ(data::canonical_key("0.50", {CellType::Float}, false),
              data::canonical_key("0.5", {CellType::Float}, false));
    EXPECT_EQ(data::canonical_key("2.0", {CellType::Int}, false), "2");
    EXPECT_EQ(data::canonical_key("2.50", {CellType::String}, false), "2.50");  // a text stays as written
    EXPECT_EQ(data::canonical_key("<\"a,b\", 1.0>", {CellType::String, CellType::Int}, true),
              "a,b\x1f"
              "1");
    EXPECT_EQ(data::canonical_key("<a,b,1>", {CellType::String, CellType::Int}, true), "<a,b,1>");  // no such tuple
    const char* model =
        "tuple P { string s; int k; }\n{P} A = ...;\n{float} F = ...;\n{int} K = ...;\n{int} V = K;\n"
        "float c[A] = ...;\nfloat f[F] = ...;\nfloat v[V][F] = ...;\n";
    auto write = [&](Value data) {
        auto out = data::data_from_json(model, data);
        return out.index() == 0 ? std::get<0>(out) : "error: " + std::get<1>(out);
    };
    Value base = keyed({{"A", Value::array({Value::array({Value::of("a"), Value::of(int64_t{1})}),
                                            Value::array({Value::of("b"), Value::of(int64_t{2})})})},
                        {"F", Value::array({Value::of(0.5), Value::of(2.0)})},
                        {"K", Value::array({Value::of(int64_t{7})})}});
    Value data = base;
    // "<b, 2>" by text, <a,1> field by field as a Python tuple key is nested; fractional and model-defined keys.
    data.members().emplace_back(
        "c", keyed({{"<b, 2>", Value::of(int64_t{4})}, {"a", keyed({{"1", Value::of(int64_t{3})}})}}));
    data.members().emplace_back("f", keyed({{"2", Value::of(int64_t{6})}, {"0.50", Value::of(int64_t{5})}}));
    data.members().emplace_back(
        "v", keyed({{"7", keyed({{"0.5", Value::of(int64_t{1})}, {"2.0", Value::of(int64_t{2})}})}}));
    std::string text = write(data);
    EXPECT_NE(text.find("c = [3, 4];"), std::string::npos) << text;
    EXPECT_NE(text.find("f = [5, 6];"), std::string::npos) << text;
    EXPECT_NE(text.find("v = [[1, 2]];"), std::string::npos) << text;

    Value comma = base;  // a field with a comma, keyed by text and field by field alike
    comma.members()[0].second = Value::array({Value::array({Value::of("x,y"), Value::of(int64_t{1})})});
    comma.members().emplace_back("c", keyed({{"x,y", keyed({{"1", Value::of(int64_t{8})}})}}));
    EXPECT_NE(write(comma).find("c = [8];"), std::string::npos) << write(comma);
    comma.members().back().second = keyed({{"<\"x,y\", 1>", Value::of(int64_t{9})}});
    EXPECT_NE(write(comma).find("c = [9];"), std::string::npos) << write(comma);

    Value twice = base;
    twice.members().emplace_back("f", keyed({{"2", Value::of(int64_t{6})}, {"2.0", Value::of(int64_t{5})}}));
    EXPECT_EQ(write(twice), "error: data 'f' gives the element 2.0 of F twice");
    Value empty = base;
    empty.members()[2].second = Value::array();  // K, hence V, is empty: v holds nothing
    empty.members().emplace_back("v", keyed({}));
    EXPECT_NE(write(empty).find("v = [];"), std::string::npos);
}
