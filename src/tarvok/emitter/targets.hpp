// Every output a compiled pair can be written as, in one table (targets.cpp):
// the scripts of the emitter targets and the model files of the solver's
// writer. `tarvok emit --to`, `solve --emit`, the page's /api/emit and the
// MCP tool emit_script all read it.
#pragma once

#include "emitter/emitter.hpp"
#include "solver/program.hpp"

#include <span>
#include <string_view>

namespace tarvok::emitter {

/// One output: its name as every front end takes it, its file's suffix
/// (with the dot), the media type the page serves it as, one help line, and
/// how it is made: by its script target, else by the solver's model writer
/// in `format`.
struct Output {
    std::string_view name;
    std::string_view suffix;
    std::string_view media_type;
    std::string_view summary;
    const Emitter* script = nullptr;
    solver::NameFormat format = solver::NameFormat::Mps;

    /// An output made by a script target, named as the target names itself.
    static Output of(const Emitter& target, std::string_view media_type);
};

/// Adds an output to the table from another file (one of these at namespace
/// scope, made before main runs), as a test's fake target does.
struct OutputRegistration {
    explicit OutputRegistration(const Output& output);
};

/// Every output, the default first.
std::span<const Output> outputs();

/// The output of that name (names are exact); nullptr when there is none.
const Output* find_output(std::string_view name);

/// The default output: the first script of the table.
const Output& default_output();

/// Every script target, the default first: what `tarvok emit --to` chooses from.
std::span<const Emitter* const> targets();

/// The script target of that name; nullptr when there is none.
const Emitter* find_target(std::string_view name);

/// The default script target.
const Emitter& default_target();

}  // namespace tarvok::emitter
