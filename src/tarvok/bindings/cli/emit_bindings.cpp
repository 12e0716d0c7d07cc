// `tarvok emit MODEL DATA -o SCRIPT.py [--to TARGET]`: a script that states
// and solves the model, by default a Python script for SciPy; the targets are
// the emitter table's. Exit statuses: 0 written, 1 the model does not
// compile, 2 a file that cannot be read or written, or an unknown target.
#include "bindings/cli/command.hpp"
#include "emitter/targets.hpp"
#include "scipy_emitter/script.hpp"

namespace tarvok::cli {

void refuse_script_path(py::object path, py::object model_file, py::object data_file) {
    std::string name = host::str_of(path);
    std::string unusable = unusable_output_path(
        path, scipy_emitter::names_data_file(name) ? name + " ends in .npz, the suffix of a script's data file" : "");
    if (!unusable.empty()) fail(ExitStatus::Usage, "cannot write a script there: " + unusable);
    refuse_output_over_inputs(path, {model_file, data_file}, "the script");
    // As tarvok.scipy_emitter names its data file: beside the file the script really is.
    py::object real = host_path(files::follow_links(host::file_system_path(absolute(path))));
    py::object data_path = py::str(py::module_::import("pathlib").attr("Path")(real).attr("with_suffix")(".npz"));
    refuse_output_over_inputs(data_path, {model_file, data_file}, "the script's data file");
}

EmitOutcome emit_expanded(const Expanded& expanded, py::object path) {
    if (expanded.program.is_none()) return {code(ExitStatus::DoesNotCompile), py::none(), expanded.diagnostics};
    EmitOutcome out;
    try {
        out.written = py::module_::import("tarvok.scipy_emitter").attr("write_program_script")(expanded.program, path);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_OSError)) throw;
        out.failure = "cannot write " + host::str_of(path) + ": " + host::str_of(e.value());
        out.status = code(ExitStatus::Usage);
    }
    return out;
}

namespace {

/// Writes the script of `target` for a model and data pair: the default
/// target by tarvok.scipy_emitter.write_script, another from the model
/// expanded once. One map from what the writer raises to the outcome: the
/// model's diagnostics (status 1), a file that cannot be written or a
/// missing extra, with what to install (status 2).
EmitOutcome emit_script(const std::string& target, py::object model_text, py::object data_text, py::object path) {
    EmitOutcome out;
    py::module_ emitter = py::module_::import("tarvok.scipy_emitter");
    try {
        if (target == emitter::default_target().name()) {
            out.written = emitter.attr("write_script")(model_text, data_text, path);
        } else {
            py::object program = py::module_::import("tarvok.solver").attr("instantiate")(model_text, data_text);
            out.written = emitter.attr("_write_target")(target, program, path);
        }
    } catch (py::error_already_set& e) {
        if (e.matches(emitter.attr("SemanticError"))) {
            out.diagnostics = host::str_of(e.value());
            out.status = code(ExitStatus::DoesNotCompile);
        } else if (e.matches(PyExc_OSError)) {
            out.failure = "cannot write " + host::str_of(path) + ": " + os_reason(e.value());
            out.status = code(ExitStatus::Usage);
        } else if (e.matches(PyExc_ImportError)) {
            out.failure = one_line(e.value());
            out.status = code(ExitStatus::Usage);
        } else {
            throw;
        }
    }
    return out;
}

}  // namespace

int run_emit(py::object args) {
    TemporarySettings settings;
    apply_size_option(settings, args);
    std::string target = host::str_of(args.attr("to"));
    refuse(refused_target(target));
    py::object script = args.attr("output");
    refuse_script_path(script, args.attr("model"), args.attr("data"));
    py::object model = read_input(args.attr("model"));
    py::object data = read_input(args.attr("data"));
    EmitOutcome emit = emit_script(target, model, data, script);
    if (emit.status == code(ExitStatus::DoesNotCompile)) say(emit.diagnostics);
    if (emit.status == code(ExitStatus::Usage)) fail(ExitStatus::Usage, emit.failure);
    if (emit.status == 0) say(written_line(strings_of(emit.written)));
    return emit.status;
}

const Registration registration{"emit", run_emit};

}  // namespace tarvok::cli
