#include "generative/prompts.hpp"

#include <initializer_list>

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

}  // namespace

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

}  // namespace tarvok::generative
