// tarvok.evaluation: answer accuracy on benchmark sets of word problems. For
// each problem it runs the generation loop of tarvok_generative, solves the
// final model and compares the optimum with the set's reference. Problems run
// on Python threads (the loop waits on the network); the main thread alone
// writes results.jsonl, one flushed line per finished problem, so that a run
// that is stopped resumes where it was.
#include "bindings/evaluation/entries.hpp"
#include "bindings/host/compile.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/interrupts.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/keys.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/host/package.hpp"
#include "bindings/host/solvers.hpp"
#include "common/exit_status.hpp"
#include "common/files.hpp"
#include "common/terminal_text.hpp"
#include "evaluation/command_run.hpp"
#include "evaluation/dataset.hpp"
#include "evaluation/folder.hpp"
#include "evaluation/problem_run.hpp"
#include "evaluation/record_map.hpp"
#include "evaluation/results.hpp"
#include "evaluation/runner.hpp"
#include "evaluation/settings.hpp"
#include "evaluation/work_queue.hpp"
#include "example_ranker/ranking.hpp"
#include "generative/providers/providers.hpp"
#include "solver/options.hpp"

#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <new>
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

py::object attr(const char* name) { return host::modules::evaluation.attr(name); }
using host::Kind;

py::module_ generative() { return host::modules::tarvok_generative.get(); }
py::module_ os_module() { return py::module_::import("os"); }

/// `text` with the configured API keys hidden, as every record, summary and
/// message of a run holds text.
std::string hidden(const std::string& text) { return host::without_keys(text); }

/// Writes one line for a reader to sys.stderr (looked up per line), with
/// what a terminal would act on shown as escapes and the keys hidden.
void tell(const std::string& line) {
    py::object err = py::module_::import("sys").attr("stderr");
    err.attr("write")(host::text(terminal::shown(hidden(line)) + "\n"));
    err.attr("flush")();
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

/// One run's settings: the plain ones, and the paths as the host names them.
struct Settings : ev::Settings {
    py::object dataset;              ///< path of the data set
    py::object out_dir;              ///< absolute path of the output folder
    py::object replay = py::none();  ///< the transcripts the provider replay answers from (absolute)
    /// The command's size limit of every compile (see host::max_size_of); None: MAX_SIZE as each problem's run starts.
    py::object max_size = py::none();
    /// The loop's checks as the run makes them: its own, else the module's setting as the run starts.
    bool made_execution_check = false, made_alignment_check = false;
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
/// (absolute), as the host names them.
Settings run_paths(py::object dataset, py::object out_dir) {
    Settings s;
    s.dataset = dataset.is_none() ? package_path("datasets/sample.jsonl") : os_module().attr("fspath")(dataset);
    s.out_dir = host::host_path(tarvok::files::absolute_path(host::file_system_path(out_dir)));
    return s;
}

/// A loop option as the run makes it: the run's own, else the module
/// setting as it stands.
bool loop_option(std::optional<bool> own, const char* setting) {
    return own ? *own : host::truthy(generative().attr(setting));
}

/// The run's settings completed from its arguments, checked once (with the
/// replay path and the solvers); `shown` maps each argument to its value
/// as given, which a refusal shows.
void complete(Settings& s, ev::Arguments& a, py::object replay, py::object shown) {
    if (!replay.is_none()) {
        std::filesystem::path transcripts = tarvok::files::absolute_path(host::file_system_path(replay));
        // Weighed with their links resolved: a link to the output folder is that folder.
        auto resolved = [](const std::filesystem::path& path) {
            std::error_code unknown;
            std::filesystem::path real = std::filesystem::weakly_canonical(path, unknown);
            return unknown || real.empty() ? path : real;
        };
        std::filesystem::path from = resolved(transcripts), out = resolved(host::file_system_path(s.out_dir)), common;
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
    if (!s.iterations) s.iterations = host::saturated(generative().attr("MAX_ITERATIONS"));
    s.made_execution_check = loop_option(s.execution_check, "EXECUTION_CHECK");
    s.made_alignment_check = loop_option(s.alignment_check, "ALIGNMENT_CHECK");
}

/// The run's settings from run_evaluation's arguments, checked once.
Settings settings_from(py::object dataset, py::object out_dir, const Given& given, py::object fields, py::object replay,
                       py::object solver) {
    Settings s = run_paths(dataset, out_dir);
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
/// other settings or a data set that cannot be used.
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
    }
}

// --------------------------------------------------------- the data set

/// The data set's problems (cut to the limit, each as many times as the run
/// repeats it) and its unusable records.
ev::Dataset load_dataset(const Settings& s) {
    std::filesystem::path where = host::file_system_path(s.dataset);
    std::string path = host::str_of(s.dataset);
    return on_host([&] {
        py::gil_scoped_release unlocked;
        return ev::load_dataset(ev::read_file(where), path, s);
    });
}

// ------------------------------------------------------------ preflight

/// Fails now, before any problem starts, when the provider cannot be used:
/// its client (the library and the API key) is made once, as each request
/// would make it.
void check_provider(Settings& s) {
    py::module_ tg = generative();
    // The loop's own private steps, as each request calls them: the provider
    // inference and the provider's client factory.
    py::object provider = tg.attr("_infer_provider")(to_host(s.provider), to_host(s.model));
    s.provider_name = host::str_of(provider.attr("value"));
    const pv::Provider* entry = pv::provider_from_alias(s.provider_name);
    std::string client = entry ? std::string(entry->client_factory) : std::string();
    if (s.provider_name == "replay") {
        tg.attr("_check_provider")(to_host(s.provider), to_host(s.model), s.replay);
    } else if (!client.empty() && py::hasattr(tg, client.c_str())) {
        tg.attr(client.c_str())();
    }
}

/// The final models are solved with the run's solver: without it no answer
/// can be judged. The solver module's one availability check, looked up
/// when called.
void check_solver(const Settings& s) {
    ev::SolverNeed need = ev::solver_need(s.solver);
    host::import_solver(s.solver, need.purpose, need.extra ? need.extra->c_str() : nullptr);
}

// ---------------------------------------------------------- one problem

/// A problem's record from the map `_run_problem` returns; the run adds the
/// problem's facts and judges it.
ev::Record record_from(py::handle map) {
    ev::Record r;
    from_host(map, r);
    ev::settle(r);
    return r;
}

/// "TypeName: message", as a record keeps what a run raised.
std::string error_text(const py::error_already_set& e) {
    return ev::raised_text(host::type_name(e.value()), host::str_of(e.value()));
}

/// The progress callback of one problem: each line goes to its log (as the
/// host's text, what UTF-8 cannot hold escaped). A run that stops early ends
/// the problem at its next step: the loop lets an interrupt raised by its
/// progress callback through.
py::cpp_function logged_progress(std::shared_ptr<ev::AppendedFile> log, py::object stop) {
    return py::cpp_function([log, stop](py::object message) {
        auto bytes = py::reinterpret_steal<py::bytes>(
            PyUnicode_AsEncodedString(py::str(message).ptr(), "utf-8", "backslashreplace"));
        if (!bytes) throw py::error_already_set();
        on_host([&] { log->append(std::string(bytes) + "\n"); });
        if (!stop.is_none() && host::truthy(stop.attr("is_set")())) {
            PyErr_SetString(PyExc_KeyboardInterrupt, "the evaluation run stopped");
            throw py::error_already_set();
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

/// What the loop or the solve raised, as the record keeps it when it is the
/// host's ordinary error (see ev::GenerationFailed).
template <typename Step>
auto kept_in_record(Step&& step) {
    try {
        return step();
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        throw ev::GenerationFailed{hidden(error_text(e)),
                                   host::truthy(generative().attr("_is_provider_outage")(e.value()))};
    }
}

/// The host's side of one problem (see ev::problem_record): the loop, the
/// solve and the log. The record is made without the GIL; each call takes it.
class HostProblem final : public ev::ProblemHost {
  public:
    HostProblem(py::object problem, py::object settings, const std::filesystem::path& out_dir,
                std::shared_ptr<ev::AppendedFile> log)
        : problem_(problem), settings_(settings), base_(out_dir),
          progress_(logged_progress(std::move(log), settings.attr("get")("stop"))) {}

    std::optional<std::string> generate(const std::filesystem::path& folder, ev::Record& record) override {
        py::gil_scoped_acquire held;
        return kept_in_record([&]() -> std::optional<std::string> {
            if (!keywords_) keywords_ = loop_call(settings_, progress_);
            keywords_["record"] = host::host_path(folder / ev::kTranscriptFile);
            result_ =
                generative().attr("run_generation")(problem_["description"], host::host_path(folder / ev::kModelFile),
                                                    host::host_path(folder / ev::kDataFile), **keywords_);
            ev::each_loop_fact(record, [&](const char* name, auto& field) { read_into(result_.attr(name), field); });
            if (host::str_of(result_.attr("model_text")).empty()) return std::nullopt;
            return host::str_of(result_.attr("data_text"));
        });
    }
    ev::FinalSolve solve(ev::Record& record, bool readings) override {
        py::gil_scoped_acquire held;
        return kept_in_record([&] {
            py::object outcome = result_.attr("execute")(py::arg("time_limit") = settings_["time_limit"]);
            py::object status = outcome["status"], objective = outcome.attr("get")("objective");
            read_into(status, record.status);
            read_into(objective, record.objective);
            ev::FinalSolve solved{host::str_of(status), host::str_of(objective), std::nullopt};
            if (readings) {
                read_into(outcome.attr("get")("answer"), record.answer);
                read_into(result_.attr("assumptions"), record.readings);
                solved.what_if = what_if_table(result_.attr("what_if"));
            }
            return solved;
        });
    }
    void progress(const std::string& line) override {
        py::gil_scoped_acquire held;
        progress_(host::text(line));
    }

  private:
    /// The table of the solve's readings, its files as the run's folder names
    /// them (a repeat's too), so that the records move with it.
    std::optional<ev::WhatIfTable> what_if_table(py::handle table) const {
        if (table.is_none()) return std::nullopt;
        std::optional<ev::WhatIfTable> out;
        from_host(table, out);
        auto relative = [&](std::optional<std::string>& file, py::handle path) {
            if (path.is_none()) return;
            std::filesystem::path where = std::filesystem::absolute(host::file_system_path(path)).lexically_normal();
            file = hidden(host::str_of(host::host_path(where.lexically_relative(base_))));
        };
        relative(out->main.model_file, result_.attr("model_file"));
        relative(out->main.data_file, result_.attr("data_file"));
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
    py::object result_;
};

/// `_run_problem(problem, out_dir, settings)`: one problem, start to end.
/// `settings` holds the run's options of the loop (model, provider,
/// iterations, execution_check, alignment_check, few_shot_library, timeout),
/// the final solve's time_limit, and samples with rel_tol for voting.
py::object run_problem(py::object problem, py::object out_dir, py::object settings) {
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
        return std::make_shared<ev::AppendedFile>(folder / ev::kProgressLog, ev::AppendedFile::Kind::Log);
    });
    HostProblem host_problem(problem, settings, out, std::move(log));
    ev::Record record = on_host([&] {
        py::gil_scoped_release unlocked;
        return ev::problem_record(host_problem, options);
    });
    return to_host(record);
}

// ------------------------------------------------------------- the run

/// What the worker threads share.
struct Pool {
    std::vector<py::object> todo;  ///< problem maps, in data-set order; not changed once workers start
    std::unique_ptr<ev::WorkQueue> queue;
    /// Set when the run stops early, beside the queue's own stop: the
    /// running problems end at their next step (see run_problem).
    py::object stop;  ///< threading.Event
    py::object out_dir, settings;
    py::list threads;  ///< the workers, which the interpreter waits for at exit
    py::object ahead;  ///< the ranker's hold on the descriptions it encodes ahead

    /// Waits for every worker, interruptibly (see ev::WorkQueue).
    void join() const {
        host::interruptible([&](tarvok::Interrupt* interrupt) { queue->wait_for_workers(interrupt); });
        for (py::handle t : threads) t.attr("join")();  // each at its last step by now
        ahead.attr("close")();
    }
};

void work(const std::shared_ptr<Pool>& pool) {
    try {
        while (std::optional<size_t> index = pool->queue->take()) {
            py::object result;
            try {
                result = attr("_run_problem")(pool->todo[*index], pool->out_dir, pool->settings);
            } catch (py::error_already_set& e) {
                if (!host::is_ordinary(e)) throw;
                // A replaced _run_problem that raises still gives a record.
                py::dict raised;
                raised["error"] = host::text(error_text(e));
                result = raised;
            }
            pool->queue->put(*index, record_from(result));
        }
    } catch (...) {
        // The main thread raises it; a thread that died silently would leave it waiting.
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

using Outcome = ev::RunOutcome;
using ev::Prepared;

/// Makes the output folder ready, or refuses it (see ev::prepare_folder).
Prepared prepare(const Settings& s, const ev::Dataset& dataset) {
    ev::RunKey key = ev::run_key(s, s.made_execution_check, s.made_alignment_check);
    key.model = hidden(key.model);
    return on_host([&] {
        return ev::prepare_folder(host::file_system_path(s.out_dir), host::str_of(s.out_dir), dataset.problems, key, s,
                                  host::file_system_path(s.dataset));
    });
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
        tell(ev::few_shot_line(
            host::str_of(host::host_path(tarvok::files::absolute_path(host::file_system_path(chosen))))));
    return chosen;
}

/// The options each problem runs with (see run_problem).
py::dict problem_settings(const Settings& s, py::object library, py::object stop) {
    py::dict settings;
    ev::each_problem_setting(s, [&](const char* key, const auto& value) { settings[key] = to_host(value); });
    settings["few_shot_library"] = library;
    settings["time_limit"] = generative().attr("EXECUTION_TIME_LIMIT");
    settings["stop"] = stop;
    settings["replay"] = s.replay;
    // The command's size limit; without one, each problem's run reads MAX_SIZE as it starts.
    if (!s.max_size.is_none()) settings["max_size"] = s.max_size;
    // TARVOK_EMBEDDING_MODEL ranks the examples, as for `solve`; unset, the ranker's own default.
    if (host::truthy(os_module().attr("environ").attr("get")("TARVOK_EMBEDDING_MODEL", py::str("")).attr("strip")()))
        settings["embedding_model"] = host::embedding_model_name();
    return settings;
}

/// The workers of a run, started on the problems still to run.
std::shared_ptr<Pool> start_workers(const Settings& s, const std::vector<const ev::Problem*>& todo,
                                    py::object library) {
    auto pool = std::make_shared<Pool>();
    ev::WorkerPlan plan = ev::plan_workers(todo, s.jobs);
    for (const ev::Problem& p : plan.problems) pool->todo.push_back(to_host(p));
    pool->stop = py::module_::import("threading").attr("Event")();
    pool->out_dir = s.out_dir;
    pool->settings = problem_settings(s, library, pool->stop);
    // The descriptions come to the ranker in this order: it encodes them ahead while the workers wait on requests.
    py::list descriptions;
    for (const py::object& problem : pool->todo) descriptions.append(problem["description"]);
    pool->ahead = host::modules::example_ranker.attr("_queries_ahead")(descriptions, host::embedding_model_name());
    py::object thread = py::module_::import("threading").attr("Thread");
    pool->queue = std::make_unique<ev::WorkQueue>(todo.size(), plan.names.size());
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

/// The host's side of a run (see ev::run_problems): the worker threads and
/// the progress display. The run goes on without the GIL (the disk's waits
/// are not the workers'); each call takes it.
class HostRun final : public ev::RunHost {
  public:
    HostRun(const Settings& s, std::shared_ptr<Pool>& started) : s_(s), started_(started) {}

    void start(const std::vector<const ev::Problem*>& todo, const ev::RunTally& tally) override {
        py::gil_scoped_acquire held;
        py::object library = few_shot_library(s_.progress);
        if (s_.progress) bar_ = progress_bar(tally);
        // Set as soon as the workers exist, so that a caller can wait for them after an interrupt.
        started_ = start_workers(s_, todo, library);
    }
    void tell(const std::string& line) override {
        py::gil_scoped_acquire held;
        ::tell(line);
    }
    ev::Finished next_finished() override {
        py::gil_scoped_acquire held;
        return host::interruptible([&](tarvok::Interrupt* interrupt) { return started_->queue->next(interrupt); });
    }
    void finished(const ev::Record& record, const ev::RunTally& tally) override {
        if (!s_.progress) return;
        py::gil_scoped_acquire held;
        if (!bar_)
            return ::tell(tally.finished_line(record, [](double v) { return host::str_of(py::repr(py::float_(v))); }));
        show_accuracy(bar_, tally);
        bar_.attr("update")(1);
    }
    void stop() override {
        if (!started_) return;
        py::gil_scoped_acquire held;
        started_->queue->stop();
        started_->stop.attr("set")();
    }
    void end() override {
        py::gil_scoped_acquire held;
        if (bar_) bar_.attr("close")();
        bar_ = py::object();
    }
    void join() override {
        py::gil_scoped_acquire held;
        started_->join();
    }

  private:
    const Settings& s_;
    std::shared_ptr<Pool>& started_;
    py::object bar_;  ///< the progress bar, when one shows
};

/// The run; `started` is set as soon as the workers exist.
Outcome run(const Settings& s, const ev::Dataset& dataset, Prepared& prepared, std::shared_ptr<Pool>& started) {
    HostRun host_run(s, started);
    std::string dataset_path = host::str_of(s.dataset);
    ev::RunPlan plan = ev::run_plan(s, dataset, prepared,
                                    {hidden(dataset_path), hidden(*s.model), dataset_path, *s.model,
                                     host::str_of(host::host_path(prepared.results_path)), s.made_execution_check});
    return on_host([&] {
        py::gil_scoped_release unlocked;
        return ev::run_problems(host_run, plan);
    });
}

py::object run_evaluation(py::object dataset, py::object out_dir, py::object provider, py::object model,
                          py::object jobs, py::object iterations, py::object execution_check, py::object rel_tol,
                          py::object limit, py::object progress, py::object force, py::object replay,
                          py::object retry_errors, py::object stop_after_errors, py::object fields,
                          py::object alignment_check, py::object repeat, py::object samples, py::object assumptions,
                          py::object what_if, py::object what_if_max, py::object solver) {
    Settings s = settings_from(
        dataset, out_dir,
        {provider, model, jobs, iterations, execution_check, rel_tol, limit, progress, force, retry_errors,
         stop_after_errors, repeat, samples, alignment_check, assumptions, what_if, what_if_max},
        fields, replay, solver);
    ev::Dataset data = load_dataset(s);
    check_provider(s);
    check_solver(s);
    Prepared prepared = prepare(s, data);
    std::shared_ptr<Pool> pool;
    Outcome out = run(s, data, prepared, pool);
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
    if (o.replay) {
        std::error_code unknown;  // as the host's os.path.exists: a path that cannot be looked at is not there
        o.replay_exists = std::filesystem::exists(host::file_system_path(args.attr("replay")), unknown);
    }
    return o;
}

/// The run's settings from the parsed arguments, made as run_evaluation makes them.
Settings command_settings(py::object args, const ev::ParsedArguments& parsed) {
    Settings s = run_paths(args.attr("dataset"), args.attr("out"));
    ev::Arguments a = ev::command_arguments(parsed);
    complete(s, a, args.attr("replay"), py::module_::import("builtins").attr("vars")(args));
    // The command's size limit, built once as it starts: --max-size, else MAX_SIZE as it stands.
    py::object size = args.attr("max_size");
    s.max_size = host::max_size_of(size.is_none() ? host::size_setting() : host::size_limits_of(size, "--max-size"));
    return s;
}

/// For the length of a command's run with several workers, the embedding
/// model's tensor library computes on one thread per call: its encodings
/// take turns (see the ranker), and a thread pool of its own for each
/// short query spends more of the cores waiting on itself than computing.
/// The command owns its process; the library's run_evaluation leaves the
/// setting to its caller. Nothing is imported when the model's libraries
/// are not installed.
class OneEncodingThread {
  public:
    explicit OneEncodingThread(bool several_workers) {
        if (!several_workers) return;
        py::object find_spec = py::module_::import("importlib.util").attr("find_spec");
        if (find_spec("sentence_transformers").is_none()) return;
        // A model named as a folder that is not there never loads: nothing to limit, and torch stays unimported.
        py::object name = host::embedding_model_name();
        bool exists = host::truthy(os_module().attr("path").attr("exists")(name));
        if (tarvok::example_ranker::missing_model_folder(host::str_of(name), exists)) return;
        torch_ = py::module_::import("torch");
        before_ = torch_.attr("get_num_threads")();
        torch_.attr("set_num_threads")(1);
    }
    OneEncodingThread(const OneEncodingThread&) = delete;
    OneEncodingThread& operator=(const OneEncodingThread&) = delete;
    ~OneEncodingThread() {
        if (!torch_) return;
        py::error_scope keep;
        PyObject* done = PyObject_CallMethod(torch_.ptr(), "set_num_threads", "O", before_.ptr());
        if (done == nullptr) PyErr_Clear();  // nothing sensible to do while the command ends
        Py_XDECREF(done);
    }

  private:
    py::object torch_, before_;
};

/// For the length of a command's run, full collections come rarer (see
/// ev::kYoungPassesPerFullCollection). The command owns its process; the
/// library's run_evaluation leaves the collector to its caller.
class RarerFullCollections {
  public:
    RarerFullCollections() : gc_(py::module_::import("gc")), before_(gc_.attr("get_threshold")()) {
        py::tuple t = before_;
        if (host::saturated(t[2]) >= ev::kYoungPassesPerFullCollection) return;
        gc_.attr("set_threshold")(t[0], t[1], ev::kYoungPassesPerFullCollection);
    }
    RarerFullCollections(const RarerFullCollections&) = delete;
    RarerFullCollections& operator=(const RarerFullCollections&) = delete;
    ~RarerFullCollections() {
        py::error_scope keep;
        PyObject* done = PyObject_CallMethod(gc_.ptr(), "set_threshold", "OOO", PyTuple_GET_ITEM(before_.ptr(), 0),
                                             PyTuple_GET_ITEM(before_.ptr(), 1), PyTuple_GET_ITEM(before_.ptr(), 2));
        if (done == nullptr) PyErr_Clear();  // nothing sensible to do while the command ends
        Py_XDECREF(done);
    }

  private:
    py::object gc_, before_;
};

/// The run of the command, its settings ready.
Outcome command_run(Settings& s, const ev::Dataset& data, Prepared& prepared, std::shared_ptr<Pool>& pool) {
    OneEncodingThread encoding(s.jobs > 1);
    RarerFullCollections collections;
    return run(s, data, prepared, pool);
}

/// The kind of what a step raised, as ev::command_failure tells them apart.
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

/// What `work` raised, as ev::run_command takes it: Ctrl-C as
/// tarvok::Interrupted and, from a step, the host's ordinary errors as
/// ev::StepError (which keeps the error to raise on); anything else as it is.
template <bool Step = true, typename Work>
decltype(auto) step(Work&& work) {
    try {
        return work();
    } catch (py::error_already_set& e) {
        if (host::is_interrupt(e)) throw tarvok::Interrupted{};
        if (!Step || !host::is_ordinary(e)) throw;
        throw ev::StepError{raised_kind(e), host::str_of(e.value()), std::current_exception()};
    }
}

/// The host's side of `tarvok eval` (see ev::run_command): its steps on
/// the parsed arguments, and its output.
class HostCommand final : public ev::CommandHost {
  public:
    HostCommand(py::object args, const ev::ParsedArguments& parsed) : args_(args), parsed_(parsed) {}

    ev::CommandNames make_settings() override {
        return step([&] {
            s_ = command_settings(args_, parsed_);
            std::filesystem::path out = host::file_system_path(s_.out_dir);
            return ev::CommandNames{host::str_of(s_.dataset), host::str_of(s_.out_dir),
                                    host::str_of(host::host_path(out / ev::kResultsFile)),
                                    host::str_of(host::host_path(out / ev::kSummaryFile))};
        });
    }
    const ev::Dataset& load_dataset() override {
        return step([&]() -> const ev::Dataset& { return data_ = ::load_dataset(s_); });
    }
    void check_provider() override {
        step([&] { ::check_provider(s_); });
    }
    void check_solver() override {
        step([&] { ::check_solver(s_); });
    }
    void prepare() override {
        step([&] { prepared_ = ::prepare(s_, data_); });
    }
    const Outcome& run() override {
        return step([&]() -> const Outcome& { return out_ = command_run(s_, data_, prepared_, pool_); });
    }
    void say(const std::string& text) override {
        step<false>([&] {
            py::object out = py::module_::import("sys").attr("stdout");
            out.attr("write")(host::text(hidden(text)));
            out.attr("flush")();
        });
    }
    void tell(const std::string& line) override {
        step<false>([&] { ::tell(line); });
    }
    size_t running() override { return pool_ ? pool_->queue->running() : 0; }
    void join() override {
        step<false>([&] {
            if (pool_) pool_->join();
        });
    }
    void quit(tarvok::ExitStatus status) override {
        for (const char* stream : {"stdout", "stderr"}) py::module_::import("sys").attr(stream).attr("flush")();
        os_module().attr("_exit")(tarvok::code(status));
    }

  private:
    py::object args_;
    const ev::ParsedArguments& parsed_;
    Settings s_;
    ev::Dataset data_;
    Prepared prepared_;
    Outcome out_;
    std::shared_ptr<Pool> pool_;
};

/// `tarvok eval` from parsed arguments (see add_arguments); the exit status.
int run_command(py::object args) {
    ev::ParsedArguments parsed = parsed_arguments(args);
    ev::CommandOptions options = command_options(args, parsed);
    HostCommand command(args, parsed);
    try {
        return ev::run_command(command, options, host::truthy(args.attr("json")));
    } catch (const tarvok::Interrupted&) {  // while a refusal was told: the caller's Ctrl-C
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
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
    host::def(m, ev::kRunProblemFace, &run_problem, py::arg("problem"), py::arg("out_dir"), py::arg("settings"));
    host::def(m, ev::kAddArgumentsFace, &add_arguments, py::arg("parser"));
    host::def(m, ev::kRunCommandFace, &run_command, py::arg("args"));
    host::def(m, ev::kMainFace, &main_impl, py::arg("argv") = py::none());
}
