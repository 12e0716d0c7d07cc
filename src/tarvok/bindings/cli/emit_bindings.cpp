// `tarvok emit MODEL DATA -o SCRIPT.py [--to TARGET]`: a script that states
// and solves the model, by default a Python script for SciPy; the targets are
// the emitter table's. Exit statuses: 0 written, 1 the model does not
// compile, 2 a file that cannot be read or written, or an unknown target.
#include "bindings/cli/command.hpp"
#include "bindings/host/emit.hpp"
#include "emitter/targets.hpp"
#include "scipy_emitter/script.hpp"
#include "solver/views.hpp"

namespace tarvok::cli {

namespace {

/// `path` with its suffix replaced by .npz, as the host's Path.with_suffix does it (".bashrc" and "a." have none).
std::string with_npz_suffix(std::string path) {
    std::size_t name = path.rfind('/') + 1, dot = path.rfind('.');
    if (dot != std::string::npos && dot > name && dot + 1 < path.size()) path.erase(dot);
    return path + ".npz";
}

}  // namespace

void refuse_script_path(const std::string& path, const std::vector<GivenPath>& inputs) {
    std::string unusable = unusable_output_path(
        path, scipy_emitter::names_data_file(path) ? path + " ends in .npz, the suffix of a script's data file" : "");
    if (!unusable.empty()) fail(ExitStatus::Usage, "cannot write a script there: " + unusable);
    refuse_output_over(given_path(path), inputs, "the script");
    // As host::write_script_files names its data file: beside the file the script really is.
    std::string real = shown_path(files::follow_links(files::named_path(absolute(path))));
    refuse_output_over(given_path(with_npz_suffix(real)), inputs, "the script's data file");
}

void refuse_script_path(const std::string& path, const std::string& model_file, const std::string& data_file) {
    refuse_script_path(path, {given_path(model_file), given_path(data_file)});
}

EmitOutcome emit_expanded(const Expanded& expanded, const std::string& path) {
    if (!expanded.program) return {code(ExitStatus::DoesNotCompile), py::none(), expanded.diagnostics};
    EmitOutcome out;
    try {
        out.written = host::write_script(emitter::default_output(), *expanded.program, host::text(path));
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_OSError)) throw;
        out.failure = "cannot write " + path + ": " + host::str_of(e.value());
        out.status = code(ExitStatus::Usage);
    }
    return out;
}

namespace {

/// Writes the script of `target` for a compiled model, through the outputs
/// service. One map from what the writer raises to the outcome: a file that
/// cannot be written or a missing extra, with what to install (status 2).
EmitOutcome emit_script(const std::string& target, solver::CompiledModel& compiled, const std::string& path) {
    EmitOutcome out;
    try {
        out.written = host::write_script(*emitter::find_output(target), compiled, host::text(path));
        if (out.written.is_none()) out.status = code(ExitStatus::DoesNotCompile);
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_OSError)) {
            out.failure = "cannot write " + path + ": " + os_reason(e.value());
            out.status = code(ExitStatus::Usage);
        } else if (e.matches(PyExc_ImportError) && !host::behind_an_interrupt(e.value().ptr())) {
            out.failure = one_line(e.value());
            out.status = code(ExitStatus::Usage);
        } else {
            throw;
        }
    }
    return out;
}

}  // namespace

int run_emit(const CommandLine& line) {
    compiler::SizeLimits sizes = command_sizes(line);
    std::string target = line.given("to");
    refuse(refused_target(target));
    std::string script = line.given("output");
    std::string model_path = line.given("model");
    std::vector<std::string> paths = line.texts("data");
    py::object model_text = read_input(model_path);
    std::string model(host::Utf8(model_text).view());
    // The data read as `run` reads it; the script may replace none of the files read.
    GatheredData gathered = gather_data_arguments(paths, model);
    std::vector<GivenPath> inputs{given_path(model_path)};
    for (const std::string& input : gathered.inputs) inputs.push_back(given_path(input));
    refuse_script_path(script, inputs);
    DataInputs data = data_inputs(model, gathered, paths);
    std::shared_ptr<solver::CompiledModel> compiled = compiled_with_sources(model_text, data, sizes);
    EmitOutcome emit = emit_script(target, *compiled, script);
    if (emit.status == code(ExitStatus::DoesNotCompile)) {
        say(solver::report_for_files(compiled->source(), model_path, data.shown.value_or("data")));
        return emit.status;
    }
    if (emit.status == code(ExitStatus::Usage)) fail(ExitStatus::Usage, emit.failure);
    say(written_line(strings_of(emit.written)));
    return emit.status;
}

const Registration registration{"emit", run_emit};

}  // namespace tarvok::cli
