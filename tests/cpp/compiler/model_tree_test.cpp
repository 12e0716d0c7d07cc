// The compiled model and the diagnostic records as neutral trees: their
// shape, which leaves are shared, and which records carry which path.
#include "compiler/model_tree.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace tarvok::compiler;
using namespace tarvok::compiler::tree;

namespace {

/// A compact text of node `id`: {k: v}, [..], (..), range(a..b), texts quoted.
std::string shown(const Tree& t, NodeId id) {
    const Node& n = t[id];
    auto children = [&](const char* open, const char* close, const char* between) {
        std::string out = open;
        for (uint32_t i = 0; i < n.count; ++i) {
            if (i > 0) out += i % 2 == 1 && n.kind == Kind::Dict ? between : ", ";
            out += shown(t, t.children[n.first + i]);
        }
        return out + close;
    };
    switch (n.kind) {
    case Kind::None: return "None";
    case Kind::Bool: return n.flag() ? "True" : "False";
    case Kind::Int: return std::to_string(n.integer);
    case Kind::Real: {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", n.real);
        return std::string(buffer) + "f";
    }
    case Kind::Text:
    case Kind::Key: return "'" + std::string(n.text()) + "'";
    case Kind::List: return children("[", "]", ", ");
    case Kind::Tuple: return children("(", ")", ", ");
    case Kind::Dict: return children("{", "}", ": ");
    case Kind::Range: return "range(" + shown(t, t.children[n.first]) + ".." + shown(t, t.children[n.first + 1]) + ")";
    }
    return "?";
}

/// The value under `key` of the dict node `id`.
NodeId at(const Tree& t, NodeId id, std::string_view key) {
    const Node& n = t[id];
    for (uint32_t i = 0; i + 1 < n.count; i += 2)
        if (t.child(n, i).text() == key) return t.children[n.first + i + 1];
    ADD_FAILURE() << "no " << key << " in " << shown(t, id);
    return id;
}

NodeId item(const Tree& t, NodeId id, uint32_t i) { return t.children[t[id].first + i]; }

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
    Tree t = compiled_model_tree(*c);
    NodeId objective = at(t, t.root(), "objective");
    EXPECT_EQ(shown(t, objective),
              "{'sense': 'minimize', 'label': 'cost', 'expression': {'type': 'chain', 'operands': ["
              "{'type': 'index', 'name': 'x', 'kind': 'dvar', 'indices': [{'type': 'number', 'value': 1}]}, "
              "{'type': 'binary', 'op': '*', 'left': {'type': 'number', 'value': 2}, "
              "'right': {'type': 'index', 'name': 'x', 'kind': 'dvar', 'indices': [{'type': 'number', 'value': 2}]}}, "
              "{'type': 'index', 'name': 'x', 'kind': 'dvar', 'indices': [{'type': 'number', 'value': 3}]}, "
              "{'type': 'number', 'value': 2}], 'operators': ['+', '-', '+']}, 'line': 3, 'column': 1}");
    // Equal leaves are one node; the keys are one node each however often used.
    NodeId operands = at(t, at(t, objective, "expression"), "operands");
    EXPECT_EQ(item(t, operands, 3), at(t, item(t, operands, 1), "left"));
    EXPECT_EQ(at(t, item(t, operands, 0), "name"), at(t, item(t, operands, 2), "name"));

    // Nested foralls: all bindings in order, the conditions joined by &&; a range row keeps its three parts.
    NodeId ranged = item(t, at(t, t.root(), "constraints"), 0);
    EXPECT_EQ(shown(t, at(t, ranged, "condition")),
              "{'type': 'binary', 'op': '&&', "
              "'left': {'type': 'binary', 'op': '>', 'left': {'type': 'name', 'name': 'i', 'kind': 'binding'}, "
              "'right': {'type': 'number', 'value': 1}}, "
              "'right': {'type': 'binary', 'op': '<', 'left': {'type': 'name', 'name': 'j', 'kind': 'binding'}, "
              "'right': {'type': 'name', 'name': 'i', 'kind': 'binding'}}}");
    EXPECT_EQ(t[at(t, ranged, "bindings")].count, 2u);
    EXPECT_EQ(shown(t, at(t, ranged, "operator")), "'range'");
    EXPECT_EQ(shown(t, at(t, ranged, "low")), "{'type': 'number', 'value': 1}");
    NodeId plain = item(t, at(t, t.root(), "constraints"), 1);
    EXPECT_EQ(
        shown(t, at(t, plain, "label")) + shown(t, at(t, plain, "condition")) + shown(t, at(t, plain, "operator")),
        "NoneNone'>='");

    NodeId dvar = item(t, at(t, t.root(), "declarations"), 1);
    EXPECT_EQ(shown(t, dvar),
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
    Tree t = compiled_model_tree(*c);
    EXPECT_EQ(shown(t, at(t, t.root(), "data")),
              "{'Arcs': [('a', 1), ('b', 2)], 'R': range(1..3), 'S': ['a', 'b'], 'p': [1.5f, 2f, 3f], 'n': 4, "
              "'b': True, 'M': [[1, 2], [3, 4]]}");
    EXPECT_EQ(shown(t, item(t, at(t, t.root(), "declarations"), 0)),
              "{'name': 'Arc', 'type': 'tuple', 'fields': [{'name': 'from', 'value_type': 'string'}, "
              "{'name': 'cost', 'value_type': 'int'}], 'line': 1, 'column': 7}");
    // The warnings ride along: one per declaration never used, in source order.
    NodeId warnings = at(t, t.root(), "warnings");
    ASSERT_EQ(t[warnings].count, 5u);
    EXPECT_EQ(shown(t, at(t, item(t, warnings, 0), "message")), "''S' is declared but never used'");
    EXPECT_EQ(shown(t, at(t, item(t, warnings, 4), "line")), "8");
}

TEST(ModelTree, RecordsInSourceOrderWithTheirPaths) {
    auto c = compile("dvar float x;\nminimize x + y + z;", "q = 1;");
    ASSERT_FALSE(c->ok());
    Tree t = diagnostic_record_tree(*c, true);
    ASSERT_EQ(t[t.root()].count, 3u);
    EXPECT_EQ(shown(t, at(t, item(t, t.root(), 0), "message")), "'undeclared name 'y''");
    EXPECT_EQ(shown(t, at(t, item(t, t.root(), 1), "column")), "18");
    EXPECT_EQ(shown(t, at(t, item(t, t.root(), 1), "end_column")), "19");
    EXPECT_EQ(shown(t, at(t, item(t, t.root(), 2), "file")), "'data'");

    // With paths: the model's always, the data's only when there is a data file.
    RecordPaths both{"m.mod", "m.dat"};
    Tree with_data = diagnostic_record_tree(*c, true, &both);
    EXPECT_EQ(shown(with_data, at(with_data, item(with_data, with_data.root(), 0), "path")), "'m.mod'");
    EXPECT_EQ(shown(with_data, at(with_data, item(with_data, with_data.root(), 2), "path")), "'m.dat'");
    RecordPaths model_only{"m.mod", std::nullopt};
    Tree without = diagnostic_record_tree(*c, true, &model_only);
    EXPECT_EQ(shown(without, at(without, item(without, without.root(), 2), "path")), "None");

    // Without errors only the warnings remain.
    Tree warnings = diagnostic_record_tree(*c, false);
    EXPECT_EQ(shown(warnings, warnings.root()).find("'error'"), std::string::npos);
}

TEST(ModelTree, ChildrenComeBeforeTheirParents) {
    auto c = compiled("{int} S = {1, 2};\ndvar float x[S];\nminimize sum(s in S: s > 1) x[s];");
    Tree t = compiled_model_tree(*c);
    for (NodeId id = 0; id < t.nodes.size(); ++id) {
        const Node& n = t[id];
        if (n.kind == Kind::List || n.kind == Kind::Tuple || n.kind == Kind::Dict || n.kind == Kind::Range) {
            for (uint32_t i = 0; i < n.count; ++i) EXPECT_LT(t.children[n.first + i], id);
        }
    }
}

TEST(ModelTree, JsonAsTheHostWritesIt) {
    Builder b;
    NodeId empty_list = b.list({}), empty_dict = b.dict_of({});
    b.dict({{"text", b.text("q\"\\\n\t\x01\x7f é")},
            {"items", b.list({b.integer(-3), b.none(), b.boolean(true), empty_list, empty_dict})}});
    EXPECT_EQ(json_text(b.finish()),
              "{\n  \"text\": \"q\\\"\\\\\\n\\t\\u0001\x7f é\",\n"
              "  \"items\": [\n    -3,\n    null,\n    true,\n    [],\n    {}\n  ]\n}");
    // 1.0 would come out as "1", where the host writes "1.0": refused, not guessed.
    Builder with_real;
    with_real.list({with_real.real(1.0)});
    EXPECT_THROW(json_text(with_real.finish()), std::logic_error);
}
