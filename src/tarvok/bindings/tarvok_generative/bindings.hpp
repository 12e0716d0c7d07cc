// Shared by the binding files of the tarvok_generative module.
#pragma once

#include "bindings/host/host.hpp"
#include "compiler/data_values.hpp"
#include "generative/module_face.hpp"
#include "generative/prompts.hpp"
#include "generative/providers/providers.hpp"
#include "generative/request_state.hpp"
#include "generative/workflow.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::generative::bind {

namespace py = pybind11;
/// This module's attribute as it is at call time (see host::ModuleSlot::attr).
inline py::object attr(const char* name) { return host::modules::tarvok_generative.attr(name); }
using host::Kind;

/// The Grammar enumeration the module's start made.
extern host::Kept grammar_enum;

/// Sends one status line through the module's `_notify`.
void notify(py::handle progress, const std::string& msg);

/// The host's str(value) as the package's messages show text that came from a
/// server or a client library: cut to a few thousand characters, with the
/// configured API keys hidden (see server_text.hpp).
std::string server_text(py::handle value);

/// Logs one line at debug level on the module logger.
void log_debug(const std::string& msg);

/// An option that the call in progress gives the steps under the loop (the
/// request timeout, the embedding model), or a null object when it gives
/// none. Options live in a context variable, so a call on another thread
/// keeps its own and the module settings stay as they are.
py::object call_option(const char* name);

/// Gives the steps of this thread's call `options` until this object goes.
class CallOptions {
  public:
    explicit CallOptions(py::dict options);
    CallOptions(const CallOptions&) = delete;
    CallOptions& operator=(const CallOptions&) = delete;
    ~CallOptions();

  private:
    py::object token_;
};

/// A back-end reports the usage of the request it just sent on this thread
/// (see request_state.hpp): counts that are no int, or negative, are none.
void report_usage(py::handle tokens_in, py::handle tokens_out);
using generative::report_usage;

/// A parameter of a function with a built signature: its name and default
/// (a null object for "required").
using SignedParam = std::pair<const char*, py::object>;
inline SignedParam signed_param(const py::arg& a) { return {a.name, py::object()}; }
inline SignedParam signed_param(const py::arg_v& a) { return {a.name, a.value}; }

/// py::object for each index of a pack: a function of as many parameters as a table has rows.
template <std::size_t>
using Object = py::object;

/// Sets `m.name` to an object callable like the builtin `impl` that carries
/// a real `__signature__` built from `params`.
void def_signed(py::module_& m, const char* name, const py::cpp_function& impl, const char* doc,
                std::vector<SignedParam> params);

/// host::def with the parameter list and docstring of `name` from the
/// module's table (module_face.hpp).
template <typename Func, typename... Extra>
void def_documented(py::module_& m, const char* name, Func&& f, const Extra&... extra) {
    const FunctionDoc& entry = function_doc(name);
    host::def(m, name, entry.params, entry.doc, std::forward<Func>(f), extra...);
}

/// Defines a module function whose defaults a text signature cannot express
/// (enumeration members): `args` make both its parameters and its signature.
template <typename Func, typename... Args>
void def_with_signature(py::module_& m, const char* name, Func&& f, const Args&... args) {
    def_signed(m, name, py::cpp_function(std::forward<Func>(f), py::name(name), args...), function_doc(name).doc,
               {signed_param(args)...});
}

/// The solver's verdict from a result map: "status" (required), "message"
/// and "infeasible_constraints" (maps with "name", "line" and "kind"), as
/// `_execute_model` returns them. Absent or None entries count as empty.
SolverVerdict solver_verdict(py::handle result);

// Each binding file registers the functions of one subsystem.
void register_reply_parsing(py::module_& m);
void register_references_and_prompts(py::module_& m);
void register_few_shot(py::module_& m);
void register_providers(py::module_& m);
void register_workflow(py::module_& m);

/// `_build_revision_prompt_execution` as the module made it: the execution
/// check's prompt, which (unlike the documented builders) no caller replaces.
extern host::Kept execution_prompt_builder;

/// What one run of the loop gave: run_generation's GenerationResult.
struct GenerationResult {
    workflow::Result result;
    py::object model_file, data_file;
    bool alignment = true;
    bool execution_check = false;
    bool assumptions = false, what_if = false;
    py::object solver = py::str("highs");  ///< of the run's solves, and of execute()'s
};

/// What the command, the page and the MCP server call of the loop, in C++:
/// run_generation with the prompt, the pair's paths and its keyword options
/// (TypeError for a name it does not take), and _check_provider. The steps
/// they reach are this module's (its slot, imported when it is not yet).
/// `own_names` as Call's (see workflow_bindings.hpp).
GenerationResult run_generation(py::object prompt, py::object model_file, py::object data_file, const py::dict& options,
                                files::Existing own_names = files::Existing::Follow);
/// A field of a run's result as GenerationResult shows it to the host.
py::object result_field(const GenerationResult& g, ResultField field);
/// A field as a plain value: the core's, the pair's texts, and the statistics
/// and what-if table with the solves the host holds filled in; any other
/// field as its host object reads.
data::Value result_value(const GenerationResult& g, ResultField field);
py::object check_provider(py::object llm_provider, py::object model_name, py::object replay);
/// The model names of `provider` kept by `prefix` (null: its listing's own
/// default): its listing function as the module has it now.
py::object listing(const providers::Provider& provider, py::object prefix);
/// Makes the client of `provider`, which has a client factory, by that
/// factory as the module has it now.
void make_client(const providers::Provider& provider);
/// _is_provider_outage: whether `error`, or one it was raised from or while
/// handling, says the provider was down, slow or unreachable.
bool is_provider_outage(py::object error);
/// generative_feedback as the command calls it: the loop's events go to
/// `on_event` too (as run_generation's), and `options` hold this call's own
/// request settings ("timeout", "replay_path"; see CallOptions).
py::object generative_feedback(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                               py::object mode, py::object temperature, py::object stop, py::object llm_provider,
                               py::object progress, py::object on_event, const py::dict& options);

}  // namespace tarvok::generative::bind
