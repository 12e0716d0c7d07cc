// The prompts that carry the whole conversation with the LLM and the pieces
// they share.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative {

/// Fixed prompt pieces. They are the protocol with the LLM and are kept
/// character for character; each lives here once and every prompt that uses
/// it takes it from here.
namespace pieces {

/// The concatenation of `parts`, made by the compiler: a piece built from
/// shared sentences costs nothing at run time.
template <const std::string_view&... parts>
struct Joined {
    static constexpr std::size_t size = (parts.size() + ...);
    static constexpr std::array<char, size> chars = [] {
        std::array<char, size> out{};
        auto at = out.begin();
        ((at = std::copy(parts.begin(), parts.end(), at)), ...);
        return out;
    }();
};
template <const std::string_view&... parts>
inline constexpr std::string_view join{Joined<parts...>::chars.data(), Joined<parts...>::size};

// Sentences that several pieces repeat.
inline constexpr std::string_view task_open = "<task>\n";
inline constexpr std::string_view task_close =
    "</task>\n"
    "\n";
inline constexpr std::string_view syntax_reference =
    "Use the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\n";
inline constexpr std::string_view few_shot_guidance =
    "You are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n";
inline constexpr std::string_view literate_model =
    "Label all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\n";
inline constexpr std::string_view fence_option =
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n";
inline constexpr std::string_view be_critical =
    "Be critical and specific about modeling choices, feasibility, and consistency.\n";
inline constexpr std::string_view no_diffs = "- Return complete model and data strings; do not return diffs.\n";
inline constexpr std::string_view no_extras = "- No trailing commas. No additional keys. No commentary.\n";

// Shared by all six prompts (the grammar reference stands between the
// grammar opener and closer).
inline constexpr std::string_view role =
    "<role>\n"
    "You are an expert in mathematical optimization and Tarvok.\n"
    "</role>\n"
    "\n";
inline constexpr std::string_view grammar_open =
    "<grammar_reference>\n"
    "--- BEGIN TARVOK SYNTAX IMPLEMENTATION ---\n";
inline constexpr std::string_view grammar_close =
    "\n"
    "--- END TARVOK SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n";
inline constexpr std::string_view problem_open = "<problem_description>\n";
inline constexpr std::string_view model_to_data =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";
inline constexpr std::string_view previous_attempt_open =
    "\n"
    "</problem_description>\n"
    "\n"
    "<previous_attempt>\n"
    "<model>\n";
/// Reply contract of the three prompts that ask for a model and data pair.
inline constexpr std::string_view model_data_requirements =
    "<output_requirements>\n"
    "- Return ONLY a JSON object with exactly two keys: \"model\" (the Tarvok model) and \"data\" (the matching data file).\n"
    "- The values must be single JSON strings (no arrays/objects inside them).\n"
    "- Escape all double quotes and backslashes; encode newlines as \\n.\n";
inline constexpr std::string_view model_data_schema =
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"model\", \"data\"],\n"
    "  \"properties\": {\n"
    "    \"model\": {\"type\": \"string\"},\n"
    "    \"data\":  {\"type\": \"string\"}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{\n"
    "  \"model\": \"float a;\\nfloat b;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n";
inline constexpr std::string_view model_data_contract =
    join<model_data_requirements, no_extras, fence_option, model_data_schema>;
// The few-shot section and its example blocks.
inline constexpr std::string_view few_shot_open =
    "<few_shot_examples>\n"
    "Use the following exemplars as guidance for structure and syntax only. Do not copy variable names unless appropriate to the new problem.\n";
inline constexpr std::string_view few_shot_close =
    "</few_shot_examples>\n"
    "\n";
inline constexpr std::string_view example_open = "<example index=\"";
inline constexpr std::string_view example_index_close = "\">\n";
inline constexpr std::string_view description_close =
    "\n"
    "</description>\n"
    "\n";
inline constexpr std::string_view model_file_close =
    "\n"
    "</model_file>\n"
    "\n";
inline constexpr std::string_view data_file_close =
    "\n"
    "</data_file>\n"
    "</example>\n";
inline constexpr std::string_view description_header_open = "<description path=\"";
inline constexpr std::string_view header_close = "\">";
inline constexpr std::string_view model_file_header_open = "<model_file path=\"";
inline constexpr std::string_view data_file_header_open = "<data_file path=\"";
// Generation and the two revisions.
inline constexpr std::string_view generation_goal =
    "Generate a valid Tarvok model (.mod) and a matching data file (.dat) for the given problem description.\n"
    "Ensure the model decision variables, objective function, and constraints fully align with the provided problem description.\n"
    "Infer from the problem context whether decision variables should be integer, binary, or continuous.\n";
inline constexpr std::string_view mock_data =
    "If data are missing, create a small, plausible mock instance consistent with the model.\n";
inline constexpr std::string_view generation_task =
    join<task_open, generation_goal, literate_model, mock_data, syntax_reference, few_shot_guidance, task_close>;
inline constexpr std::string_view problem_close =
    "\n"
    "</problem_description>\n"
    "\n";
inline constexpr std::string_view syntax_goal =
    "The previous attempt to generate a Tarvok model and data file failed due to syntax errors.\n"
    "Revise the model and data to fix the errors while retaining alignment with the problem description.\n"
    "Change only what is necessary to fix the errors.\n";
inline constexpr std::string_view syntax_task =
    join<task_open, syntax_goal, literate_model, syntax_reference, few_shot_guidance, task_close>;
inline constexpr std::string_view previous_attempt_close =
    "\n"
    "</data>\n"
    "</previous_attempt>\n"
    "\n";
inline constexpr std::string_view errors_tag = "<errors>\n";
inline constexpr std::string_view errors_open = join<previous_attempt_close, errors_tag>;
inline constexpr std::string_view syntax_rules =
    "\n"
    "</errors>\n"
    "\n"
    "<revision_guidelines>\n"
    "- Fix the listed syntax/semantic errors.\n"
    "- Preserve the original modeling intent and structure when possible.\n"
    "- Ensure the model compiles with the data under the given implementation.\n";
inline constexpr std::string_view guidelines_close =
    "</revision_guidelines>\n"
    "\n";
inline constexpr std::string_view syntax_guidelines = join<syntax_rules, no_diffs, guidelines_close>;
inline constexpr std::string_view realign_task_open =
    "<task>\n"
    "The previous attempt produced a syntactically valid Tarvok model and data, but they are NOT fully aligned with the problem description.\n"
    "<assessment>\n";
inline constexpr std::string_view realign_goal =
    "\n"
    "</assessment>\n"
    "Revise the model and data so that they fully align with the problem description while preserving syntactic validity.\n"
    "Change only what is necessary to achieve alignment (objective, constraints, variables, sets/parameters, and data consistency).\n";
inline constexpr std::string_view realign_task_close =
    join<realign_goal, literate_model, syntax_reference, few_shot_guidance, task_close>;
inline constexpr std::string_view realign_rules_text =
    "<revision_guidelines>\n"
    "- Ensure the objective, constraints, indices, and variable domains reflect the problem description.\n"
    "- Make the minimal set of changes necessary to correct misalignment.\n"
    "- Keep syntax strictly valid.\n";
inline constexpr std::string_view realign_guidelines =
    join<previous_attempt_close, realign_rules_text, no_diffs, guidelines_close>;
// The execution revision, after a compiling pair did not solve.
inline constexpr std::string_view execution_goal =
    "The previous attempt produced a Tarvok model and data that compile, but solving them did not give an optimal solution.\n"
    "Revise the model and data so that the problem has an optimal solution while retaining alignment with the problem description.\n"
    "Change only what is necessary to remove the cause of the solver's verdict.\n";
inline constexpr std::string_view execution_task =
    join<task_open, execution_goal, literate_model, syntax_reference, few_shot_guidance, task_close>;
inline constexpr std::string_view verdict_tag = "<solver_verdict>\n";
inline constexpr std::string_view verdict_open = join<previous_attempt_close, verdict_tag>;
inline constexpr std::string_view execution_rules =
    "\n"
    "</solver_verdict>\n"
    "\n"
    "<revision_guidelines>\n"
    "- Find the cause of the verdict: for an infeasible model, constraints with the wrong direction, sign, coefficient or right-hand side, or data that contradict each other; for an unbounded model, a missing constraint or bound, or an objective with the wrong sense.\n"
    "- Preserve the original modeling intent and structure when possible.\n"
    "- Ensure the model compiles with the data under the given implementation.\n";
inline constexpr std::string_view execution_guidelines = join<execution_rules, no_diffs, guidelines_close>;
// The alignment, final-assessment and feedback prompts.
inline constexpr std::string_view inputs_problem_open =
    "<inputs>\n"
    "<problem_description>\n";
inline constexpr std::string_view inputs_question_open =
    "<inputs>\n"
    "<question>\n";
inline constexpr std::string_view problem_to_model =
    "\n"
    "</problem_description>\n"
    "\n"
    "<model>\n";
inline constexpr std::string_view question_to_model =
    "\n"
    "</question>\n"
    "\n"
    "<model>\n";
inline constexpr std::string_view inputs_close =
    "\n"
    "</data>\n"
    "</inputs>\n"
    "\n";
/// Shared by the alignment and final-assessment prompts.
inline constexpr std::string_view assessment_focus =
    "<assessment_focus>\n"
    "- Objective and constraints reflect the prompt intent.\n"
    "- Decision variables have correct domains and indices.\n"
    "- Data is consistent with sets/parameters used by the model.\n"
    "- Signs, units, and indexing are correct; no missing links.\n"
    "- Any syntax error raised by the compiler.\n"
    "- Most impactful improvements if misaligned.\n"
    "</assessment_focus>\n"
    "\n";
inline constexpr std::string_view alignment_requirements =
    "<output_requirements>\n"
    "- Return ONLY a JSON object with exactly two keys: \"aligned\" (boolean) and \"assessment\" (string).\n"
    "- If issues exist, mention the most critical fixes in \"assessment\", a single short paragraph (3–6 sentences) of plain text.\n"
    "- No Markdown. No bullet lists. No commentary. No additional keys. No trailing commas.\n";
inline constexpr std::string_view alignment_schema =
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"aligned\", \"assessment\"],\n"
    "  \"properties\": {\n"
    "    \"aligned\": {\"type\": \"boolean\"},\n"
    "    \"assessment\": {\"type\": \"string\"}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{ \"aligned\": false, \"assessment\": \"The model objective function does not include fixed costs.\" }\n"
    "</example_output>\n";
inline constexpr std::string_view alignment_contract = join<alignment_requirements, fence_option, alignment_schema>;
inline constexpr std::string_view paragraph_contract =
    "<output_requirements>\n"
    "- Return a single short paragraph (3–6 sentences) of plain text.\n"
    "- No Markdown, no bullet lists, no code fences.\n"
    "- If issues exist, mention the most critical fixes.\n"
    "</output_requirements>\n";
inline constexpr std::string_view feedback_requirements =
    "<output_requirements>\n"
    "- Return ONLY a JSON object with 1 required key and up to 2 optional keys:\n"
    "  \"feedback\" (required), \"revised_model\" (optional), \"revised_data\" (optional).\n"
    "- Each value must be a single JSON string. Escape all double quotes and backslashes;\n"
    "  encode newlines as \\n.\n"
    "- If no changes are needed, omit \"revised_model\" and \"revised_data\".\n"
    "- If changes are needed, return complete model and data strings; do not return diffs.\n";
inline constexpr std::string_view feedback_schema =
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"feedback\"],\n"
    "  \"properties\": {\n"
    "    \"feedback\": {\"type\": \"string\"},\n"
    "    \"revised_model\": {\"type\": \"string\"},\n"
    "    \"revised_data\": {\"type\": \"string\"}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{\n"
    "  \"feedback\": \"The model was missing coefficients a and b.\",\n"
    "  \"revised_model\": \"// minimal fix\\nfloat a;\\nfloat b;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"revised_data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n";
inline constexpr std::string_view feedback_contract =
    join<feedback_requirements, no_extras, fence_option, feedback_schema>;
/// Frames the error list inside the final assessment's inputs.
inline constexpr std::string_view syntax_errors_open = "SYNTAX ERRORS:\n";
inline constexpr std::string_view syntax_errors_close =
    "\n"
    "\n";
inline constexpr std::string_view alignment_goal =
    "Assess whether the generated Tarvok model and data fully align with the problem description.\n"
    "Alignment means the objective, constraints, decision variables, and data match the problem description.\n";
inline constexpr std::string_view alignment_task =
    join<task_open, alignment_goal, be_critical, syntax_reference, task_close>;
inline constexpr std::string_view final_goal =
    "Assess how well the generated Tarvok model and data align with the problem description.\n";
inline constexpr std::string_view ambiguity =
    "If you believe the problem description is incomplete or ambiguous, point this out in your assessment.\n";
inline constexpr std::string_view final_task =
    join<task_open, final_goal, be_critical, ambiguity, syntax_reference, task_close>;
inline constexpr std::string_view final_data_close =
    "\n"
    "</data>\n"
    "\n";
inline constexpr std::string_view final_inputs_close =
    "</inputs>\n"
    "\n";
inline constexpr std::string_view feedback_goal =
    "Answer the user's question about the provided Tarvok model and data.\n"
    "Provide critical, specific feedback. If revisions are necessary for correctness,\n"
    "semantics, or consistency with the grammar reference, propose minimal changes.\n"
    "Only change what is necessary.\n"
    "Label all constraints and the objective function meaningfully; thoroughly comment the changes to explain the purpose of variables, parameters, objective, and constraints; match these explanations to user's question by following the predicaments of literate programming.\n";
inline constexpr std::string_view feedback_task = join<task_open, feedback_goal, syntax_reference, task_close>;

// The assumptions a compiling pair makes, and the pair under another reading.
inline constexpr std::string_view assumptions_goal =
    "List the assumptions the generated Tarvok model and data make where the problem description is silent or ambiguous.\n"
    "For each, give the other reasonable reading and the model or data lines it affects.\n"
    "Look for numbers the data supply that the description does not give, readings of ambiguous phrases, units and scales, conditions at the start or end of a horizon (initial states, final inventories), and a question that asks for a quantity other than the objective's value.\n";
inline constexpr std::string_view assumptions_task = join<task_open, assumptions_goal, syntax_reference, task_close>;
inline constexpr std::string_view assumptions_requirements =
    "<output_requirements>\n"
    "- Return ONLY a JSON list of objects, each with exactly four keys: \"assumption\", \"alternative\", \"where\" and \"kind\" (all strings).\n"
    "- \"assumption\" is the reading the model takes, \"alternative\" the other reasonable reading, \"where\" the model or data lines it affects, \"kind\" one of \"invented_data\", \"interpretation\", \"units\", \"boundary_condition\", \"asked_quantity\".\n"
    "- List the assumptions that could change the answer, the most consequential first; return [] when the description settles every choice.\n"
    "- No Markdown. No commentary. No additional keys. No trailing commas.\n";
inline constexpr std::string_view assumptions_schema =
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"array\",\n"
    "  \"items\": {\n"
    "    \"type\": \"object\",\n"
    "    \"additionalProperties\": false,\n"
    "    \"required\": [\"assumption\", \"alternative\", \"where\", \"kind\"],\n"
    "    \"properties\": {\n"
    "      \"assumption\": {\"type\": \"string\"},\n"
    "      \"alternative\": {\"type\": \"string\"},\n"
    "      \"where\": {\"type\": \"string\"},\n"
    "      \"kind\": {\"enum\": [\"invented_data\", \"interpretation\", \"units\", \"boundary_condition\", \"asked_quantity\"]}\n"
    "    }\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "[{ \"assumption\": \"Every generator is off before the first period.\", \"alternative\": \"Generators may already run when the horizon starts.\", \"where\": \"model line 14 (startup)\", \"kind\": \"boundary_condition\" }]\n"
    "</example_output>\n";
inline constexpr std::string_view assumptions_contract =
    join<assumptions_requirements, fence_option, assumptions_schema>;
inline constexpr std::string_view what_if_task_open =
    "<task>\n"
    "The previous attempt produced a Tarvok model and data that compile, and they rest on an assumption the problem description does not settle.\n"
    "<assumption>\n";
inline constexpr std::string_view assumption_to_alternative =
    "\n"
    "</assumption>\n"
    "<alternative>\n";
inline constexpr std::string_view what_if_goal =
    "\n"
    "</alternative>\n"
    "Revise the model and data so that they follow the alternative reading instead, keeping every other modeling choice as it is.\n"
    "Change only what the alternative reading requires.\n";
inline constexpr std::string_view what_if_task_close = join<what_if_goal, literate_model, syntax_reference, task_close>;
inline constexpr std::string_view what_if_rules_text =
    "<revision_guidelines>\n"
    "- Apply the alternative reading and nothing else.\n"
    "- Keep syntax strictly valid.\n";
inline constexpr std::string_view asked_quantity_rule =
    "- The alternative concerns the quantity the question asks for: keep the objective and add a decision expression named answer that holds that quantity (dexpr float answer = ...;).\n";
inline constexpr std::string_view what_if_rules_close = join<no_diffs, guidelines_close>;

}  // namespace pieces

/// One few-shot example as the prompts show it. Paths that the caller did not
/// give are empty.
struct FewShotExample {
    std::string description;
    std::string model;
    std::string data;
    std::string desc_path;
    std::string model_path;
    std::string data_path;
};

/// A member of a few-shot entry: its key, where it goes, and whether an entry
/// may lack it (the paths; an entry without one of the texts is refused).
struct FewShotField {
    const char* key;
    std::string FewShotExample::*member;
    bool optional;
};

/// The members in the order they are read: the paths first, as the headers come first.
inline constexpr FewShotField kFewShotFields[] = {
    {"desc_path", &FewShotExample::desc_path, true}, {"model_path", &FewShotExample::model_path, true},
    {"data_path", &FewShotExample::data_path, true}, {"description", &FewShotExample::description, false},
    {"model", &FewShotExample::model, false},        {"data", &FewShotExample::data, false}};

/// The few-shot section: empty for no examples, else the wrapped, numbered
/// example blocks in order.
std::string few_shot_section(const std::vector<FewShotExample>& examples);

/// First request for a model and data pair.
std::string generation_prompt(std::string_view prompt, std::string_view grammar,
                              const std::vector<FewShotExample>& examples);

/// Repair request after the compiler rejected a pair; `errors` is already
/// rendered (the host's text form of the error list).
std::string syntax_revision_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                                   std::string_view data_code, std::string_view errors,
                                   const std::vector<FewShotExample>& examples);

/// Realignment request after a compiling pair was judged not aligned.
std::string alignment_revision_prompt(std::string_view prompt, std::string_view grammar, std::string_view assessment,
                                      std::string_view model_code, std::string_view data_code,
                                      const std::vector<FewShotExample>& examples);

/// One member of an irreducible infeasible subset, as the solver names it.
struct InfeasibleItem {
    std::string name;       ///< the constraint instance, or the variable element whose bound it is
    long long line = 0;     ///< model line it starts on; 0 when unknown
    bool is_bound = false;  ///< a bound from a variable's declaration rather than a constraint
};

/// How solving a compiling pair ended, for the execution revision.
struct SolverVerdict {
    std::string status;   ///< the solver's status word: "infeasible", "unbounded", ...
    std::string message;  ///< the solver's own explanation; may be empty
    std::vector<InfeasibleItem> infeasible_subset;
};

/// The verdict as a plain statement: the status word, the solver's message,
/// and for each member of the infeasible subset its name and model line.
std::string solver_verdict_text(const SolverVerdict& verdict, std::string_view model_code);

/// Revision request after a compiling pair did not solve to optimality;
/// `verdict` is already rendered (solver_verdict_text).
std::string execution_revision_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                                      std::string_view data_code, std::string_view verdict,
                                      const std::vector<FewShotExample>& examples);

/// Request for a JSON alignment verdict.
std::string alignment_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                             std::string_view data_code);

/// Request for the closing paragraph; `errors` is the rendered error list, or
/// nothing when the last attempt had none (then no error block is written).
std::string final_assessment_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                                    std::string_view data_code, std::optional<std::string_view> errors);

/// Request that answers a user's question about an existing pair.
std::string feedback_prompt(std::string_view question, std::string_view grammar, std::string_view model_code,
                            std::string_view data_code);

/// Request for the assumptions a compiling pair makes, as a JSON list.
std::string assumptions_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                               std::string_view data_code);

/// Request for the pair under the alternative reading of one assumption;
/// `asked_quantity` asks for a decision expression `answer` as well.
std::string what_if_prompt(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                           std::string_view data_code, std::string_view assumption, std::string_view alternative,
                           bool asked_quantity);

}  // namespace tarvok::generative
