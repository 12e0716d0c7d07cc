// What a back-end binding file provides and may use. A back-end is the code of
// one entry of the provider table (providers.hpp): it registers itself under
// the entry's value, defines its module functions and sends one prompt.
#pragma once

#include "bindings/tarvok_generative/bindings.hpp"
#include "generative/providers/deadline.hpp"
#include "generative/providers/providers.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::generative::bind {

namespace pv = providers;

/// One prompt for a back-end, with the arguments of `_llm_generate_text`.
struct Request {
    py::object model_name, input_text, max_tokens, temperature, stop, progress;
    std::string model;  ///< the model name as UTF-8, for progress messages
};

struct BackEnd {
    /// Sends the prompt and returns the reply text.
    py::object (*generate)(const pv::Provider& provider, const Request& request);
    /// The model names the provider's listing function then filters by prefix and sorts.
    py::object (*list_names)(const pv::Provider& provider);
    /// Defines the back-end's own module functions (client, listing, ...).
    void (*define_functions)(py::module_& m, const pv::Provider& provider);
};

/// Registers the back-end of the table entry whose value is `value`; each
/// back-end file calls it once, while the module's shared object loads.
bool register_back_end(std::string_view value, BackEnd back_end);

using pv::provider;

// Helpers shared by the back-ends.

/// Re-raises anything outside the host's ordinary error family.
inline void rethrow_unless_ordinary(py::error_already_set& error) {
    if (!host::is_ordinary(error)) throw;
}

/// getattr(obj, name) that answers "missing" for AttributeError only, as the
/// host's hasattr/getattr-with-default do; any other error propagates.
std::optional<py::object> optional_attr(py::handle obj, const char* name);

inline py::object attr_or_none(py::handle obj, const char* name) {
    return optional_attr(obj, name).value_or(py::none());
}

/// isinstance(value, collections.abc.Mapping)
bool is_mapping(py::handle value);

/// The provider's API key from its first environment variable; a RuntimeError
/// naming the variable when it is unset or empty.
py::object api_key(const pv::Provider& provider);

/// `value` as seconds: an int or a float (no bool) that `in_range` accepts;
/// else TypeError `not_a_number` or ValueError `out_of_range`, each followed
/// by the value's type or text.
double seconds_of(py::handle value, bool (*in_range)(double), const std::string& not_a_number,
                  const std::string& out_of_range);

/// The call's timeout, else the REQUEST_TIMEOUT setting as it stands, within
/// what is left of the run of this thread (RunBound): seconds as a host
/// float, or None for the client's own default. Anything else is refused (TypeError for a
/// value that is no number, ValueError for one that is not positive and finite).
py::object request_timeout();

/// Event hooks for a provider's HTTP client (its `event_hooks` argument) that
/// bound each back-end call's requests as a whole by `timeout` seconds, not
/// only each read; None when `timeout` is None.
py::object deadline_hooks(py::object timeout);

/// One call of a back-end that sends requests through a client made with
/// deadline_hooks, on this thread (see deadline.hpp).
using pv::BoundedCall;

/// Re-raises `error`; as a RuntimeError naming the provider and the timeout
/// when it is ordinary and `call` ran into its deadline.
[[noreturn]] void reraise_timed_out(py::error_already_set& error, const BoundedCall& call,
                                    const pv::Provider& provider);

/// What a listing request `list` returns (as `read` makes it, if given, within
/// the same bounded call: a lazy listing fetches its later pages under that
/// deadline). An ordinary error of the request ends in RuntimeError naming
/// the listing and the reason.
py::object listing_request(const pv::Provider& provider, const std::function<py::object()>& list,
                           const std::function<py::object(py::object)>& read = nullptr);

/// `from module import name` through the host's import system.
py::object import_from(const char* module, const char* name);

/// A client-library import that fails with an ordinary error ends in
/// RuntimeError with the provider's missing-library text, chained to that error.
template <typename Import>
py::object load_library(const pv::Provider& provider, Import import) {
    try {
        return import();
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
        host::raise_from(e, PyExc_RuntimeError, std::string(provider.missing_library));
    }
}

/// The reply text of a reply object, read where `shape` says; "" when it holds none.
py::object reply_text(py::handle reply, const pv::ReplyShape& shape);

/// Reports the token counts of a reply object, read where `shape` says.
void report_usage_of(py::handle reply, const pv::ReplyShape& shape);

/// The classes of an error (its own and its bases) as the error tables name them.
std::vector<pv::ErrorKind> kinds_of(py::handle error);

/// Refuses arguments of a prompt of the wrong kind, naming the function `fn`.
void check_prompt_args(const char* fn, py::handle model_name, py::handle input_text, py::handle max_tokens,
                       py::handle temperature, py::handle stop);

/// host::def with the parameter list and docstring of `name` from the back-ends' table.
template <typename Func, typename... Extra>
void def_back_end(py::module_& m, const char* name, Func&& f, const Extra&... extra) {
    const FunctionDoc& entry = pv::back_end_doc(name);
    host::def(m, name, entry.params, entry.doc, std::forward<Func>(f), extra...);
}

}  // namespace tarvok::generative::bind
