// tarvok.evaluation: answer accuracy on benchmark sets of word problems. For
// each problem it runs the generation loop of tarvok_generative, solves the
// final model and compares the optimum with the set's reference. Problems run
// on Python threads (the loop waits on the network); the main thread alone
// writes results.jsonl, one flushed line per finished problem, so that a run
// that is stopped resumes where it was.
#include "common/exit_status.hpp"
#include "common/terminal_text.hpp"
#include "evaluation/dataset.hpp"
#include "evaluation/results.hpp"
#include "evaluation/run_lock.hpp"
#include "evaluation/runner.hpp"
#include "evaluation/vote.hpp"
#include "generative/grounding.hpp"
#include "generative/providers/providers.hpp"
#include "host/host.hpp"

#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;
namespace host = tarvok::host;
namespace ev = tarvok::evaluation;
namespace terminal = tarvok::terminal;
namespace pv = tarvok::generative::providers;

namespace {

using host::attr;
using host::Kind;

py::module_ generative() { return host::import_sibling(host::this_module(), "tarvok_generative"); }
py::module_ os_module() { return py::module_::import("os"); }
py::object join_path(py::handle a, py::handle b) { return os_module().attr("path").attr("join")(a, b); }

/// `text` with the configured API keys hidden, as every record, summary and
/// message of a run holds text.
std::string hidden(const std::string& text) { return host::str_of(generative().attr("_hide_keys")(host::text(text))); }

/// Writes one line for a reader to sys.stderr (looked up per line), with
/// what a terminal would act on shown as escapes and the keys hidden.
void tell(const std::string& line) {
    py::object err = py::module_::import("sys").attr("stderr");
    err.attr("write")(host::text(terminal::shown(hidden(line)) + "\n"));
    err.attr("flush")();
}

/// The shipped data set and example library, beside this module.
py::object package_path(const char* name) {
    py::object folder = os_module().attr("path").attr("dirname")(attr("__file__"));
    return join_path(folder, py::str(name));
}

// ------------------------------------------------------------ settings

/// One run's settings, checked once.
struct Settings {
    py::object dataset;               ///< path of the data set
    py::object out_dir;               ///< absolute path of the output folder
    py::object provider;              ///< None: inferred from the model name
    py::object model;                 ///< the LLM model name
    py::object iterations;            ///< int
    py::object execution_check;       ///< None: EXECUTION_CHECK as it stands
    py::object timeout = py::none();  ///< seconds per LLM request; None: REQUEST_TIMEOUT as it stands
    std::string provider_name;        ///< the provider the model name and `provider` choose (check_provider)
    double rel_tol = 1e-4;
    std::optional<long long> limit;
    long long jobs = 1;
    bool progress = true;
    bool force = false;               ///< run in a folder that holds another run's records
    py::object replay = py::none();   ///< the transcripts the provider replay answers from (absolute)
    bool retry_errors = true;         ///< run again the problems a provider error ended
    long long stop_after_errors = 3;  ///< stop when this many first problems all meet provider errors (0: never)
    ev::Fields fields;                ///< the record fields the user named
    py::object alignment_check = py::none();    ///< None: ALIGNMENT_CHECK as it stands
    long long repeat = 1;                       ///< runs of each problem
    long long samples = 1;                      ///< generations voted on per problem
    bool assumptions = false, what_if = false;  ///< the assumptions step, and its what-if answers
    long long what_if_max = 3;                  ///< what-if requests per problem
    py::object solver = py::str("highs");       ///< of every solve (a name of tarvok.solver._SOLVERS)
};

[[noreturn]] void refuse(const std::string& parameter, const std::string& needs, py::handle value) {
    host::raise(PyExc_ValueError, "run_evaluation() argument '" + parameter + "' must be " + needs + ", not " +
                                      host::str_of(py::repr(value)));
}

long long count_argument(py::handle value, const char* name, bool optional) {
    host::require(value, "run_evaluation", name, Kind::Int, optional);
    if (value.is_none()) return 0;
    long long n = host::saturated(value);
    if (n < 1) refuse(name, "at least 1", value);
    return n;
}

/// The assumptions step of the run: what-if implies it.
void read_readings(Settings& s, py::object assumptions, py::object what_if, py::object what_if_max) {
    host::require(assumptions, "run_evaluation", "assumptions", Kind::Bool);
    host::require(what_if, "run_evaluation", "what_if", Kind::Bool);
    host::require(what_if_max, "run_evaluation", "what_if_max", Kind::Int);
    s.what_if = host::truthy(what_if);
    s.assumptions = s.what_if || host::truthy(assumptions);
    s.what_if_max = host::saturated(what_if_max);
    if (s.what_if_max < 0) refuse("what_if_max", "at least 0", what_if_max);
}

/// `solver` as run_evaluation takes it: a name of tarvok.solver._SOLVERS.
py::object solver_from(py::object solver) {
    py::tuple names = py::module_::import("tarvok.solver").attr("_SOLVERS");
    if (PyUnicode_Check(solver.ptr()) && names.contains(solver)) return solver;
    std::vector<std::string> quoted;
    for (py::handle name : names) quoted.push_back("'" + host::str_of(name) + "'");
    refuse("solver", pv::spoken_list({quoted.begin(), quoted.end()}, "or"), solver);
}

/// The record fields the user named.
ev::Fields fields_from(py::object fields) {
    ev::Fields out;
    if (fields.is_none()) return out;
    if (!PyDict_Check(fields.ptr()))
        throw py::type_error("run_evaluation() argument 'fields' must be dict or None, not " + host::type_name(fields));
    for (auto [key, value] : py::reinterpret_borrow<py::dict>(fields)) {
        if (!PyUnicode_Check(value.ptr()) || host::str_of(value).empty())
            refuse("fields", "a map of field names (non-empty texts)", fields);
        if (!ev::assign_field(out, host::str_of(key), host::str_of(value)))
            refuse("fields", "a map with the keys 'question', 'answer', 'id' and 'class'", fields);
    }
    return out;
}

/// The transcripts to answer from, which must lie apart from the output
/// folder: each problem's transcript there is written afresh.
py::object replay_from(py::object replay, py::object out_dir) {
    if (replay.is_none()) return py::none();
    py::module_ os = os_module();
    py::object path = os.attr("path").attr("abspath")(os.attr("fspath")(replay));
    py::object common = os.attr("path").attr("commonpath")(py::make_tuple(path, out_dir));
    if (host::equals(common, out_dir) || host::equals(common, path))
        refuse("replay", "apart from the output folder, whose transcripts the run rewrites", replay);
    return path;
}

void check_rel_tol(Settings& s, py::object rel_tol) {
    if (!host::is_exact(rel_tol, Kind::Float) && !host::is_exact(rel_tol, Kind::Int))
        throw py::type_error("run_evaluation() argument 'rel_tol' must be float or int, not " +
                             host::type_name(rel_tol));
    s.rel_tol = rel_tol.cast<double>();
    if (!(s.rel_tol >= 0) || !std::isfinite(s.rel_tol)) refuse("rel_tol", "a finite number, at least 0", rel_tol);
}

Settings settings_from(py::object dataset, py::object out_dir, py::object provider, py::object model, py::object jobs,
                       py::object iterations, py::object execution_check, py::object rel_tol, py::object limit,
                       py::object progress, py::object force, py::object replay, py::object retry_errors,
                       py::object stop_after_errors, py::object fields, py::object alignment_check, py::object repeat,
                       py::object samples) {
    Settings s;
    py::module_ os = os_module();
    s.dataset = dataset.is_none() ? package_path("datasets") : os.attr("fspath")(dataset);
    if (dataset.is_none()) s.dataset = join_path(s.dataset, py::str("sample.jsonl"));
    s.out_dir = os.attr("path").attr("abspath")(os.attr("fspath")(out_dir));
    host::require(provider, "run_evaluation", "provider", Kind::Str, true);
    host::require(model, "run_evaluation", "model", Kind::Str, true);
    s.provider = provider;
    s.model = model.is_none() ? generative().attr("MODEL_NAME") : model;
    s.jobs = count_argument(jobs, "jobs", false);
    count_argument(iterations, "iterations", true);
    s.iterations = iterations.is_none() ? generative().attr("MAX_ITERATIONS") : iterations;
    host::require(execution_check, "run_evaluation", "execution_check", Kind::Bool, true);
    s.execution_check = execution_check;
    check_rel_tol(s, rel_tol);
    if (!limit.is_none()) s.limit = count_argument(limit, "limit", true);
    host::require(progress, "run_evaluation", "progress", Kind::Bool);
    s.progress = host::truthy(progress);
    host::require(force, "run_evaluation", "force", Kind::Bool);
    s.force = host::truthy(force);
    host::require(retry_errors, "run_evaluation", "retry_errors", Kind::Bool);
    s.retry_errors = host::truthy(retry_errors);
    host::require(stop_after_errors, "run_evaluation", "stop_after_errors", Kind::Int);
    s.stop_after_errors = host::saturated(stop_after_errors);
    if (s.stop_after_errors < 0) refuse("stop_after_errors", "at least 0", stop_after_errors);
    s.repeat = count_argument(repeat, "repeat", false);
    s.samples = count_argument(samples, "samples", false);
    host::require(alignment_check, "run_evaluation", "alignment_check", Kind::Bool, true);
    s.alignment_check = alignment_check;
    s.fields = fields_from(fields);
    s.replay = replay_from(replay, s.out_dir);
    return s;
}

// --------------------------------------------------------- the data set

py::dict problem_dict(const ev::Problem& p) {
    py::dict d;
    d["id"] = host::text(p.id);
    d["description"] = host::text(p.description);
    d["expected"] = p.expected ? py::object(py::float_(*p.expected)) : py::none();
    d["record"] = p.record;
    d["class"] = host::text(p.problem_class);
    d["repeat"] = p.repeat;
    d["folder"] = host::text(ev::problem_folder(p));
    return d;
}

/// The data set's problems (cut to the limit, each as many times as the run
/// repeats it) and its unusable records.
ev::Dataset load_dataset(const Settings& s) {
    py::bytes raw = host::read_file(s.dataset, "rb");
    std::string bytes = raw;
    std::string extension =
        host::str_of(os_module().attr("path").attr("splitext")(s.dataset)[py::int_(1)].attr("lower")());
    ev::Format format = extension == ".csv" ? ev::Format::Csv : ev::Format::Json;
    ev::Dataset dataset;
    std::string failure;
    {
        py::gil_scoped_release unlocked;
        try {
            dataset = ev::read_dataset(bytes, s.fields, format);
        } catch (const ev::DatasetError& e) {
            failure = e.what();
        }
    }
    if (!failure.empty())
        host::raise(PyExc_ValueError, "cannot use data set " + host::str_of(s.dataset) + ": " + failure);
    ev::cut_and_repeat(dataset.problems, s.limit, s.repeat);
    py::object sha256 = py::module_::import("hashlib").attr("sha256");
    for (ev::Problem& p : dataset.problems)
        p.question_hash = host::str_of(sha256(py::bytes(p.description)).attr("hexdigest")());
    return dataset;
}

std::string bad_record_text(const py::object& dataset, const ev::BadRecord& bad) {
    return ev::bad_record_line(host::str_of(dataset), bad);
}

// ------------------------------------------------------------ preflight

/// Fails now, before any problem starts, when the provider cannot be used:
/// its client (the library and the API key) is made once, as each request
/// would make it.
void check_provider(Settings& s) {
    py::module_ tg = generative();
    // The loop's own private steps, as each request calls them: the provider
    // inference and the provider's client factory.
    py::object provider = tg.attr("_infer_provider")(s.provider, s.model);
    s.provider_name = host::str_of(provider.attr("value"));
    const pv::Provider* entry = pv::provider_from_alias(s.provider_name);
    std::string client = entry ? std::string(entry->client_factory) : std::string();
    if (s.provider_name == "replay") {
        tg.attr("_check_provider")(s.provider, s.model, s.replay);
    } else if (!client.empty() && py::hasattr(tg, client.c_str())) {
        tg.attr(client.c_str())();
    }
}

/// The final models are solved with the run's solver: without it no answer
/// can be judged. The solver module's one availability check, looked up
/// when called.
void check_solver(const Settings& s) {
    py::object check = py::module_::import("tarvok.solver").attr("_check_solver");
    if (host::str_of(s.solver) == "highs")
        check("highs", "tarvok eval solves every final model with HiGHS and", "eval");
    else
        check(s.solver, "--solver " + host::str_of(s.solver));
}

// ---------------------------------------------------------- one problem

std::optional<double> optional_double(py::handle value) {
    if (value.is_none()) return std::nullopt;
    double number = PyFloat_AsDouble(value.ptr());
    if (number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return number;
}

std::optional<std::string> optional_text(py::handle value) {
    if (value.is_none()) return std::nullopt;
    return hidden(host::str_of(value));
}

/// The assumptions step's list with the what-if answers: the alternatives
/// explored are the first ones listed, in order.
std::optional<std::vector<ev::Reading>> readings_from(py::handle listed, py::handle table) {
    if (listed.is_none()) return std::nullopt;
    std::vector<ev::Reading> out;
    for (py::handle a : listed)
        out.push_back({hidden(host::str_of(a["assumption"])), hidden(host::str_of(a["alternative"])),
                       hidden(host::str_of(a["where"])), host::str_of(a["kind"])});
    if (table.is_none()) return out;
    std::size_t k = 0;
    for (py::handle alt : table["alternatives"]) {
        if (k >= out.size()) break;
        ev::Reading& reading = out[k++];
        reading.explored = true;
        reading.status = optional_text(alt["status"]);
        reading.objective = optional_double(alt["objective"]);
        reading.answer = optional_double(alt["answer"]);
    }
    return out;
}

/// The record of a problem from the map `_run_problem` returns; the run
/// adds the problem's facts and judges it.
ev::Record record_from(py::handle result) {
    py::object get = result.attr("get");
    ev::Record r;
    r.objective = optional_double(get("objective"));
    r.status = optional_text(get("status"));
    py::object compiled = get("compiled");
    if (!compiled.is_none()) r.compiled = host::truthy(compiled);
    py::object iterations = get("iterations");
    if (!iterations.is_none()) r.iterations = host::saturated(iterations);
    py::object errors = get("compile_errors");
    if (!errors.is_none())
        for (py::handle e : errors) r.compile_errors.push_back(hidden(host::str_of(e)));
    r.seconds = optional_double(get("seconds")).value_or(0);
    r.error = optional_text(get("error"));
    r.provider_error = r.error && host::truthy(get("provider_error"));
    auto count = [&](const char* key) -> std::optional<long long> {
        py::object n = get(key);
        if (n.is_none()) return std::nullopt;
        return host::saturated(n);
    };
    r.llm_calls = count("llm_calls");
    r.repair_rounds = count("repair_rounds");
    r.tokens_in = count("tokens_in");
    r.tokens_out = count("tokens_out");
    if (auto n = count("samples"); n && *n > 1) {
        r.samples = *n;
        r.sample = count("sample").value_or(1);
        r.confidence = optional_double(get("confidence"));
    }
    py::object assumptions = get("assumptions");
    if (!assumptions.is_none()) {
        r.assumptions.emplace();
        for (py::handle a : assumptions)
            r.assumptions->push_back(
                {hidden(host::str_of(a["value"])), a["line"].cast<std::size_t>(), hidden(host::str_of(a["text"]))});
    }
    r.answer = optional_double(get("answer"));
    r.readings = readings_from(get("listed_assumptions"), get("what_if"));
    return r;
}

/// "TypeName: message", as a record keeps what a run raised.
std::string error_text(const py::error_already_set& e) {
    std::string message = host::str_of(e.value());
    return ev::cut_text(host::type_name(e.value()) + (message.empty() ? "" : ": " + message), 4000);
}

py::object perf_counter() { return py::module_::import("time").attr("perf_counter")(); }

/// The progress callback of one problem: each line goes to its log. A run
/// that stops early ends the problem at its next step: the loop lets an
/// interrupt raised by its progress callback through.
py::cpp_function logged_progress(py::object log, py::object stop) {
    return py::cpp_function([log, stop](py::object message) {
        log.attr("write")(py::str(message) + py::str("\n"));
        log.attr("flush")();
        if (!stop.is_none() && host::truthy(stop.attr("is_set")())) {
            PyErr_SetString(PyExc_KeyboardInterrupt, "the evaluation run stopped");
            throw py::error_already_set();
        }
    });
}

/// The numbers of a generated data file that the description does not give.
py::list assumption_list(const std::string& description, const std::string& data) {
    tarvok::generative::grounding::Report report;
    {
        py::gil_scoped_release unlocked;
        report = tarvok::generative::grounding::ground(description, data);
    }
    py::list out;
    for (const auto& f : report.assumptions) {
        py::dict one;
        one["value"] = host::text(f.text);
        one["line"] = f.line;
        one["text"] = host::text(f.line_text);
        out.append(one);
    }
    return out;
}

/// The record's counts of the loop's requests, summed over a problem's samples.
constexpr const char* kCountKeys[] = {"llm_calls", "repair_rounds", "tokens_in", "tokens_out"};

/// A problem's record before anything is known of it.
py::dict empty_record(py::object id) {
    py::dict record;
    record["id"] = id;
    record["objective"] = py::none();
    record["status"] = py::none();
    record["compiled"] = py::none();
    record["iterations"] = py::none();
    record["compile_errors"] = py::list();
    record["error"] = py::none();
    record["provider_error"] = false;
    for (const char* key : kCountKeys) record[key] = py::none();
    record["assumptions"] = py::none();
    return record;
}

/// One generation of a problem in `folder`: the loop, then the final model's
/// solve, into `record`. What the loop raises is kept in the record.
void generate_once(py::object problem, py::object folder, py::object settings, py::object progress, py::object log,
                   py::dict record) {
    py::module_ os = os_module();
    py::module_ tg = generative();
    os.attr("makedirs")(folder, py::arg("exist_ok") = true);
    py::object model_file = join_path(folder, py::str("model.mod"));
    py::object data_file = join_path(folder, py::str("data.dat"));
    // The conversation of this run of the problem only.
    py::object transcript = join_path(folder, py::str("transcript.jsonl"));
    if (host::truthy(os.attr("path").attr("lexists")(transcript))) os.attr("remove")(transcript);
    try {
        // The run's own options for this call; the module settings stay as they are.
        py::object result = tg.attr("run_generation")(
            problem["description"], model_file, data_file, py::arg("model_name") = settings["model"],
            py::arg("iterations") = settings["iterations"], py::arg("llm_provider") = settings["provider"],
            py::arg("progress") = progress, py::arg("few_shot_library") = settings["few_shot_library"],
            py::arg("execution_check") = settings["execution_check"], py::arg("timeout") = settings["timeout"],
            py::arg("record") = transcript, py::arg("replay") = settings.attr("get")("replay"),
            py::arg("alignment_check") = settings.attr("get")("alignment_check"),
            py::arg("assumptions") = settings.attr("get")("assumptions", false),
            py::arg("what_if") = settings.attr("get")("what_if", false),
            py::arg("what_if_max") = settings.attr("get")("what_if_max", 3),
            py::arg("solver") = settings.attr("get")("solver", "highs"));
        for (const char* key : kCountKeys) record[key] = result.attr(key);
        std::string data_text = host::str_of(result.attr("data_text"));
        if (!host::str_of(result.attr("model_text")).empty()) {
            record["assumptions"] = assumption_list(host::str_of(problem["description"]), data_text);
        }
        record["iterations"] = result.attr("iterations");
        record["compile_errors"] = result.attr("syntax_errors");
        record["compiled"] = result.attr("compiled");
        if (host::truthy(result.attr("compiled"))) {
            // The loop's own solve of the final pair when the execution check made one, else a solve of
            // the pair as the loop compiled it.
            py::object outcome = result.attr("execute")(py::arg("time_limit") = settings["time_limit"]);
            py::object status = outcome["status"], objective = outcome.attr("get")("objective");
            record["status"] = status;
            record["objective"] = objective;
            if (host::truthy(settings.attr("get")("assumptions", false))) {
                record["answer"] = outcome.attr("get")("answer");
                record["listed_assumptions"] = result.attr("assumptions");
                record["what_if"] = result.attr("what_if");
            }
            progress(py::str("Final model: " + host::str_of(status) + ", objective " + host::str_of(objective)));
        }
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) {
            log.attr("close")();
            throw;
        }
        record["error"] = host::text(hidden(error_text(e)));
        record["provider_error"] = tg.attr("_is_provider_outage")(e.value());
        progress(record["error"]);
    }
}

/// What voting needs of one sample's record map.
ev::SampleOutcome sample_outcome(const py::dict& one) {
    ev::SampleOutcome o;
    o.raised = !one["error"].is_none();
    o.provider_error = host::truthy(one["provider_error"]);
    if (!one["status"].is_none()) o.status = host::str_of(one["status"]);
    if (!o.raised && o.status == "optimal" && !one["objective"].is_none())
        o.objective = one["objective"].cast<double>();
    if (!one["repair_rounds"].is_none()) o.repairs = host::saturated(one["repair_rounds"]);
    return o;
}

/// The record of a problem generated several times: the picked sample's,
/// with the calls and tokens of all of them, the agreement and the samples.
py::dict voted(const std::vector<py::dict>& samples, const ev::SamplePick& pick) {
    if (host::truthy(samples[pick.index]["provider_error"])) return samples[pick.index];  // to try again
    py::dict record = samples[pick.index].attr("copy")();
    for (const char* key : kCountKeys) {
        py::object total = py::none();
        for (const py::dict& one : samples)
            if (!one[key].is_none()) total = total.is_none() ? one[key] : total + one[key];
        record[key] = total;
    }
    record["samples"] = samples.size();
    record["sample"] = pick.index + 1;
    record["confidence"] = pick.confidence;
    return record;
}

/// The host's side of one problem's samples: each generation's record map,
/// its files in the problem's folder (or a sample folder beside them).
class HostSamples final : public ev::SampleRunner {
  public:
    HostSamples(py::object problem, py::object folder, py::object settings, py::object log)
        : problem_(problem), folder_(folder), settings_(settings), log_(log),
          progress_(logged_progress(log, settings.attr("get")("stop"))) {}

    ev::SampleOutcome generate(const std::string& folder) override {
        py::object where = folder.empty() ? folder_ : join_path(folder_, py::str(folder));
        records.push_back(empty_record(problem_["id"]));
        generate_once(problem_, where, settings_, progress_, log_, records.back());
        return sample_outcome(records.back());
    }
    void progress(const std::string& line) override { progress_(py::str(line)); }

    std::vector<py::dict> records;

  private:
    py::object problem_, folder_, settings_, log_;
    py::cpp_function progress_;
};

/// `_run_problem(problem, out_dir, settings)`: one problem, start to end.
/// `settings` holds the run's options of the loop (model, provider,
/// iterations, execution_check, alignment_check, few_shot_library, timeout),
/// the final solve's time_limit, and samples with rel_tol for voting.
py::dict run_problem(py::object problem, py::object out_dir, py::object settings) {
    py::module_ os = os_module();
    py::object folder = join_path(out_dir, problem["folder"]);
    os.attr("makedirs")(folder, py::arg("exist_ok") = true);
    py::object log = py::module_::import("builtins")
                         .attr("open")(join_path(folder, py::str("progress.log")), "w", py::arg("encoding") = "utf-8",
                                       py::arg("errors") = "backslashreplace");
    HostSamples host_samples(problem, folder, settings, log);
    long long count = std::max(1LL, host::saturated(settings.attr("get")("samples", 1)));
    double start = perf_counter().cast<double>();
    std::vector<ev::SampleOutcome> outcomes = ev::run_samples(count, host_samples);
    py::dict record = host_samples.records.front();
    if (count > 1) {
        double rel_tol = settings.attr("get")("rel_tol", 1e-4).cast<double>();
        record = voted(host_samples.records, ev::pick_sample(outcomes, rel_tol));
    }
    record["seconds"] = perf_counter().cast<double>() - start;
    log.attr("close")();
    return record;
}

// ------------------------------------------------------------- the run

/// What the worker threads share. The counters are atomic: the module runs
/// without the GIL where the host has none.
struct Pool {
    std::vector<py::dict> todo;  ///< problem maps, in data-set order; not changed once workers start
    std::atomic<size_t> next = 0;
    /// Set when the run stops early: no problem is taken any more, and the
    /// running ones end at their next step (see run_problem).
    py::object stop;   ///< threading.Event
    py::object queue;  ///< queue.Queue of (index, record map) or (-1, exception)
    py::object out_dir, settings;
    py::list threads;  ///< the workers, which the interpreter waits for at exit

    bool stopping() const { return host::truthy(stop.attr("is_set")()); }
    /// Waits for every worker, in short steps so that an interrupt gets through.
    void join() const {
        for (py::handle t : threads)
            while (host::truthy(t.attr("is_alive")())) t.attr("join")(py::arg("timeout") = 0.25);
    }
};

void work(const std::shared_ptr<Pool>& pool) {
    try {
        while (!pool->stopping()) {
            size_t index = pool->next++;
            if (index >= pool->todo.size()) break;
            py::object result;
            try {
                result = attr("_run_problem")(pool->todo[index], pool->out_dir, pool->settings);
            } catch (py::error_already_set& e) {
                if (!host::is_ordinary(e)) throw;
                // A replaced _run_problem that raises still gives a record.
                py::dict raised;
                raised["error"] = host::text(error_text(e));
                result = raised;
            }
            pool->queue.attr("put")(py::make_tuple(index, result));
        }
    } catch (py::error_already_set& e) {
        // The main thread raises it; a thread that died silently would leave it waiting.
        pool->queue.attr("put")(py::make_tuple(-1, e.value()));
    } catch (const std::bad_alloc&) {
        pool->queue.attr("put")(py::make_tuple(-1, py::reinterpret_borrow<py::object>(PyExc_MemoryError)()));
    } catch (const std::exception& e) {
        pool->queue.attr("put")(py::make_tuple(-1, py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(e.what())));
    }
}

/// The progress bar's figures after the tally took a record.
void show_accuracy(py::handle bar, const ev::RunTally& tally) {
    bar.attr("set_postfix_str")("accuracy " + std::to_string(tally.correct()) + "/" + std::to_string(tally.judged()),
                                py::arg("refresh") = false);
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
        if (!e.matches(PyExc_ImportError)) throw;
    }
    return py::object();
}

/// A module setting set for the run and put back after it (removed again
/// when it did not exist).
class SettingForRun {
  public:
    SettingForRun(py::module_ module, const char* name, py::object value) : module_(module), name_(name) {
        existed_ = py::hasattr(module, name);
        if (existed_) saved_ = module.attr(name);
        module.attr(name) = value;
    }
    ~SettingForRun() {
        py::error_scope keep;  // restoring must not disturb an error in flight
        if (existed_)
            PyObject_SetAttrString(module_.ptr(), name_, saved_.ptr());
        else
            PyObject_DelAttrString(module_.ptr(), name_);
        PyErr_Clear();
    }

  private:
    py::module_ module_;
    const char* name_;
    bool existed_ = false;
    py::object saved_;
};

/// Closes a file when the scope ends, however it ends.
struct ClosedAtEnd {
    py::object file;
    ~ClosedAtEnd() {
        py::error_scope keep;  // an error in flight stays the one raised
        if (PyObject* result = PyObject_CallMethod(file.ptr(), "close", nullptr)) Py_DECREF(result);
        PyErr_Clear();
    }
};

using Outcome = ev::RunOutcome;

/// The output folder made ready for one run: locked against a second run,
/// its records read and weighed against the data set and the run's settings.
struct Prepared {
    std::optional<ev::FileLock> lock;  ///< held until the run ends
    py::object results_path;
    ev::RecordedResults recorded;
    ev::RunKey key;
    ev::ResumePlan plan;  ///< points into the data set's problems
};

/// The name of the lock file in the output folder; a problem's folder never
/// starts with '.', so none can be it.
constexpr const char* kLockFile = ".tarvok-eval.lock";

/// Makes the output folder ready, or refuses it: RuntimeError while another
/// run holds it, ValueError when it holds a run with other settings (unless
/// forced).
Prepared prepare(const Settings& s, const ev::Dataset& dataset) {
    py::module_ os = os_module();
    py::module_ tg = generative();
    os.attr("makedirs")(s.out_dir, py::arg("exist_ok") = true);
    Prepared p;
    py::object lock_path = join_path(s.out_dir, py::str(kLockFile));
    try {
        p.lock = ev::FileLock::try_take(host::file_system_path(lock_path));
    } catch (const std::filesystem::filesystem_error& e) {
        PyErr_SetObject(PyExc_OSError, py::make_tuple(e.code().value(), e.code().message(), lock_path).ptr());
        throw py::error_already_set();
    }
    if (!p.lock) {
        host::raise(PyExc_RuntimeError, ev::busy_message(host::str_of(s.out_dir), host::str_of(lock_path)));
    }
    p.results_path = join_path(s.out_dir, py::str("results.jsonl"));
    if (host::truthy(os.attr("path").attr("exists")(p.results_path))) {
        std::string previous = py::bytes(host::read_file(p.results_path, "rb"));
        p.recorded = ev::read_results(previous);
    }
    py::object check = s.execution_check.is_none() ? tg.attr("EXECUTION_CHECK") : s.execution_check;
    py::object alignment = s.alignment_check.is_none() ? tg.attr("ALIGNMENT_CHECK") : s.alignment_check;
    p.key = {s.provider_name,
             hidden(host::str_of(s.model)),
             host::saturated(s.iterations),
             host::truthy(check),
             host::truthy(alignment),
             s.samples,
             s.assumptions,
             s.what_if,
             s.what_if ? s.what_if_max : 3,
             host::str_of(s.solver)};
    p.plan = ev::plan_resume(dataset.problems, p.recorded.by_id, p.key, s.rel_tol, s.force, s.retry_errors);
    if (p.plan.conflict && !s.force) {
        host::raise(PyExc_ValueError, ev::conflict_message(host::str_of(s.out_dir), *p.plan.conflict));
    }
    return p;
}

/// What a run tells before its first problem starts.
void tell_start(const Settings& s, const ev::Dataset& dataset, const Prepared& prepared, size_t recorded) {
    for (const ev::BadRecord& bad : dataset.bad) tell(bad_record_text(s.dataset, bad));
    tell(ev::start_line({dataset.problems.size(), host::str_of(s.dataset), host::str_of(s.model),
                         host::str_of(prepared.results_path), recorded, prepared.plan.rerun, prepared.plan.retried}));
}

/// The example library FEW_SHOT_LIBRARY names when that is a folder here,
/// else the shipped one (as `tarvok solve` chooses, without moving).
py::object few_shot_library(bool tell_it) {
    py::module_ tg = generative();
    py::module_ os = os_module();
    py::object chosen = py::none();
    if (py::hasattr(tg, "FEW_SHOT_LIBRARY")) chosen = tg.attr("FEW_SHOT_LIBRARY");
    if (chosen.is_none() || !host::truthy(os.attr("path").attr("isdir")(chosen))) chosen = package_path("tvl_models");
    if (tell_it) tell("tarvok eval: few-shot examples from " + host::str_of(os.attr("path").attr("abspath")(chosen)));
    return chosen;
}

/// The options each problem runs with (see run_problem).
py::dict problem_settings(const Settings& s, py::object library, py::object stop) {
    py::dict settings;
    settings["model"] = s.model;
    settings["provider"] = s.provider;
    settings["iterations"] = s.iterations;
    settings["execution_check"] = s.execution_check;
    settings["few_shot_library"] = library;
    settings["timeout"] = s.timeout;
    settings["time_limit"] = generative().attr("EXECUTION_TIME_LIMIT");
    settings["stop"] = stop;
    settings["replay"] = s.replay;
    settings["alignment_check"] = s.alignment_check;
    settings["samples"] = s.samples;
    settings["rel_tol"] = s.rel_tol;
    if (host::str_of(s.solver) != "highs") settings["solver"] = s.solver;  // as the options below, when not the default
    if (s.assumptions) {
        settings["assumptions"] = true;
        settings["what_if"] = py::bool_(s.what_if);
        settings["what_if_max"] = s.what_if_max;
    }
    return settings;
}

/// The workers of a run, started on the problems still to run.
std::shared_ptr<Pool> start_workers(const Settings& s, const std::vector<const ev::Problem*>& todo,
                                    py::object library) {
    auto pool = std::make_shared<Pool>();
    for (const ev::Problem* p : todo) pool->todo.push_back(problem_dict(*p));
    pool->queue = py::module_::import("queue").attr("Queue")();
    pool->stop = py::module_::import("threading").attr("Event")();
    pool->out_dir = s.out_dir;
    pool->settings = problem_settings(s, library, pool->stop);
    py::object thread = py::module_::import("threading").attr("Thread");
    size_t workers = std::min<size_t>(static_cast<size_t>(s.jobs), todo.size());
    // Not daemon threads: the interpreter waits for them at exit rather than
    // ending them in the middle of C++ work.
    for (size_t i = 0; i < workers; ++i) {
        py::cpp_function body([pool]() { work(pool); });
        py::object worker = thread(py::arg("target") = body, py::arg("name") = "tarvok-eval-" + std::to_string(i + 1));
        worker.attr("start")();
        pool->threads.append(worker);
    }
    return pool;
}

/// The host's side of a run (see ev::run_problems): the worker threads,
/// results.jsonl, the progress display and summary.json.
class HostRun final : public ev::RunHost {
  public:
    HostRun(const Settings& s, const ev::Dataset& dataset, const Prepared& prepared, std::shared_ptr<Pool>& started)
        : s_(s), dataset_(dataset), prepared_(prepared),
          started_(started), results_{py::module_::import("builtins").attr("open")(prepared.results_path, "ab")} {}

    void start(const std::vector<const ev::Problem*>& todo, const ev::RunTally& tally) override {
        if (s_.progress) tell_start(s_, dataset_, prepared_, tally.done());
        py::object library = few_shot_library(s_.progress);
        if (s_.progress) bar_ = progress_bar(tally);
        // Set as soon as the workers exist, so that a caller can wait for them after an interrupt.
        started_ = start_workers(s_, todo, library);
    }
    ev::Finished next_finished() override {
        py::object empty = py::module_::import("queue").attr("Empty");
        for (;;) {
            py::tuple item;
            try {
                item = started_->queue.attr("get")(py::arg("timeout") = 0.25);
            } catch (py::error_already_set& e) {
                if (e.matches(empty)) continue;
                throw;
            }
            long long index = item[0].cast<long long>();
            if (index < 0) {
                PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(item[1].ptr())), item[1].ptr());
                throw py::error_already_set();
            }
            return {static_cast<size_t>(index), record_from(item[1])};
        }
    }
    void append(const std::string& bytes) override {
        results_.file.attr("write")(py::bytes(bytes));
        results_.file.attr("flush")();
        os_module().attr("fsync")(results_.file.attr("fileno")());
    }
    void finished(const ev::Record& record, const ev::RunTally& tally) override {
        if (!s_.progress) return;
        if (!bar_)
            return tell(tally.finished_line(record, [](double v) { return host::str_of(py::repr(py::float_(v))); }));
        show_accuracy(bar_, tally);
        bar_.attr("update")(1);
    }
    void stop() override {
        if (started_) started_->stop.attr("set")();
    }
    void close_results() override { results_.file.attr("close")(); }
    void end(const std::string& summary_text) override {
        if (bar_) bar_.attr("close")();
        bar_ = py::object();
        host::replace_files({{join_path(s_.out_dir, py::str("summary.json")), summary_text}});
    }
    void join() override { started_->join(); }

  private:
    const Settings& s_;
    const ev::Dataset& dataset_;
    const Prepared& prepared_;
    std::shared_ptr<Pool>& started_;
    ClosedAtEnd results_;  ///< results.jsonl, open for appending
    py::object bar_;       ///< the progress bar, when one shows
};

/// The run; `started` is set as soon as the workers exist.
Outcome run(const Settings& s, const ev::Dataset& dataset, Prepared& prepared, std::shared_ptr<Pool>& started) {
    HostRun host_run(s, dataset, prepared, started);
    py::object check = s.execution_check.is_none() ? generative().attr("EXECUTION_CHECK") : s.execution_check;
    ev::RunPlan plan{&dataset.problems,
                     &prepared.plan,
                     prepared.key,
                     {hidden(host::str_of(s.dataset)), s.provider_name, hidden(host::str_of(s.model)),
                      host::saturated(s.iterations), host::truthy(check), s.rel_tol},
                     dataset.bad.size(),
                     s.rel_tol,
                     s.stop_after_errors,
                     prepared.recorded.ends_in_newline};
    return ev::run_problems(host_run, plan);
}

py::object summary_object(const Outcome& out) { return py::module_::import("json").attr("loads")(out.summary_text); }

py::object run_evaluation(py::object dataset, py::object out_dir, py::object provider, py::object model,
                          py::object jobs, py::object iterations, py::object execution_check, py::object rel_tol,
                          py::object limit, py::object progress, py::object force, py::object replay,
                          py::object retry_errors, py::object stop_after_errors, py::object fields,
                          py::object alignment_check, py::object repeat, py::object samples, py::object assumptions,
                          py::object what_if, py::object what_if_max, py::object solver) {
    Settings s =
        settings_from(dataset, out_dir, provider, model, jobs, iterations, execution_check, rel_tol, limit, progress,
                      force, replay, retry_errors, stop_after_errors, fields, alignment_check, repeat, samples);
    read_readings(s, assumptions, what_if, what_if_max);
    s.solver = solver_from(solver);
    ev::Dataset data = load_dataset(s);
    check_provider(s);
    check_solver(s);
    Prepared prepared = prepare(s, data);
    std::shared_ptr<Pool> pool;
    Outcome out = run(s, data, prepared, pool);
    if (out.provider_down) host::raise(PyExc_ConnectionError, *out.provider_down);
    return summary_object(out);
}

// ------------------------------------------------------------ the command

/// The arguments of `tarvok eval`, added to `parser` (its own, or the
/// subparser of the `tarvok` command).
void add_arguments(py::object parser) {
    py::object builtins = py::module_::import("builtins");
    std::vector<std::string_view> names;
    for (const pv::Provider& p : pv::kProviders) names.push_back(p.value);
    using K = ev::ArgumentSpec::Kind;
    for (const ev::ArgumentSpec& a : ev::eval_arguments()) {
        std::string help = a.help;
        if (auto at = help.find("{providers}"); at != std::string::npos)
            help.replace(at, 11, pv::spoken_list(names, "or"));
        py::dict options;
        if (a.kind == K::Choice) {
            // The solver module's names, the first the default (as `tarvok run --solver`).
            py::tuple solvers = py::module_::import("tarvok.solver").attr("_SOLVERS");
            help.replace(help.find("{solvers}"), 9, host::str_of(py::str(", ").attr("join")(solvers)));
            options["choices"] = solvers;
            options["default"] = solvers[0];
        }
        if (a.metavar) options["metavar"] = a.metavar;
        if (a.kind == K::Positional) options["nargs"] = "?";
        if (a.kind == K::Required) options["required"] = true;
        if (a.kind == K::Flag) options["action"] = "store_true";
        if (a.kind == K::Int) options["type"] = builtins.attr("int");
        if (a.kind == K::Float) options["type"] = builtins.attr("float");
        if (a.kind == K::Int && !std::isnan(a.default_value))
            options["default"] = static_cast<long long>(a.default_value);
        if (a.kind == K::Float && !std::isnan(a.default_value)) options["default"] = a.default_value;
        options["help"] = help;
        parser.attr("add_argument")(a.name, **options);
    }
}

void say(const std::string& text) {
    py::object out = py::module_::import("sys").attr("stdout");
    out.attr("write")(host::text(hidden(text)));
    out.attr("flush")();
}

/// After an interrupt: the running problems end at their next step (one
/// request at most); a second interrupt ends the command at once, its
/// records being on disk already.
void wait_for_workers(const std::shared_ptr<Pool>& pool) {
    if (!pool) return;
    auto running = [&] {
        size_t n = 0;
        for (py::handle t : pool->threads) n += host::truthy(t.attr("is_alive")());
        return n;
    };
    try {
        if (size_t n = running()) {
            tell(ev::stopping_line(n));
        }
        pool->join();
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_KeyboardInterrupt)) throw;
        for (const char* stream : {"stdout", "stderr"}) py::module_::import("sys").attr(stream).attr("flush")();
        py::module_::import("os").attr("_exit")(tarvok::code(tarvok::ExitStatus::Interrupted));
    }
}

/// A failure of the command: one line on stderr, or with --json an object
/// on stdout, as every subcommand of `tarvok` reports one.
int failed(py::handle args, int status, const std::string& message) {
    if (host::truthy(args.attr("json"))) {
        py::dict error;
        error["error"] = host::text(message);
        error["status"] = status;
        say(host::str_of(py::module_::import("json").attr("dumps")(error, py::arg("ensure_ascii") = false)) + "\n");
    } else {
        tell("tarvok eval: " + message);
    }
    return status;
}

/// The parsed arguments as the option checks take them.
ev::CommandOptions command_options(py::object args) {
    ev::CommandOptions o;
    for (auto [name, option] : {std::pair{"jobs", "--jobs"},
                                {"iterations", "--iterations"},
                                {"limit", "--limit"},
                                {"repeat", "--repeat"},
                                {"samples", "--samples"},
                                {"max_size", "--max-size"}}) {
        py::object value = args.attr(name);
        o.counts.emplace_back(option, value.is_none() ? std::nullopt : std::optional(value.cast<long long>()));
    }
    o.rel_tol = args.attr("rel_tol").cast<double>();
    if (py::object timeout = args.attr("timeout"); !timeout.is_none()) o.timeout = timeout.cast<double>();
    py::object provider = args.attr("provider"), replay = args.attr("replay");
    if (!provider.is_none()) {
        o.provider = host::str_of(provider);
        o.provider_key = host::str_of(provider.attr("strip")().attr("lower")());
        o.provider_known = pv::provider_from_alias(*o.provider_key) != nullptr;
        std::vector<std::string_view> names;
        for (const pv::Provider& p : pv::kProviders) names.push_back(p.value);
        o.provider_choices = pv::spoken_list(names, "or");
        if (replay.is_none() && *o.provider_key == "replay")
            o.replay_configured = !generative().attr("REPLAY_PATH").is_none();
    }
    if (!replay.is_none()) {
        o.replay = host::str_of(replay);
        o.replay_exists = host::truthy(os_module().attr("path").attr("exists")(replay));
    }
    o.stop_after_errors = args.attr("stop_after_errors").cast<long long>();
    o.what_if_max = args.attr("what_if_max").cast<long long>();
    for (auto [key, attribute] : {std::pair{"question", "field_question"},
                                  {"answer", "field_answer"},
                                  {"id", "field_id"},
                                  {"class", "field_class"}}) {
        py::object named = args.attr(attribute);
        if (!named.is_none()) o.fields.emplace_back(key, host::str_of(named));
    }
    return o;
}

/// Why the command stops before its run: a usage fault or the provider.
struct Refusal {
    bool provider = false;
    std::string message;
};

/// The provider and the solver checked, and the output folder prepared.
std::optional<Refusal> checked_and_prepared(Settings& s, const ev::Dataset& data, Prepared& prepared) {
    try {
        check_provider(s);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        return Refusal{true, host::str_of(e.value())};
    }
    try {
        check_solver(s);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        return Refusal{false, host::str_of(e.value())};
    }
    try {
        prepared = prepare(s, data);
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_OSError))
            return Refusal{false, "cannot write to " + host::str_of(s.out_dir) + ": " + host::str_of(e.value())};
        if (!e.matches(PyExc_RuntimeError) && !e.matches(PyExc_ValueError)) throw;
        return Refusal{false, host::str_of(e.value())};
    }
    return std::nullopt;
}

/// The run's settings, its data set and its output folder, made ready from
/// the parsed arguments; a refusal when one cannot be used.
std::optional<Refusal> ready(py::object args, const ev::CommandOptions& o, Settings& s, ev::Dataset& data,
                             Prepared& prepared) {
    py::object replay = args.attr("replay");
    py::object provider = replay.is_none() ? args.attr("provider") : py::str("replay");
    py::dict fields;
    for (const auto& [key, field] : o.fields) fields[py::str(key)] = host::text(field);
    try {
        s = settings_from(args.attr("dataset"), args.attr("out"), provider, args.attr("model"), args.attr("jobs"),
                          args.attr("iterations"),
                          host::truthy(args.attr("execution_check")) ? py::object(py::bool_(true)) : py::none(),
                          py::float_(o.rel_tol), args.attr("limit"), py::bool_(true),
                          py::bool_(host::truthy(args.attr("force"))), replay,
                          py::bool_(!host::truthy(args.attr("no_retry_errors"))), args.attr("stop_after_errors"),
                          fields, host::truthy(args.attr("no_alignment")) ? py::object(py::bool_(false)) : py::none(),
                          args.attr("repeat"), args.attr("samples"));
        read_readings(s, py::bool_(host::truthy(args.attr("assumptions"))),
                      py::bool_(host::truthy(args.attr("what_if"))), args.attr("what_if_max"));
        s.solver = args.attr("solver");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ValueError) || replay.is_none()) throw;
        return Refusal{false, "--replay " + host::str_of(replay) +
                                  " and --out must not hold one another: the run rewrites the transcripts of --out"};
    }
    try {
        data = load_dataset(s);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_OSError) && !e.matches(PyExc_ValueError)) throw;
        return Refusal{false, host::str_of(e.value())};
    }
    if (data.problems.empty()) {
        for (const ev::BadRecord& bad : data.bad) tell(bad_record_text(s.dataset, bad));
        return Refusal{false, "no usable problem in " + host::str_of(s.dataset)};
    }
    return checked_and_prepared(s, data, prepared);
}

/// The run of the command, its settings ready; a refusal when the output
/// folder cannot be written or the provider is down.
std::optional<Refusal> command_run(py::object args, Settings& s, const ev::Dataset& data, Prepared& prepared,
                                   std::shared_ptr<Pool>& pool) {
    // The request timeout is an option of the loop's calls; the compiler's
    // size limit, a setting of its module, holds for this run and is put back.
    if (py::object timeout = args.attr("timeout"); !timeout.is_none()) s.timeout = py::float_(timeout.cast<double>());
    std::optional<SettingForRun> size_limit;
    if (!args.attr("max_size").is_none())
        size_limit.emplace(host::import_sibling(host::this_module(), "tarvok_core"), "MAX_SIZE", args.attr("max_size"));
    Outcome out;
    try {
        out = run(s, data, prepared, pool);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_OSError)) throw;
        return Refusal{false, "cannot write to " + host::str_of(s.out_dir) + ": " + host::str_of(e.value())};
    }
    if (out.provider_down) return Refusal{true, *out.provider_down};
    say(host::truthy(args.attr("json")) ? out.summary_text
                                        : terminal::shown(ev::results_table(data.problems, out.records, out.summary)));
    tell("tarvok eval: results in " + host::str_of(join_path(s.out_dir, py::str("results.jsonl"))) + ", summary in " +
         host::str_of(join_path(s.out_dir, py::str("summary.json"))));
    return std::nullopt;
}

/// `tarvok eval` from parsed arguments (see add_arguments); the exit status.
int run_command(py::object args) {
    using tarvok::ExitStatus;
    constexpr int kUsage = tarvok::code(ExitStatus::Usage), kProvider = tarvok::code(ExitStatus::LlmFailure);
    constexpr int kInterrupted = tarvok::code(ExitStatus::Interrupted);
    ev::CommandOptions options = command_options(args);
    if (auto fault = ev::command_option_fault(options)) return failed(args, kUsage, *fault);
    std::shared_ptr<Pool> pool;
    try {
        Settings s;
        ev::Dataset data;
        Prepared prepared;
        std::optional<Refusal> refused = ready(args, options, s, data, prepared);
        if (!refused) refused = command_run(args, s, data, prepared, pool);
        if (refused) return failed(args, refused->provider ? kProvider : kUsage, refused->message);
        return tarvok::code(ExitStatus::Success);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_KeyboardInterrupt)) throw;
        tell(ev::kInterruptedLine);
        wait_for_workers(pool);
        return kInterrupted;
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

PYBIND11_MODULE(evaluation, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    host::hold_module(m);
    m.doc() =
        "Answer accuracy on benchmark sets: the generation loop on each word problem, its model solved and "
        "compared with the reference optimum.";

    host::def(m, "run_evaluation",
              "dataset, out_dir, *, provider=None, model=None, jobs=1, iterations=None, execution_check=None, "
              "rel_tol=0.0001, limit=None, progress=True, force=False, replay=None, retry_errors=True, "
              "stop_after_errors=3, fields=None, alignment_check=None, repeat=1, samples=1, assumptions=False, "
              "what_if=False, what_if_max=3, solver='highs'",
              ev::kRunEvaluationDoc, &run_evaluation, py::arg("dataset"), py::arg("out_dir"), py::kw_only(),
              py::arg("provider") = py::none(), py::arg("model") = py::none(), py::arg("jobs") = 1,
              py::arg("iterations") = py::none(), py::arg("execution_check") = py::none(), py::arg("rel_tol") = 1e-4,
              py::arg("limit") = py::none(), py::arg("progress") = true, py::arg("force") = false,
              py::arg("replay") = py::none(), py::arg("retry_errors") = true, py::arg("stop_after_errors") = 3,
              py::arg("fields") = py::none(), py::arg("alignment_check") = py::none(), py::arg("repeat") = 1,
              py::arg("samples") = 1, py::arg("assumptions") = false, py::arg("what_if") = false,
              py::arg("what_if_max") = 3, py::arg("solver") = "highs");
    host::def(m, "_run_problem", "problem, out_dir, settings",
              "Run one problem: the loop, then the final model's solve; returns its record as a map.\n\n"
              "What the loop raises is kept in the record's 'error'.",
              &run_problem, py::arg("problem"), py::arg("out_dir"), py::arg("settings"));
    host::def(m, "_add_arguments", "parser", "Add the arguments of `tarvok eval` to an argparse parser.",
              &add_arguments, py::arg("parser"));
    host::def(m, "_run_command", "args", "Run `tarvok eval` from the parsed arguments and return its exit status.",
              &run_command, py::arg("args"));
    host::def(m, "main", "argv=None", ev::kMainDoc, &main_impl, py::arg("argv") = py::none());
}
