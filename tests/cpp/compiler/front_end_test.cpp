// Lexer and parser: token values and places, recovery after errors.
#include "compiler/front_end.hpp"
#include "compiler/compiler.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvok::compiler;

namespace {

std::deque<std::string> strings;  // values of escaped strings outlive each test's tokens

std::vector<Token> lex(std::string_view text, Diagnostics* sink = nullptr) {
    Diagnostics local;
    return tokenize(text, SourceFile::Model, sink ? *sink : local, strings);
}

std::vector<std::string> messages(const Compilation& c) {
    std::vector<std::string> out;
    for (const Diagnostic& d : c.diagnostics.items())
        out.push_back(std::to_string(d.at.line) + ":" + std::to_string(d.at.column) + " " + d.message);
    return out;
}

}  // namespace

TEST(Lexer, NumberForms) {
    auto t = lex("12 3.5 .5 1e-3 2.5E+4 1..n");
    ASSERT_EQ(t.size(), 9u);
    EXPECT_TRUE(t[0].number.is_int);
    EXPECT_EQ(t[0].number.integer, 12);
    EXPECT_FALSE(t[1].number.is_int);
    EXPECT_DOUBLE_EQ(t[2].number.real, 0.5);
    EXPECT_DOUBLE_EQ(t[3].number.real, 0.001);
    EXPECT_DOUBLE_EQ(t[4].number.real, 25000);
    // `1..n` is a range, not the float `1.` followed by `.n`.
    EXPECT_EQ(t[5].kind, Tok::Number);
    EXPECT_EQ(t[6].kind, Tok::DotDot);
    EXPECT_EQ(t[7].kind, Tok::Identifier);
    EXPECT_EQ(t[8].kind, Tok::End);
}

TEST(Lexer, MalformedNumbersAreOneErrorEach) {
    Diagnostics d;
    auto t = lex("2x 1. 1.2.3 99999999999999999999 1e400", &d);
    EXPECT_EQ(d.size(), 5u);
    for (size_t i = 0; i + 1 < t.size(); ++i) EXPECT_EQ(t[i].kind, Tok::Invalid) << i;
}

TEST(Lexer, StringEscapesAndUnicode) {
    Diagnostics d;
    auto t = lex(R"("a\"b\\c\nd\te" "Zürich" "bad\q")", &d);
    EXPECT_EQ(t[0].value, "a\"b\\c\nd\te");
    EXPECT_EQ(t[1].value, "Zürich");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_NE(d.items()[0].message.find("unknown escape"), std::string::npos);
}

TEST(Lexer, ColumnsCountCharactersAndLinesRestart) {
    auto t = lex("\"é€\" x\n\ty // c\n/* a\nb */ z");
    EXPECT_EQ(t[1].at.line, 1u);
    EXPECT_EQ(t[1].at.column, 6u);  // after a 4-character string and a blank
    EXPECT_EQ(t[2].at.line, 2u);
    EXPECT_EQ(t[2].at.column, 2u);  // a tab is one column
    EXPECT_TRUE(t[2].line_start);
    EXPECT_EQ(t[3].at.line, 4u);
    EXPECT_EQ(t[3].at.column, 6u);
    EXPECT_TRUE(t[3].line_start);  // comments are not tokens
}

TEST(Lexer, ToIsAnOrdinaryName) {
    auto t = lex("subject to to");
    EXPECT_EQ(t[0].kind, Tok::KwSubject);
    EXPECT_EQ(t[1].kind, Tok::Identifier);
    EXPECT_EQ(t[2].kind, Tok::Identifier);
}

TEST(Lexer, BadBytesNeverEndLexing) {
    Diagnostics d(1000);
    std::string text = "a \xff\xfe b \x01 c \xed\xa0\x80 d";  // invalid bytes, a control byte, an encoded surrogate
    text += std::string(1, '\0') + " e";
    auto t = lex(text, &d);
    EXPECT_EQ(t.back().kind, Tok::End);
    EXPECT_EQ(d.size(), 4u);
    EXPECT_EQ(t[t.size() - 2].text, "e");
}

TEST(Parser, MissingSemicolonPointsAfterThePreviousToken) {
    auto c = compile("float a\nfloat b = 2;\ndvar float x;\nminimize a * x;", "a = 1;");
    EXPECT_EQ(messages(*c), std::vector<std::string>{"1:8 missing ';' after 'a'"});
}

TEST(Parser, OneMessagePerBrokenStatementAndRecovery) {
    auto c = compile(
        "float a = (1 + ;\nfloat b = [1, 2;\ndvar float x;\nsubject to {\n  x >= ;\n  x <= 3\n  y: x == 2;\n}\n", "");
    auto m = messages(*c);
    ASSERT_EQ(m.size(), 4u) << ::testing::PrintToString(m);
    EXPECT_EQ(m[0].substr(0, 5), "1:16 ");
    EXPECT_EQ(m[1].substr(0, 5), "2:16 ");
    EXPECT_EQ(m[2].substr(0, 4), "5:8 ");
    EXPECT_EQ(m[3], "6:9 missing ';' after the number 3");
}

TEST(Parser, ChainsAreFlatAndParenthesesKeepTheirText) {
    auto c = compile("dvar float x;\nminimize (x + 1) * 2 + x - x;", "");
    ASSERT_TRUE(c->ok()) << c->report();
    const Expr& top = c->ast[c->model.objective.expr];
    EXPECT_EQ(top.kind, ExprKind::Chain);
    EXPECT_EQ(top.count, 3u);
    const Expr& product = c->ast[c->ast.links[top.first].expr];
    EXPECT_EQ(product.kind, ExprKind::Chain);
    EXPECT_EQ(c->model_text.substr(c->ast[c->ast.links[product.first].expr].at.offset, 7), "(x + 1)");
}

TEST(Parser, AggregateTakesOneProduct) {
    auto c = compile("range I = 1..2;\ndvar float x[I];\ndvar float y;\nminimize sum(i in I) 2 * x[i] + y;", "");
    ASSERT_TRUE(c->ok()) << c->report();
    const Expr& top = c->ast[c->model.objective.expr];
    ASSERT_EQ(top.kind, ExprKind::Chain);
    EXPECT_EQ(c->ast[c->ast.links[top.first].expr].kind, ExprKind::Aggregate);
}

TEST(Parser, NestedForallsShareTheirHeaders) {
    auto c = compile(
        "dvar float x[1..2][1..2];\nsubject to {\n forall(i in 1..2) {\n  forall(j in 1..2: j != i) "
        "a: x[i][j] >= 0;\n  b: x[i][i] <= 1;\n }\n c: x[1][1] == 0;\n}",
        "");
    ASSERT_TRUE(c->ok()) << c->report();
    const Model& m = c->model;
    ASSERT_EQ(m.constraints.size(), 3u);
    EXPECT_EQ(m.foralls[m.constraints[0].forall].parent, m.constraints[1].forall);
    EXPECT_EQ(m.constraints[2].forall, kNone);
}
