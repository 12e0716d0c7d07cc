#include "generative/prompts.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvok::generative;

namespace {

std::size_t code_points(std::string_view s) {
    std::size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

}  // namespace

TEST(HostRepr, QuoteChoiceAndEscapes) {
    EXPECT_EQ(host_repr(""), "''");
    EXPECT_EQ(host_repr("it's"), "\"it's\"");
    EXPECT_EQ(host_repr("say \"hi\""), "'say \"hi\"'");
    EXPECT_EQ(host_repr("both ' and \""), "'both \\' and \"'");
    EXPECT_EQ(host_repr("a\\b"), "'a\\\\b'");
    EXPECT_EQ(host_repr("\t\n\r"), "'\\t\\n\\r'");
    EXPECT_EQ(host_repr(std::string("\x00\x1b\x7f", 3)), "'\\x00\\x1b\\x7f'");
}

TEST(HostRepr, NonAsciiByPrintability) {
    EXPECT_EQ(host_repr("é ü Ω 😀"), "'é ü Ω 😀'");
    EXPECT_EQ(host_repr("\u0085\u00a0\u00ad"), "'\\x85\\xa0\\xad'");  // Cc, Zs, Cf below U+0100
    EXPECT_EQ(host_repr("\u200b\u2028\u3000\ue000"), "'\\u200b\\u2028\\u3000\\ue000'");
    EXPECT_EQ(host_repr("\u0378"), "'\\u0378'");  // unassigned
    EXPECT_EQ(host_repr("\U000e0001\U0010ffff"), "'\\U000e0001\\U0010ffff'");
    EXPECT_EQ(host_repr("\U000e0100"), "'\U000e0100'");  // a variation selector prints
}

TEST(HostRepr, SurrogatesAndForeignBytes) {
    EXPECT_EQ(host_repr("a\xed\xa0\x80z"), "'a\\ud800z'");  // lone surrogate, as surrogatepass writes it
    EXPECT_EQ(host_repr("\xed\xbf\xbf"), "'\\udfff'");
    EXPECT_EQ(host_repr("x\xffy"), "'x\\xffy'");
    EXPECT_EQ(host_repr("\xe2\x82"), "'\\xe2\\x82'");
}

TEST(HostRepr, Lists) {
    EXPECT_EQ(host_list_repr({}), "[]");
    EXPECT_EQ(host_list_repr({"line 1: bad\n", "it's"}), "['line 1: bad\\n', \"it's\"]");
}

TEST(HostPrintable, TableBoundaries) {
    EXPECT_TRUE(is_host_printable(' '));
    EXPECT_TRUE(is_host_printable('~'));
    EXPECT_FALSE(is_host_printable(0x7F));
    EXPECT_FALSE(is_host_printable(0x80));
    EXPECT_FALSE(is_host_printable(0xA0));
    EXPECT_TRUE(is_host_printable(0xA1));
    EXPECT_FALSE(is_host_printable(0xD800));
    EXPECT_FALSE(is_host_printable(0xDFFF));
    EXPECT_TRUE(is_host_printable(0xFFFD));
    EXPECT_FALSE(is_host_printable(0xFFFF));
    EXPECT_TRUE(is_host_printable(0x1F600));
    EXPECT_FALSE(is_host_printable(0x10FFFF));
}

TEST(TolerantDecode, DropsEachIllFormedSubpart) {
    EXPECT_EQ(decode_utf8_ignoring_errors("A\xff" "B"), "AB");
    EXPECT_EQ(decode_utf8_ignoring_errors("\xe2\x82" "A"), "A");  // truncated sequence, next byte re-read
    EXPECT_EQ(decode_utf8_ignoring_errors("\xed\xa0\x80X"), "X");  // surrogates are not UTF-8
    EXPECT_EQ(decode_utf8_ignoring_errors("\xc0\xaf" "Z"), "Z");   // overlong
    EXPECT_EQ(decode_utf8_ignoring_errors("\xf4\x90\x80\x80"), "");  // beyond U+10FFFF
    EXPECT_EQ(decode_utf8_ignoring_errors("ab\xf0\x9f\x98"), "ab");  // cut at the end
    EXPECT_EQ(decode_utf8_ignoring_errors("\xef\xbb\xbf" "é😀"), "\xef\xbb\xbf" "é😀");  // a BOM is kept
}

TEST(CutAndStrip, LimitCountsCharactersBeforeTheStrip) {
    EXPECT_EQ(cut_and_strip("   abcdef", 5), "ab");
    EXPECT_EQ(cut_and_strip("abc", 0), "");
    EXPECT_EQ(cut_and_strip(" \n\t\u3000 ", std::nullopt), "");
    EXPECT_EQ(cut_and_strip("éüö", 2), "éü");
    EXPECT_EQ(cut_and_strip("\u2003x\u200b\u2029", std::nullopt), "x\u200b");  // ZWSP is no whitespace
    EXPECT_EQ(cut_and_strip("abc", INT64_MAX), "abc");
}

TEST(CutAndStrip, NegativeLimitDropsFromTheEnd) {
    EXPECT_EQ(cut_and_strip("abcdef", -2), "abcd");
    EXPECT_EQ(cut_and_strip("abc ", -1), "abc");
    EXPECT_EQ(cut_and_strip("éü", -1), "é");
    EXPECT_EQ(cut_and_strip("abc", -3), "");
    EXPECT_EQ(cut_and_strip("abc", INT64_MIN), "");
}

TEST(Prompts, ReplyContractsAreShared) {
    EXPECT_EQ(pieces::model_data_contract.size(), 834u);
    std::vector<FewShotExample> none;
    for (const std::string& p :
         {generation_prompt("P", "G", none), syntax_revision_prompt("P", "G", "M", "D", "[]", none),
          alignment_revision_prompt("P", "G", "A", "M", "D", none)}) {
        EXPECT_EQ(p.rfind(pieces::model_data_contract), p.size() - 834);
        EXPECT_EQ(p.find(pieces::role), 0u);
    }
    EXPECT_NE(pieces::paragraph_contract.find("3\u20136 sentences"), std::string_view::npos);
    EXPECT_EQ(code_points(pieces::alignment_contract), pieces::alignment_contract.size() - 2);  // one en dash
}

TEST(Prompts, EmptyGrammarLeavesOneBlankLineBetweenMarkers) {
    std::string p = alignment_prompt("P", "", "M", "D");
    EXPECT_NE(p.find("--- BEGIN TARVOK SYNTAX IMPLEMENTATION ---\n\n--- END TARVOK SYNTAX IMPLEMENTATION ---\n"),
              std::string::npos);
}

TEST(Prompts, FewShotSectionNumbersExamplesInOrder) {
    EXPECT_EQ(few_shot_section({}), "");
    std::vector<FewShotExample> examples = {{"d1", "m1", "x1", "a/1.txt", "", ""}, {"d2", "m2", "x2", "", "", "b.dat"}};
    std::string s = few_shot_section(examples);
    EXPECT_EQ(s.find(pieces::few_shot_open), 0u);
    auto first = s.find("<example index=\"1\">\n<description path=\"a/1.txt\">\nd1\n</description>\n\n"
                        "<model_file path=\"\">\nm1\n</model_file>\n\n<data_file path=\"\">\nx1\n</data_file>\n"
                        "</example>\n");
    auto second = s.find("<example index=\"2\">\n<description path=\"\">\nd2\n");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_NE(s.find("<data_file path=\"b.dat\">\nx2\n</data_file>\n</example>\n</few_shot_examples>\n\n"),
              std::string::npos);
    // Without examples the grammar closer runs straight into the problem.
    std::string p = generation_prompt("P", "G", {});
    EXPECT_NE(p.find("</grammar_reference>\n\n<problem_description>\nP\n</problem_description>\n\n"),
              std::string::npos);
}

TEST(Prompts, FinalAssessmentErrorBlockOnlyWithErrors) {
    std::string without = final_assessment_prompt("P", "G", "M", "D", std::nullopt);
    EXPECT_NE(without.find("\nD\n</data>\n\n</inputs>\n\n<assessment_focus>"), std::string::npos);
    EXPECT_EQ(without.find("SYNTAX ERRORS"), std::string::npos);
    std::string with = final_assessment_prompt("P", "G", "M", "D", std::string_view("['e1', 'e2']"));
    EXPECT_NE(with.find("\nD\n</data>\n\nSYNTAX ERRORS:\n['e1', 'e2']\n\n</inputs>\n\n"), std::string::npos);
}
