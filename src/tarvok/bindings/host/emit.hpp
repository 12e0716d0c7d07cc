// What a module lends the one outputs service (emitter/emission.hpp) and how
// it writes a script with its arrays: `tarvok emit`, `solve --emit`, the
// page's /api/emit and MCP's emit_script all go through here.
#pragma once

#include "bindings/host/arrays.hpp"
#include "bindings/host/highs.hpp"
#include "bindings/host/host.hpp"
#include "emitter/emission.hpp"
#include "scipy_emitter/generator_checks.hpp"
#include "scipy_emitter/script.hpp"

#include <filesystem>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvok::host {

/// Expansion watched for Ctrl-C and memory, HiGHS's .lp writer, `scratch`
/// for model files; `inline_only` refuses a script that needs arrays beside it.
inline emitter::Means emit_means(std::filesystem::path scratch = {}, bool inline_only = false) {
    emitter::Means means;
    means.watch = [](const auto& expand) {
        py::gil_scoped_acquire gil;
        return watched(expand, [] { return solver::out_of_memory_message(0, true); });
    };
    means.write_lp = [](const solver::Program& program, const std::vector<std::string>& columns,
                        const std::vector<std::string>& rows, const std::filesystem::path& path) {
        py::gil_scoped_acquire gil;
        return highs::write_lp(program, py::handle(), columns, rows, host_path(path));
    };
    means.scratch = std::move(scratch);
    means.inline_only = inline_only;
    return means;
}

/// The output `name` of a compiled pair, made without the GIL.
inline emitter::Emission emit_output(solver::CompiledModel& compiled, std::string_view name,
                                     const emitter::Means& means) {
    py::gil_scoped_release unlocked;
    return emitter::emit(compiled, name, means);
}

/// The same for a program at hand.
inline emitter::Emission emit_output(const emitter::Output& output, const solver::Program& program,
                                     const emitter::Means& means) {
    py::gil_scoped_release unlocked;
    return emitter::emit(output, program, means);
}

/// A script's arrays as numpy arrays by name (none: an empty dict).
inline py::dict script_arrays(std::vector<NamedArray>& arrays) {
    py::dict out;
    if (arrays.empty()) return out;
    import_extra("numpy", "an .npz file beside a script", "scipy");
    for (NamedArray& a : arrays)
        std::visit([&](auto& data) { out[text(a.name)] = owned_array(std::move(data)); }, a.data);
    return out;
}

/// The path's text, refusing the name the script's own .npz would have.
inline py::object script_path(py::handle path) {
    py::object given = text_path(path, "the script path must be a str or an os.PathLike of str, not ");
    std::string name = str_of(given);
    if (scipy_emitter::names_data_file(name)) raise(PyExc_ValueError, scipy_emitter::data_file_name_fault(name));
    return given;
}

/// Writes a script and, when it has them, its arrays to the .npz beside it
/// (first, as the script loads it); returns the paths written.
inline py::list write_script_files(py::object script, std::string_view script_text, py::object arrays) {
    py::list written;
    written.append(script);
    if (!arrays.is_none() && truthy(arrays)) {
        // Beside the file the script really is, where the script looks for it
        // (a link to the script elsewhere never sees a stale one beside it).
        py::object real = host_path(files::follow_links(file_system_path(script)));
        py::object npz = py::str(py::module_::import("pathlib").attr("Path")(real).attr("with_suffix")(".npz"));
        if (files::same_file(file_system_path(npz), file_system_path(script)))
            raise(PyExc_ValueError, scipy_emitter::data_file_link_fault(str_of(script)));
        py::object buffer = py::module_::import("io").attr("BytesIO")();
        import_extra("numpy", "an .npz file beside a script", "scipy").attr("savez")(buffer, **arrays);
        py::buffer_info bytes = py::buffer(buffer.attr("getbuffer")()).request();  // a view, not a second copy
        replace_files({{npz, std::string_view(static_cast<const char*>(bytes.ptr), static_cast<size_t>(bytes.size))}});
        written.append(npz);
    }
    replace_files({{script, script_text}});
    return written;
}

/// A script target's script of a program at hand, written at `path` with
/// its arrays beside it; returns the paths written.
inline py::list write_script(const emitter::Output& output, const solver::Program& program, py::object path) {
    py::object script = script_path(path);
    emitter::Emission made = emit_output(output, program, emit_means());
    return write_script_files(script, made.made.text, script_arrays(made.made.arrays));
}

/// The same for the script of a compiled pair; None, with nothing written,
/// when the pair does not compile or cannot be expanded.
inline py::object write_script(const emitter::Output& output, solver::CompiledModel& compiled, py::object path) {
    py::object script = script_path(path);
    emitter::Emission made = emit_output(compiled, output.name, emit_means());
    if (made.refusal) return py::none();
    return write_script_files(script, made.made.text, script_arrays(made.made.arrays));
}

}  // namespace tarvok::host
