// The compiled model and the diagnostic records as JSON values: their shape,
// which leaves are shared, and which records carry which path.
#include "compiler/model_tree.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace tarvok::compiler;
using namespace tarvok::compiler::tree;

namespace {

using Json = tarvok::json::Value;

/// A compact text of `v`: {k: v}, [..], (..), range(a..b), texts quoted, floats marked f.
std::string shown(const Json& v) {
    auto joined = [&](const char* open, const char* close) {
        std::string out = open;
        for (size_t i = 0; i < v.items().size(); ++i) out += (i ? ", " : "") + shown(v.items()[i]);
        return out + close;
    };
    switch (v.kind()) {
    case Json::Kind::Null: return "None";
    case Json::Kind::Boolean: return v.boolean() ? "True" : "False";
    case Json::Kind::Integer: return std::to_string(v.integer());
    case Json::Kind::Number: {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", v.number());
        return std::string(buffer) + "f";
    }
    case Json::Kind::String: return "'" + v.text() + "'";
    case Json::Kind::Array:
        if (v.shape() == Json::Shape::Range) return "range(" + shown(v.items()[0]) + ".." + shown(v.items()[1]) + ")";
        return v.shape() == Json::Shape::Tuple ? joined("(", ")") : joined("[", "]");
    case Json::Kind::Object: {
        std::string out = "{";
        for (size_t i = 0; i < v.members().size(); ++i)
            out += (i ? ", '" : "'") + v.members()[i].first + "': " + shown(v.members()[i].second);
        return out + "}";
    }
    }
    return "?";
}

/// The value under `key` of the dict `v`.
const Json& at(const Json& v, std::string_view key) {
    const Json* found = v.find(key);
    if (!found) ADD_FAILURE() << "no " << key << " in " << shown(v);
    return found ? *found : v;
}

const Json& item(const Json& v, size_t i) { return v.items().at(i); }

std::unique_ptr<Compilation> compiled(std::string_view model, std::string_view data = "") {
    auto c = compile(model, data);
    EXPECT_TRUE(c->ok()) << c->report();
    return c;
}

}  // namespace

TEST(ModelTree, ExpressionsAsNodes) {
    auto c = compiled(
        "range R = 1..3;\ndvar float x[R] in 0..10;\n"
        "minimize cost: x[1] + 2 * x[2] - x[3] + 2;\n"
        "subject to { forall(i in R: i > 1) forall(j in R: j < i) k: 1 <= x[i] - x[j] <= 5; x[1] >= 1; }");
    Json t = compiled_model_tree(*c);
    const Json& objective = at(t, "objective");
    EXPECT_EQ(shown(objective),
              "{'sense': 'minimize', 'label': 'cost', 'expression': {'type': 'chain', 'operands': ["
              "{'type': 'index', 'name': 'x', 'kind': 'dvar', 'indices': [{'type': 'number', 'value': 1}]}, "
              "{'type': 'binary', 'op': '*', 'left': {'type': 'number', 'value': 2}, "
              "'right': {'type': 'index', 'name': 'x', 'kind': 'dvar', 'indices': [{'type': 'number', 'value': 2}]}}, "
              "{'type': 'index', 'name': 'x', 'kind': 'dvar', 'indices': [{'type': 'number', 'value': 3}]}, "
              "{'type': 'number', 'value': 2}], 'operators': ['+', '-', '+']}, 'line': 3, 'column': 1}");
    // Equal leaves are one node; the keys are one node each however often used.
    const Json& operands = at(at(objective, "expression"), "operands");
    EXPECT_EQ(item(operands, 3).identity(), at(item(operands, 1), "left").identity());
    EXPECT_EQ(at(item(operands, 0), "name").identity(), at(item(operands, 2), "name").identity());

    // Nested foralls: all bindings in order, the conditions joined by &&; a range row keeps its three parts.
    const Json& ranged = item(at(t, "constraints"), 0);
    EXPECT_EQ(shown(at(ranged, "condition")),
              "{'type': 'binary', 'op': '&&', "
              "'left': {'type': 'binary', 'op': '>', 'left': {'type': 'name', 'name': 'i', 'kind': 'binding'}, "
              "'right': {'type': 'number', 'value': 1}}, "
              "'right': {'type': 'binary', 'op': '<', 'left': {'type': 'name', 'name': 'j', 'kind': 'binding'}, "
              "'right': {'type': 'name', 'name': 'i', 'kind': 'binding'}}}");
    EXPECT_EQ(at(ranged, "bindings").size(), 2u);
    EXPECT_EQ(shown(at(ranged, "operator")), "'range'");
    EXPECT_EQ(shown(at(ranged, "low")), "{'type': 'number', 'value': 1}");
    const Json& plain = item(at(t, "constraints"), 1);
    EXPECT_EQ(shown(at(plain, "label")) + shown(at(plain, "condition")) + shown(at(plain, "operator")), "NoneNone'>='");

    const Json& dvar = item(at(t, "declarations"), 1);
    EXPECT_EQ(shown(dvar),
              "{'name': 'x', 'type': 'dvar', 'value_type': 'float', 'dimensions': "
              "[{'type': 'name', 'name': 'R', 'kind': 'range'}], 'nonnegative': False, 'bounds': "
              "{'low': {'type': 'number', 'value': 0}, 'high': {'type': 'number', 'value': 10}}, "
              "'line': 2, 'column': 12}");
}

TEST(ModelTree, DataByDeclaration) {
    auto c = compiled(
        "tuple Arc { string from; int cost; }\n{Arc} Arcs = ...;\nrange R = 1..3;\n{string} S = {\"a\", \"b\"};\n"
        "float p[R] = [1.5, 2, 3];\nint n = 4;\nboolean b = true;\nint M[1..2][1..2] = [[1, 2], [3, 4]];\n"
        "dvar float x[Arcs];\nminimize sum(a in Arcs) a.cost * x[a];",
        "Arcs = {<\"a\", 1>, <\"b\", 2>};");
    Json t = compiled_model_tree(*c);
    EXPECT_EQ(shown(at(t, "data")),
              "{'Arcs': [('a', 1), ('b', 2)], 'R': range(1..3), 'S': ['a', 'b'], 'p': [1.5f, 2f, 3f], 'n': 4, "
              "'b': True, 'M': [[1, 2], [3, 4]]}");
    EXPECT_EQ(shown(item(at(t, "declarations"), 0)),
              "{'name': 'Arc', 'type': 'tuple', 'fields': [{'name': 'from', 'value_type': 'string'}, "
              "{'name': 'cost', 'value_type': 'int'}], 'line': 1, 'column': 7}");
    // The warnings ride along: one per declaration never used, in source order.
    const Json& warnings = at(t, "warnings");
    ASSERT_EQ(warnings.size(), 5u);
    EXPECT_EQ(shown(at(item(warnings, 0), "message")), "''S' is declared but never used'");
    EXPECT_EQ(shown(at(item(warnings, 4), "line")), "8");
}

TEST(ModelTree, RecordsInSourceOrderWithTheirPaths) {
    auto c = compile("dvar float x;\nminimize x + y + z;", "q = 1;");
    ASSERT_FALSE(c->ok());
    Json t = diagnostic_record_tree(*c, true);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(shown(at(item(t, 0), "message")), "'undeclared name 'y''");
    EXPECT_EQ(shown(at(item(t, 1), "column")), "18");
    EXPECT_EQ(shown(at(item(t, 1), "end_column")), "19");
    EXPECT_EQ(shown(at(item(t, 2), "file")), "'data'");

    // With paths: the model's always, the data's only when there is a data file.
    RecordPaths both{"m.mod", "m.dat"};
    Json with_data = diagnostic_record_tree(*c, true, &both);
    EXPECT_EQ(shown(at(item(with_data, 0), "path")), "'m.mod'");
    EXPECT_EQ(shown(at(item(with_data, 2), "path")), "'m.dat'");
    RecordPaths model_only{"m.mod", std::nullopt};
    Json without = diagnostic_record_tree(*c, true, &model_only);
    EXPECT_EQ(shown(at(item(without, 2), "path")), "None");

    // Without errors only the warnings remain.
    Json warnings = diagnostic_record_tree(*c, false);
    EXPECT_EQ(shown(warnings).find("'error'"), std::string::npos);
}
