// A Program handed to HiGHS through highspy: the solver module solves it so,
// and every module that writes an .lp file (the solver's write_model, `tarvok
// run --write`, the outputs of /api/emit) writes it so.
#pragma once

#include "bindings/host/arrays.hpp"
#include "bindings/host/host.hpp"
#include "solver/model_file.hpp"
#include "solver/mps.hpp"
#include "solver/program.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarvok::host::highs {

namespace py = pybind11;
using solver::Program;

/// Imports a library of the 'solve' extra, or says how to get it.
inline py::module_ import_extra(const char* name, const char* purpose) {
    return host::import_extra(name, purpose, "solve");
}

/// A read-only array over memory that `owner` keeps alive (a copy when there is no owner).
template <typename T>
py::array view(const std::vector<T>& data, py::handle owner) {
    import_extra("numpy", "the arrays of a Program");
    py::array_t<T> a({static_cast<py::ssize_t>(data.size())}, {static_cast<py::ssize_t>(sizeof(T))}, data.data(),
                     owner);
    a.attr("flags").attr("writeable") = false;
    return a;
}

template <typename T>
py::array owned(std::vector<T> data) {
    import_extra("numpy", "the arrays of a Program");
    return host::owned_array(std::move(data));
}

/// A HiGHS instance holding the program. The plain binding class prints no
/// banner on stdout; older highspy releases have only `Highs`.
/// `relaxed` drops integrality; `feasibility` drops the objective, so that
/// any feasible point is optimal.
inline py::object highs_with(const Program& p, py::module_& highspy, py::handle owner, bool relaxed = false,
                             bool feasibility = false) {
    py::object h = py::hasattr(highspy, "_Highs") ? highspy.attr("_Highs")() : highspy.attr("Highs")();
    h.attr("setOptionValue")("output_flag", false);
    py::object status = h.attr("passModel")(
        p.columns(), p.rows(), p.nonzeros(), 2 /* row-wise */, static_cast<int>(p.sense), p.offset,
        feasibility ? owned(std::vector<double>(p.columns(), 0.0)) : view(p.cost, owner), view(p.col_lower, owner),
        view(p.col_upper, owner), view(p.row_lower, owner), view(p.row_upper, owner), view(p.row_starts, owner),
        view(p.col_indices, owner), view(p.values, owner),
        owned(relaxed ? std::vector<int32_t>(p.columns(), 0)
                      : std::vector<int32_t>(p.integrality.begin(), p.integrality.end())));
    if (host::str_of(status.attr("name")) == "kError")
        host::raise(PyExc_RuntimeError, "HiGHS refused the program (" + std::to_string(p.columns()) + " columns, " +
                                            std::to_string(p.rows()) + " rows)");
    return h;
}

/// Writes `program` as HiGHS's .lp file at `path` (a path the host gives
/// HiGHS), with these names; false when HiGHS reports a failure. `owner`
/// keeps the program's arrays alive (none: HiGHS is handed copies).
inline bool write_lp(const Program& program, py::handle owner, const std::vector<std::string>& columns,
                     const std::vector<std::string>& rows, py::handle path) {
    py::module_ highspy = import_extra("highspy", "writing a model file");
    py::object h = highs_with(program, highspy, owner);
    py::object pass_column = h.attr("passColName"), pass_row = h.attr("passRowName");
    for (size_t j = 0; j < columns.size(); ++j) pass_column(j, host::text(columns[j]));
    for (size_t i = 0; i < rows.size(); ++i) pass_row(i, host::text(rows[i]));
    py::object status = h.attr("writeModel")(path);
    return host::str_of(status.attr("name")) != "kError";
}

/// An object that keeps `program` alive for as long as the host holds it,
/// whether or not the solver module (which shows a Program) is loaded.
inline py::capsule keeper(std::shared_ptr<Program> program) {
    return py::capsule(new std::shared_ptr<Program>(std::move(program)),
                       [](void* kept) { delete static_cast<std::shared_ptr<Program>*>(kept); });
}

/// Writes `program` at `fspath` (a path object of text) in `format`:
/// ValueError naming `file` when the program has no faithful file, OSError
/// when the file cannot be written.
inline void write_program(const std::shared_ptr<Program>& program, py::handle fspath, const std::string& file,
                          solver::NameFormat format) {
    std::string unwritable = solver::unwritable_reason(*program);
    if (!unwritable.empty()) host::raise(PyExc_ValueError, "cannot write " + file + ": " + unwritable);
    int error =
        solver::write_model_file(*program, host::file_system_path(fspath), format,
                                 [&](const auto& columns, const auto& rows, const std::filesystem::path& lp) {
                                     return write_lp(*program, keeper(program), columns, rows, host::host_path(lp));
                                 });
    if (error != 0) host::raise_os_error(error, fspath);
}

}  // namespace tarvok::host::highs
