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
    auto first = s.find(
        "<example index=\"1\">\n<description path=\"a/1.txt\">\nd1\n</description>\n\n"
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
