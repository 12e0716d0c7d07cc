// `tarvok emit MODEL DATA -o SCRIPT.py [--to TARGET]`: a script that states
// and solves the model, by default a Python script for SciPy; the targets are
// the emitter table's. Exit statuses: 0 written, 1 the model does not
// compile, 2 a file that cannot be read or written, or an unknown target.
#include "cli/command.hpp"
#include "emitter/targets.hpp"
#include "scipy_emitter/script.hpp"

#include <cctype>

namespace tarvok::cli {

std::string unusable_script_path(py::object path) {
    py::object os_path = py::module_::import("os").attr("path");
    std::string name = host::str_of(path);
    if (scipy_emitter::names_data_file(name)) return name + " ends in .npz, the suffix of a script's data file";
    if (host::truthy(os_path.attr("isdir")(path))) return name + " is a folder";
    py::object folder = os_path.attr("dirname")(absolute(path));
    if (!host::truthy(os_path.attr("isdir")(folder))) return "no folder " + host::str_of(folder);
    return "";
}

py::object script_data_path(py::object path) {
    // As tarvok.scipy_emitter names it: beside the file the script really is.
    py::object real = host_path(files::follow_links(host::file_system_path(absolute(path))));
    return py::str(py::module_::import("pathlib").attr("Path")(real).attr("with_suffix")(".npz"));
}

EmitOutcome emit_files(py::object model_text, py::object data_text, py::object path) {
    EmitOutcome out;
    py::module_ emitter = py::module_::import("tarvok.scipy_emitter");
    try {
        out.written = emitter.attr("write_script")(model_text, data_text, path);
    } catch (py::error_already_set& e) {
        if (e.matches(emitter.attr("SemanticError"))) {
            out.diagnostics = host::str_of(e.value());
            out.status = code(ExitStatus::DoesNotCompile);
        } else if (e.matches(PyExc_OSError)) {
            out.failure = "cannot write " + host::str_of(path) + ": " + os_reason(e.value());
            out.status = code(ExitStatus::Usage);
        } else if (e.matches(PyExc_ImportError)) {  // a missing extra: what to install
            out.failure = one_line(e.value());
            out.status = code(ExitStatus::Usage);
        } else {
            throw;
        }
    }
    return out;
}

EmitOutcome emit_expanded(const Expanded& expanded, py::object path) {
    EmitOutcome out;
    if (expanded.program.is_none()) {
        out.diagnostics = expanded.diagnostics;
        out.status = code(ExitStatus::DoesNotCompile);
        return out;
    }
    try {
        out.written = py::module_::import("tarvok.scipy_emitter").attr("write_program_script")(expanded.program, path);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_OSError)) throw;
        out.failure = "cannot write " + host::str_of(path) + ": " + host::str_of(e.value());
        out.status = code(ExitStatus::Usage);
    }
    return out;
}

std::string written_line(py::handle written) {
    std::string line = "Wrote";
    size_t k = 0;
    for (py::handle path : written) line += (k++ ? " and " : " ") + host::str_of(path);
    return line;
}

/// A target other than the default: the model expanded once, its script
/// written by the target's emitter.
EmitOutcome emit_target(std::string_view target, py::object model_text, py::object data_text, py::object path) {
    EmitOutcome out;
    py::module_ emitter = py::module_::import("tarvok.scipy_emitter");
    try {
        py::object program = py::module_::import("tarvok.solver").attr("instantiate")(model_text, data_text);
        out.written = emitter.attr("_write_target")(std::string(target), program, path);
    } catch (py::error_already_set& e) {
        if (e.matches(emitter.attr("SemanticError"))) {
            out.diagnostics = host::str_of(e.value());
            out.status = code(ExitStatus::DoesNotCompile);
        } else if (e.matches(PyExc_OSError)) {
            out.failure = "cannot write " + host::str_of(path) + ": " + os_reason(e.value());
            out.status = code(ExitStatus::Usage);
        } else {
            throw;
        }
    }
    return out;
}

/// The targets' names, as --to's help lists them.
std::string target_names() {
    std::string names;
    for (const emitter::Emitter* t : emitter::targets())
        names += (names.empty() ? "" : ", ") + std::string(t->name()) + " (" + std::string(t->summary()) + ")";
    return names;
}

void add_emit(py::object commands) {
    py::object emit = add_command(commands, "emit", "write a Python script that states and solves a model with SciPy");
    emit.attr("add_argument")("model", py::arg("metavar") = "MODEL.mod");
    emit.attr("add_argument")("data", py::arg("metavar") = "DATA.dat");
    emit.attr("add_argument")("-o", "--output", py::arg("required") = true, py::arg("metavar") = "SCRIPT.py",
                              py::arg("help") = "the script; a large model's numbers go to SCRIPT.npz beside it");
    std::string default_name(emitter::default_target().name());
    emit.attr("add_argument")("--to", py::arg("metavar") = "TARGET", py::arg("default") = default_name,
                              py::arg("help") = "what to write: " + target_names() + "; default: " + default_name);
    add_size_option(emit);
}

int run_emit(py::object args) {
    TemporarySettings settings;
    apply_size_option(settings, args);
    std::string target = host::str_of(args.attr("to"));
    if (!emitter::find_target(target)) {
        std::string choices;
        for (const emitter::Emitter* t : emitter::targets())
            choices += (choices.empty() ? "" : ", ") + std::string(t->name());
        fail(ExitStatus::Usage, "unknown target '" + target + "' (choose " + choices + ")");
    }
    py::object script = args.attr("output");
    std::string unusable = unusable_script_path(script);
    if (!unusable.empty()) fail(ExitStatus::Usage, "cannot write a script there: " + unusable);
    refuse_output_over_inputs(script, {args.attr("model"), args.attr("data")}, "the script");
    refuse_output_over_inputs(script_data_path(script), {args.attr("model"), args.attr("data")},
                              "the script's data file");
    py::object model = read_input(args.attr("model"));
    py::object data = read_input(args.attr("data"));
    EmitOutcome emit = target == emitter::default_target().name() ? emit_files(model, data, script)
                                                                  : emit_target(target, model, data, script);
    if (emit.status == code(ExitStatus::DoesNotCompile)) say(emit.diagnostics);
    if (emit.status == code(ExitStatus::Usage)) fail(ExitStatus::Usage, emit.failure);
    if (emit.status == 0) say(written_line(emit.written));
    return emit.status;
}

}  // namespace tarvok::cli
