// What a generator's attributes hold when its script is written (a subclass
// may have changed them between the build steps and the writing), as the
// binding reads them once, and the script's input made of it: what each
// attribute must hold, how its size must agree with var_names and what its
// values mean. A fault in what they hold is an AttributeFault with its message.
#pragma once

#include "scipy_emitter/script.hpp"
#include "scipy_emitter/standard_form.hpp"
#include "solver/program.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::scipy_emitter {

/// Attributes that do not fit together (ValueError in the host).
struct AttributeFault : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

/// The two sides of a bounds entry; a side that is missing (None) is none.
using BoundSides = std::pair<std::optional<double>, std::optional<double>>;

/// A matrix attribute as given: its rows, its number of dimensions and its
/// widths (one for an array, one per row for a sequence of rows).
struct GivenMatrix {
    SparseRows rows;
    long long dimensions = 2;
    std::vector<std::size_t> widths;
};

/// The attributes a generator's script is written from.
struct GeneratorState {
    std::vector<std::string> var_names;
    /// len(var_names) as the host gave it, which must be its number of
    /// items; none: that number.
    std::optional<std::size_t> var_names_length;
    std::vector<std::optional<BoundSides>> bounds;  ///< none: an entry that is not a (lower, upper) pair
    std::vector<uint8_t> integrality;
    bool maximize = false;  ///< objective_sense is "maximize"
    double objective_offset = 0;
    std::vector<double> c;  ///< negated when it maximizes
    GivenMatrix a_ub;
    std::vector<double> b_ub;
    std::vector<std::string> ub_names;
    GivenMatrix a_eq;
    std::vector<double> b_eq;
    std::vector<std::string> eq_names;
    uint64_t inline_limit = 5000;
};

/// The script's input from `state`, with the descriptions of `program`; its
/// faults are checked in the order the fields are declared (var_names gives
/// the number of columns, A_ub and A_eq the number of their rows). The costs
/// are kept as the model states them (c negated back when it maximizes).
ScriptInput script_input(const solver::Program& program, GeneratorState state);

}  // namespace tarvok::scipy_emitter
