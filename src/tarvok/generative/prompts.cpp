#include "generative/prompts.hpp"

#include <initializer_list>
#include <string>

namespace tarvok::generative {

namespace {

/// Joins the parts of a prompt with one allocation.
std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (auto part : parts) size += part.size();
    std::string out;
    out.reserve(size);
    for (auto part : parts) out.append(part);
    return out;
}

/// The text of 1-based line `line` of `text` without surrounding blanks, or
/// nothing when there is no such line.
std::string_view line_of(std::string_view text, long long line) {
    if (line < 1) return {};
    std::size_t begin = 0;
    for (long long n = 1; n < line; ++n) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) return {};
        begin = end + 1;
    }
    std::string_view rest = text.substr(begin);
    rest = rest.substr(0, rest.find('\n'));
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
    while (!rest.empty() && blank(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && blank(rest.back())) rest.remove_suffix(1);
    return rest;
}

/// At most `limit` bytes of `text`, cut before a UTF-8 continuation byte and
/// marked with "..." when cut.
std::string shortened(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + "...";
}

}  // namespace

std::string solver_verdict_text(const SolverVerdict& verdict, std::string_view model_code) {
    // A long subset is cut: its first members are where a revision starts.
    constexpr std::size_t kShownMembers = 20, kShownLine = 200;
    std::string out = "Solving the model with its data ended with the status \"" + verdict.status + "\".";
    if (!verdict.message.empty()) out += "\n" + verdict.message;
    if (verdict.infeasible_subset.empty()) return out;
    out += "\nThese constraints and bounds cannot all hold together (an irreducible infeasible subset):";
    std::size_t shown = std::min(verdict.infeasible_subset.size(), kShownMembers);
    for (std::size_t i = 0; i < shown; ++i) {
        const InfeasibleItem& item = verdict.infeasible_subset[i];
        out += "\n- ";
        if (item.is_bound) out += "bound of ";
        out += item.name;
        std::string_view source = line_of(model_code, item.line);
        if (item.line > 0) out += " (model line " + std::to_string(item.line) + ")";
        if (!source.empty()) out += ": " + shortened(source, kShownLine);
    }
    if (shown < verdict.infeasible_subset.size())
        out += "\n- ... and " + std::to_string(verdict.infeasible_subset.size() - shown) + " more";
    return out;
}

std::string few_shot_section(const std::vector<FewShotExample>& examples) {
    using namespace pieces;
    if (examples.empty()) return {};
    std::string out(few_shot_open);
    std::size_t index = 0;
    for (const auto& ex : examples) {
        std::string number = std::to_string(++index);
        out += concat(
            {example_open, number,         example_index_close, description_header_open, ex.desc_path,  header_close,
             "\n",         ex.description, description_close,   model_file_header_open,  ex.model_path, header_close,
             "\n",         ex.model,       model_file_close,    data_file_header_open,   ex.data_path,  header_close,
             "\n",         ex.data,        data_file_close});
    }
    out += few_shot_close;
    return out;
}

std::string generation_prompt(std::string_view prompt, std::string_view grammar,
                              const std::vector<FewShotExample>& examples) {
    using namespace pieces;
    return concat({role, generation_task, grammar_open, grammar, grammar_close, few_shot_section(examples),
                   problem_open, prompt, problem_close, model_data_contract});
}

std::string syntax_revision_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                                   std::string_view data_code, std::string_view errors,
                                   const std::vector<FewShotExample>& examples) {
    using namespace pieces;
    return concat({role, syntax_task, grammar_open, grammar, grammar_close, few_shot_section(examples), problem_open,
                   prompt, previous_attempt_open, model_code, model_to_data, data_code, errors_open, errors,
                   syntax_guidelines, model_data_contract});
}

std::string alignment_revision_prompt(std::string_view prompt, std::string_view grammar, std::string_view assessment,
                                      std::string_view model_code, std::string_view data_code,
                                      const std::vector<FewShotExample>& examples) {
    using namespace pieces;
    return concat({role, realign_task_open, assessment, realign_task_close, grammar_open, grammar, grammar_close,
                   few_shot_section(examples), problem_open, prompt, previous_attempt_open, model_code, model_to_data,
                   data_code, realign_guidelines, model_data_contract});
}

std::string execution_revision_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                                      std::string_view data_code, std::string_view verdict,
                                      const std::vector<FewShotExample>& examples) {
    using namespace pieces;
    return concat({role, execution_task, grammar_open, grammar, grammar_close, few_shot_section(examples), problem_open,
                   prompt, previous_attempt_open, model_code, model_to_data, data_code, verdict_open, verdict,
                   execution_guidelines, model_data_contract});
}

std::string alignment_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                             std::string_view data_code) {
    using namespace pieces;
    return concat({role, alignment_task, grammar_open, grammar, grammar_close, inputs_problem_open, prompt,
                   problem_to_model, model_code, model_to_data, data_code, inputs_close, assessment_focus,
                   alignment_contract});
}

std::string final_assessment_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                                    std::string_view data_code, std::optional<std::string_view> errors) {
    using namespace pieces;
    std::string_view open = errors ? syntax_errors_open : std::string_view();
    std::string_view close = errors ? syntax_errors_close : std::string_view();
    return concat({role, final_task, grammar_open, grammar, grammar_close, inputs_problem_open, prompt,
                   problem_to_model, model_code, model_to_data, data_code, final_data_close, open,
                   errors.value_or(std::string_view()), close, final_inputs_close, assessment_focus,
                   paragraph_contract});
}

std::string feedback_prompt(std::string_view question, std::string_view grammar, std::string_view model_code,
                            std::string_view data_code) {
    using namespace pieces;
    return concat({role, feedback_task, grammar_open, grammar, grammar_close, inputs_question_open, question,
                   question_to_model, model_code, model_to_data, data_code, inputs_close, feedback_contract});
}

std::string assumptions_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                               std::string_view data_code) {
    using namespace pieces;
    return concat({role, assumptions_task, grammar_open, grammar, grammar_close, inputs_problem_open, prompt,
                   problem_to_model, model_code, model_to_data, data_code, inputs_close, assumptions_contract});
}

std::string what_if_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                           std::string_view data_code, std::string_view assumption, std::string_view alternative,
                           bool asked_quantity) {
    using namespace pieces;
    return concat({role,
                   what_if_task_open,
                   assumption,
                   assumption_to_alternative,
                   alternative,
                   what_if_task_close,
                   grammar_open,
                   grammar,
                   grammar_close,
                   problem_open,
                   prompt,
                   previous_attempt_open,
                   model_code,
                   model_to_data,
                   data_code,
                   previous_attempt_close,
                   what_if_rules_text,
                   asked_quantity ? asked_quantity_rule : std::string_view(),
                   what_if_rules_close,
                   model_data_contract});
}

}  // namespace tarvok::generative
