// How a generator's script is read back from its attributes, which a subclass
// may have changed between the build steps and the writing: the order they
// are read in, what each must hold and how their sizes must agree with
// var_names. A binding answers for the instance; a fault in what the
// attributes hold is an AttributeFault with its message.
#pragma once

#include "scipy_emitter/script.hpp"
#include "scipy_emitter/standard_form.hpp"
#include "solver/program.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tarvok::scipy_emitter {

/// Attributes that do not fit together (ValueError in the host).
struct AttributeFault : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

/// The two sides of a bounds entry; a side that is missing (None) is none.
using BoundSides = std::pair<std::optional<double>, std::optional<double>>;

/// The attributes of one generator, as read_script_input asks for them.
/// Sequence attributes are read one at a time: `open` makes one the current
/// sequence and the item readers take its items.
class GeneratorAttributes {
  public:
    virtual ~GeneratorAttributes() = default;
    /// The attribute's length, as len() gives it.
    virtual std::size_t length(const char* attribute) = 0;
    /// Makes the sequence the attribute holds the current one; returns its number of items.
    virtual std::size_t open(const char* attribute) = 0;
    /// Item `k` of the current sequence as a number, a text, a truth value.
    virtual double number(std::size_t k) = 0;
    virtual std::string text(std::size_t k) = 0;
    virtual bool flag(std::size_t k) = 0;
    /// Item `k` of the current sequence as a (lower, upper) pair; none when it does not have two sides.
    virtual std::optional<BoundSides> sides(std::size_t k) = 0;
    /// The matrix the attribute holds, `columns` wide (see check_width).
    virtual SparseRows matrix(const char* attribute, std::size_t columns) = 0;
    /// The attribute as one number, as a count, and whether it equals `text`.
    virtual double scalar(const char* attribute) = 0;
    virtual uint64_t count(const char* attribute) = 0;
    virtual bool holds(const char* attribute, std::string_view text) = 0;
};

/// Throws the AttributeFault for a matrix `width` columns wide where var_names has `columns`.
void check_width(std::string_view attribute, std::size_t width, std::size_t columns);
/// Throws the AttributeFault for an array of other than two dimensions.
void check_dimensions(std::string_view attribute, long long dimensions);

/// The script's input as the attributes hold it, with the descriptions of
/// `program`: var_names first (its length is the number of columns), then
/// bounds, integrality, objective_sense, objective_offset, c, A_ub, b_ub,
/// ub_names, A_eq, b_eq, eq_names and inline_limit. The costs are kept as
/// the model states them (c negated back when it maximizes).
ScriptInput read_script_input(const solver::Program& program, GeneratorAttributes& attributes);

}  // namespace tarvok::scipy_emitter
