#include "mcp_server/tools.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include <string>

using namespace tarvok::mcp_server;

namespace {

using Members = std::vector<std::pair<std::string, Value>>;

const char* kModel =
    "{string} Cities = ...;\n"
    "tuple Arc { string from; string to; float cost; }\n"
    "{Arc} Arcs = ...;\n"
    "float demand[Cities] = ...;\n"
    "int n = ...;\n"
    "float dist[1..2][1..2] = ...;\n"
    "Arc main = ...;\n"
    "float road[Cities][Cities] = ...;\n"
    "dvar float+ ship[Arcs];\n"
    "minimize sum(a in Arcs) a.cost * ship[a];\n";

std::string written(const Value& data) {
    auto out = data_from_json(kModel, data);
    EXPECT_EQ(out.index(), 0u) << std::get<1>(out);
    return out.index() == 0 ? std::get<0>(out) : "";
}

std::string refused(const Value& data) {
    auto out = data_from_json(kModel, data);
    EXPECT_EQ(out.index(), 1u) << std::get<0>(out);
    return out.index() == 1 ? std::get<1>(out) : "";
}

Parsed parsed(std::string_view tool, Members arguments) {
    return parse_request(*tool_named(tool), Value::object(std::move(arguments)));
}

TEST(DataFromJson, WritesEachKindAsTheModelDeclaresIt) {
    Value data = Value::object({
        {"Cities", Value::array({Value::of("A"), Value::of("B \"north\"\n")})},
        {"Arcs",
         Value::array({Value::object({{"cost", Value::of(2.5)}, {"to", Value::of("B")}, {"from", Value::of("A")}}),
                       Value::array({Value::of("B"), Value::of("A"), Value::of(int64_t{3})})})},
        {"demand", Value::array({Value::of(int64_t{-4}), Value::of(9.223372036854776e18)})},
        {"n", Value::of(int64_t{7})},
        {"dist", Value::array({Value::array({Value::of(1e300), Value::of(true)}),
                               Value::array({Value::of(false), Value::of(int64_t{0})})})},
        {"main", Value::object({{"from", Value::of("A")}, {"to", Value::of("B")}, {"cost", Value::of(1.0)}})},
    });
    EXPECT_EQ(written(data),
              "Cities = {\"A\", \"B \\\"north\\\"\\n\"};\n"
              "Arcs = {<\"A\", \"B\", 2.5>, <\"B\", \"A\", 3>};\n"
              "demand = [-4, 9223372036854775808.0];\n"
              "n = 7;\n"
              "dist = [[1e+300, true], [false, 0]];\n"
              "main = <\"A\", \"B\", 1.0>;\n");
}

TEST(DataFromJson, RefusesWhatWouldNotBeData) {
    // A key is a name, never text spliced into the data.
    EXPECT_EQ(refused(Value::object({{"n = 1; Cities", Value::of(int64_t{1})}})), "'n = 1; Cities' is not a name");
    EXPECT_EQ(refused(Value::object({{"", Value::of(int64_t{1})}})), "'' is not a name");
    EXPECT_EQ(refused(Value::object({{"Cities", Value::of("A")}})),
              "'Cities' is a set; give its elements as a list, not a string");
    EXPECT_EQ(refused(Value::object({{"demand", Value::object({{"A", Value::of(int64_t{1})}})}})),
              "'demand' is an array; give its values as a list in the order of its index set, or as an object "
              "keyed by the elements of a set this data lists or a range the model defines");
    EXPECT_EQ(refused(Value::object({{"n", Value::null()}})), "'n' holds a null");
    EXPECT_EQ(refused(Value::object({{"n", Value::of(std::nan(""))}})), "'n' holds a number that is not finite");
    EXPECT_EQ(refused(Value::object({{"n", Value::array({Value::of(int64_t{1})})}})),
              "'n' has a list where a single value belongs");
    EXPECT_EQ(refused(Value::object({{"Arcs", Value::array({Value::object({{"from", Value::of("A")}})})}})),
              "'Arcs': a tuple lacks its field 'to'");
    EXPECT_EQ(refused(Value::object({{"main", Value::object({{"via", Value::of("C")}})}})),
              "'main': the tuple has no field 'via'");
    EXPECT_EQ(refused(Value::object({{"other", Value::object({})}})),
              "the model declares no 'other' to take an object");
    EXPECT_EQ(refused(Value::array({})), "the data must be an object");
}

TEST(DataFromJson, AnArrayKeyedByItsSetFollowsTheOrderTheDataListsIt) {
    auto pairs = [](std::vector<std::pair<std::string, int64_t>> given) {
        Members members;
        for (auto& [k, v] : given) members.emplace_back(k, Value::of(v));
        return Value::object(std::move(members));
    };
    Value cities = Value::array({Value::of("B"), Value::of("A")});
    EXPECT_EQ(written(Value::object(
                  {{"Cities", cities},
                   {"demand", pairs({{"A", 1}, {"B", 2}})},
                   {"road", Value::object({{"A", pairs({{"A", 0}, {"B", 5}})}, {"B", pairs({{"B", 0}, {"A", 4}})}})}})),
              "Cities = {\"B\", \"A\"};\ndemand = [2, 1];\nroad = [[0, 4], [5, 0]];\n");
    EXPECT_EQ(refused(Value::object({{"Cities", cities}, {"demand", pairs({{"A", 1}})}})),
              "'demand' has no value for \"B\" of Cities");
    EXPECT_EQ(refused(Value::object({{"Cities", cities}, {"demand", pairs({{"A", 1}, {"B", 2}, {"C", 3}})}})),
              "data 'demand': key 'C' is not in Cities");
    // A dimension written as a..b is keyed by its numbers.
    EXPECT_EQ(refused(Value::object({{"dist", pairs({{"1", 1}})}})),
              "'dist' has no value for \"2\" of its index range");
}

TEST(DataFromJson, DeepNestingIsRefusedNotRecursedInto) {
    Value deep = Value::of(int64_t{1});
    for (int i = 0; i < 1000; ++i) deep = Value::array({std::move(deep)});
    EXPECT_EQ(refused(Value::object({{"extra", deep}})), "'extra' nests more than 64");
    EXPECT_EQ(refused(Value::object({{"dist", deep}})), "'dist' has a list where a single value belongs");
    // An undeclared name is written as given, for the compiler to report.
    EXPECT_EQ(written(Value::object({{"extra", Value::array({Value::of(int64_t{1})})}})), "extra = [1];\n");
}

TEST(ParseRequest, TakesEachToolsArguments) {
    Parsed run = parsed("run_model", {{"model", Value::of(kModel)},
                                      {"data", Value::of("n = 1;")},
                                      {"time_limit", Value::of(int64_t{5})},
                                      {"mip_gap", Value::of(0.0)},
                                      {"sensitivity", Value::of(true)}});
    ASSERT_TRUE(run.request) << run.error;
    const auto& r = std::get<RunRequest>(*run.request);
    EXPECT_EQ(r.pair.data, "n = 1;");
    EXPECT_FALSE(r.pair.data_from_json);
    EXPECT_EQ(r.time_limit, 5.0);
    EXPECT_EQ(r.mip_gap, 0.0);
    EXPECT_TRUE(r.sensitivity);

    Parsed check = parsed("check_model", {{"model", Value::of(kModel)}, {"data", Value::null()}});
    ASSERT_TRUE(check.request) << check.error;
    EXPECT_EQ(std::get<CheckRequest>(*check.request).pair.data, "");

    Parsed json =
        parsed("emit_script", {{"model", Value::of(kModel)}, {"data", Value::object({{"n", Value::of(int64_t{2})}})}});
    ASSERT_TRUE(json.request) << json.error;
    EXPECT_TRUE(std::get<EmitRequest>(*json.request).pair.data_from_json);
    EXPECT_EQ(std::get<EmitRequest>(*json.request).pair.data, "n = 2;\n");

    Parsed examples = parsed("find_examples", {{"description", Value::of("ship cement")}});
    ASSERT_TRUE(examples.request);
    EXPECT_EQ(std::get<ExamplesRequest>(*examples.request).k, kDefaultExamples);

    Parsed generate =
        parse_request(*tool_named("generate_model"), Value::object({{"description", Value::of("plan")},
                                                                    {"iterations", Value::of(3.0)},
                                                                    {"execution_check", Value::of(false)}}));
    ASSERT_TRUE(generate.request) << generate.error;
    const auto& g = std::get<GenerateRequest>(*generate.request);
    EXPECT_EQ(g.iterations, 3);
    EXPECT_EQ(g.execution_check, false);
    EXPECT_FALSE(g.provider);
}

TEST(ParseRequest, ArgumentsReadAsTheHostWroteThem) {
    auto arguments_in = [](const std::string& text) { return arguments_of(tarvok::json::parse(text)); };
    Value v = arguments_in(R"({"k": 3, "big": 9223372036854775808, "x": 2.0, "huge": 1e999, "gap": NaN,)"
                           R"( "s": "caf\u00e9 \ud800", "l": [true, null, -0]})");
    EXPECT_EQ(v.find("k")->kind(), Value::Kind::Integer);
    EXPECT_EQ(v.find("big")->kind(), Value::Kind::Number) << "past 64 bits a whole number is a float";
    EXPECT_EQ(v.find("x")->kind(), Value::Kind::Number) << "2.0 stays a float";
    EXPECT_TRUE(std::isinf(v.find("huge")->number()));
    EXPECT_TRUE(std::isnan(v.find("gap")->number()));
    EXPECT_EQ(v.find("s")->text(), "caf\xc3\xa9 \xed\xa0\x80") << "a lone surrogate as the host carries it";
    EXPECT_EQ(v.find("l")->items().at(2).kind(), Value::Kind::Integer);

    auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_NO_THROW(arguments_in(nested(2 * kMaxDataDepth + 1)));
    for (std::size_t depth : {2 * kMaxDataDepth + 2, std::size_t{5000}})
        EXPECT_THROW(arguments_in(nested(depth)), std::runtime_error) << depth;
}

TEST(ParseRequest, ARunAsksTheSolverOnlyForWhatWasGivenAndTheDefaultTimeLimit) {
    Value none = solve_options(RunRequest{});
    ASSERT_EQ(none.members().size(), 1u) << "the solver's own defaults, but a time limit";
    EXPECT_EQ(none.members()[0].first, "time_limit");
    EXPECT_EQ(none.members()[0].second.number(), kRunSeconds);
    Value all = solve_options(RunRequest{{}, 5.0, 0.0, true});
    ASSERT_EQ(all.members().size(), 3u);
    EXPECT_EQ(all.members()[0].first, "time_limit");
    EXPECT_EQ(all.members()[0].second.number(), 5.0);
    EXPECT_EQ(all.members()[1].first, "mip_gap");
    EXPECT_EQ(all.members()[1].second.kind(), Value::Kind::Number) << "a gap of 0 is asked for, not left out";
    EXPECT_EQ(all.members()[2].first, "sensitivity");
    EXPECT_TRUE(all.members()[2].second.boolean());
}

TEST(ParseRequest, SaysWhatIsWrongWithACall) {
    struct Case {
        const char* tool;
        Value arguments;
        const char* error;
    };
    const Case cases[] = {
        {"check_model", Value::null(), "'model' is required"},
        {"check_model", Value::array({}), "the arguments must be an object, not a list"},
        {"check_model", Value::object({{"model", Value::of(int64_t{1})}}), "'model' must be a string, not a number"},
        {"check_model", Value::object({{"model", Value::of("")}, {"data", Value::of(true)}}),
         "'data' must be a data text or a JSON object, not a boolean"},
        {"check_model", Value::object({{"model", Value::of(std::string(kMaxTextBytes + 1, ' '))}}),
         "'model' has 16777217 bytes; at most 16777216 are taken"},
        {"run_model", Value::object({{"model", Value::of("")}, {"time_limit", Value::of(0.0)}}),
         "'time_limit' must be a finite number above 0"},
        {"run_model", Value::object({{"model", Value::of("")}, {"mip_gap", Value::of(-0.5)}}),
         "'mip_gap' must be a finite number of at least 0"},
        {"run_model", Value::object({{"model", Value::of("")}, {"sensitivity", Value::of("yes")}}),
         "'sensitivity' must be true or false, not a string"},
        {"run_model", Value::object({{"model", Value::of("")}, {"threads", Value::of(int64_t{2})}}),
         "unknown argument 'threads'; run_model takes model, data, time_limit, mip_gap, sensitivity"},
        {"find_examples", Value::object({{"description", Value::of(" \n")}}), "'description' is empty"},
        {"find_examples", Value::object({{"description", Value::of("x")}, {"k", Value::of(int64_t{0})}}),
         "'k' must be from 1 to 32"},
        {"generate_model", Value::object({{"description", Value::of("x")}, {"iterations", Value::of(1.5)}}),
         "'iterations' must be a whole number, not a number"},
        {"generate_model", Value::object({{"description", Value::of("x")}, {"provider", Value::of("")}}),
         "'provider' is empty"},
    };
    for (const Case& c : cases) {
        Parsed p = parse_request(*tool_named(c.tool), c.arguments);
        EXPECT_FALSE(p.request) << c.tool << ": " << c.error;
        EXPECT_EQ(p.error, c.error) << c.tool;
    }
}

TEST(Resources, AnExampleNameCannotLeaveTheLibrary) {
    EXPECT_EQ(example_named_by("tarvok://examples/transportation"), "transportation");
    EXPECT_EQ(example_named_by("tarvok://examples/a-b_9"), "a-b_9");
    for (const char* uri : {"tarvok://examples/", "tarvok://examples/../x", "tarvok://examples/a/b",
                            "tarvok://examples/.", "tarvok://language", "file:///etc/passwd"})
        EXPECT_FALSE(example_named_by(uri)) << uri;
}

TEST(Resources, AnExampleDocumentKeepsItsTextsWhole) {
    std::string doc = example_document("knapsack", "Pack it.", "dvar int x;\n// ```\n", "n = 1;");
    EXPECT_NE(doc.find("````\ndvar int x;\n// ```\n````\n"), std::string::npos) << doc;
    EXPECT_NE(doc.find("```\nn = 1;\n```\n"), std::string::npos) << doc;
}

TEST(Prompt, WalksFromDescriptionToRun) {
    std::string text = formulate_text("Plan shifts.");
    EXPECT_NE(text.find("Plan shifts."), std::string::npos);
    EXPECT_LT(text.find("find_examples"), text.find("check_model"));
    EXPECT_LT(text.find("check_model"), text.find("run_model"));
    EXPECT_NE(formulate_text("").find("ask me to describe"), std::string::npos);
}

}  // namespace
