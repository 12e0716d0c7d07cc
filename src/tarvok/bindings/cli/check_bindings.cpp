// `tarvok check MODEL [DATA ...] [--json]`: a model alone goes to the
// compiler's own command-line entry, which checks it without data; with DATA,
// read as `run` reads it, the pair is compiled and expanded as `run` does.
#include "bindings/cli/command.hpp"
#include "bindings/host/compile.hpp"
#include "bindings/tarvok_core/entries.hpp"
#include "cli/check_command.hpp"
#include "compiler/model_tree.hpp"
#include "solver/views.hpp"

namespace tarvok::cli {

namespace {

int check_model_alone(const CommandLine& line) {
    py::list argv;
    argv.append(host::text(line.given("model")));
    if (line.flag("json")) argv.append(py::str("--json"));
    if (line.has("max_size")) {
        require_at_least(line, "max_size", "--max-size", 1);
        argv.append(py::str("--max-size"));
        argv.append(host::text(line.shown("max_size")));
    }
    return compiler::bind::check_main(argv);
}

}  // namespace

int run_check(const CommandLine& line) {
    std::vector<std::string> paths = line.texts("data");
    if (paths.empty()) return check_model_alone(line);
    compiler::SizeLimits sizes = command_sizes(line);
    std::string model_shown = line.given("model");
    py::object model_text = read_input(model_shown);
    std::string model(host::Utf8(model_text).view());
    DataInputs data = data_inputs(model, gather_data_arguments(paths, model), paths);
    std::shared_ptr<solver::CompiledModel> compiled = compiled_with_sources(model_text, data, sizes);
    // The expansion's faults join the diagnostics.
    bool expanded = expand(*compiled).program != nullptr;
    data::Value records = records_with_paths(
        compiler::tree::diagnostic_record_tree(*compiled->source().compilation, true), model_shown, data.shown);
    int status = code(expanded && compiled->ok() ? ExitStatus::Success : ExitStatus::DoesNotCompile);
    if (line.flag("json")) {
        host_output().say_json(records);
        return status;
    }
    std::string report = solver::report_for_files(compiled->source(), model_shown, data.shown.value_or("data"));
    if (!report.empty()) say(report);
    std::size_t warnings = 0;
    for (const data::Value& record : records.items())
        if (const data::Value* severity = record.find("severity")) warnings += severity->text() == "warning";
    if (status == 0) say(check_ok_line(warnings));
    return status;
}

const Registration registration{"check", run_check};

}  // namespace tarvok::cli
