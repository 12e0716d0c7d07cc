// tarvok.tarvok_core: the Tarvok compiler as the host sees it. Compiles a
// model text and a data text together and returns the compiled model as
// plain dicts and lists, or raises SemanticError with every diagnostic.
#include "bindings/host/compile.hpp"
#include "bindings/host/data_values.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/tarvok_core/compiler_face.hpp"
#include "bindings/tarvok_core/entries.hpp"
#include "cli/check_command.hpp"
#include "compiler/compiler.hpp"
#include "compiler/model_tree.hpp"
#include "solver/program.hpp"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace tarvok::compiler;
using tarvok::host::Kind;

namespace {

struct TVLCompiler {};

namespace tree = tarvok::compiler::tree;

/// The default of MAX_SIZE: the most columns (and rows) a model may expand to.
constexpr long long kDefaultMaxSize = 50'000'000;

using tarvok::host::size_setting;

/// Runs `work(interrupt, compiled)` with the GIL released; Ctrl-C stops it
/// within milliseconds and raises KeyboardInterrupt. Memory running out
/// raises MemoryError, saying whether the texts were being compiled or (once
/// the work set `compiled`) expanded.
template <typename Work>
auto compile_interruptibly(std::string_view model, std::string_view data, Work work) {
    bool compiled = false;
    return tarvok::host::watched(
        [&](tarvok::Interrupt* interrupt) { return work(interrupt, compiled); },
        [&] { return tarvok::solver::out_of_memory_message(model.size() + data.size(), compiled); });
}

std::unique_ptr<Compilation> compile_only(std::string_view model, std::string_view data, const SizeLimits& sizes) {
    return compile_interruptibly(model, data, [&](tarvok::Interrupt* interrupt, bool&) {
        CompileOptions options;
        options.interrupt = interrupt;
        options.sizes = sizes;
        return compile(model, data, options);
    });
}

/// The verdict of `check` (see solver::check_source).
/// Without data (`expand` false) a model that takes data is checked alone.
std::shared_ptr<tarvok::solver::Source> check_texts(const std::string& model, const std::string& data,
                                                    const SizeLimits& sizes, bool expand) {
    return compile_interruptibly(model, data, [&](tarvok::Interrupt* interrupt, bool& compiled) {
        tarvok::solver::InstantiateOptions options;
        options.compile.interrupt = interrupt;
        options.compile.sizes = sizes;
        options.compile.model_only = !expand;
        return tarvok::solver::check_source(model, data, options, expand, compiled);
    });
}

py::dict compile_texts(std::string_view model, std::string_view data, const SizeLimits& sizes) {
    std::unique_ptr<Compilation> c = compile_only(model, data, sizes);
    try {
        if (!c->ok()) throw tarvok::Error::model(c->report(), false, tree::diagnostic_record_tree(*c, true));
        std::vector<ExprInfo>().swap(c->analysis.info);  // the result needs none of it: room for the dicts
        tarvok::json::Value model_tree = tarvok::host::interruptible(
            [&](tarvok::Interrupt* interrupt) { return tree::compiled_model_tree(*c, interrupt); });
        // Its shared leaves are shared objects: a large model makes far fewer.
        return tarvok::host::to_python(model_tree, tarvok::host::Sharing::Containers).cast<py::dict>();
    } catch (const std::bad_alloc&) {
        tarvok::host::raise(PyExc_MemoryError, "not enough memory to build the compiled model");
    }
}

/// A path as a terminal can show it, whatever bytes the file name holds.
std::string shown_path(py::handle path) {
    py::module_ os = py::module_::import("os");
    py::object raw = os.attr("fsencode")(os.attr("fspath")(path));
    return py::str(raw.attr("decode")("utf-8", "replace")).cast<std::string>();
}

/// Prints what `tarvok check` says; returns its exit status.
int put(const tarvok::cli::CheckOutput& out) {
    for (const tarvok::cli::CheckOutput::Write& w : out.writes) {
        py::object stream = tarvok::host::output_stream(w.to_stderr ? "stderr" : "stdout");
        if (stream.is_none()) continue;
        stream.attr("write")(tarvok::host::text(w.text + "\n"));
        stream.attr("flush")();
    }
    return out.status;
}

}  // namespace

namespace tarvok::compiler::bind {

int check_main(py::object argv) {
    namespace cc = tarvok::cli;
    py::list args =
        argv.is_none()
            ? py::list(py::list(py::module_::import("sys").attr("argv"))[py::slice(1, std::nullopt, std::nullopt)])
            : py::list(argv);
    std::vector<std::optional<std::string>> texts_of_args;
    for (py::handle arg : args)
        texts_of_args.push_back(PyUnicode_Check(arg.ptr()) ? std::optional(tarvok::host::str_of(arg)) : std::nullopt);
    cc::CheckArguments given = cc::read_check_arguments(texts_of_args);
    if (given.help) return put(cc::help_output());
    if (given.refusal) return put(cc::refusal_output(*given.refusal, given.json));
    // The limit of this check: --max-size, else MAX_SIZE as the command starts.
    SizeLimits sizes;
    try {
        sizes = given.size
                    ? tarvok::host::size_limits_of(
                          py::module_::import("builtins").attr("int")(tarvok::host::text(*given.size)), "--max-size")
                    : size_setting();
    } catch (py::error_already_set& e) {
        if (!given.size || (!e.matches(PyExc_ValueError) && !e.matches(PyExc_TypeError))) throw;
        return put(cc::refusal_output(cc::refused_size(*given.size), given.json));
    }
    std::vector<py::object> paths;
    for (std::size_t i : given.paths) paths.push_back(args[i]);
    std::string texts[2];
    for (size_t i = 0; i < paths.size(); ++i) {
        try {
            texts[i] = tarvok::host::read_input_bytes(paths[i]);
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_OSError)) throw;
            py::object reason = e.value().attr("strerror");
            std::string why = tarvok::host::str_of(reason.is_none() ? e.value() : reason);
            return put(cc::refusal_output(cc::refused_read(shown_path(paths[i]), why), given.json));
        }
    }
    std::shared_ptr<tarvok::solver::Source> source = check_texts(texts[0], texts[1], sizes, paths.size() > 1);
    FileNames names{shown_path(paths[0]), paths.size() > 1 ? shown_path(paths[1]) : std::string("data")};
    return put(cc::check_output(*source->compilation, names, paths.size() > 1, given.json));
}

}  // namespace tarvok::compiler::bind

namespace {

/// `TVLCompiler`, whose one method compiles a model text with its data text.
void add_compiler_class(py::module_& m) {
    py::class_<TVLCompiler>(m, "TVLCompiler", "Compiler for Tarvok model and data texts.")
        .def(py::init<>(), tarvok::host::signed_doc("__init__", "self", "Create a compiler.").c_str())
        .def(
            "compile_model",
            [](TVLCompiler&, py::object model_text, py::object data_text) -> py::dict {
                tarvok::host::require(model_text, "compile_model", "model_text", Kind::Str);
                data_text = tarvok::host::data_text_of(model_text, data_text, "compile_model");
                tarvok::host::Utf8 model(model_text);
                tarvok::host::Utf8 data(data_text);
                py::dict compiled = compile_texts(model.view(), data.view(), size_setting());
                // The texts themselves, for generators that expand the model again.
                py::dict source;
                source["model"] = model_text;
                source["data"] = data_text;
                compiled["source"] = source;
                return compiled;
            },
            py::arg("model_text"), py::arg("data_text"),
            tarvok::host::signed_doc(kCompileModel.name, kCompileModel.params, kCompileModel.doc).c_str());
}

}  // namespace

void tarvok_start_tarvok_core(pybind11::module_& m) {
    tarvok::host::ModuleStart start(m, tarvok::host::modules::tarvok_core,
                                    "The Tarvok compiler: checks a model text and a data text together.");
    m.attr("SemanticError") = tarvok::host::semantic_error_class();
    // Read once at the start of every library call that compiles or expands a model (a command reads it once
    // as it starts, unless --max-size gives the limit): the most columns and rows a model may expand to, and ten
    // times as many nonzeros; None leaves only the hard limits of the expansion.
    m.attr("MAX_SIZE") = py::int_(kDefaultMaxSize);

    add_compiler_class(m);

    tarvok::host::def(m, kDiagnosticCodes, [] { return tarvok::host::to_python(tree::diagnostic_code_tree()); });
    tarvok::host::def(m, kCheckMain, &tarvok::compiler::bind::check_main, py::arg("argv") = py::none());
}
