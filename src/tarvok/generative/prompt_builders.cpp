#include "generative/prompt_builders.hpp"

namespace tarvok::generative {

namespace {

using In = PromptInput;

/// The i-th text argument (present: only TextIfAny parameters may be absent).
std::string_view text(const PromptArguments& a, std::size_t i) { return *a.texts.at(i); }

const PromptParam kPrompt{"prompt"}, kGrammar{"grammar_implementation"}, kModel{"model_code"}, kData{"data_code"},
    kFewShots{"few_shots", In::FewShots};

}  // namespace

std::size_t PromptBuilder::required() const {
    std::size_t n = 0;
    while (n < params.size() && !params[n].has_default()) ++n;
    return n;
}

std::string PromptBuilder::parameter_list() const {
    std::string out;
    for (const PromptParam& p : params) {
        if (!out.empty()) out += ", ";
        out += p.name;
        if (p.input == In::FewShots) out += "=None";
        if (p.text_default != nullptr) out += std::string("='") + p.text_default + "'";
    }
    return out;
}

const std::vector<PromptBuilder>& prompt_builders() {
    static const std::vector<PromptBuilder> builders{
        {"_build_generation_prompt",
         {kPrompt, kGrammar, kFewShots},
         "Build the first request for a model and data pair.",
         [](const PromptArguments& a) { return generation_prompt(text(a, 0), text(a, 1), a.examples); }},
        {"_build_revision_prompt_syntax",
         {kPrompt, kGrammar, kModel, kData, {"syntax_errors"}, kFewShots},
         "Build the request that repairs a pair the compiler rejected.\n\n"
         "A list of error texts is shown as the host's list literal, a text as it is.",
         [](const PromptArguments& a) {
             return syntax_revision_prompt(text(a, 0), text(a, 1), text(a, 2), text(a, 3), text(a, 4), a.examples);
         }},
        {"_build_revision_prompt_alignment",
         {kPrompt, kGrammar, {"assessment_text"}, kModel, kData, kFewShots},
         "Build the request that realigns a compiling pair with the problem description.",
         [](const PromptArguments& a) {
             return alignment_revision_prompt(text(a, 0), text(a, 1), text(a, 2), text(a, 3), text(a, 4), a.examples);
         }},
        {"_build_revision_prompt_execution",
         {kPrompt, kGrammar, kModel, kData, {"solver_result", In::SolverResult}, kFewShots},
         "Build the request that revises a compiling pair the solver could not solve to optimality.\n\n"
         "solver_result is a map as _execute_model returns it: the status word, the solver's message and,\n"
         "for an infeasible model, the constraints of the irreducible infeasible subset.",
         [](const PromptArguments& a) {
             return execution_revision_prompt(text(a, 0), text(a, 1), text(a, 2), text(a, 3),
                                              solver_verdict_text(a.verdict, text(a, 2)), a.examples);
         }},
        {"_build_alignment_prompt",
         {kPrompt, kGrammar, kModel, kData},
         "Build the request for a JSON alignment verdict on a compiling pair.",
         [](const PromptArguments& a) { return alignment_prompt(text(a, 0), text(a, 1), text(a, 2), text(a, 3)); }},
        {"_build_final_assessment_prompt",
         {kPrompt, kGrammar, kModel, kData, {"syntax_errors", In::TextIfAny}},
         "Build the request for a short written assessment at the end of a run.\n\n"
         "Errors, when there are any, stand in a SYNTAX ERRORS block inside the inputs.",
         [](const PromptArguments& a) {
             return final_assessment_prompt(text(a, 0), text(a, 1), text(a, 2), text(a, 3), a.texts.at(4));
         }},
        {"_build_feedback_prompt",
         {{"user_prompt_text"}, kGrammar, kModel, kData},
         "Build the request that answers a question about an existing model and data pair.",
         [](const PromptArguments& a) { return feedback_prompt(text(a, 0), text(a, 1), text(a, 2), text(a, 3)); }},
        {"_build_assumptions_prompt",
         {kPrompt, kGrammar, kModel, kData},
         "Build the request for the JSON list of assumptions a compiling pair makes where the description\n"
         "is silent or ambiguous: each with 'assumption', 'alternative', 'where' and 'kind'.",
         [](const PromptArguments& a) { return assumptions_prompt(text(a, 0), text(a, 1), text(a, 2), text(a, 3)); }},
        {"_build_what_if_prompt",
         {kPrompt, kGrammar, kModel, kData, {"assumption"}, {"alternative"}, {"kind", In::Text, "interpretation"}},
         "Build the request for a pair under the alternative reading of one assumption.\n\n"
         "For the kind 'asked_quantity' it also asks for a decision expression named answer.",
         [](const PromptArguments& a) {
             return what_if_prompt(text(a, 0), text(a, 1), text(a, 2), text(a, 3), text(a, 4), text(a, 5),
                                   text(a, 6) == "asked_quantity");
         }},
    };
    return builders;
}

}  // namespace tarvok::generative
