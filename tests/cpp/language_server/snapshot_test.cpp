#include "language_server/snapshot.hpp"
#include "compiler/front_end.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>

using namespace tarvok::language_server;
using tarvok::compiler::SourceFile;

namespace {

const char* kModel =
    "// Cities we deliver to.\n"                                   // 0
    "{string} Cities = ...;\n"                                     // 1
    "tuple Arc { string from; string to; float cost; }\n"          // 2
    "{Arc} Arcs = ...;\n"                                          // 3
    "float demand[Cities] = ...;  // tonnes per city\n"            // 4
    "range Days = 1..3;\n"                                         // 5
    "dvar float+ ship[Arcs];\n"                                    // 6
    "minimize total: sum(a in Arcs) a.cost * ship[a];\n"           // 7
    "subject to {\n"                                               // 8
    "  forall(c in Cities)\n"                                      // 9
    "    meet: sum(a in Arcs: a.to == c) ship[a] >= demand[c];\n"  // 10
    "}\n";
const char* kData =
    "Cities = {\"A\", \"B\"};\n"
    "Arcs = {<\"A\", \"B\", 2.5>};\n"
    "demand = [1, 2];\n";

/// The position of the `nth` occurrence of `word` in `text` (0-based lines, UTF-16).
Position find(std::string_view text, std::string_view word, int nth = 0, uint32_t into = 0) {
    std::size_t at = std::string_view::npos;
    for (int i = 0; i <= nth; ++i) at = text.find(word, at == std::string_view::npos ? 0 : at + 1);
    EXPECT_NE(at, std::string_view::npos) << word;
    return LineMap(text, Encoding::Utf16).position(at + into);
}

std::vector<std::string> labels(const std::vector<CompletionItem>& items) {
    std::vector<std::string> out;
    for (const CompletionItem& item : items) out.push_back(item.label);
    return out;
}

bool has(const std::vector<std::string>& all, std::string_view one) {
    return std::find(all.begin(), all.end(), one) != all.end();
}

}  // namespace

TEST(Snapshot, ASoundPairHasOnlyItsWarning) {
    auto s = Snapshot::of_model(kModel, std::string(kData));
    ASSERT_EQ(s->diagnostics(SourceFile::Model).size(), 1u);
    const EditorDiagnostic& unused = s->diagnostics(SourceFile::Model)[0];
    EXPECT_EQ(unused.severity, Severity::Warning);
    EXPECT_EQ(unused.range, (Range{{5, 6}, {5, 10}}));
    EXPECT_FALSE(unused.fix);
    EXPECT_TRUE(s->diagnostics(SourceFile::Data).empty());
}

TEST(Snapshot, DefinitionAndReferencesCoverModelAndData) {
    auto s = Snapshot::of_model(kModel, std::string(kData));
    // From a use in the constraint to the declaration on line 4.
    auto def = s->definition(SourceFile::Model, find(kModel, "demand[c]", 0, 2));
    ASSERT_TRUE(def);
    EXPECT_EQ(def->file, SourceFile::Model);
    EXPECT_EQ(def->range.start, (Position{4, 6}));
    EXPECT_EQ(def->range.end, (Position{4, 12}));
    // From the data assignment to the model.
    def = s->definition(SourceFile::Data, Position{2, 0});
    ASSERT_TRUE(def);
    EXPECT_EQ(def->range.start, (Position{4, 6}));

    auto refs = s->references(SourceFile::Model, find(kModel, "Cities", 1), true);
    ASSERT_EQ(refs.size(), 4u) << "declaration, dimension, the set of a binding and the data assignment";
    EXPECT_EQ(refs.front().range.start, (Position{1, 9}));
    EXPECT_EQ(refs.back().file, SourceFile::Data);
    EXPECT_EQ(s->references(SourceFile::Model, find(kModel, "Cities", 1), false).size(), 3u);
}

TEST(Snapshot, BindingsFieldsAndTupleTypesResolve) {
    auto s = Snapshot::of_model(kModel, std::string(kData));
    // `c` in `a.to == c` goes to the forall's binding.
    auto def = s->definition(SourceFile::Model, find(kModel, "== c", 0, 3));
    ASSERT_TRUE(def);
    EXPECT_EQ(def->range.start, (Position{9, 9}));
    // `a.cost` goes to the field of the tuple type.
    def = s->definition(SourceFile::Model, find(kModel, "a.cost", 0, 3));
    ASSERT_TRUE(def);
    EXPECT_EQ(def->range.start, (Position{2, 42}));
    // `{Arc}` names the tuple type.
    auto refs = s->references(SourceFile::Model, find(kModel, "tuple Arc", 0, 6), true);
    EXPECT_EQ(refs.size(), 2u);
    // Nothing is named at a keyword or a number.
    EXPECT_FALSE(s->definition(SourceFile::Model, find(kModel, "subject")));
    EXPECT_FALSE(s->hover(SourceFile::Model, find(kModel, "1..3")));
}

TEST(Snapshot, HoverShowsTheDeclarationAndItsComment) {
    auto s = Snapshot::of_model(kModel, std::string(kData));
    auto hover = s->hover(SourceFile::Model, find(kModel, "Cities", 2));
    ASSERT_TRUE(hover);
    EXPECT_EQ(hover->markdown, "```tarvok\n{string} Cities = ...;\n```\n\nCities we deliver to.");
    hover = s->hover(SourceFile::Data, Position{2, 1});
    ASSERT_TRUE(hover);
    EXPECT_EQ(hover->markdown, "```tarvok\nfloat demand[Cities] = ...;\n```\n\ntonnes per city");
    EXPECT_EQ(hover->range.start, (Position{2, 0}));
    hover = s->hover(SourceFile::Model, find(kModel, "meet"));
    ASSERT_TRUE(hover);
    EXPECT_NE(hover->markdown.find("meet: sum(a in Arcs: a.to == c) ship[a] >= demand[c]"), std::string::npos);
}

TEST(Snapshot, CommentsAboveAreBlocksOrLineRuns) {
    std::string model =
        "/* Plants\n * that ship. */\nint n = 2;\n\n"
        "// first\n// second\nint m = n;  /* after */\n"
        "int k = 1; // k\n"
        "int j = k;\n"
        "dvar float x;\nminimize x;\n";
    auto s = Snapshot::of_model(model, std::nullopt);
    auto hover_of = [&](std::string_view name) {
        auto h = s->hover(SourceFile::Model, find(model, name));
        return h ? h->markdown : std::string("none");
    };
    auto comment_of = [&](std::string_view name) {
        std::string text = hover_of(name);
        std::size_t start = text.find("```\n\n");
        return start == std::string::npos ? std::string("no comment") : text.substr(start + 5);
    };
    EXPECT_EQ(comment_of("n = 2"), "Plants\nthat ship.");
    EXPECT_EQ(comment_of("m = n"), "first\nsecond\nafter");
    EXPECT_EQ(comment_of("k = 1"), "k");
    EXPECT_EQ(comment_of("j = k"), "no comment") << "a code line above is not a comment";
}

TEST(Snapshot, SymbolsAreDeclarationsObjectiveAndLabelledConstraints) {
    auto s = Snapshot::of_model(kModel, std::string(kData));
    std::vector<DocumentSymbol> symbols = s->symbols(SourceFile::Model);
    std::vector<std::string> names;
    for (const DocumentSymbol& d : symbols) names.push_back(d.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Cities", "Arc", "Arcs", "demand", "Days", "ship", "total", "meet"}));
    ASSERT_EQ(symbols[1].children.size(), 3u);
    EXPECT_EQ(symbols[1].children[2].name, "cost");
    EXPECT_EQ(symbols[1].kind, SymbolKind::Struct);
    EXPECT_EQ(symbols[5].kind, SymbolKind::Variable);
    EXPECT_EQ(symbols[7].kind, SymbolKind::Property);
    for (const DocumentSymbol& d : symbols) {
        EXPECT_TRUE(d.range.start <= d.selection_range.start && d.selection_range.end <= d.range.end) << d.name;
    }
    std::vector<DocumentSymbol> data = s->symbols(SourceFile::Data);
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[1].name, "Arcs");
    EXPECT_EQ(data[1].kind, SymbolKind::Array);

    auto unlabelled = Snapshot::of_model("dvar float x;\nmaximize x;\nsubject to { x <= 1; }\n", std::nullopt);
    ASSERT_EQ(unlabelled->symbols(SourceFile::Model).size(), 2u);
    EXPECT_EQ(unlabelled->symbols(SourceFile::Model)[1].name, "maximize");
}

TEST(Snapshot, CompletionAfterInOffersSetsAndRanges) {
    std::string model = std::string(kModel) + "// forall(x in ";
    auto s = Snapshot::of_model(model, std::string(kData));
    Position end = LineMap(model, Encoding::Utf16).position(model.size());
    std::vector<std::string> after_in = labels(s->completion(SourceFile::Model, end));
    EXPECT_EQ(after_in, (std::vector<std::string>{"Cities", "Arcs", "Days"}));
    std::vector<std::string> elsewhere = labels(s->completion(SourceFile::Model, Position{6, 0}));
    EXPECT_TRUE(has(elsewhere, "demand"));
    EXPECT_TRUE(has(elsewhere, "forall"));
    EXPECT_TRUE(has(elsewhere, "subject to"));
    EXPECT_FALSE(has(elsewhere, "subject"));
    // In the data: the names the model takes from data.
    std::vector<std::string> data = labels(s->completion(SourceFile::Data, Position{3, 0}));
    EXPECT_TRUE(has(data, "demand"));
    EXPECT_TRUE(has(data, "true"));
    EXPECT_FALSE(has(data, "Days")) << "a range with bounds takes no data";
    EXPECT_FALSE(has(data, "ship"));
}

TEST(Snapshot, CompletionAfterInWithAPartialName) {
    std::string model = "{int} S = {1};\nint n = 1;\nrange R = 1..2;\ndvar float x[S];\nsubject to { forall(i in Ra";
    auto s = Snapshot::of_model(model, std::nullopt);
    std::vector<std::string> items =
        labels(s->completion(SourceFile::Model, LineMap(model, Encoding::Utf16).position(model.size())));
    EXPECT_EQ(items, (std::vector<std::string>{"S", "R"}));
}

TEST(Snapshot, DiagnosticsCarryRangesCodesAndFixes) {
    std::string model =
        "int cakes = 3;\n"
        "dvar float x\n"
        "maximize cake * x;\n";
    auto s = Snapshot::of_model(model, std::nullopt);
    const auto& all = s->diagnostics(SourceFile::Model);
    ASSERT_GE(all.size(), 2u);
    const EditorDiagnostic* semicolon = nullptr;
    const EditorDiagnostic* undeclared = nullptr;
    for (const EditorDiagnostic& d : all) {
        if (d.code == "T0103") semicolon = &d;
        if (d.code == "T0201") undeclared = &d;
    }
    ASSERT_TRUE(semicolon && undeclared);
    EXPECT_EQ(semicolon->range, (Range{{1, 12}, {1, 12}}));
    EXPECT_EQ(semicolon->fix, ";");
    EXPECT_EQ(semicolon->fix_title, "Insert ';'");
    EXPECT_EQ(undeclared->range, (Range{{2, 9}, {2, 13}}));
    EXPECT_EQ(undeclared->fix, "cakes");
    EXPECT_EQ(undeclared->fix_title, "Replace 'cake' with 'cakes'");
    EXPECT_EQ(undeclared->severity, Severity::Error);

    std::vector<std::size_t> fixes = s->quick_fixes(SourceFile::Model, Range{{2, 10}, {2, 10}});
    ASSERT_EQ(fixes.size(), 1u);
    EXPECT_EQ(all[fixes[0]].code, "T0201");
    EXPECT_TRUE(s->quick_fixes(SourceFile::Model, Range{{0, 0}, {0, 3}}).empty());
}

TEST(Snapshot, DataDiagnosticsLandInTheDataWithNotesInTheModel) {
    std::string model = "{string} Cities = ...;\nfloat demand[Cities] = ...;\ndvar float x;\nminimize x;\n";
    std::string data = "Cities = {\"A\", \"B\"};\ndemand = [1, 2, 3];\nextra = 4;\n";
    auto s = Snapshot::of_model(model, data);
    EXPECT_TRUE(std::none_of(s->diagnostics(SourceFile::Model).begin(), s->diagnostics(SourceFile::Model).end(),
                             [](const EditorDiagnostic& d) { return d.severity == Severity::Error; }));
    const auto& in_data = s->diagnostics(SourceFile::Data);
    ASSERT_EQ(in_data.size(), 2u);
    EXPECT_EQ(in_data[0].range.start.line, 1u);
    EXPECT_EQ(in_data[1].range.start.line, 2u);
    // Without a data file, missing data is the model's fault.
    auto alone = Snapshot::of_model(model, std::nullopt);
    EXPECT_FALSE(alone->diagnostics(SourceFile::Model).empty());
    EXPECT_TRUE(alone->diagnostics(SourceFile::Data).empty());
}

TEST(Snapshot, DataWithoutAModelIsCheckedForSyntaxOnly) {
    auto s = Snapshot::of_data_alone("a = 1;\nb = [1, 2;\nc = <1, 2>;\n");
    ASSERT_EQ(s->diagnostics(SourceFile::Data).size(), 1u);
    EXPECT_EQ(s->diagnostics(SourceFile::Data)[0].range.start.line, 1u);
    EXPECT_EQ(s->symbols(SourceFile::Data).size(), 2u);
    EXPECT_FALSE(s->definition(SourceFile::Data, Position{0, 0}));
    EXPECT_TRUE(s->symbols(SourceFile::Model).empty());
}

TEST(Snapshot, HostileTextsAndPositionsAreAnsweredCalmly) {
    std::string huge_line(300000, 'x');
    std::string texts[] = {
        "",
        "\xFF\xFE garbage \x01\x02",
        "int n = 1;" + huge_line,
        std::string(5000, '(') + "int",
        "{string} S = ...;\nfloat d[S] = ...;\ndvar float x[S];\nminimize sum(s in S) d[s] * x[s];\n\xED\xA0\x80",
    };
    for (const std::string& text : texts) {
        std::unique_ptr<Snapshot> both[] = {Snapshot::of_model(text, text), Snapshot::of_data_alone(text)};
        for (const auto& s : both) {
            for (Position p :
                 {Position{0, 0}, Position{0, 4}, Position{0, 1u << 30}, Position{1u << 30, 3}, Position{4, 1}}) {
                for (SourceFile file : {SourceFile::Model, SourceFile::Data}) {
                    s->definition(file, p);
                    s->references(file, p, true);
                    s->hover(file, p);
                    s->completion(file, p);
                    s->symbols(file);
                    s->quick_fixes(file, Range{p, p});
                }
            }
        }
    }
}

TEST(Snapshot, SuffixesPairModelsWithData) {
    EXPECT_TRUE(is_data_document("file:///a/b.dat"));
    EXPECT_TRUE(is_data_document("file:///a/b.DAT"));
    EXPECT_FALSE(is_data_document("file:///a/b.mod"));
    EXPECT_EQ(partner_document("file:///a/plan.mod"), "file:///a/plan.dat");
    EXPECT_EQ(partner_document("file:///a/plan.dat"), "file:///a/plan.mod");
    EXPECT_EQ(partner_document("untitled:Untitled-1"), "");
}

TEST(Keywords, TheListIsTheLexersOwn) {
    // Every spelling lexes as a keyword, and every keyword token has a spelling.
    const auto& spellings = tarvok::compiler::keyword_spellings();
    std::size_t keyword_kinds = static_cast<std::size_t>(tarvok::compiler::Tok::KwFalse) -
                                static_cast<std::size_t>(tarvok::compiler::Tok::KwInt) + 1;
    EXPECT_EQ(spellings.size(), keyword_kinds);
    for (std::size_t i = 0; i < spellings.size(); ++i) {
        tarvok::compiler::Diagnostics diagnostics;
        std::deque<std::string> strings;
        auto tokens = tarvok::compiler::tokenize(spellings[i], SourceFile::Model, diagnostics, strings);
        ASSERT_FALSE(tokens.empty());
        EXPECT_EQ(static_cast<std::size_t>(tokens[0].kind), static_cast<std::size_t>(tarvok::compiler::Tok::KwInt) + i)
            << spellings[i];
    }
}
