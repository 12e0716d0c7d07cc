// tarvok.evaluation: answer accuracy on benchmark sets of word problems. The
// run's course is the core's (evaluation/command_run.hpp), over one
// configuration value made here as the call starts; this file converts and
// is what is outside: the generation loop (tarvok_generative.run_generation,
// looked up per call, so that a caller may replace it), the worker threads,
// the progress bar and the streams. The workers are Python threads: the
// loop is Python, and the interpreter's own threads (named tarvok-eval-N)
// are the ones it waits for at exit and a caller sees in threading.
#include "bindings/evaluation/entries.hpp"
#include "bindings/example_ranker/entries.hpp"
#include "bindings/host/compile.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/interrupts.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/keys.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/host/package.hpp"
#include "bindings/host/solvers.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "common/files.hpp"
#include "common/terminal_text.hpp"
#include "evaluation/command_run.hpp"
#include "evaluation/folder.hpp"
#include "evaluation/problem_run.hpp"
#include "evaluation/record_map.hpp"
#include "evaluation/runner.hpp"
#include "evaluation/settings.hpp"
#include "evaluation/work_queue.hpp"
#include "example_ranker/ranking.hpp"
#include "generative/providers/providers.hpp"
#include "generative/providers/transcripts.hpp"
#include "solver/options.hpp"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace py = pybind11;
namespace host = tarvok::host;
namespace ev = tarvok::evaluation;
namespace terminal = tarvok::terminal;
namespace pv = tarvok::generative::providers;

namespace {

using host::Kind;

py::module_ generative() { return host::modules::tarvok_generative.get(); }
py::module_ os_module() { return py::module_::import("os"); }

/// `text` with the configured API keys hidden, as every record, summary and
/// message of a run holds text.
std::string hidden(const std::string& text) { return host::without_keys(text); }

/// Writes `text` to sys.stdout, or (`error`) one line for a reader to
/// sys.stderr with what a terminal would act on shown as escapes (each
/// looked up when written); the keys hidden.
void print_text(bool error, const std::string& text) {
    py::object out = py::module_::import("sys").attr(error ? "stderr" : "stdout");
    out.attr("write")(host::text(error ? terminal::shown(hidden(text)) + "\n" : hidden(text)));
    out.attr("flush")();
}

/// The shipped data set and example library, in the package's folder.
py::object package_path(const char* name) { return host::host_path(host::package_folder() / name); }

// ------------------------------------------------ plain values and host values

/// A plain value as the host's object (see ev::value_of).
template <typename T>
py::object to_host(const T& v) {
    return host::to_python(ev::value_of(v));
}

// A map (any object with `get`) becomes a struct through its table of
// fields (ev::each_field): a field the map lacks or holds as None keeps its
// default. Texts read back are shown with the keys hidden, as every record
// of a run holds them.
template <typename T>
void from_host(py::handle v, T& out) {
    if constexpr (ev::IsOptional<T>::value) {
        from_host(v, out.emplace());
    } else if constexpr (ev::IsVector<T>::value) {
        for (py::handle one : v) from_host(one, out.emplace_back());
    } else if constexpr (ev::HasFields<T>) {
        py::object get = v.attr("get");
        ev::each_field(out, [&](const char* key, auto& field) {
            if (py::object value = get(key); !value.is_none()) from_host(value, field);
        });
    } else if constexpr (std::is_same_v<T, std::string>) {
        out = hidden(host::str_of(v));
    } else if constexpr (std::is_same_v<T, long long>) {
        out = host::saturated(v);
    } else if constexpr (std::is_same_v<T, bool>) {
        out = host::truthy(v);
    } else if constexpr (std::is_same_v<T, double>) {
        out = host::number(v);
    } else {
        out = v.cast<T>();
    }
}

/// `value` into `field` unless it is None, which keeps the field's default.
template <typename T>
void read_into(py::handle value, T& field) {
    if (!value.is_none()) from_host(value, field);
}

// ------------------------------------------------------------ settings

/// One run's configuration, and what of it only the host holds.
struct Config : ev::RunConfig {
    py::object replay = py::none();  ///< the transcripts the provider replay answers from (absolute)
    /// The command's size limit of every compile (see host::max_size_of); None: MAX_SIZE as each problem's run starts.
    py::object max_size = py::none();
};

template <typename T>
constexpr Kind kind_of() {
    if constexpr (std::is_same_v<T, std::string>) return Kind::Str;
    if constexpr (std::is_same_v<T, bool>) return Kind::Bool;
    return Kind::Int;
}

/// One argument of run_evaluation, refused with a TypeError unless it is
/// exactly of its kind (the tolerance: a float or an int).
template <typename T>
void read_argument(py::handle value, const char* name, T& out) {
    if constexpr (ev::IsOptional<T>::value) {
        host::require(value, "run_evaluation", name, kind_of<typename T::value_type>(), true);
        if (!value.is_none()) read_argument(value, name, out.emplace());
    } else if constexpr (std::is_same_v<T, double>) {
        if (!host::is_exact(value, Kind::Float) && !host::is_exact(value, Kind::Int))
            throw py::type_error(ev::refusal_text({name, "float or int"}, host::type_name(value)));
        out = value.cast<double>();
    } else {
        host::require(value, "run_evaluation", name, kind_of<T>());
        if constexpr (std::is_same_v<T, std::string>) out = host::str_of(value);
        if constexpr (std::is_same_v<T, bool>) out = host::truthy(value);
        if constexpr (std::is_same_v<T, long long>) out = host::saturated(value);
    }
}

/// The arguments that ev::each_argument reads, in its order.
using Given = std::array<py::object, 17>;

/// The data set (the shipped sample set when none) and the output folder
/// (absolute), as the file system and the host name them.
Config run_paths(py::object dataset, py::object out_dir) {
    Config c;
    py::object named = dataset.is_none() ? package_path("datasets/sample.jsonl") : os_module().attr("fspath")(dataset);
    c.dataset = host::file_system_path(named);
    c.dataset_name = host::str_of(named);
    c.dataset_shown = hidden(c.dataset_name);
    c.out_dir = tarvok::files::absolute_path(host::file_system_path(out_dir));
    auto name = [](const std::filesystem::path& path) { return host::str_of(host::host_path(path)); };
    c.out_name = name(c.out_dir);
    c.results_name = name(c.out_dir / ev::kResultsFile);
    c.summary_name = name(c.out_dir / ev::kSummaryFile);
    return c;
}

/// A loop option as the run makes it: the run's own, else the module
/// setting as it stands.
bool loop_option(std::optional<bool> own, const char* setting) {
    return own ? *own : host::truthy(generative().attr(setting));
}

/// The run's settings completed from its arguments, checked once (with the
/// replay path and the solvers); `shown` maps each argument to its value
/// as given, which a refusal shows.
void complete(Config& s, ev::Arguments& a, py::object replay, py::object shown) {
    if (!replay.is_none()) {
        std::filesystem::path transcripts = tarvok::files::absolute_path(host::file_system_path(replay));
        // Weighed with their links resolved: a link to the output folder is that folder.
        auto resolved = [](const std::filesystem::path& path) {
            std::error_code unknown;
            std::filesystem::path real = std::filesystem::weakly_canonical(path, unknown);
            return unknown || real.empty() ? path : real;
        };
        std::filesystem::path from = resolved(transcripts), out = resolved(s.out_dir), common;
        for (auto x = from.begin(), y = out.begin(); x != from.end() && y != out.end() && *x == *y; ++x, ++y)
            common /= *x;
        s.replay = host::host_path(transcripts);
        a.replay = {{host::str_of(host::host_path(from)), host::str_of(host::host_path(out)),
                     host::str_of(host::host_path(common))}};
    }
    a.solvers = tarvok::solver::solver_names();
    a.solver_choices = tarvok::solver::choices(a.solvers);
    if (auto refusal = ev::check_arguments(a))
        host::raise(PyExc_ValueError,
                    ev::refusal_text(*refusal, host::str_of(py::repr(shown.attr("get")(refusal->parameter)))));
    static_cast<ev::Settings&>(s) = a.settings;
    if (!s.model) s.model = host::str_of(generative().attr("MODEL_NAME"));
    s.model_shown = hidden(*s.model);
    if (!s.iterations) s.iterations = host::saturated(generative().attr("MAX_ITERATIONS"));
    s.execution_check_made = loop_option(s.execution_check, "EXECUTION_CHECK");
    s.alignment_check_made = loop_option(s.alignment_check, "ALIGNMENT_CHECK");
}

/// The run's settings from run_evaluation's arguments, checked once.
Config settings_from(py::object dataset, py::object out_dir, const Given& given, py::object fields, py::object replay,
                     py::object solver) {
    Config s = run_paths(dataset, out_dir);
    ev::Arguments a;
    py::dict shown{py::arg("fields") = fields, py::arg("replay") = replay, py::arg("solver") = solver};
    std::size_t i = 0;
    ev::each_argument(a.settings, [&](const char* name, auto& member) {
        shown[name] = given.at(i);
        read_argument(given.at(i++), name, member);
    });
    if (!fields.is_none() && !PyDict_Check(fields.ptr()))
        throw py::type_error(ev::refusal_text({"fields", "dict or None"}, host::type_name(fields)));
    if (!fields.is_none())
        for (auto [key, value] : py::reinterpret_borrow<py::dict>(fields))
            a.fields.emplace_back(host::str_of(key),
                                  PyUnicode_Check(value.ptr()) ? std::optional(host::str_of(value)) : std::nullopt);
    if (PyUnicode_Check(solver.ptr())) a.solver = host::str_of(solver);
    complete(s, a, replay, shown);
    return s;
}

/// What a core raises about files, the folder, its lock or the data set,
/// raised as the host's exception: OSError (the subclass its errno names),
/// RuntimeError for a folder another run holds, ValueError for one with
/// other settings or a data set that cannot be used; what the host raised
/// (ev::StepError) as it was.
template <typename Work>
auto on_host(Work&& work) {
    try {
        return work();
    } catch (const std::filesystem::filesystem_error& e) {
        host::raise_os_error(e.code().value(), host::host_path(e.path1()));
    } catch (const tarvok::files::FileError& e) {
        host::raise_os_error(e.error_number(), host::host_path(e.path()));
    } catch (const ev::FolderBusy& e) {
        host::raise(PyExc_RuntimeError, e.what());
    } catch (const ev::FolderConflict& e) {
        host::raise(PyExc_ValueError, e.what());
    } catch (const ev::DatasetError& e) {
        host::raise(PyExc_ValueError, e.what());
    } catch (const ev::StepError& e) {
        std::rethrow_exception(e.raised);
    }
}

/// The kind of what the host raised, as ev::command_failure tells them apart.
ev::Raised raised_kind(const py::error_already_set& e) {
    using enum ev::Raised;
    if (!host::is_ordinary(e) || host::is_interrupt(e)) return NotOrdinary;
    // OSError first: an error of both kinds (io.UnsupportedOperation) is the file's.
    for (auto [type, kind] : {std::pair{PyExc_OSError, OS},
                              {PyExc_ValueError, Value},
                              {PyExc_ImportError, Import},
                              {PyExc_RuntimeError, Runtime}})
        if (e.matches(type)) return kind;
    return Other;
}

/// What the host raised, as the cores take it: Ctrl-C as tarvok::Interrupted,
/// anything else as ev::StepError, which keeps the error to raise on.
std::exception_ptr as_core_error(const py::error_already_set& e) {
    if (host::is_interrupt(e)) return std::make_exception_ptr(tarvok::Interrupted{});
    return std::make_exception_ptr(ev::StepError{raised_kind(e), host::str_of(e.value()), std::make_exception_ptr(e)});
}

/// `work` run for a core that holds no GIL: with it, and what it raises as
/// the cores take it (see as_core_error).
template <typename Work>
decltype(auto) hosted(Work&& work) {
    py::gil_scoped_acquire held;
    try {
        return work();
    } catch (py::error_already_set& e) {
        std::rethrow_exception(as_core_error(e));
    }
}

/// The provider's client (the library and the API key) made once, as each
/// request would make it, so that a run that cannot use it fails before any
/// problem starts; the provider's name.
std::string check_provider(const Config& s) {
    py::module_ tg = generative();
    // The loop's own private steps, as each request calls them: the provider
    // inference and the provider's client factory.
    py::object provider = tg.attr("_infer_provider")(to_host(s.provider), to_host(s.model));
    std::string name = host::str_of(provider.attr("value"));
    const pv::Provider* entry = pv::provider_from_alias(name);
    std::string client = entry ? std::string(entry->client_factory) : std::string();
    if (name == "replay") {
        tarvok::generative::bind::check_provider(to_host(s.provider), to_host(s.model), s.replay);
    } else if (!client.empty() && py::hasattr(tg, client.c_str())) {
        tg.attr(client.c_str())();
    }
    return name;
}

// ---------------------------------------------------------- one problem

/// "TypeName: message", as a record keeps what a run raised.
std::string error_text(const py::error_already_set& e) {
    return ev::raised_text(host::type_name(e.value()), host::str_of(e.value()));
}

/// A stop of the run as the loop takes it: Ctrl-C, which it lets through.
[[noreturn]] void raise_stopped() {
    PyErr_SetString(PyExc_KeyboardInterrupt, "the evaluation run stopped");
    throw py::error_already_set();
}

/// The progress callback of one problem: each line goes to its log (as the
/// host's text, what UTF-8 cannot hold escaped). A run that stops early ends
/// the problem at its next step (see ev::ProblemLog).
py::cpp_function logged_progress(std::shared_ptr<ev::ProblemLog> log) {
    return py::cpp_function([log](py::object message) {
        auto bytes = py::reinterpret_steal<py::bytes>(
            PyUnicode_AsEncodedString(py::str(message).ptr(), "utf-8", "backslashreplace"));
        if (!bytes) throw py::error_already_set();
        try {
            on_host([&] { log->line(std::string(bytes)); });
        } catch (const tarvok::Interrupted&) {
            raise_stopped();
        }
    });
}

/// The keywords of the loop's call for each generation of one problem, with
/// the run's own options (see ev::loop_keywords); the module settings stay
/// as they are.
py::dict loop_call(py::handle settings, py::handle progress) {
    py::dict keywords;
    py::object get = settings.attr("get");
    for (const ev::LoopKeyword& k : ev::loop_keywords())
        keywords[k.keyword] = k.fallback ? get(k.setting, host::to_python(*k.fallback)) : settings[k.setting];
    keywords["progress"] = progress;
    keywords["max_size"] = get("max_size", py::none());
    return keywords;
}

/// The generation loop of one problem (see ev::Generation), with its
/// solve; what either raises is kept in the record when it is the host's
/// ordinary error (see ev::GenerationFailed). Each call takes the GIL.
class HostGeneration final : public ev::Generation {
  public:
    HostGeneration(py::object problem, py::object settings, const std::filesystem::path& out_dir,
                   std::shared_ptr<ev::ProblemLog> log)
        : problem_(problem), settings_(settings), base_(out_dir), progress_(logged_progress(std::move(log))) {}

    void generate(const std::filesystem::path& folder, ev::Record& record, bool readings,
                  ev::Generated& made) override {
        py::gil_scoped_acquire held;
        try {
            if (!keywords_) keywords_ = loop_call(settings_, progress_);
            keywords_["record"] = host::host_path(folder / ev::kTranscriptFile);
            generative();  // its start registers the result's type
            py::object result = py::cast(tarvok::generative::bind::run_generation(
                problem_["description"], host::host_path(folder / ev::kModelFile),
                host::host_path(folder / ev::kDataFile), py::reinterpret_borrow<py::dict>(keywords_),
                tarvok::files::Existing::Replace));  // every name in the problem's folder is the run's own
            ev::each_loop_fact(record, [&](const char* name, auto& field) { read_into(result.attr(name), field); });
            if (!host::str_of(result.attr("model_text")).empty()) made.data = host::str_of(result.attr("data_text"));
            if (record.compiled.value_or(false)) made.solved = solve(result, record, readings);
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;
            throw ev::GenerationFailed{hidden(error_text(e)), tarvok::generative::bind::is_provider_outage(e.value())};
        }
    }

  private:
    /// The loop's own solve of the final pair when the execution check made
    /// one, else a solve of the pair as the loop compiled it.
    ev::FinalSolve solve(py::handle result, ev::Record& record, bool readings) const {
        py::object outcome = result.attr("execute")(py::arg("time_limit") = settings_["time_limit"]);
        py::object status = outcome["status"], objective = outcome.attr("get")("objective");
        read_into(status, record.status);
        read_into(objective, record.objective);
        ev::FinalSolve solved{host::str_of(status), host::str_of(objective), std::nullopt};
        if (readings) {
            read_into(outcome.attr("get")("answer"), record.answer);
            read_into(result.attr("assumptions"), record.readings);
            solved.what_if = what_if_table(result);
        }
        return solved;
    }

    /// The table of the solve's readings, its files as the run's folder names
    /// them (a repeat's too), so that the records move with it.
    std::optional<ev::WhatIfTable> what_if_table(py::handle result) const {
        py::object table = result.attr("what_if");
        if (table.is_none()) return std::nullopt;
        std::optional<ev::WhatIfTable> out;
        from_host(table, out);
        auto relative = [&](std::optional<std::string>& file, py::handle path) {
            if (path.is_none()) return;
            std::filesystem::path where = std::filesystem::absolute(host::file_system_path(path)).lexically_normal();
            file = hidden(host::str_of(host::host_path(where.lexically_relative(base_))));
        };
        relative(out->main.model_file, result.attr("model_file"));
        relative(out->main.data_file, result.attr("data_file"));
        for (ev::TableReading& alt : out->alternatives) {
            if (alt.model_file) relative(alt.model_file, host::text(*alt.model_file));
            if (alt.data_file) relative(alt.data_file, host::text(*alt.data_file));
        }
        return out;
    }

    py::object problem_, settings_;
    std::filesystem::path base_;  ///< absolute and normal
    py::cpp_function progress_;
    py::object keywords_;  ///< made at the first generation
};

/// One problem, start to end; the run adds the problem's facts to its record
/// and judges it. `settings` holds the run's options of the loop (model,
/// provider, iterations, execution_check, alignment_check, few_shot_library,
/// timeout), the final solve's time_limit and samples with rel_tol for
/// voting; a stop of `run` ends it.
ev::Record run_problem(py::object problem, py::object out_dir, py::object settings,
                       const std::shared_ptr<const ev::WorkQueue>& run) {
    py::object get = settings.attr("get");
    std::filesystem::path out = std::filesystem::absolute(host::file_system_path(out_dir)).lexically_normal();
    std::filesystem::path relative = host::file_system_path(problem["folder"]), folder = out / relative;
    ev::ProblemOptions options{host::str_of(problem["id"]),
                               host::str_of(problem["description"]),
                               folder,
                               host::saturated(get("samples", 1)),
                               get("rel_tol", 1e-4).cast<double>(),
                               host::truthy(get("assumptions", false))};
    auto log = on_host([&] {
        ev::own_problem_folder(out, relative);
        return std::make_shared<ev::ProblemLog>(folder / ev::kProgressLog, run);
    });
    HostGeneration loop(problem, settings, out, log);
    try {
        return on_host([&] {
            py::gil_scoped_release unlocked;
            return ev::problem_record(loop, *log, options);
        });
    } catch (const tarvok::Interrupted&) {
        raise_stopped();
    }
}

// ------------------------------------------------------------- the run

/// What the worker threads share.
struct Pool {
    std::shared_ptr<ev::WorkQueue> queue;
    std::vector<py::object> todo;  ///< problem maps, in data-set order; not changed once workers start
    py::object out_dir, settings;
    py::list threads;  ///< the workers, which the interpreter waits for at exit
    py::object ahead;  ///< the ranker's hold on the descriptions it encodes ahead

    /// After the workers ended (see ev::WorkQueue::wait_for_workers).
    void end() const {
        for (py::handle t : threads) t.attr("join")();  // each at its last step by now
        ahead.attr("close")();
    }
};

void work(const std::shared_ptr<Pool>& pool) {
    try {
        while (std::optional<size_t> index = pool->queue->take()) {
            ev::Record record;
            try {
                record = run_problem(pool->todo[*index], pool->out_dir, pool->settings, pool->queue);
            } catch (py::error_already_set& e) {
                if (!host::is_ordinary(e)) throw;
                // A problem whose folder or log cannot be written still gives a record.
                record.error = error_text(e);
            }
            ev::settle(record);
            pool->queue->put(*index, std::move(record));
        }
    } catch (py::error_already_set& e) {
        // The run raises it; a thread that died silently would leave it waiting.
        pool->queue->fail(as_core_error(e));
    } catch (...) {
        pool->queue->fail(std::current_exception());
    }
    pool->queue->worker_ended();
}

/// The progress bar's figures after the tally took a record.
void show_accuracy(py::handle bar, const ev::RunTally& tally) {
    bar.attr("set_postfix_str")(ev::accuracy_postfix(tally.correct(), tally.judged()), py::arg("refresh") = false);
}

/// A tqdm bar on a terminal; none elsewhere (one line per problem then) or
/// without tqdm.
py::object progress_bar(const ev::RunTally& tally) {
    py::object err = py::module_::import("sys").attr("stderr");
    bool terminal = false;
    try {
        terminal = host::truthy(err.attr("isatty")());
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
    }
    if (!terminal) return py::object();
    try {
        py::object bar = py::module_::import("tqdm").attr("tqdm")(
            py::arg("total") = tally.total(), py::arg("initial") = tally.done(), py::arg("desc") = "tarvok eval",
            py::arg("unit") = "problem", py::arg("file") = err, py::arg("dynamic_ncols") = true);
        show_accuracy(bar, tally);
        return bar;
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError) || host::behind_an_interrupt(e.value().ptr())) throw;
    }
    return py::object();
}

/// The example library FEW_SHOT_LIBRARY names when that is a folder here,
/// else the shipped one (as `tarvok solve` chooses, without moving).
py::object few_shot_library(bool tell_it) {
    py::module_ tg = generative();
    py::object chosen = py::none();
    if (py::hasattr(tg, "FEW_SHOT_LIBRARY")) chosen = tg.attr("FEW_SHOT_LIBRARY");
    std::error_code unknown;  // as the host's os.path.isdir: a path that cannot be looked at is no folder
    if (chosen.is_none() || !std::filesystem::is_directory(host::file_system_path(chosen), unknown))
        chosen = package_path("tvl_models");
    if (tell_it)
        print_text(true, ev::few_shot_line(host::str_of(
                             host::host_path(tarvok::files::absolute_path(host::file_system_path(chosen))))));
    return chosen;
}

/// The options each problem runs with (see run_problem).
py::dict problem_settings(const Config& s, py::object library) {
    py::dict settings;
    ev::each_problem_setting(s, [&](const char* key, const auto& value) { settings[key] = to_host(value); });
    settings["few_shot_library"] = library;
    settings["time_limit"] = generative().attr("EXECUTION_TIME_LIMIT");
    settings["replay"] = s.replay;
    // The command's size limit; without one, each problem's run reads MAX_SIZE as it starts.
    if (!s.max_size.is_none()) settings["max_size"] = s.max_size;
    // TARVOK_EMBEDDING_MODEL ranks the examples, as for `solve`; unset, the ranker's own default.
    if (host::truthy(os_module().attr("environ").attr("get")("TARVOK_EMBEDDING_MODEL", py::str("")).attr("strip")()))
        settings["embedding_model"] = host::embedding_model_name();
    return settings;
}

/// The workers of a run, started on the problems still to run; the run's
/// queue is their stop.
std::shared_ptr<Pool> start_workers(const Config& s, const std::shared_ptr<ev::WorkQueue>& queue,
                                    const ev::WorkerPlan& plan, py::object library) {
    auto pool = std::make_shared<Pool>();
    pool->queue = queue;
    for (const ev::Problem& p : plan.problems) pool->todo.push_back(to_host(p));
    pool->out_dir = host::host_path(s.out_dir);
    pool->settings = problem_settings(s, library);
    // The descriptions come to the ranker in this order: it encodes them ahead while the workers wait on requests.
    py::list descriptions;
    for (const py::object& problem : pool->todo) descriptions.append(problem["description"]);
    pool->ahead = tarvok::example_ranker::bind::queries_ahead(descriptions, host::embedding_model_name());
    py::object thread = py::module_::import("threading").attr("Thread");
    // Not daemon threads: the interpreter waits for them at exit rather than
    // ending them in the middle of C++ work.
    for (const std::string& name : plan.names) {
        py::cpp_function body([pool]() { work(pool); });
        py::object worker = thread(py::arg("target") = body, py::arg("name") = name);
        worker.attr("start")();
        pool->threads.append(worker);
    }
    return pool;
}

/// A process-wide setting the command changed for the length of its run
/// (it owns its process; the library's run_evaluation leaves them to its
/// caller): `setter(*before)` puts it back.
class PutBack {
  public:
    PutBack(py::object setter, py::tuple before) : setter_(std::move(setter)), before_(std::move(before)) {}
    PutBack(const PutBack&) = delete;
    PutBack& operator=(const PutBack&) = delete;
    ~PutBack() {
        py::error_scope keep;
        PyObject* done = PyObject_Call(setter_.ptr(), before_.ptr(), nullptr);
        if (done == nullptr) PyErr_Clear();  // nothing sensible to do while the command ends
        Py_XDECREF(done);
    }

  private:
    py::object setter_;
    py::tuple before_;
};

/// With several workers, the embedding model's tensor library computes on
/// one thread per call: its encodings take turns (see the ranker), and a
/// thread pool of its own for each short query spends more of the cores
/// waiting on itself than computing. Nothing is imported when the model's
/// libraries are not installed, or the model is named as a folder that is
/// not there (it never loads).
void one_encoding_thread(std::optional<PutBack>& back) {
    if (py::module_::import("importlib.util").attr("find_spec")("sentence_transformers").is_none()) return;
    py::object name = host::embedding_model_name();
    std::error_code unknown;  // as the host's os.path.exists: a path that cannot be looked at is not there
    bool exists = std::filesystem::exists(host::file_system_path(name), unknown);
    if (tarvok::example_ranker::missing_model_folder(host::str_of(name), exists)) return;
    py::module_ torch = py::module_::import("torch");
    back.emplace(torch.attr("set_num_threads"), py::make_tuple(torch.attr("get_num_threads")()));
    torch.attr("set_num_threads")(1);
}

/// Full collections come rarer (see ev::kYoungPassesPerFullCollection).
void rarer_full_collections(std::optional<PutBack>& back) {
    py::module_ gc = py::module_::import("gc");
    py::tuple before = gc.attr("get_threshold")();
    if (host::saturated(before[2]) >= ev::kYoungPassesPerFullCollection) return;
    back.emplace(gc.attr("set_threshold"), before);
    gc.attr("set_threshold")(before[0], before[1], ev::kYoungPassesPerFullCollection);
}

/// What is outside a run (see ev::RunHost): the streams, the checks, the
/// worker threads and the progress bar. The run goes on without the GIL;
/// each call takes it.
class HostRun final : public ev::RunHost {
  public:
    /// A run of `config`; the command's (`command`) owns its process.
    explicit HostRun(Config config, bool command = false) : config_(std::move(config)), command_(command) {}

    void write(bool error, const std::string& text) override {
        hosted([&] { print_text(error, text); });
    }
    std::string check_provider(const ev::Settings&) override {
        return hosted([&] { return ::check_provider(config_); });
    }
    void check_solver(const std::string& solver) override {
        hosted([&] {
            ev::SolverNeed need = ev::solver_need(solver);
            host::import_solver(solver, need.purpose, need.extra ? need.extra->c_str() : nullptr);
        });
    }
    void start(const std::shared_ptr<ev::WorkQueue>& queue, const ev::WorkerPlan& workers,
               const ev::RunTally& tally) override {
        hosted([&] {
            if (command_) {  // the command owns its process for the length of its run
                if (config_.jobs > 1) one_encoding_thread(encoding_);
                rarer_full_collections(collections_);
            }
            py::object library = few_shot_library(config_.progress);
            if (config_.progress) bar_ = progress_bar(tally);
            pool_ = start_workers(config_, queue, workers, library);
        });
    }
    bool show(const ev::RunTally& tally, bool closing) override {
        return hosted([&] {
            if (!bar_) return false;
            if (closing) {
                bar_.attr("close")();
                bar_ = py::object();
            } else {
                show_accuracy(bar_, tally);
                bar_.attr("update")(1);
            }
            return true;
        });
    }

    const Config& config() const { return config_; }
    /// After a run that stopped and waited for its workers: their threads joined.
    void end_workers() const {
        if (pool_ && pool_->queue->stopping() && pool_->queue->running() == 0) pool_->end();
    }

  private:
    Config config_;
    bool command_;
    py::object bar_;  ///< the progress bar, when one shows
    std::shared_ptr<Pool> pool_;
    std::optional<PutBack> encoding_, collections_;
};

py::object run_evaluation(py::object dataset, py::object out_dir, py::object provider, py::object model,
                          py::object jobs, py::object iterations, py::object execution_check, py::object rel_tol,
                          py::object limit, py::object progress, py::object force, py::object replay,
                          py::object retry_errors, py::object stop_after_errors, py::object fields,
                          py::object alignment_check, py::object repeat, py::object samples, py::object assumptions,
                          py::object what_if, py::object what_if_max, py::object solver) {
    HostRun run(settings_from(
        dataset, out_dir,
        {provider, model, jobs, iterations, execution_check, rel_tol, limit, progress, force, retry_errors,
         stop_after_errors, repeat, samples, alignment_check, assumptions, what_if, what_if_max},
        fields, replay, solver));
    std::shared_ptr<ev::WorkQueue> queue;
    ev::RunOutcome out = on_host([&] {
        return host::interruptible(
            [&](tarvok::Interrupt* i) { return ev::run_evaluation(run, run.config(), queue, i); });
    });
    run.end_workers();
    if (out.provider_down) host::raise(PyExc_ConnectionError, *out.provider_down);
    return host::to_python(tarvok::json::parse(out.summary_text, {.repeated_keys = true}));
}

// ------------------------------------------------------------ the command

/// The arguments of `tarvok eval`, added to `parser` (its own, or the
/// subparser of the `tarvok` command).
void add_arguments(py::object parser) {
    py::object builtins = py::module_::import("builtins");
    for (const ev::ParserArgument& a : ev::parser_arguments(pv::provider_names(), tarvok::solver::solver_names())) {
        py::dict options;
        for (const ev::ParserKeyword& k : a.keywords)
            options[host::text(k.key)] = k.builtin ? builtins.attr(std::get<std::string>(k.value).c_str())
                                                   : std::visit([](const auto& v) { return to_host(v); }, k.value);
        parser.attr("add_argument")(a.name, **options);
    }
}

/// The parsed arguments as plain values, by the parser's names (see ev::ParsedArguments).
ev::ParsedArguments parsed_arguments(py::object args) {
    using Kind = ev::ArgumentSpec::Kind;
    ev::ParsedArguments parsed;
    for (const ev::ArgumentSpec& a : ev::eval_arguments()) {
        std::string name = ev::parsed_name(a.name);
        py::object value = args.attr(name.c_str());
        if (value.is_none()) continue;
        using Value = ev::ParsedArguments::mapped_type;
        parsed[name] = a.kind == Kind::Int     ? Value(value.cast<long long>())
                       : a.kind == Kind::Float ? Value(value.cast<double>())
                       : a.kind == Kind::Flag  ? Value(host::truthy(value))
                                               : Value(host::str_of(value));
    }
    return parsed;
}

/// The parsed arguments as the option checks take them, with what the host knows of the provider and the replay path.
ev::CommandOptions command_options(py::object args, const ev::ParsedArguments& parsed) {
    ev::CommandOptions o = ev::command_options(parsed);
    if (o.provider) {
        o.provider_key = host::str_of(args.attr("provider").attr("strip")().attr("lower")());
        o.provider_known = pv::provider_from_alias(*o.provider_key) != nullptr;
        o.provider_choices = pv::provider_names();
        if (!o.replay && *o.provider_key == "replay") o.replay_configured = !generative().attr("REPLAY_PATH").is_none();
    }
    if (o.replay) o.replay_refusal = pv::replay_path_refusal(host::file_system_path(args.attr("replay")), *o.replay);
    return o;
}

/// The run's settings from the parsed arguments, made as run_evaluation makes them.
Config command_settings(py::object args, const ev::ParsedArguments& parsed) {
    Config s = run_paths(args.attr("dataset"), args.attr("out"));
    ev::Arguments a = ev::command_arguments(parsed);
    complete(s, a, args.attr("replay"), py::module_::import("builtins").attr("vars")(args));
    // The command's size limit, built once as it starts: --max-size, else MAX_SIZE as it stands.
    py::object size = args.attr("max_size");
    s.max_size = host::max_size_of(size.is_none() ? host::size_setting() : host::size_limits_of(size, "--max-size"));
    return s;
}

/// `tarvok eval` from parsed arguments (see add_arguments); the exit status.
int run_command(py::object args) {
    ev::ParsedArguments parsed = parsed_arguments(args);
    ev::CommandOptions options = command_options(args, parsed);
    bool json = std::get<bool>(parsed.at("json"));
    // Made once here; what making it raised is told after the options' check.
    Config config;
    ev::Settled settings;
    try {
        settings = config = hosted([&] { return command_settings(args, parsed); });
    } catch (...) {
        settings = std::current_exception();
    }
    HostRun command(config, true);
    ev::CommandEnd end = on_host([&] {
        return host::interruptible(
            [&](tarvok::Interrupt* i) { return ev::run_command(command, options, std::move(settings), json, i); });
    });
    if (end.quit) {  // a second Ctrl-C: at once, the records being on disk
        for (const char* stream : {"stdout", "stderr"}) py::module_::import("sys").attr(stream).attr("flush")();
        os_module().attr("_exit")(end.status);
    }
    command.end_workers();
    return end.status;
}

int main_impl(py::object argv) {
    py::object parser =
        py::module_::import("argparse")
            .attr("ArgumentParser")(py::arg("prog") = "tarvok eval", py::arg("description") = ev::kEvalDescription);
    add_arguments(parser);
    return run_command(parser.attr("parse_args")(argv));
}

}  // namespace

void tarvok::evaluation::bind::add_arguments(py::object parser) { ::add_arguments(parser); }
int tarvok::evaluation::bind::run_command(py::object args) { return ::run_command(args); }

void tarvok_start_evaluation(pybind11::module_& m) {
    host::ModuleStart start(
        m, tarvok::host::modules::evaluation,
        "Answer accuracy on benchmark sets: the generation loop on each word problem, its model solved and "
        "compared with the reference optimum.");

    host::def(m, ev::kRunEvaluationFace, &run_evaluation, py::arg("dataset"), py::arg("out_dir"), py::kw_only(),
              py::arg("provider") = py::none(), py::arg("model") = py::none(), py::arg("jobs") = 1,
              py::arg("iterations") = py::none(), py::arg("execution_check") = py::none(), py::arg("rel_tol") = 1e-4,
              py::arg("limit") = py::none(), py::arg("progress") = true, py::arg("force") = false,
              py::arg("replay") = py::none(), py::arg("retry_errors") = true, py::arg("stop_after_errors") = 3,
              py::arg("fields") = py::none(), py::arg("alignment_check") = py::none(), py::arg("repeat") = 1,
              py::arg("samples") = 1, py::arg("assumptions") = false, py::arg("what_if") = false,
              py::arg("what_if_max") = 3, py::arg("solver") = "highs");
    host::def(m, ev::kAddArgumentsFace, &add_arguments, py::arg("parser"));
    host::def(m, ev::kRunCommandFace, &run_command, py::arg("args"));
    host::def(m, ev::kMainFace, &main_impl, py::arg("argv") = py::none());
}
