// Helpers every subcommand of the `tarvok` command uses.
#include "bindings/cli/command.hpp"
#include "bindings/example_ranker/entries.hpp"
#include "bindings/host/compile.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/keys.hpp"
#include "bindings/host/package.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "cli/run_inputs.hpp"
#include "cli/ticker.hpp"
#include "common/terminal_text.hpp"
#include "common/utf8.hpp"
#include "example_ranker/load_failure.hpp"
#include "example_ranker/ranking.hpp"
#include "generative/providers/providers.hpp"
#include "solver/options.hpp"

namespace tarvok::cli {

namespace pv = tarvok::generative::providers;

py::module_ generative() { return host::modules::tarvok_generative.get(); }

py::object builtin(const char* name) { return py::module_::import("builtins").attr(name); }

// ---------------------------------------------------------------- output ----

namespace {

/// Whether the waiting line is on the terminal now; read and written under the GIL.
bool wait_line_shown = false;

/// Everything the command prints goes out with the configured API keys hidden.
void write_raw(const char* stream, const std::string& text) {
    py::object out = host::output_stream(stream);
    if (out.is_none()) return;
    out.attr("write")(host::text(host::without_keys(text)));
    out.attr("flush")();
}

void clear_wait_line() {
    if (!wait_line_shown) return;
    wait_line_shown = false;
    write_raw("stderr", "\r\x1b[K");
}

bool stderr_is_terminal() {
    py::object err = py::module_::import("sys").attr("stderr");
    try {
        return !err.is_none() && host::truthy(err.attr("isatty")());
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        return false;
    }
}

}  // namespace

const Output& host_output() {
    auto onto = [](const char* stream) {
        return [stream](const std::string& text) { clear_wait_line(), write_raw(stream, text); };
    };
    static const Output out{onto("stdout"), onto("stderr")};
    return out;
}

void say(const std::string& line) { host_output().say(line); }

void warn(const std::string& line) { host_output().warn(line); }

py::object json_dumps(py::handle value) { return host::text(json_text(host::from_python(value))); }

std::vector<std::string> strings_of(py::handle items) {
    std::vector<std::string> out;
    for (py::handle item : items) out.push_back(host::str_of(item));
    return out;
}

void say_json(py::handle value) { host_output().say_json(host::from_python(value)); }

std::string one_line(py::handle error) { return first_line(host::str_of(error), host::type_name(error)); }

std::string out_of_memory(py::handle error) { return out_of_memory_line(one_line(error), host::type_name(error)); }

std::string os_reason(py::handle error) {
    py::object reason = py::getattr(error, "strerror", py::none());
    return reason.is_none() ? one_line(error) : host::str_of(reason);
}

py::cpp_function progress_printer() {
    return py::cpp_function([](py::object msg) { warn(host::str_of(msg)); });
}

void require_extra(const char* module, const char* purpose, const char* extra) {
    try {
        host::import_extra(module, purpose, extra);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError) || host::behind_an_interrupt(e.value().ptr())) throw;
        fail(ExitStatus::Usage, host::str_of(e.value()));
    }
}

// ------------------------------------------------------------- arguments ----

py::object whole_number(const CommandLine& line, std::string_view dest) {
    if (!line.integer(dest)) return py::none();
    return builtin("int")(host::text(line.shown(dest)));
}

std::string providers_help() { return pv::providers_help(host::str_of(generative().attr("MODEL_NAME"))); }

LlmOptions check_llm_options(const CommandLine& line) {
    py::module_ tg = generative();
    return checked_llm_options(line, host::str_of(tg.attr("MODEL_NAME")), !tg.attr("REPLAY_PATH").is_none());
}

py::object read_input(const std::string& path) {
    try {
        return host::read_input_text(host::text(path));
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_OSError)) throw;
        fail(ExitStatus::Usage, "cannot read " + path + ": " + os_reason(e.value()));
    }
}

py::object required_text(const std::string& arg, const char* what) {
    py::object text = arg.size() > 1 && arg[0] == '@' ? read_input(arg.substr(1)) : py::object(host::text(arg));
    if (utf8::strip_host_space(host::Utf8(text).view()).empty())
        fail(ExitStatus::Usage, std::string("the ") + what + " is empty");
    return text;
}

py::object grammar_mode(const std::string& name) {
    // The grammar's choices are its members' names in lower case.
    return tarvok::generative::bind::grammar_enum.get()[host::text(name).attr("upper")()];
}

std::string absolute(const std::string& path) {
    try {
        return files::absolute_name(path);
    } catch (const fs::filesystem_error& e) {
        errno = e.code().value();
        PyErr_SetFromErrno(PyExc_OSError);
        throw py::error_already_set();
    }
}

namespace {

bool is_folder(const std::string& shown) {
    std::error_code error;
    return fs::is_directory(files::named_path(shown), error);
}

}  // namespace

std::string examples_folder(const std::string& examples) {
    std::string folder = absolute(examples);
    if (!is_folder(folder)) fail(ExitStatus::Usage, "examples folder not found: " + folder);
    return folder;
}

std::string unusable_output_path(const std::string& path, const std::string& refused_name) {
    if (!refused_name.empty()) return refused_name;
    if (is_folder(path)) return path + " is a folder";
    std::string folder = files::folder_name(absolute(path));
    if (!is_folder(folder)) return "no folder " + folder;
    return "";
}

void refuse_same_file(const std::string& model_file, const std::string& data_file) {
    if (files::same_file(files::named_path(model_file), files::named_path(data_file))) {
        fail(ExitStatus::Usage, "the model and data files are the same file (" + model_file + ")");
    }
}

GivenPath given_path(const std::string& path) { return {files::named_path(path), path}; }

void refuse_output_over_inputs(const std::string& output, std::initializer_list<std::string> inputs,
                               const std::string& what) {
    std::vector<GivenPath> given;
    for (const std::string& input : inputs) given.push_back(given_path(input));
    refuse_output_over(given_path(output), given, what);
}

py::object embedding_model(const CommandLine& line) {
    std::optional<std::string> chosen = line.text("embedding_model");
    return chosen && !chosen->empty() ? py::object(host::text(*chosen)) : host::embedding_model_name();
}

std::optional<std::string> load_embedding_model(py::object name) {
    std::optional<std::string> reason = example_ranker::bind::load_failure(name);
    if (!reason) return std::nullopt;
    return tarvok::example_ranker::load_failure_message(host::Utf8(name).view(), one_line(host::text(*reason)),
                                                        tarvok::example_ranker::kDefaultModel);
}

// --------------------------------------------------------- the LLM phase ----

namespace {

/// The waiting line of one request on stderr (see cli::WaitLine); its ticks
/// draw under the GIL. Made and stopped under the GIL.
class StderrWaitLine {
  public:
    explicit StderrWaitLine(std::string what)
        : line_(std::move(what), [](const std::string& text, const std::atomic<bool>& stopped) {
              py::gil_scoped_acquire gil;
              if (stopped) return true;
              try {
                  write_raw("stderr", "\r" + terminal::shown(text) + "\x1b[K");
                  wait_line_shown = true;
                  return true;
              } catch (py::error_already_set&) {
                  return false;  // a closed stderr: stop drawing
              }
          }) {}
    ~StderrWaitLine() {
        try {
            stop();
        } catch (py::error_already_set&) {
            // A stderr that cannot be written: nothing is drawn on it either.
        }
    }

    void stop() {
        bool was_running;
        {
            py::gil_scoped_release unlocked;  // a tick may be waiting for the GIL
            was_running = line_.stop();
        }
        if (was_running) clear_wait_line();
    }

  private:
    WaitLine line_;
};

}  // namespace

py::object wait_for(const std::string& what, py::object call) {
    if (!stderr_is_terminal()) return call();
    StderrWaitLine line(what);
    py::object result = call();
    line.stop();
    return result;
}

py::object wait_line_events() {
    if (!stderr_is_terminal()) return py::none();
    // Dropped with the handler: the last request's line cannot outlive the run.
    auto line = std::make_shared<std::unique_ptr<StderrWaitLine>>();
    return py::cpp_function([line](py::dict event) {
        if (*line) (*line)->stop();
        line->reset();
        if (host::str_of(event["kind"]) != "request") return;
        *line = std::make_unique<StderrWaitLine>(host::str_of(event["provider"]) + " " + host::str_of(event["model"]));
    });
}

compiler::SizeLimits command_sizes(const CommandLine& line) { return size_option(line).value_or(host::size_setting()); }

py::dict llm_call_options(const LlmOptions& llm) {
    py::dict options;
    if (llm.timeout) options["timeout"] = py::float_(*llm.timeout);
    if (llm.replay) options["replay_path"] = host::text(*llm.replay);
    return options;
}

// ----------------------------------------------------------------- files ----

std::unique_ptr<PairStage> stage_pair(const std::string& model_target, const std::string& data_target) {
    return std::make_unique<PairStage>(Pair{files::named_path(model_target), files::named_path(data_target)},
                                       host_output());
}

void place_unlocked(PairStage& stage) {
    py::gil_scoped_release unlocked;
    stage.place();
}

// ---------------------------------------------------------- subcommands ----

namespace {

/// Whether the command line asks for JSON; set by main before parsing, so that
/// argparse's errors can be JSON too.
bool json_requested = false;

}  // namespace

void request_json(bool on) { json_requested = on; }

py::object add_command(py::object commands, const char* name, const char* help, const std::string& epilog) {
    py::dict kw;
    kw["help"] = help;
    kw["description"] = help;
    if (!epilog.empty()) kw["epilog"] = host::text(epilog);
    kw["formatter_class"] = py::module_::import("argparse").attr("RawDescriptionHelpFormatter");
    py::object parser = commands.attr("add_parser")(name, **kw);
    use_command_errors(parser);
    return parser;
}

namespace {

/// A subparser made from its table, row by row.
py::object add_table_command(py::object commands, const OptionTable& command) {
    py::object parser = add_command(commands, command.name.c_str(), command.help.c_str(), command.epilog);
    py::object group = py::none();  // made with its first option
    for (const Option& option : command.options) {
        if (option.exclusive && group.is_none()) group = parser.attr("add_mutually_exclusive_group")();
        py::dict kw;
        for (const auto& [key, value] : parser_keywords(option))
            kw[host::text(key)] = key == "type" ? builtin(value.text().c_str()) : host::to_python(value);
        py::list flags;
        for (const std::string& flag : option.flags) flags.append(host::text(flag));
        (option.exclusive ? group : parser).attr("add_argument")(*flags, **kw);
    }
    return parser;
}

/// Defaults the option tables name, read from the library's modules.
OptionDefaults option_defaults() {
    return {host::str_of(generative().attr("MODEL_NAME")), host::str_of(generative().attr("MAX_ITERATIONS")),
            host::str_of(host::max_size_setting()), std::string(tarvok::example_ranker::kDefaultModel),
            tarvok::solver::solver_names()};
}

struct Registered {
    RunCommand run = nullptr;
    RunOwnCommand run_own = nullptr;
    AddCommand add = nullptr;
};

using Bindings = Registry<Registered>;

}  // namespace

Registration::Registration(std::string_view name, RunCommand run) { Bindings::add(name, {run, nullptr, nullptr}); }

Registration::Registration(std::string_view name, RunOwnCommand run, AddCommand add) {
    Bindings::add(name, {nullptr, run, add});
}

void add_subcommands(py::object commands) {
    OptionDefaults defaults = option_defaults();
    for (const Subcommand& subcommand : subcommands()) {
        const Registered& binding = Bindings::of(subcommand.name);
        if (binding.add)
            binding.add(commands);
        else
            add_table_command(commands, subcommand.options(defaults));
    }
}

int run_subcommand(py::object args) {
    // Every option is read here, once; nothing below reads the parser's result.
    py::object options = builtin("vars")(args);
    const Registered& binding = Bindings::of(host::str_of(options["command"]));
    if (binding.run_own) return binding.run_own(args);
    return binding.run(CommandLine(host::from_python(options)));
}

void use_command_errors(py::object parser) {
    py::handle borrowed = parser;  // the parser outlives every call of its error()
    parser.attr("error") = py::cpp_function([borrowed](py::object message) {
        if (json_requested) {
            say_json(host::to_python(failure_json({ExitStatus::Usage, host::str_of(message)})));
        } else {
            clear_wait_line();
            borrowed.attr("print_usage")(py::module_::import("sys").attr("stderr"));
            warn(host::str_of(borrowed.attr("prog")) + ": error: " + host::str_of(message));
        }
        PyErr_SetObject(PyExc_SystemExit, py::int_(code(ExitStatus::Usage)).ptr());
        throw py::error_already_set();
    });
}

std::string summary_of(const solver::Solved& result) {
    // The quantity the question asks for, when the model names it `answer`, stands beside the objective.
    return summary_with_answer(result.summary(), answer_text(result.answer()));
}

}  // namespace tarvok::cli
