// The bound on one request's whole time. The client libraries' own timeouts
// hold for each read, so a server that sends a byte now and then keeps a
// request alive for ever. Each client the back-ends make is given a request
// hook: the first request of a back-end call starts a watch of
// REQUEST_TIMEOUT seconds, the connection's socket is learnt through the
// transport's trace events, and when the time is up the socket is shut down,
// which ends the read in progress at once. The back-end then reports the
// request as timed out. When to cut is the watch's (deadline.hpp); this file
// runs its timer and delivers the cut.
#include "bindings/tarvok_generative/providers/back_end.hpp"
#include "generative/providers/back_end_texts.hpp"

#include <memory>

namespace tarvok::generative::bind {

namespace {

/// A watch whose threading.Timer expires it after `seconds`.
std::shared_ptr<pv::Watch> start_watch(double seconds) {
    auto watch = std::make_shared<pv::Watch>(seconds);
    std::weak_ptr<pv::Watch> weak = watch;
    py::cpp_function fire([weak]() {
        if (std::shared_ptr<pv::Watch> w = weak.lock()) w->expire();
    });
    py::object timer = py::module_::import("threading").attr("Timer")(seconds, fire);
    timer.attr("daemon") = true;
    timer.attr("name") = "tarvok-request-deadline";
    watch->on_finish([timer] {
        py::error_scope keep;  // an error in flight stays the one raised
        try {
            timer.attr("cancel")();
        } catch (py::error_already_set&) {
        }
        PyErr_Clear();
    });
    timer.attr("start")();
    return watch;
}

/// Shuts the connection down: a read waiting on it returns at once. The
/// plain socket's shutdown, also for a TLS socket, whose own would unwrap it
/// under the reading thread.
void shut_down(const py::object& sock) {
    try {
        py::module_ sockets = py::module_::import("socket");
        sockets.attr("socket").attr("shutdown")(sock, sockets.attr("SHUT_RDWR"));
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_OSError)) throw;  // closed meanwhile: nothing left to cut
    }
}

/// The trace callback of one request: learns the connection's socket, and
/// ends a watch that no back-end call owns when its response is closed.
py::cpp_function tracer(pv::RequestWatch request, py::object previous) {
    return py::cpp_function([request, previous](py::object name, py::object info) {
        if (!previous.is_none()) previous(name, info);
        pv::TraceEvent event = pv::trace_event(host::str_of(name));
        if (event == pv::TraceEvent::Connected) {
            py::object stream = info.attr("get")("return_value");
            if (stream.is_none()) return;
            py::object sock = stream.attr("get_extra_info")("socket");
            if (!sock.is_none()) request.watch->connected([sock] { shut_down(sock); });
        } else if (!request.owned && event == pv::TraceEvent::ResponseClosed) {
            request.watch->finish();
        }
    });
}

}  // namespace

py::object deadline_hooks(py::object timeout) {
    if (timeout.is_none()) return py::none();
    double seconds = timeout.cast<double>();
    py::cpp_function on_request([seconds](py::object request) {
        // A request that starts late in its run has only what is left of it.
        pv::RequestWatch watch =
            pv::watch_for_request([seconds] { return start_watch(*pv::timeout_within_run(seconds)); });
        // A fresh connection for every request: its socket is then always learnt.
        request.attr("headers")[py::str("Connection")] = py::str("close");
        py::object extensions = request.attr("extensions");
        py::object previous = extensions.attr("get")("trace");
        extensions[py::str("trace")] = tracer(watch, previous);
    });
    return py::dict(py::arg("request") = py::make_tuple(on_request), py::arg("response") = py::tuple());
}

}  // namespace tarvok::generative::bind
