// The tables the module registers from: the prompt builders and the settings.
#include "generative/prompt_builders.hpp"
#include "generative/settings.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>

using namespace tarvok::generative;

namespace {

/// Arguments for `builder` whose texts are "<T0>", "<T1>", ... in parameter order.
PromptArguments numbered_texts(const PromptBuilder& builder) {
    static constexpr std::string_view kTexts[] = {"<T0>", "<T1>", "<T2>", "<T3>", "<T4>", "<T5>", "<T6>", "<T7>"};
    PromptArguments a;
    for (const PromptParam& p : builder.params)
        if (p.input == PromptInput::Text || p.input == PromptInput::TextIfAny)
            a.texts.emplace_back(kTexts[a.texts.size()]);
    return a;
}

}  // namespace

TEST(PromptBuilders, RegisterableAndNamed) {
    std::set<std::string> names;
    for (const PromptBuilder& b : prompt_builders()) {
        EXPECT_TRUE(names.insert(b.name).second) << b.name;
        // The binding has definers for up to 7 required and 1 defaulted parameter, defaults last.
        std::size_t required = b.required();
        EXPECT_LE(required, 7u) << b.name;
        EXPECT_LE(b.params.size() - required, 1u) << b.name;
        for (std::size_t i = required; i < b.params.size(); ++i) EXPECT_TRUE(b.params[i].has_default()) << b.name;
    }
    EXPECT_EQ(names.size(), 9u);
}

TEST(PromptBuilders, EveryRequiredTextReachesThePrompt) {
    for (const PromptBuilder& b : prompt_builders()) {
        PromptArguments a = numbered_texts(b);
        std::string prompt = b.build(a);
        // A text with a default (an assumption's kind) chooses wording rather than appearing.
        for (std::size_t i = 0; i < b.required(); ++i) {
            if (b.params[i].input == PromptInput::SolverResult) break;
            EXPECT_NE(prompt.find(*a.texts[i]), std::string::npos) << b.name << " " << b.params[i].name;
        }
    }
}

TEST(PromptBuilders, OptionalInputsChangeThePrompt) {
    auto find = [](std::string_view name) {
        for (const PromptBuilder& b : prompt_builders())
            if (name == b.name) return &b;
        return static_cast<const PromptBuilder*>(nullptr);
    };
    const PromptBuilder* final = find("_build_final_assessment_prompt");
    ASSERT_NE(final, nullptr);
    PromptArguments a = numbered_texts(*final);
    EXPECT_NE(final->build(a).find("SYNTAX ERRORS:\n<T4>"), std::string::npos);
    a.texts[4].reset();  // an empty error list: no block at all
    EXPECT_EQ(final->build(a).find("SYNTAX ERRORS"), std::string::npos);

    const PromptBuilder* what_if = find("_build_what_if_prompt");
    ASSERT_NE(what_if, nullptr);
    EXPECT_EQ(what_if->parameter_list(),
              "prompt, grammar_implementation, model_code, data_code, assumption, alternative, kind='interpretation'");
    a = numbered_texts(*what_if);
    EXPECT_EQ(what_if->build(a).find("dexpr float answer"), std::string::npos);
    a.texts[6] = "asked_quantity";
    EXPECT_NE(what_if->build(a).find("dexpr float answer"), std::string::npos);

    const PromptBuilder* execution = find("_build_revision_prompt_execution");
    ASSERT_NE(execution, nullptr);
    a = numbered_texts(*execution);
    a.verdict.status = "infeasible";
    a.examples.push_back({"DESC", "MODEL", "DATA", "", "", ""});
    std::string prompt = execution->build(a);
    EXPECT_NE(prompt.find("infeasible"), std::string::npos);
    EXPECT_NE(prompt.find("DESC"), std::string::npos);
}

TEST(Settings, DocumentationTableKeepsItsColumns) {
    const std::string doc = module_doc();
    for (const Setting& s : settings()) {
        const std::string name = s.name;
        std::size_t at = doc.find("\n" + name + " ");
        ASSERT_NE(at, std::string::npos) << name;
        std::string_view rest = std::string_view(doc).substr(at + 1);
        std::string_view row = rest.substr(0, rest.find('\n'));
        // The value from column 20 (or after one space), the description from column 30.
        std::size_t value_at = std::max<std::size_t>(20, name.size() + 1);
        EXPECT_EQ(row.substr(0, value_at), name + std::string(value_at - name.size(), ' '));
        EXPECT_EQ(row.substr(value_at, s.shown.size()), s.shown);
        std::size_t value_end = value_at + s.shown.size();
        std::string about_lines;
        for (std::string_view about = s.about;;) {
            std::size_t end = about.find('\n');
            about_lines += std::string(30, ' ').append(about.substr(0, end)) + "\n";
            if (end == std::string_view::npos) break;
            about.remove_prefix(end + 1);
        }
        if (value_end < 30) {
            EXPECT_EQ(row.substr(value_end, 30 - value_end), std::string(30 - value_end, ' '));
            EXPECT_TRUE(rest.substr(value_end).starts_with(about_lines.substr(value_end))) << name;
        } else {  // no room for a space: the description starts on the next line
            EXPECT_EQ(row.size(), value_end);
            EXPECT_TRUE(rest.substr(value_end + 1).starts_with(about_lines)) << name;
        }
    }
    EXPECT_TRUE(
        doc.ends_with("\n\nrun_generation takes what it reads per call as options of that call, which leave "
                      "the settings as\nthey are."));
}
