// The one service that makes an output of a compiled pair: the command line,
// the page and the MCP server call it and only shape what it returns.
#pragma once

#include "common/json.hpp"
#include "emitter/targets.hpp"
#include "solver/compiled_model.hpp"
#include "solver/model_file.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::emitter {

/// Why an output was not made; each front end words it as it always has.
struct Refusal {
    enum class Kind : uint8_t {
        UnknownOutput,   ///< no output of that name; `message` names the choices
        DoesNotCompile,  ///< `message` is the compiler's report or why expanding failed
        TooLarge,        ///< a script whose numbers need arrays beside it, asked for inline
        Unwritable,      ///< a model file the program cannot be written as; `message` says why
        WriteFailed,     ///< the model file at `path` could not be written or read: `error_number`
    };
    Kind kind;
    std::string message;
    json::Value diagnostics = json::Value::array();  ///< DoesNotCompile: the compiler's records
    int error_number = 0;
    std::filesystem::path path;
};

/// What a front end lends the service besides the pair.
struct Means {
    /// How expanding the program is watched (Ctrl-C, memory running out).
    solver::CompiledModel::Watch watch;
    /// The solver library's .lp writer of a program.
    std::function<bool(const solver::Program& program, const std::vector<std::string>& columns,
                       const std::vector<std::string>& rows, const std::filesystem::path& path)>
        write_lp;
    /// A folder of the caller's own, where a model file is written and read back.
    std::filesystem::path scratch;
    /// Refuse (TooLarge) a script whose numbers go into arrays beside it.
    bool inline_only = false;
};

/// An output's text (and a script's arrays), or why there is none.
struct Emission {
    const Output* output = nullptr;
    Emitted made;
    std::optional<Refusal> refusal;
};

/// The output named `name` of a compiled pair, expanded through `means.watch`
/// (once: the compiled model keeps its program).
Emission emit(solver::CompiledModel& compiled, std::string_view name, const Means& means);

/// The same for a program at hand.
Emission emit(const Output& output, const solver::Program& program, const Means& means);

}  // namespace tarvok::emitter
