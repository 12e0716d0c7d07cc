// The Tarvok compiler: runs the passes over a model text and a data text and
// keeps everything they produce for the code that presents the result.
#pragma once

#include "compiler/analysis.hpp"
#include "compiler/ast.hpp"
#include "compiler/diagnostics.hpp"
#include "compiler/front_end.hpp"
#include "compiler/values.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarvok::compiler {

struct CompileOptions {
    size_t max_diagnostics = 20;
    /// Polled every few milliseconds of work; when it says stop, `compile`
    /// throws tarvok::Interrupted and frees everything it holds.
    Interrupt* interrupt = nullptr;
    Limits limits;
    uint64_t data_steps = 20'000'000;            ///< evaluating initializers, all together
    uint64_t steps_per_declaration = 5'000'000;  ///< one initializer; running out is an error
    /// Values that initializers may make beyond what the texts write (a set
    /// converted from a range, say), in all: at least this many, and one per
    /// byte of the texts, so memory stays in proportion to them.
    uint64_t computed_values = 1'000'000;
    /// Data-driven checks of the objective, dexprs and constraints (about half
    /// a second of work); running out is an error, since a check not made must
    /// not read as a pass.
    uint64_t check_steps = 50'000'000;
    /// False skips the data-driven checks altogether: for a caller that walks
    /// every binding itself and reports the same faults (the instantiation).
    bool check_instance = true;
};

/// One compilation. The texts are views of the caller's texts, which must
/// outlive it.
struct Compilation {
    std::string_view model_text;
    std::string_view data_text;
    Ast ast;
    Model model;
    DataFile data;
    Analysis analysis;
    Values values;
    Diagnostics diagnostics;

    bool ok() const { return diagnostics.empty(); }
    /// All diagnostics, rendered for people and LLMs alike.
    std::string report() const { return render(diagnostics, model_text, data_text); }
};

std::unique_ptr<Compilation> compile(std::string_view model_text, std::string_view data_text,
                                     const CompileOptions& options = {});

/// Pass 3: values of parameters, sets and ranges from initializers and data.
void bind_data(const Ast& ast, const Model& model, const DataFile& data, const Analysis& analysis,
               std::string_view model_text, Values& values, Diagnostics& diagnostics, Budget& budget,
               uint64_t steps_per_declaration, uint64_t max_computed_values);

/// Pass 5: warnings about what compiles but is likely not meant. Unused
/// declarations are reported only when the model text parsed without error.
void find_warnings(const Ast& ast, const Model& model, const Analysis& analysis, bool model_parsed_whole,
                   Diagnostics& diagnostics, Interrupt* interrupt = nullptr);

/// Pass 4: index and division checks that the data decides.
void check_instance(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                    Values& values, Diagnostics& diagnostics, Budget& budget);

}  // namespace tarvok::compiler
