// A model and data pair compiled and kept for running, as `tarvok.solver.compile`
// does it; the generation loop compiles each attempt through here too, without
// a call through the solver module.
#pragma once

#include "bindings/host/data_values.hpp"
#include "bindings/host/host.hpp"
#include "solver/compiled_model.hpp"
#include "solver/program.hpp"

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>

namespace tarvok::host {

namespace py = pybind11;

/// The compiler module's `MAX_SIZE` as it stands now.
inline py::object max_size_setting() { return modules::tarvok_core.attr("MAX_SIZE"); }

/// A size limit as `--max-size`, `max_size=` and MAX_SIZE give it: a whole
/// number, at least 1, or None for no limit of the compiler's own. `what`
/// names it in errors.
inline compiler::SizeLimits size_limits_of(py::handle value, const std::string& what) {
    if (value.is_none()) return {UINT64_MAX, UINT64_MAX, UINT64_MAX};
    if (!is_exact(value, Kind::Int))
        throw py::type_error(what + " must be a whole number of columns and rows, or None, not " + type_name(value));
    long long n = saturated(value);
    if (n < 1) raise(PyExc_ValueError, what + " must be at least 1, not " + str_of(value));
    return compiler::SizeLimits::of_size(static_cast<uint64_t>(n));
}

/// The compiler module's size limits as its `MAX_SIZE` stands now: a setting
/// the user assigns on that module, so it is looked up there. Read once at the
/// edge of a call (a library function, a command, a server request) and
/// handed down.
inline compiler::SizeLimits size_setting() { return size_limits_of(max_size_setting(), "MAX_SIZE"); }

/// The size a limit was made of (its columns), or None for no limit: what a
/// call that takes `max_size=` is handed.
inline py::object max_size_of(const compiler::SizeLimits& sizes) {
    if (sizes.max_columns == UINT64_MAX) return py::none();
    return py::int_(sizes.max_columns);
}

/// The pair compiled within `sizes`, Ctrl-C watched, MemoryError
/// when memory runs out; `function` names the caller in argument errors.
inline std::shared_ptr<solver::CompiledModel> compile_pair(py::object model_text, py::object data_text,
                                                           const char* function, const compiler::SizeLimits& sizes) {
    require(model_text, function, "model_text", Kind::Str);
    WrittenData written = written_data_of(model_text, data_text, function);
    std::string model(Utf8(model_text).view()), data(Utf8(written.text).view());
    std::size_t bytes = model.size() + data.size();
    std::shared_ptr<solver::Source> source = watched(
        [&](Interrupt* interrupt) {
            return solver::compile_texts(std::move(model), std::move(data), sizes, written.origin, interrupt);
        },
        [&] { return solver::out_of_memory_message(bytes, false); });
    return std::make_shared<solver::CompiledModel>(std::move(source), sizes);
}

/// `compiled` as the solver module's CompiledModel object (the module, whose
/// start registers the type the object is made as, is imported first).
inline py::object compiled_model_object(std::shared_ptr<solver::CompiledModel> compiled) {
    modules::solver.get();
    return py::cast(std::move(compiled));
}

}  // namespace tarvok::host
