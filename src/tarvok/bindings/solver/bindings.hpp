// Shared by the binding files of the tarvok.solver module: the module's own
// face (solver_bindings.cpp) and one adapter per solver library
// (highs_bindings.cpp, scip_bindings.cpp).
#pragma once

#include "bindings/host/arrays.hpp"
#include "bindings/host/highs.hpp"
#include "bindings/host/host.hpp"
#include "solver/backend.hpp"

#include <memory>
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

    /// The caller's `cancel` (None: none), asked while a run goes on.
    py::object cancel = py::none();
    /// Whether `cancel` says stop.
    bool cancelled() const { return !cancel.is_none() && host::truthy(cancel()); }

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

}  // namespace tarvok::solver::bind
