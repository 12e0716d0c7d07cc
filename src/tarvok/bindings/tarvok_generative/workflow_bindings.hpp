// Shared by the binding files of the loop: the services it is given on the
// host (workflow_bindings.cpp) and the entry points that run it
// (generation_bindings.cpp).
#pragma once

#include "bindings/tarvok_generative/bindings.hpp"
#include "compiler/compiler.hpp"
#include "generative/workflow.hpp"
#include "solver/compiled_model.hpp"

#include <functional>

namespace tarvok::generative::bind {

namespace wf = workflow;

/// Host objects kept with a value of the loop: a pair's model and data, a
/// compiled model and its diagnostics records, a solver outcome, an error.
struct Held : wf::Attachment {
    py::object first, second;
    explicit Held(py::object a, py::object b = py::none()) : first(std::move(a)), second(std::move(b)) {}
    ~Held() override;  ///< releases the objects under the GIL
};

const Held& held(const wf::Attachment* attachment);

/// One call of an entry point: its arguments, checked, and what its steps share.
struct Call {
    py::object prompt;  ///< the description, or feedback's question
    py::object model_file = py::none(), data_file = py::none();
    py::object model_text = py::none(), data_text = py::none();  ///< feedback: the files' texts
    py::object model_name, grammar, stop = py::none(), provider;
    py::object progress = py::none();
    py::object few_shot = py::bool_(false);
    py::object few_shot_library;  ///< null: FEW_SHOT_LIBRARY as it stands when the examples are gathered
    py::object few_shots = py::list();
    py::object time_limit = py::none();    ///< seconds for each solve of the execution check
    py::object solver = py::str("highs");  ///< the solver of every solve of the call
    py::object on_event = py::none();
    py::object record = py::none();  ///< the transcript file every exchange is appended to, or None
    /// Replace when every name the call writes is its caller's own (an eval
    /// problem's folder): a link planted at one is replaced, not written through.
    files::Existing own_names = files::Existing::Follow;
    wf::Run run;
    /// The pair of model_file and data_file is read, not generated: only its
    /// readings are asked for (model_text and data_text hold it).
    bool existing = false;
    std::optional<Assumption> reading;   ///< with existing: the one reading to explore
    tarvok::compiler::SizeLimits sizes;  ///< of every compile of the call, read once as it starts
};

/// The loop on the host; a failure of its own is raised as RuntimeError.
wf::Result run_loop(Call& call);

/// Feedback's one request on the host: the reply as the host's value.
py::object feedback_value(Call& call);

/// The solver outcome map of a compiling pair, as `_execute_model` gives it:
/// the pair's compiled model solved by `solver` when the compile kept one,
/// else the pair compiled and solved by `_execute_model`.
/// With `with_answer`, the map also holds 'answer': the decision expression
/// `answer` of the solution (None when the model defines no such number).
py::object execution_map(const wf::Pair& pair, const wf::Attachment* compiled, py::object time_limit, py::object solver,
                         bool with_answer = false);

/// `_execute_model(model_code, data_code, time_limit, solver)`: solves a pair
/// as tarvok.solver.solve_model does, through the one solve, and reports the
/// outcome as a map.
py::object execute_model(py::object model_code, py::object data_code, py::object time_limit, py::object solver_name);

/// `status`, `objective`, `message` and `infeasible_constraints` of the
/// compiled pair's program solved through the one solve with `time_limit` and
/// `solver` (checked as `function` checks them), or the status "error" with
/// the diagnostics as its message when the model cannot be expanded with its data.
py::dict solved_outcome(tarvok::solver::CompiledModel& compiled, py::handle time_limit, py::handle solver,
                        bool with_answer, const char* function = "solve_program");

/// The path of an alternative pair's member beside `path` (alternative_path on the host's text of it).
py::object alternative_file(py::handle path, long long index);

/// The module's pair value (its own object when the host made the pair).
py::object model_of(const wf::Pair& pair);
py::object data_of(const wf::Pair& pair);

/// The compiled model a compile kept (a tarvok.solver.CompiledModel), or None.
py::object compiled_handle(const wf::Attachment* compiled);

py::list text_list(const std::vector<std::string>& texts);

/// A number as progress lines write it ("none" for None).
std::string number_text(py::handle value);

/// The steps the module was loaded with, recorded once it has them all; a
/// step a caller replaced since is asked as the caller gave it.
void record_loaded_steps();

/// Whether the loop's requests go to the providers: the request step was not
/// replaced since the module was loaded.
bool requests_go_to_providers();

}  // namespace tarvok::generative::bind
