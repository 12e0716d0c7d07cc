// The numbers of an array parameter given packed instead of written into the
// data text: what a buffer must hold to be viewed as it is, and the numbers
// of nested lists gathered row by row, read as the data text would read them.
#pragma once

#include "compiler/compiler.hpp"
#include "compiler/data_values.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::data {

/// The numbers of lists nested as deep as the parameter has dimensions.
struct PackedNumbers {
    std::vector<uint64_t> shape;
    bool is_int = true;  ///< until the first float: from there on every number is one, as the text reads them
    std::vector<int64_t> integers;
    std::vector<double> reals;

    /// Starts a row of `n` items `level` lists deep; false when the rows of
    /// that level differ in length (a ragged nesting is written as text).
    bool enter_row(size_t level, uint64_t n);
    void add_whole(int64_t n);
    /// False for a number that is not finite, which only the text can spell.
    bool add_real(double x);
    /// The numbers as a given array named `name`, viewing this object's memory.
    compiler::GivenArray given(std::string name) const;
};

/// Whether a C-contiguous buffer of `format` (as the buffer protocol gives
/// it), `ndim` dimensions and items of `itemsize` bytes can be read as it is
/// for a parameter of `dims` dimensions: nullopt when not, else whether it
/// holds integers (int64) rather than float64.
std::optional<bool> packed_buffer_is_int(std::string_view format, size_t ndim, size_t itemsize, size_t dims);

/// The dimensions of the array parameter declared as `name`; 0 for a set, a
/// scalar or a name the model does not declare, which are written as text.
size_t packed_dimensions(const std::map<std::string, Declared>& declared, const std::string& name);

}  // namespace tarvok::data
