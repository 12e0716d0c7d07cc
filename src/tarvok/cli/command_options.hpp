// The options of each subcommand as data: one table per subcommand, turned
// into the host's argument parser by one adapter in the binding, row by row
// in order. The texts of the help, the defaults and the checks of the values
// the parser cannot check itself live here.
#pragma once

#include "common/exit_status.hpp"
#include "compiler/data_values.hpp"

#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::cli {

/// How the parser reads an option's value.
enum class ValueKind { Text, Int, Float, Flag };

/// One argument of a subcommand. Empty texts are left out of the parser call.
struct Option {
    std::vector<std::string> flags;  ///< "-m", "--model-file"; a positional's name alone
    ValueKind kind = ValueKind::Text;
    std::string metavar, help, dest, nargs;
    std::optional<std::string> default_value;  ///< as written, read as `kind` says
    std::vector<std::string> choices;
    bool required = false;
    bool exclusive = false;  ///< in the subcommand's one group of options that exclude each other
};

/// A subcommand's parser: its name, its one-line help (also its description), its epilog and its options.
struct OptionTable {
    std::string name, help, epilog;
    std::vector<Option> options;
};

/// The keyword arguments of the parser's add_argument for `option`, in
/// order: dest, action, type ("int" or "float", the host's type of that
/// name), choices, default (read as the type says), nargs, required,
/// metavar, help. Empty texts are left out.
std::vector<std::pair<std::string, data::Value>> parser_keywords(const Option& option);

/// What the help texts name that the library's modules hold, read when the parser is built.
struct OptionDefaults {
    std::string model_name;            ///< the default LLM model
    std::string max_iterations;        ///< of the generation loop
    std::string max_size;              ///< the compiler's size limit
    std::string embedding_model;       ///< the ranker's default embedding model
    std::vector<std::string> solvers;  ///< the solver back-ends, the default first
};

/// One subcommand: its name and its options' table; a row without one makes
/// its parser itself (eval, whose options belong to tarvok.evaluation). A new
/// subcommand is its row (and table) in command_options.cpp and its own
/// <name>_bindings.cpp, which registers how it runs under the same name.
struct Subcommand {
    std::string_view name;
    OptionTable (*options)(const OptionDefaults&) = nullptr;
};

/// Every subcommand, in the order `tarvok --help` lists them.
std::span<const Subcommand> subcommands();

/// The options' table of the subcommand `name`; nothing for one without a table or a name not in the list.
std::optional<OptionTable> options_of(std::string_view name, const OptionDefaults& d);

/// The epilog of `tarvok --help`: providers, the embedding model's variable, the exit statuses.
std::string main_epilog(const std::string& model_name);

// ---------------------------------------------------- values refused ----

/// A value the parser took that the command refuses (status 2): the line
/// that says so, else nothing.
using Refusal = std::optional<std::string>;

/// --timeout: a positive, finite number of seconds.
Refusal refused_timeout(std::optional<double> seconds);

/// The LLM options as given, for the checks made before any request.
struct LlmChoice {
    std::optional<std::string> provider;        ///< --provider as given
    std::string provider_key;                   ///< --provider trimmed and lower-cased by the host
    std::optional<std::string> replay;          ///< --replay as given
    std::optional<std::string> replay_refusal;  ///< why --replay cannot be read from (see replay_path_refusal)
    bool default_replay = false;                ///< the library has a transcript of its own to replay
    std::optional<double> timeout;
};

/// An unknown provider, --provider replay without a transcript, --replay with
/// another provider or a path that does not exist, a timeout that is not
/// positive; the first that holds.
Refusal refused_llm_choice(const LlmChoice& choice);

/// A number below `least` (or not finite): "--samples must be at least 1".
Refusal refused_below(const std::string& option, double value, long long least);

/// The one line of `tarvok emit --to` naming a target that is not in the table; nothing for a known one.
Refusal refused_target(const std::string& target);

/// The first line of an error's message, " ..." standing for the rest; the
/// name of its kind when the message is empty.
std::string first_line(std::string message, const std::string& kind);

/// The line for memory that ran out: "not enough memory", then what the
/// error says about it (its first line) unless that says nothing more.
std::string out_of_memory_line(const std::string& first, const std::string& kind);

/// A failure the command reports itself: one line (or a JSON object with
/// --json) and its exit status.
struct Failure {
    ExitStatus status;
    std::string message;
};

[[noreturn]] void fail(ExitStatus status, std::string message);

/// A failure as it is shown with --json: {"error": message, "status": status}.
data::Value failure_json(const Failure& failure);

/// Fails with status 2 on a refusal.
void refuse(const Refusal& refusal);

/// What each subcommand's binding file registers under the subcommand's
/// name, filled as the module loads, before any command runs.
template <typename Entry>
class Registry {
  public:
    static void add(std::string_view name, Entry entry) { table().emplace(std::string(name), std::move(entry)); }
    /// The entry of `name`; a row of the table without one is a fault of the build.
    static const Entry& of(std::string_view name) {
        auto found = table().find(name);
        if (found == table().end())
            throw std::logic_error("the subcommand " + std::string(name) + " has no registered binding");
        return found->second;
    }

  private:
    static std::map<std::string, Entry, std::less<>>& table() {
        static std::map<std::string, Entry, std::less<>> entries;
        return entries;
    }
};

}  // namespace tarvok::cli
