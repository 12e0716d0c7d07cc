// Rendering of diagnostics and name suggestions.
#include "compiler/diagnostics.hpp"
#include "common/utf8.hpp"
#include "compiler/compiler.hpp"
#include "compiler/slips.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>

using namespace tarvok::compiler;

namespace {

Location at(SourceFile file, uint32_t line, uint32_t column, uint32_t offset) { return {file, line, column, offset}; }

}  // namespace

TEST(Render, HeadLineSourceLineAndCaretInSourceOrder) {
    Diagnostics d;
    std::string model = "float a;\n\tx = é + y;\n";
    d.error(at(SourceFile::Data, 1, 3, 2), "second");
    d.error(at(SourceFile::Model, 2, 7, 15), "first");  // the 'é' counts as one column, the tab too
    EXPECT_EQ(render(d, model, "n = 5;"),
              "model:2:7: first\n"
              "    \tx = é + y;\n"
              "    \t     ^\n"
              "data:1:3: second\n"
              "    n = 5;\n"
              "      ^");
}

TEST(Render, RepeatsAreDroppedAndTheCapIsAnnounced) {
    Diagnostics d(2);
    d.error(at(SourceFile::Model, 1, 1, 0), "same");
    d.error(at(SourceFile::Model, 1, 1, 0), "same");
    EXPECT_FALSE(d.truncated());
    d.error(at(SourceFile::Model, 1, 2, 1), "other");
    d.error(at(SourceFile::Model, 1, 3, 2), "dropped");
    EXPECT_TRUE(d.truncated());
    std::string out = render(d, "abc", "");
    EXPECT_EQ(out.find("dropped"), std::string::npos);
    EXPECT_NE(out.find("(stopped after 2 errors"), std::string::npos);
}

TEST(Render, LongLinesShowAWindowAroundTheCaret) {
    std::string line(5000, 'a');
    line[3000] = 'X';
    Diagnostics d;
    d.error(at(SourceFile::Model, 1, 3001, 3000), "here");
    std::string out = render(d, line, "");
    EXPECT_LT(out.size(), 400u);
    size_t shown = out.find("\n    ") + 5;
    size_t caret_line = out.find('\n', shown) + 1;
    size_t x = out.find('X', shown) - shown;
    size_t caret = out.find('^', caret_line) - caret_line - 4;
    EXPECT_EQ(x, caret);
    EXPECT_EQ(out.substr(shown, 3), "...");
}

TEST(Render, OutputIsValidUtf8WhateverTheText) {
    std::string model = "bad \xff\xfe bytes \x01\x7f and \xed\xa0\x80 surrogate";
    Diagnostics d;
    d.error(at(SourceFile::Model, 1, 5, 4), "msg with \xff byte");
    std::string out = render(d, model, "");
    EXPECT_TRUE(tarvok::utf8::is_valid(out));
    EXPECT_EQ(out.find('\x01'), std::string::npos);
}

TEST(Suggestions, CloseNamesOnly) {
    std::vector<std::string_view> names = {"demand", "supply", "Cities", "x"};
    EXPECT_EQ(did_you_mean("demnd", names), " (did you mean 'demand'?)");
    EXPECT_EQ(did_you_mean("cities", names), " (did you mean 'Cities'?)");
    EXPECT_EQ(did_you_mean("supplt", names), " (did you mean 'supply'?)");
    EXPECT_EQ(did_you_mean("dmeand", names), " (did you mean 'demand'?)");  // a swap counts once
    EXPECT_EQ(did_you_mean("y", names), "");                                // one letter is no evidence
    EXPECT_EQ(did_you_mean("capacity", names), "");
    EXPECT_EQ(edit_distance(std::string(100, 'a'), "a"), 100u);
}

TEST(Compile, ReportMatchesDiagnostics) {
    auto c = compile("dvar float x;\nminimize demnd * x;", "");
    EXPECT_EQ(c->report(), "model:2:10: undeclared name 'demnd'\n    minimize demnd * x;\n             ^");
}

TEST(Slips, EveryMessageQuotesWhatWasWrittenAndNamesTheFix) {
    const std::regex format(R"('[^']+' is not [^;]+; write .+)");
    for (const Slip& slip : known_slips()) {
        if (slip.place == SlipPlace::Character) continue;  // a hint after "unexpected character"
        EXPECT_TRUE(std::regex_match(std::string(slip.message), format)) << slip.message;
        EXPECT_EQ(std::string(slip.message).rfind("'" + std::string(slip.written), 0), 0u) << slip.message;
    }
}

TEST(Slips, WordsMatchWholeWordsOnly) {
    EXPECT_TRUE(find_slip(SlipPlace::Statement, "st x >= 1;"));
    EXPECT_FALSE(find_slip(SlipPlace::Statement, "stock[1] >= 1;"));
    auto spaced = find_slip(SlipPlace::Statement, "Subject \n  To {");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->length, 13u);  // up to the end of "To"
    EXPECT_EQ(spaced->fix, "subject to");
    EXPECT_EQ(find_slip(SlipPlace::Call, "Sum(i in I)")->message, "'Sum' is not a keyword; write 'sum'");
    EXPECT_EQ(find_slip(SlipPlace::Call, "cost (i)")->message,
              "'cost(...)' is not an index; write 'cost[...]' (arrays are indexed with brackets)");
    EXPECT_FALSE(find_slip(SlipPlace::Operator, "andy"));
}
