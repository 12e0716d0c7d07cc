// What the SciPy generator refuses and says, and how its matrices are laid
// out: the kinds of the compiled model it translates, the messages for paths
// that would clash with a script's data file, and the dense form of a matrix.
#pragma once

#include "scipy_emitter/standard_form.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::scipy_emitter {

/// The kinds of the compiled model the generator translates.
bool translates_value_type(std::string_view type);  ///< float, int, boolean
bool translates_sense(std::string_view sense);      ///< minimize, maximize
bool translates_operator(std::string_view op);      ///< <=, >=, ==, range

/// Why a compiled model cannot be generated.
inline constexpr std::string_view kNoSource =
    "Cannot generate code: the compiled model has no \"source\" entry with its model and "
    "data texts; make it with TVLCompiler().compile_model(model_text, data_text)";
std::string no_variable_message(std::string_view name);
/// A data map that differs from the compiled one in `keys`.
std::string other_data_message(const std::vector<std::string>& keys);

/// Why a path cannot be a script's: it ends in .npz, or links to a file that does.
std::string data_file_name_fault(std::string_view path);
std::string data_file_link_fault(std::string_view path);

/// Whether a matrix of `rows` × `columns` is given dense (within `dense_limit` cells).
bool dense_matrix(uint64_t rows, uint64_t columns, uint64_t dense_limit);
/// Writes `m` into `cells`, rows × `columns` of them, row by row.
void fill_dense(const SparseRows& m, uint32_t columns, double* cells);
/// The rows of a dense matrix, without its zeros.
SparseRows rows_of_dense(const double* cells, std::size_t rows, std::size_t columns);
/// The first `rows` rows of a matrix in compressed sparse row form; an
/// index past the end of an array throws std::out_of_range.
SparseRows rows_of_csr(std::span<const int64_t> starts, std::span<const int64_t> indices, std::span<const double> data,
                       std::size_t rows);

}  // namespace tarvok::scipy_emitter
