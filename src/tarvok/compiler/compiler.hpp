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
#include <vector>

namespace tarvok::compiler {

/// How large a model's expansion may be; a model past one of these is
/// refused with a located diagnostic before anything is built.
struct SizeLimits {
    uint64_t max_columns = 50'000'000;    ///< elements of all decision variables
    uint64_t max_rows = 50'000'000;       ///< instances of all constraints
    uint64_t max_nonzeros = 500'000'000;  ///< estimated: each family's rows times its terms per row

    /// The limits for a size of `n`: n columns, n rows, 10 n nonzeros.
    static SizeLimits of_size(uint64_t n) {
        uint64_t nonzeros = 0;
        if (__builtin_mul_overflow(n, uint64_t{10}, &nonzeros)) nonzeros = UINT64_MAX;
        return {n, n, nonzeros};
    }
};

/// "1600000000 (1.6e9)": a count as the size messages show it (the short
/// form from a million on).
std::string size_count(uint64_t n);

/// The message of a model past the size limit (code ModelTooLarge): `what`
/// would have `amount` (and `total`: how it brings the model past it), more
/// than `limit` `unit`.
std::string too_large_message(std::string_view what, std::string_view amount, std::string_view total, uint64_t limit,
                              std::string_view unit);

/// The numbers of an array parameter handed over packed, row by row over its
/// dimensions, instead of written into the data text: read straight into the
/// parameter's cells when they fit its declaration. The numbers are a view
/// of the caller's memory, which must outlive the compilation.
struct GivenArray {
    std::string name;
    std::vector<uint64_t> shape;
    bool is_int = false;
    const int64_t* integers = nullptr;  ///< is_int
    const double* reals = nullptr;      ///< !is_int

    uint64_t cells() const;
};

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
    SizeLimits sizes;
    /// Names the source of a place in a data text written from other data
    /// (see render); kept by the compilation for its report.
    DataOrigin data_origin;
    /// Arrays given packed rather than in the data text. One that does not
    /// fit its declaration exactly (shape, kind, a number that is not finite,
    /// a name the text assigns too) is not read and marks the compilation
    /// (`given_misfit`): the caller writes it as data text instead, whose
    /// reading reports the fault where it is.
    std::vector<GivenArray> given_arrays;
    /// Counting the members of constraint families whose conditions decide
    /// them (only when their bounds pass a limit); a count cut short is a
    /// lower bound and refuses nothing it cannot be sure of.
    uint64_t size_steps = 20'000'000;
    /// No data was given: a model that takes data from it (`= ...`, or a set
    /// or parameter with no initializer) is checked alone (syntax, names,
    /// types, what is never used), its values and constraint members not at
    /// all (`data_unchecked`).
    bool model_only = false;
};

/// What the size pass counted of one constraint family, for a builder to
/// reserve room: its rows (unconditioned families only; 0 when unknown) and
/// its terms per row (estimated).
struct FamilySize {
    uint64_t rows = 0;
    uint64_t terms = 0;
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
    std::vector<FamilySize> family_sizes;  ///< per constraint, when the sizes were measured
    DataOrigin data_origin;
    /// A given array did not fit (see CompileOptions::given_arrays); nothing
    /// reports it, and the compilation is not ok.
    bool given_misfit = false;
    /// CompileOptions::model_only left the data unchecked.
    bool data_unchecked = false;

    bool ok() const { return diagnostics.empty() && !given_misfit; }
    /// All diagnostics, rendered for people and LLMs alike.
    std::string report() const { return render(diagnostics, model_text, data_text, data_origin); }
};

std::unique_ptr<Compilation> compile(std::string_view model_text, std::string_view data_text,
                                     const CompileOptions& options = {});

/// Pass 3: values of parameters, sets and ranges from initializers and data.
void bind_data(const Ast& ast, const Model& model, const DataFile& data, const Analysis& analysis,
               std::string_view model_text, Values& values, Diagnostics& diagnostics, Budget& budget,
               uint64_t steps_per_declaration, uint64_t max_computed_values,
               const std::vector<GivenArray>& given_arrays = {}, bool* given_misfit = nullptr);

/// Pass 5: warnings about what compiles but is likely not meant. Unused
/// declarations are reported only when the model text parsed without error.
void find_warnings(const Ast& ast, const Model& model, const Analysis& analysis, bool model_parsed_whole,
                   Diagnostics& diagnostics, Interrupt* interrupt = nullptr);

/// Pass 4a: the sizes of the expansion, counted from the data; refuses (and
/// returns true for) a model past `limits`.
bool measure_sizes(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                   Values& values, Diagnostics& diagnostics, const SizeLimits& limits, uint64_t steps,
                   Interrupt* interrupt = nullptr, std::vector<FamilySize>* family_sizes = nullptr);

/// Pass 4: index and division checks that the data decides.
void check_instance(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                    Values& values, Diagnostics& diagnostics, Budget& budget);

}  // namespace tarvok::compiler
