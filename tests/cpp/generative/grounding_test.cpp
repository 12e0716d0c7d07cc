#include "generative/grounding.hpp"

#include <gtest/gtest.h>

namespace g = tarvok::generative::grounding;

namespace {

std::vector<std::string> texts(const std::vector<g::Finding>& findings) {
    std::vector<std::string> out;
    for (const g::Finding& f : findings) out.push_back(f.text);
    return out;
}

}  // namespace

TEST(StatedNumbers, DigitsSeparatorsPercentagesAndWords) {
    auto stated =
        g::stated_numbers("Sell 1,250 units at $3.50 (a 15% margin, or 2.5 percent more), three lines, a dozen.");
    std::vector<std::pair<double, bool>> got;
    for (const g::Stated& s : stated) got.emplace_back(s.value, s.percent);
    std::vector<std::pair<double, bool>> want = {{1250, false}, {3.5, false}, {15, true},
                                                 {2.5, true},   {3, false},   {12, false}};
    EXPECT_EQ(got, want);
    // A comma between numbers of a list is no thousands separator.
    auto list = g::stated_numbers("sizes 1,2,3 and 10,5000");
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[4].value, 5000);
}

TEST(DataNumbers, SkipsNamesCommentsStringsAndRangeDots) {
    auto numbers = g::data_numbers(
        "// 999 in a comment\n"
        "P = {\"p7\", \"x 12\"}; x1 = 4;\n"
        "R = 2..5; /* 77\n 88 */ c = [.5, 3., 1e3, -2.25E-1];\n");
    EXPECT_EQ(texts(numbers), (std::vector<std::string>{"4", "2", "5", ".5", "3.", "1e3", "2.25E-1"}));
    EXPECT_EQ(numbers[0].line, 2u);
    EXPECT_EQ(numbers[0].line_text, "P = {\"p7\", \"x 12\"}; x1 = 4;");
    EXPECT_EQ(numbers[3].line, 4u);  // after a comment over two lines
    EXPECT_DOUBLE_EQ(numbers[6].value, 0.225);
}

TEST(Ground, SortsNumbersIntoGivenConvertedAndAssumed) {
    std::string description =
        "A bakery sells 1,200 loaves a day at a 15% margin. Its budget is 2.5 million dollars and it has two ovens.";
    std::string data =
        "loaves = 1200;\n"
        "margin = 0.15;\n"
        "budget = 2500000;\n"
        "ovens = 2; open = 1; closed = 0;\n"
        "rent = 700; rent_again = 700;\n"
        "hours = 8;\n"
        "share = 0.012;\n";
    g::Report report = g::ground(description, data);
    ASSERT_EQ(texts(report.assumptions), (std::vector<std::string>{"700", "8"}));
    EXPECT_EQ(report.assumptions[0].line, 5u);  // once per line
    EXPECT_EQ(report.assumptions[1].line_text, "hours = 8;");
    ASSERT_EQ(report.conversions.size(), 3u);
    EXPECT_EQ(report.conversions[0].match, g::Match::Percentage);
    EXPECT_EQ(report.conversions[0].source, "15");
    EXPECT_EQ(report.conversions[1].match, g::Match::Scaled);
    EXPECT_EQ(report.conversions[1].power, 6);
    EXPECT_EQ(report.conversions[1].source, "2.5");
    EXPECT_EQ(report.conversions[2].power, -5);  // 1,200 x 10^-5
    EXPECT_EQ(g::finding_text(report.conversions[1]), "2500000 = 2.5 x 10^6 (line 3: budget = 2500000;)");
    EXPECT_EQ(g::finding_text(report.assumptions[1]), "8 (line 6: hours = 8;)");
}

TEST(Ground, NothingToReportWhenEveryNumberIsGiven) {
    g::Report report = g::ground("Make 3 products on 40 hours.", "n = 3;\nhours = 40.0;\n");
    EXPECT_TRUE(report.assumptions.empty());
    EXPECT_TRUE(report.conversions.empty());
    EXPECT_EQ(g::ground("", "a = 7;").assumptions.size(), 1u);
}
