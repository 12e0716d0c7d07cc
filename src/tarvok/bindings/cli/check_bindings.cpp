// `tarvok check MODEL [DATA ...] [--json]`: a model alone goes to the
// compiler's own command-line entry, which checks it without data; with DATA,
// read as `run` reads it, the pair is compiled and expanded as `run` does.
#include "bindings/cli/command.hpp"
#include "cli/check_command.hpp"

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
    py::object status = py::module_::import("tarvok.tarvok_core").attr("main")(argv);
    return status.is_none() ? 0 : status.cast<int>();
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
    py::object compiled = compile_with_sources(model_text, data, sizes);
    bool expanded = !expand(compiled).program.is_none();  // the expansion's faults join the diagnostics
    data::Value records =
        records_with_paths(host::from_python(compiled.attr("diagnostics"), kPlain), model_shown, data.shown);
    int status = code(expanded && host::truthy(compiled.attr("ok")) ? ExitStatus::Success : ExitStatus::DoesNotCompile);
    if (line.flag("json")) {
        say_json(host::to_python(records));
        return status;
    }
    py::object report = compiled.attr("report_for")(host::text(model_shown), host::text(data.shown.value_or("data")));
    if (host::truthy(report)) say(host::str_of(report));
    std::size_t warnings = 0;
    for (const data::Value& record : records.items())
        if (const data::Value* severity = record.find("severity")) warnings += severity->text() == "warning";
    if (status == 0) say(check_ok_line(warnings));
    return status;
}

const Registration registration{"check", run_check};

}  // namespace tarvok::cli
