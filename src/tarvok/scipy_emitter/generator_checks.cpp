#include "scipy_emitter/generator_checks.hpp"

#include "scipy_emitter/script.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tarvok::scipy_emitter {

bool translates_value_type(std::string_view type) { return type == "float" || type == "int" || type == "boolean"; }

bool translates_sense(std::string_view sense) { return sense == "minimize" || sense == "maximize"; }

bool translates_operator(std::string_view op) { return op == "<=" || op == ">=" || op == "==" || op == "range"; }

std::string no_variable_message(std::string_view name) {
    return "Cannot generate code: the compiled model declares no decision variable '" + std::string(name) + "'";
}

std::string other_data_message(const std::vector<std::string>& keys) {
    return "Cannot generate code for this data_dict: it differs from the data the model was compiled with" +
           differing_keys(keys) + "; compile the model with that data and pass its \"data\" entry";
}

std::string data_file_name_fault(std::string_view path) {
    return "'" + std::string(path) + "' ends in .npz, the suffix of a script's data file; name the script SCRIPT.py";
}

std::string data_file_link_fault(std::string_view path) {
    return "'" + std::string(path) +
           "' is a link to a file ending in .npz, the suffix of a script's data file; name the script SCRIPT.py";
}

bool dense_matrix(uint64_t rows, uint64_t columns, uint64_t dense_limit) { return rows * columns <= dense_limit; }

void fill_dense(const SparseRows& m, uint32_t columns, double* cells) {
    std::fill(cells, cells + m.rows() * columns, 0.0);
    for (std::size_t i = 0; i < m.rows(); ++i)
        for (int64_t k = m.starts[i]; k < m.starts[i + 1]; ++k) cells[i * columns + m.columns[k]] = m.values[k];
}

SparseRows rows_of_dense(const double* cells, std::size_t rows, std::size_t columns) {
    SparseRows m;
    std::vector<std::pair<int32_t, double>> row;
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = 0; j < columns; ++j)
            if (double v = cells[i * columns + j]; v != 0) row.emplace_back(static_cast<int32_t>(j), v);
        m.add_row(row);
    }
    return m;
}

SparseRows rows_of_csr(std::span<const int64_t> starts, std::span<const int64_t> indices, std::span<const double> data,
                       std::size_t rows) {
    auto at = [](auto array, int64_t k) {
        if (k < 0 || static_cast<std::size_t>(k) >= array.size())
            throw std::out_of_range("index " + std::to_string(k) + " is out of bounds for axis 0 with size " +
                                    std::to_string(array.size()));
        return array[static_cast<std::size_t>(k)];
    };
    SparseRows m;
    std::vector<std::pair<int32_t, double>> row;
    for (std::size_t i = 0; i < rows; ++i) {
        for (int64_t k = at(starts, static_cast<int64_t>(i)); k < at(starts, static_cast<int64_t>(i) + 1); ++k)
            row.emplace_back(static_cast<int32_t>(at(indices, k)), at(data, k));
        m.add_row(row);
    }
    return m;
}

}  // namespace tarvok::scipy_emitter
