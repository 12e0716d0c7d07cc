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

/// The compiler module's size limits as its `MAX_SIZE` stands now (its own
/// reading of the setting, so that every module refuses alike).
inline compiler::SizeLimits size_limits() {
    py::tuple limits = py::module_::import("tarvok.tarvok_core").attr("_size_limits")();
    auto limit = [&](std::size_t k) { return limits[k].is_none() ? UINT64_MAX : limits[k].cast<uint64_t>(); };
    return {limit(0), limit(1), limit(2)};
}

/// The pair compiled within the size limits, Ctrl-C watched, MemoryError
/// when memory runs out; `function` names the caller in argument errors.
inline std::shared_ptr<solver::CompiledModel> compile_pair(py::object model_text, py::object data_text,
                                                           const char* function) {
    require(model_text, function, "model_text", Kind::Str);
    WrittenData written = written_data_of(model_text, data_text, function);
    std::string model(Utf8(model_text).view()), data(Utf8(written.text).view());
    std::size_t bytes = model.size() + data.size();
    compiler::SizeLimits sizes = size_limits();
    std::shared_ptr<solver::Source> source = watched(
        [&](Interrupt* interrupt) {
            return solver::compile_texts(std::move(model), std::move(data), sizes, written.origin, interrupt);
        },
        [&] { return solver::out_of_memory_message(bytes, false); });
    return std::make_shared<solver::CompiledModel>(std::move(source), sizes);
}

/// `compiled` as the solver module's CompiledModel object (the module, imported
/// here, registers the type the object is made as).
inline py::object compiled_model_object(std::shared_ptr<solver::CompiledModel> compiled) {
    py::module_::import("tarvok.solver");
    return py::cast(std::move(compiled));
}

}  // namespace tarvok::host
