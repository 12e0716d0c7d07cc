#include "cli/command_options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

using namespace tarvok::cli;

namespace {

OptionDefaults defaults() { return {"gpt-x", "5", "1000000", "tiny-embedder", {"highs", "scip"}}; }

const Option* find(const OptionTable& command, const std::string& flag) {
    for (const Option& option : command.options)
        for (const std::string& f : option.flags)
            if (f == flag) return &option;
    return nullptr;
}

std::vector<OptionTable> every_command() {
    std::vector<OptionTable> tables;
    for (const Subcommand& subcommand : subcommands())
        if (subcommand.options) tables.push_back(subcommand.options(defaults()));
    return tables;
}

OptionTable table(std::string_view name, const OptionDefaults& d = defaults()) { return options_of(name, d).value(); }

}  // namespace

TEST(OptionTables, EverySubcommandOnceWithItsOwnTable) {
    std::set<std::string_view> names;
    for (const Subcommand& subcommand : subcommands()) {
        EXPECT_TRUE(names.insert(subcommand.name).second) << subcommand.name << " listed twice";
        // A table names the subcommand it is the row of; eval alone makes its parser itself.
        if (subcommand.options)
            EXPECT_EQ(subcommand.options(defaults()).name, subcommand.name);
        else
            EXPECT_EQ(subcommand.name, "eval");
    }
    EXPECT_EQ(names.size(), 11u);
    EXPECT_EQ(options_of("eval", defaults()), std::nullopt);
    EXPECT_EQ(options_of("nonesuch", defaults()), std::nullopt);
}

TEST(OptionTables, EveryOptionIsWellFormed) {
    for (const OptionTable& command : every_command()) {
        SCOPED_TRACE(command.name);
        EXPECT_FALSE(command.help.empty());
        std::set<std::string> seen;
        for (const Option& option : command.options) {
            ASSERT_FALSE(option.flags.empty());
            for (const std::string& f : option.flags) EXPECT_TRUE(seen.insert(f).second) << f << " declared twice";
            bool positional = option.flags.front()[0] != '-';
            // The parser refuses these combinations when the table is read.
            if (option.kind == ValueKind::Flag) {
                EXPECT_FALSE(option.default_value || !option.choices.empty() || !option.metavar.empty())
                    << option.flags.front();
            }
            if (positional) {
                EXPECT_FALSE(option.required || !option.dest.empty()) << option.flags.front();
            }
            if (!option.choices.empty() && option.default_value) {
                EXPECT_NE(std::find(option.choices.begin(), option.choices.end(), *option.default_value),
                          option.choices.end());
            }
        }
    }
}

TEST(OptionTables, HelpNamesTheLibrarysDefaults) {
    OptionDefaults d = defaults();
    OptionTable solve = table("solve", d);
    EXPECT_EQ(find(solve, "--model")->help, "LLM model name (default: gpt-x)");
    EXPECT_EQ(find(solve, "--model")->dest, "model_name");
    EXPECT_NE(find(solve, "--iterations")->help.find("(default: 5)"), std::string::npos);
    EXPECT_NE(find(solve, "--embedding-model")->help.find("else tiny-embedder,"), std::string::npos);
    EXPECT_NE(find(solve, "--max-size")->help.find("(default: 1000000)"), std::string::npos);
    OptionTable run = table("run", d);
    const Option* solver = find(run, "--solver");
    EXPECT_EQ(solver->choices, d.solvers);
    EXPECT_EQ(solver->default_value, "highs");
    EXPECT_EQ(solver->help, "the solver: highs, scip (default: highs; scip needs the scip extra)");
    // The LLM options come with the description's own, --grammar only where prompts are made.
    OptionTable feedback = table("feedback", d), models = table("models", d);
    EXPECT_NE(find(feedback, "--grammar"), nullptr);
    EXPECT_EQ(find(models, "--grammar"), nullptr);
    EXPECT_NE(solve.epilog.find("gpt-x"), std::string::npos);
}

TEST(OptionTables, OnlyTheListingChoicesExcludeEachOther) {
    for (const OptionTable& command : every_command())
        for (const Option& option : command.options)
            EXPECT_EQ(option.exclusive,
                      command.name == "models" && (option.flags[0] == "--prefix" || option.flags[0] == "--all"))
                << command.name << " " << option.flags[0];
}

TEST(OptionTables, EmitOffersEveryTargetWithTheDefault) {
    OptionTable emit = table("emit");
    const Option* to = find(emit, "--to");
    ASSERT_TRUE(to->default_value);
    EXPECT_NE(to->help.find("default: " + *to->default_value), std::string::npos);
    EXPECT_EQ(refused_target(*to->default_value), std::nullopt);
    Refusal unknown = refused_target("fortran");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->rfind("unknown target 'fortran' (choose " + *to->default_value, 0), 0u);
}

TEST(OptionValues, RefusesWhatTheParserLetsThrough) {
    EXPECT_EQ(refused_timeout(std::nullopt), std::nullopt);
    EXPECT_EQ(refused_timeout(0.5), std::nullopt);
    for (double bad : {0.0, -1.0, std::nan(""), HUGE_VAL})
        EXPECT_EQ(refused_timeout(bad), "--timeout must be a positive number") << bad;
    EXPECT_EQ(refused_below("--samples", 1, 1), std::nullopt);
    EXPECT_EQ(refused_below("--samples", 0, 1), "--samples must be at least 1");
    EXPECT_EQ(refused_below("--rel-tol", 0, 0), std::nullopt);
    EXPECT_EQ(refused_below("--rel-tol", std::nan(""), 0), "--rel-tol must be at least 0");
    EXPECT_EQ(refused_below("--rel-tol", HUGE_VAL, 0), "--rel-tol must be at least 0");
}

TEST(MainHelp, ListsEveryExitStatusAligned) {
    std::string epilog = main_epilog("gpt-x");
    std::size_t table = epilog.find("exit statuses:\n");
    ASSERT_NE(table, std::string::npos);
    for (const tarvok::ExitStatusRow& row : tarvok::kExitStatuses) {
        std::string number = std::to_string(tarvok::code(row.status));
        std::string line = "  " + number + std::string(5 - number.size(), ' ') + std::string(row.meaning) + "\n";
        EXPECT_NE(epilog.find(line, table), std::string::npos) << line;
    }
}

TEST(OptionValues, TheLlmChoiceIsCheckedBeforeAnyRequest) {
    EXPECT_EQ(refused_llm_choice({}), std::nullopt);
    EXPECT_EQ(refused_llm_choice({.provider = " OpenAI", .provider_key = "openai"}), std::nullopt);
    Refusal unknown = refused_llm_choice({.provider = "Nope", .provider_key = "nope", .timeout = -1});
    ASSERT_TRUE(unknown);  // the first fault is the one reported
    EXPECT_EQ(unknown->rfind("unknown provider 'Nope'; choose ", 0), 0u);
    EXPECT_EQ(refused_llm_choice({.provider = "replay", .provider_key = "replay"}),
              "--provider replay needs --replay PATH (a transcript or a folder of them)");
    EXPECT_EQ(refused_llm_choice({.provider = "replay", .provider_key = "replay", .default_replay = true}),
              std::nullopt);
    EXPECT_EQ(refused_llm_choice({.provider = "Ollama", .provider_key = "ollama", .replay = "t.jsonl"}),
              "--replay answers requests itself; it cannot go with --provider Ollama");
    EXPECT_EQ(refused_llm_choice({.replay = "t.jsonl", .timeout = 0}), "--timeout must be a positive number");
}

TEST(FailureLines, OneLineAndWhatRanOutOfMemory) {
    EXPECT_EQ(first_line("no such file\nTraceback ...", "OSError"), "no such file ...");
    EXPECT_EQ(first_line("", "KeyError"), "KeyError");
    EXPECT_EQ(out_of_memory_line("MemoryError", "MemoryError"), "not enough memory");
    EXPECT_EQ(out_of_memory_line("std::bad_alloc", "MemoryError"), "not enough memory");
    EXPECT_EQ(out_of_memory_line("not enough memory to expand x", "MemoryError"), "not enough memory to expand x");
    EXPECT_EQ(out_of_memory_line("the model's 3e9 nonzeros", "MemoryError"),
              "not enough memory: the model's 3e9 nonzeros");
}

TEST(OptionTables, ParserKeywordsAreTypedAndLeaveOutWhatARowDoesNotSet) {
    Option port{.flags = {"--port"}, .kind = ValueKind::Int, .help = "the port", .default_value = "8000"};
    std::vector<std::string> keys;
    for (const auto& [key, value] : parser_keywords(port)) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"type", "default", "help"}));
    EXPECT_EQ(parser_keywords(port)[0].second.text(), "int");
    EXPECT_EQ(parser_keywords(port)[1].second.integer(), 8000);
    Option tolerance{.flags = {"--rel-tol"}, .kind = ValueKind::Float, .default_value = "1e-4"};
    EXPECT_EQ(parser_keywords(tolerance)[1].second.number(), 1e-4);
    Option grammar{.flags = {"--grammar"}, .default_value = "bnf", .choices = {"bnf", "none"}, .required = true};
    auto kw = parser_keywords(grammar);
    EXPECT_EQ(kw[0].first, "choices");
    EXPECT_EQ(kw[0].second.items().size(), 2u);
    EXPECT_EQ(kw[1].second.text(), "bnf");
    EXPECT_EQ(kw[2].first, "required");
    EXPECT_EQ(parser_keywords(Option{.flags = {"--json"}, .kind = ValueKind::Flag})[0].second.text(), "store_true");
}

TEST(OptionTables, TheRegistryFindsWhatWasRegisteredAndRefusesTheRest) {
    struct Tag {
        int value;
    };
    Registry<Tag>::add("solve", {3});
    EXPECT_EQ(Registry<Tag>::of("solve").value, 3);
    EXPECT_THROW(Registry<Tag>::of("nonesuch"), std::logic_error);
}
