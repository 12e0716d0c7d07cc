// Where the installed package keeps its files, and what the servers ask of
// the package alike.
#pragma once

#include "bindings/host/compile.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "compiler/model_tree.hpp"
#include "example_ranker/ranking.hpp"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string_view>

namespace tarvok::host {

/// The folder of the installed package: its page, language reference and example library.
inline std::filesystem::path package_folder() {
    return file_system_path(
        py::module_::import("os").attr("path").attr("dirname")(py::module_::import("tarvok").attr("__file__")));
}

/// The embedding model that ranks worked examples: TARVOK_EMBEDDING_MODEL, else the ranker's default.
inline py::object embedding_model_name() {
    py::object chosen = py::module_::import("os").attr("environ").attr("get")("TARVOK_EMBEDDING_MODEL", py::str(""));
    if (truthy(chosen.attr("strip")())) return chosen;
    return text(tarvok::example_ranker::kDefaultModel);
}

/// The options of the generation loop that a server's request asks for
/// (its provider, model, iterations and execution check, and the
/// assumptions and what-if steps where it has them, each when given),
/// with the embedding model that ranks the examples.
template <typename Request>
py::dict generation_options(const Request& r) {
    py::dict options;
    if (r.provider) options["llm_provider"] = text(*r.provider);
    if (r.model) options["model_name"] = text(*r.model);
    if (r.iterations) options["iterations"] = *r.iterations;
    if (r.execution_check) options["execution_check"] = *r.execution_check;
    if constexpr (requires { r.what_if_max; }) {
        if (r.assumptions) options["assumptions"] = *r.assumptions;
        if (r.what_if) options["what_if"] = *r.what_if;
        if (r.what_if_max) options["what_if_max"] = *r.what_if_max;
    }
    options["embedding_model"] = embedding_model_name();
    return options;
}

/// The readings a generation run found, into `d`: 'assumptions' and
/// 'assumptions_error' (with `assumptions`), and 'what_if', whose
/// alternatives carry their pair as texts ('model', 'data') in place of the
/// files, which go with the run's folder. Called while the folder is there.
inline void add_readings(py::dict& d, const generative::bind::GenerationResult& g, bool assumptions = true) {
    using generative::ResultField;
    if (assumptions) {
        d["assumptions"] = generative::bind::result_field(g, ResultField::Assumptions);
        d["assumptions_error"] = generative::bind::result_field(g, ResultField::AssumptionsError);
    }
    data::Value table = generative::bind::result_value(g, ResultField::WhatIf);
    if (!table.is_null()) {
        for (data::Value& alternative : table.find("alternatives")->items()) {
            for (std::string member : {"model", "data"}) {
                json::Members& members = alternative.members();
                auto file = std::ranges::find(members, member + "_file", &json::Member::first);
                data::Value contents;
                if (file != members.end()) {
                    if (!file->second.is_null())
                        contents = from_python(read_file(text(file->second.text()), "r", "utf-8"));
                    members.erase(file);
                }
                alternative.add(member, std::move(contents));
            }
        }
    }
    d["what_if"] = to_python(table);
}

/// A pair a server was given, compiled through the one compile route within
/// the compiler module's size limit (as tarvok.solver.compile compiles it).
inline std::shared_ptr<solver::CompiledModel> compile_pair(std::string_view model, std::string_view data) {
    return compile_pair(text(model), text(data), "compile", size_setting());
}

/// The diagnostic records of a compiled pair (with those its expansion
/// found, once expanded), as the host's objects.
inline py::object diagnostics_of(const solver::CompiledModel& compiled) {
    return to_python(compiler::tree::diagnostic_record_tree(*compiled.source().compilation, true));
}

}  // namespace tarvok::host
