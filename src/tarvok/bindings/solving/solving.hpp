// The package's one solve: a Program solved with checked options under the
// core's strategy (solve_with) through one adapter per solver library
// (highs_bindings.cpp, scip_bindings.cpp beside this file), the result a C++
// value. Part of the one library of binding code, which every module that
// solves (tarvok.solver, the command, the generation loop, the page, the MCP
// server) calls: one registry of adapters in the process.
#pragma once

#include "bindings/host/arrays.hpp"
#include "bindings/host/highs.hpp"
#include "bindings/host/host.hpp"
#include "common/json.hpp"
#include "solver/backend.hpp"
#include "solver/compiled_model.hpp"
#include "solver/options.hpp"
#include "solver/views.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::solver::bind {

namespace py = pybind11;

using host::highs::import_extra;

/// Whether this is the host's main thread, the one signals arrive on.
inline bool on_main_thread() {
    py::object threading = py::module_::import("threading");
    return threading.attr("current_thread")().is(threading.attr("main_thread")());
}

using host::highs::owned;
using host::highs::view;

/// `expected` floats from a Python sequence; ValueError naming `what` when
/// the count differs.
std::vector<double> doubles(py::handle sequence, size_t expected, const char* what);

/// A back-end in the host: it keeps what Ctrl-C raised during a run, so that
/// the module raises it again with the run so far attached.
class HostBackend : public SolverBackend {
  public:
    /// What Ctrl-C raised, or KeyboardInterrupt when the solver caught the
    /// signal itself.
    py::error_already_set take_interrupt();
    void hold_interrupt(py::error_already_set raised);
    /// Whether Ctrl-C stopped a step the strategy cannot tell of (a solver's figures).
    bool holds_interrupt() const { return interrupt_ != nullptr; }

    /// The caller's cancel (empty: none), asked with the GIL held while a run goes on.
    std::function<bool()> cancel;
    /// Whether `cancel` says stop.
    bool cancelled() const { return cancel && cancel(); }

  private:
    std::unique_ptr<py::error_already_set> interrupt_;
};

/// A back-end whose programs load as `Loaded`, each made from the back-end,
/// the program, the solver library, the object that keeps the program
/// alive, and the load request.
template <typename Loaded>
class LibraryBackend : public HostBackend {
  public:
    LibraryBackend(const char* name, py::module_ library, py::handle owner)
        : name_(name), library_(std::move(library)), owner_(py::reinterpret_borrow<py::object>(owner)) {}
    std::string name() const override { return name_; }
    std::unique_ptr<LoadedProgram> load(const Program& p, const LoadRequest& r) override {
        return std::make_unique<Loaded>(*this, p, library_, owner_, r);
    }

  private:
    const char* name_;
    py::module_ library_;
    py::object owner_;
};

/// Makes a back-end over `owner`, the Python object that keeps the Program alive.
using MakeBackend = std::unique_ptr<HostBackend> (*)(py::module_ library, py::handle owner);

/// An adapter file registers its factory under its solver's name in
/// kSolverLibraries (one of these at namespace scope), so a new solver touches
/// its own file and the core's table only.
struct BackendRegistration {
    BackendRegistration(std::string_view name, MakeBackend make);
};

/// The factory registered under `name`; std::logic_error when none is.
MakeBackend backend_maker(std::string_view name);

/// Raises the RuntimeError of a solve its caller cancelled.
[[noreturn]] inline void raise_cancelled() { host::raise(PyExc_RuntimeError, "the solve was cancelled"); }

/// A solve's end: the result, and what Ctrl-C raised when it ended the run
/// (the result then holds the run so far).
struct SolveRun {
    Solved solved;
    std::unique_ptr<py::error_already_set> interrupt;
};

/// Solves `program` through the back-end `options` chose (its library
/// imported only when the program needs a solver; an ImportError says which
/// extra installs it). `cancel` (empty: none) stops the run with the
/// RuntimeError of raise_cancelled.
SolveRun solve(std::shared_ptr<Program> program, const SolveChoice& options, std::function<bool()> cancel = {});

/// An argument as the option checks of the core read it. Only exact
/// built-in kinds are spelt, so no caller's own __str__ or __repr__ runs.
Argument argument(py::handle v);

/// The options of a solve as the host's values, checked in the order of the
/// signature; the refusal (TypeError or ValueError) names `function`.
SolveChoice solve_options(const char* function, py::handle time_limit, py::handle mip_gap, py::handle threads,
                          py::handle log, py::handle sensitivity, py::handle solver);
/// The same from keyword options as a JSON object, an absent one at its default.
SolveChoice solve_options(const char* function, const json::Value& keywords);

/// The program of a compiled pair solved as `keywords` ask (solve_program's
/// keywords as a JSON object) and `cancel` allows; none, with `fault` saying
/// why, when its data make it impossible to expand.
std::optional<Solved> solve_compiled(CompiledModel& compiled, const json::Value& keywords, std::function<bool()> cancel,
                                     std::string& fault);

/// The program of a compiled pair, made once; empty with `failure` saying why
/// when the pair does not compile or its data make it impossible to expand.
std::shared_ptr<Program> program_of(CompiledModel& compiled, std::string& failure);

}  // namespace tarvok::solver::bind
