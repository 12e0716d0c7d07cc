// The one reader of DATA arguments (a .dat file, a JSON object, a folder of
// CSV files; several merge) for every command that takes them: `check`,
// `run` and `emit` read data alike, through the host's own readers.
#include "bindings/cli/command.hpp"
#include "bindings/host/compile.hpp"
#include "bindings/host/json.hpp"
#include "cli/run_inputs.hpp"

namespace tarvok::cli {

namespace {

/// The host's readers for DATA arguments (see DataReader).
class HostDataReader : public DataReader {
  public:
    bool is_folder(const std::string& path) override {
        return host::truthy(py::module_::import("os").attr("path").attr("isdir")(host::text(path)));
    }
    std::vector<std::string> listing(const std::string& folder) override {
        return strings_of(builtin("sorted")(py::module_::import("os").attr("listdir")(host::text(folder))));
    }
    std::string text(const std::string& path) override { return host::str_of(read_input(host::text(path))); }
    data::Value json(const std::string& path) override {
        py::object text = read_input(host::text(path));
        data::Value value;
        try {
            value = host::from_python(py::module_::import("json").attr("loads")(text), kPlain);
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_ValueError)) throw;
            fail(ExitStatus::DoesNotCompile, path + ": " + one_line(e.value()));
        }
        // The host keeps the last of a key given twice; data say so, as a .dat file's and CSV's do.
        if (auto twice = json_key_twice(host::str_of(text), path)) fail(ExitStatus::DoesNotCompile, *twice);
        return value;
    }
    std::vector<std::vector<std::string>> csv_rows(const std::string& path) override {
        py::object text = py::module_::import("io").attr("StringIO")(read_input(host::text(path)));
        std::vector<std::vector<std::string>> rows;
        for (py::handle row : py::module_::import("csv").attr("reader")(text)) rows.push_back(strings_of(row));
        return rows;
    }
    data::Value cell(const std::string& trimmed) override {
        for (const char* kind : {"int", "float"}) {
            try {
                if (!trimmed.empty()) return host::from_python(builtin(kind)(host::text(trimmed)), kPlain);
            } catch (py::error_already_set&) {
            }
        }
        return data::Value::of(trimmed);
    }
};

}  // namespace

GatheredData gather_data_arguments(const std::vector<std::string>& paths, const std::string& model_text) {
    HostDataReader reader;
    return gather_data(paths, model_text, reader);
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

std::shared_ptr<solver::CompiledModel> compiled_with_sources(py::object model_text, const DataInputs& data) {
    std::shared_ptr<solver::CompiledModel> compiled = host::compile_pair(model_text, data.text, "compile");
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

py::object compile_with_sources(py::object model_text, const DataInputs& data) {
    return host::compiled_model_object(compiled_with_sources(std::move(model_text), data));
}

}  // namespace tarvok::cli
