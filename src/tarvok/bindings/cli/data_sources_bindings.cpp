// The one reader of DATA arguments (a .dat file, a JSON object, a folder of
// CSV files; several merge) for every command that takes them: `check`,
// `run` and `emit` read data alike, through the core's readers.
#include "bindings/cli/command.hpp"
#include "bindings/host/compile.hpp"
#include "cli/run_inputs.hpp"

namespace tarvok::cli {

GatheredData gather_data_arguments(const std::vector<std::string>& paths, const std::string& model_text) {
    py::gil_scoped_release unlocked;
    return gather_data(paths, model_text);
}

DataInputs data_inputs(const std::string& model_text, const GatheredData& gathered,
                       const std::vector<std::string>& paths) {
    DataInputs out;
    if (paths.size() == 1 && gathered.values.members().empty()) out.shown = paths.front();
    RunData data;
    {
        py::gil_scoped_release unlocked;
        data = run_data(model_text, gathered);
    }
    out.text = host::text(data.text);
    out.sources = std::move(data.sources);
    return out;
}

std::shared_ptr<solver::CompiledModel> compiled_with_sources(py::object model_text, const DataInputs& data,
                                                             const compiler::SizeLimits& sizes) {
    std::shared_ptr<solver::CompiledModel> compiled = host::compile_pair(model_text, data.text, "compile", sizes);
    if (data.sources) {
        const data::Value& given = *data.sources;
        data::DataSources sources;
        sources.base = static_cast<std::size_t>(given.find("base")->integer());
        sources.values = *given.find("values");
        for (const auto& [name, file] : given.find("files")->members()) sources.files[name] = file.text();
        for (const auto& [name, table] : given.find("rows")->members())
            for (const auto& [path, row] : table.members()) sources.rows[name][path] = row.text();
        compiled->name_data_sources(std::move(sources));
    }
    return compiled;
}

}  // namespace tarvok::cli
