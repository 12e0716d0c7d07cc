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

TEST(Prompts, SolverVerdictStatesStatusMessageAndSubset) {
    SolverVerdict bare{"unbounded", "", {}};
    EXPECT_EQ(solver_verdict_text(bare, ""), "Solving the model with its data ended with the status \"unbounded\".");

    std::string model = "dvar float+ x;\r\n\n\t  limit: x <= 4;   \nneed: x >= 5;";
    SolverVerdict infeasible{
        "infeasible",
        "No solution satisfies all constraints.",
        {{"limit", 3, false}, {"x", 1, true}, {"need", 4, false}, {"gone", 9, false}, {"c", 0, false}}};
    EXPECT_EQ(solver_verdict_text(infeasible, model),
              "Solving the model with its data ended with the status \"infeasible\".\n"
              "No solution satisfies all constraints.\n"
              "These constraints and bounds cannot all hold together (an irreducible infeasible subset):\n"
              "- limit (model line 3): limit: x <= 4;\n"
              "- bound of x (model line 1): dvar float+ x;\n"
              "- need (model line 4): need: x >= 5;\n"
              "- gone (model line 9)\n"
              "- c");
}

TEST(Prompts, SolverVerdictCutsLongSubsetsAndLinesOnCharacterBoundaries) {
    // 199 ASCII bytes, then a two-byte character straddling the 200-byte cut.
    std::string line = std::string(199, 'a') + "\xC3\xA9" + "tail";
    SolverVerdict verdict{"infeasible", "", {}};
    for (int i = 0; i < 25; ++i) verdict.infeasible_subset.push_back({"c" + std::to_string(i), 1, false});
    std::string text = solver_verdict_text(verdict, line);
    EXPECT_NE(text.find("- c0 (model line 1): " + std::string(199, 'a') + "...\n"), std::string::npos);
    EXPECT_NE(text.find("- c19 (model line 1)"), std::string::npos);
    EXPECT_EQ(text.find("- c20 "), std::string::npos);
    const std::string tail = "\n- c19 (model line 1): " + std::string(199, 'a') + "...\n- ... and 5 more";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(Prompts, ExecutionRevisionIsBuiltLikeTheSyntaxRevision) {
    std::vector<FewShotExample> none;
    std::string syntax = syntax_revision_prompt("P", "G", "M", "D", "E", none);
    std::string execution = execution_revision_prompt("P", "G", "M", "D", "V", none);
    EXPECT_EQ(execution.find(pieces::role), 0u);
    EXPECT_EQ(execution.rfind(pieces::model_data_contract), execution.size() - pieces::model_data_contract.size());
    // The same description, previous attempt and reply contract; the verdict where the errors stand.
    auto attempt = [](const std::string& p) {
        return p.substr(p.find("<problem_description>"),
                        p.find("</previous_attempt>") - p.find("<problem_description>"));
    };
    EXPECT_EQ(attempt(execution), attempt(syntax));
    EXPECT_NE(execution.find("</previous_attempt>\n\n<solver_verdict>\nV\n</solver_verdict>\n\n<revision_guidelines>"),
              std::string::npos);
    EXPECT_NE(execution.find(pieces::no_diffs), std::string::npos);
}
