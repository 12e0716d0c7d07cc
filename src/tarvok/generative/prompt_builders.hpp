// The prompt builders the module offers, as one table: each builder's name,
// its parameters in order (and what each takes from its argument), its
// documentation and the prompt it builds. The binding registers every row
// the same way; the loop asks for each prompt by the builder's name.
#pragma once

#include "generative/prompts.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative {

/// What a builder's parameter takes from its argument.
enum class PromptInput : uint8_t {
    Text,          ///< the argument's text form
    TextIfAny,     ///< the text form, or nothing for an argument that is empty (false)
    SolverResult,  ///< a solver outcome map, shown as solver_verdict_text
    FewShots,      ///< worked examples; None (the default) for none
};

struct PromptParam {
    const char* name;
    PromptInput input = PromptInput::Text;
    /// A text parameter's default; null: required. A FewShots parameter
    /// always defaults to None.
    const char* text_default = nullptr;

    bool has_default() const { return input == PromptInput::FewShots || text_default != nullptr; }
};

/// A builder's arguments as its parameters took them: one entry per Text or
/// TextIfAny parameter, in order (none for an empty TextIfAny), the verdict
/// of a SolverResult and the examples of a FewShots parameter.
struct PromptArguments {
    std::vector<std::optional<std::string_view>> texts;
    SolverVerdict verdict;
    std::vector<FewShotExample> examples;
};

struct PromptBuilder {
    const char* name;
    std::vector<PromptParam> params;  ///< the required ones first
    const char* doc;
    std::string (*build)(const PromptArguments& arguments);

    std::size_t required() const;
    /// The parameter list as the host shows it: "prompt, grammar_implementation, few_shots=None".
    std::string parameter_list() const;
};

/// Every builder, in the order the module registers them.
const std::vector<PromptBuilder>& prompt_builders();

}  // namespace tarvok::generative
