#include "bindings/solving/solving.hpp"

#include "bindings/host/json.hpp"
#include "bindings/host/solvers.hpp"

#include <stdexcept>
#include <utility>

namespace tarvok::solver::bind {

std::vector<double> doubles(py::handle sequence, size_t expected, const char* what) {
    host::Items items(sequence, what);
    if (items.size() != expected)
        host::raise(PyExc_ValueError, std::string(what) + " has " + std::to_string(items.size()) +
                                          " values; the program has " + std::to_string(expected) + " columns");
    std::vector<double> out(items.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = host::number(items[i]);
    return out;
}

py::error_already_set HostBackend::take_interrupt() {
    if (interrupt_) return std::move(*interrupt_);
    PyErr_SetNone(PyExc_KeyboardInterrupt);
    return py::error_already_set();
}

void HostBackend::hold_interrupt(py::error_already_set raised) {
    interrupt_ = std::make_unique<py::error_already_set>(std::move(raised));
}

/// The adapters, each registered while the library of binding code loads.
static std::vector<std::pair<std::string_view, MakeBackend>>& registered_backends() {
    static std::vector<std::pair<std::string_view, MakeBackend>> makers;
    return makers;
}

BackendRegistration::BackendRegistration(std::string_view name, MakeBackend make) {
    registered_backends().emplace_back(name, make);
}

MakeBackend backend_maker(std::string_view name) {
    for (const auto& [registered, make] : registered_backends())
        if (registered == name) return make;
    throw std::logic_error("no solver adapter is registered under " + std::string(name));
}

Argument argument(py::handle v) {
    Argument a;
    a.type_name = host::type_name(v);
    if (v.is_none()) {
        a.kind = Argument::Kind::None;
    } else if (host::is_exact(v, host::Kind::Bool)) {
        a.kind = Argument::Kind::Bool;
        a.flag = v.ptr() == Py_True;
    } else if (host::is_exact(v, host::Kind::Int)) {
        a.kind = Argument::Kind::Int;
        a.whole = host::saturated(v);
        a.number = v.cast<double>();
        a.text = host::str_of(v);
    } else if (host::is_exact(v, host::Kind::Float)) {
        a.kind = Argument::Kind::Float;
        a.number = v.cast<double>();
        a.text = host::str_of(v);
    } else if (host::is_exact(v, host::Kind::Str)) {
        a.kind = Argument::Kind::Str;
        a.text = host::str_of(v);
        a.repr = host::str_of(py::repr(v));
    }
    return a;
}

SolveChoice solve_options(const char* function, py::handle time_limit, py::handle mip_gap, py::handle threads,
                          py::handle log, py::handle sensitivity, py::handle solver) {
    SolveArguments arguments{argument(time_limit), argument(mip_gap),     argument(threads),
                             argument(log),        argument(sensitivity), argument(solver)};
    std::variant<SolveChoice, tarvok::Error> checked = check_solve_options(function, arguments, solver_names());
    if (tarvok::Error* no = std::get_if<tarvok::Error>(&checked)) throw *no;
    return std::get<SolveChoice>(std::move(checked));
}

SolveChoice solve_options(const char* function, const json::Value& keywords) {
    auto given = [&](const char* name, py::object otherwise) {
        const json::Value* found = keywords.find(name);
        return found != nullptr ? host::to_python(*found) : otherwise;
    };
    return solve_options(function, given("time_limit", py::none()), given("mip_gap", py::none()),
                         given("threads", py::none()), given("log", py::bool_(false)),
                         given("sensitivity", py::bool_(false)), given("solver", py::str("highs")));
}

SolveRun solve(std::shared_ptr<Program> program, const SolveChoice& options, std::function<bool()> cancel) {
    std::unique_ptr<HostBackend> backend;
    auto make_backend = [&]() -> SolverBackend& {
        const SolverLibrary& entry = kSolverLibraries[options.solver];
        py::module_ library = host::import_solver(entry, "solving a model");
        // The back-end's arrays view the program's own, which this keeps alive.
        backend = backend_maker(entry.name)(library, host::highs::keeper(program));
        backend->cancel = std::move(cancel);
        return *backend;
    };
    SolveReport report = solve_with(*program, make_backend, options.settings);
    bool interrupted = report.interrupted || (backend && backend->holds_interrupt());
    SolveRun run{solved(std::move(program), std::move(report)), nullptr};
    if (interrupted) run.interrupt = std::make_unique<py::error_already_set>(backend->take_interrupt());
    return run;
}

std::shared_ptr<Program> program_of(CompiledModel& compiled, std::string& failure) {
    py::gil_scoped_release unlocked;  // the one making it may need the GIL to watch for Ctrl-C
    return compiled.program(
        [](const auto& expand) {
            py::gil_scoped_acquire gil;
            return host::watched(expand, [] { return out_of_memory_message(0, true); });
        },
        failure);
}

std::optional<Solved> solve_compiled(CompiledModel& compiled, const json::Value& keywords, std::function<bool()> cancel,
                                     std::string& fault) {
    std::shared_ptr<Program> program = program_of(compiled, fault);
    if (!program) return std::nullopt;
    SolveRun run = solve(std::move(program), solve_options("solve_program", keywords), std::move(cancel));
    if (run.interrupt) throw std::move(*run.interrupt);
    return std::move(run.solved);
}

}  // namespace tarvok::solver::bind
