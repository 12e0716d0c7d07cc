// The parsed command line as one value, built once as a command starts and
// handed to the subcommand: each option under its parser's name (its dest),
// read through typed getters. The decisions made from the options alone (the
// provider --replay names, the default model, the size limit) are made here.
#pragma once

#include "cli/command_options.hpp"
#include "compiler/compiler.hpp"
#include "compiler/data_values.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::cli {

/// An option read as a kind it does not hold, or not there at all: a fault
/// of the build (a subcommand and its table disagree), never of the user.
struct OptionKindError : std::logic_error {
    using std::logic_error::logic_error;
};

/// The options of one command line: an object of values as the parser gave
/// them (texts, numbers, flags, lists of texts; null for one not given).
/// Texts are UTF-8, an undecodable byte of the command line carried as the
/// host carries it (a lone surrogate, see shown_name).
class CommandLine {
  public:
    explicit CommandLine(data::Value options);

    /// A flag (store_true); absent from the parser's values means not given.
    bool flag(std::string_view dest) const;
    /// A text option; nothing when not given.
    std::optional<std::string> text(std::string_view dest) const;
    /// A text the parser always gives (a positional, a required option, one with a default).
    std::string given(std::string_view dest) const;
    /// A whole number; one beyond 64 bits stands at the nearer end.
    std::optional<long long> integer(std::string_view dest) const;
    /// A number (a whole number read as one too).
    std::optional<double> number(std::string_view dest) const;
    /// A list of texts (nargs="*").
    std::vector<std::string> texts(std::string_view dest) const;
    /// The value as the host's str() shows it: a number's digits as the user
    /// wrote them (an int's digits, a float's repr), a text as it is.
    std::string shown(std::string_view dest) const;
    /// Whether the option is given (not null).
    bool has(std::string_view dest) const;

  private:
    const data::Value& at(std::string_view dest) const;
    [[noreturn]] void wrong_kind(std::string_view dest, const char* wanted) const;
    data::Value options_;
};

/// The LLM options of `solve`, `feedback` and `models` as one command uses them.
struct LlmOptions {
    std::optional<std::string> provider;  ///< --provider; "replay" when --replay is given
    std::string model_name;               ///< --model, else the library's default
    std::optional<std::string> replay;    ///< --replay as an absolute path
    std::optional<double> timeout;
    std::optional<double> temperature;  ///< solve and feedback only
    std::string grammar;                ///< solve and feedback only
};

/// Refuses (status 2, Failure) what refused_llm_choice refuses, then reads
/// the options. `default_model` and `default_replay` (whether the library
/// holds a transcript of its own) are the library's settings now.
LlmOptions checked_llm_options(const CommandLine& line, const std::string& default_model, bool default_replay);

/// --max-size as a size limit (refused below 1, status 2); nothing when not
/// given (the compiler's MAX_SIZE as it stands then holds).
std::optional<compiler::SizeLimits> size_option(const CommandLine& line);

/// Refuses (status 2) a number option below `least`; not given passes.
void require_at_least(const CommandLine& line, std::string_view dest, const std::string& option, long long least);

/// The provider as the host reads --provider: trimmed of white space and lower-cased.
std::string provider_key(std::string_view given);

}  // namespace tarvok::cli
