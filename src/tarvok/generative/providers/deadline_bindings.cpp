// The bound on one request's whole time. The client libraries' own timeouts
// hold for each read, so a server that sends a byte now and then keeps a
// request alive for ever. Each client the back-ends make is given a request
// hook: the first request of a back-end call starts a watch of
// REQUEST_TIMEOUT seconds, the connection's socket is learnt through the
// transport's trace events, and when the time is up the socket is shut down,
// which ends the read in progress at once. The back-end then reports the
// request as timed out.
#include "generative/providers/back_end.hpp"
#include "generative/providers/back_end_texts.hpp"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace tarvok::generative::bind {

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

/// The watch over one back-end call's requests.
struct Watch {
    double seconds = 0;
    double deadline = 0;
    std::atomic<bool> cut{false};
    std::mutex lock;    ///< guards the objects below, which two threads touch
    py::object socket;  ///< the socket of the connection in use, once connected
    py::object timer;   ///< the threading.Timer that cuts the request
    std::atomic<bool> finished{false};

    /// Shuts the connection down: a read waiting on it returns at once.
    void cut_now() {
        cut = true;
        py::object held;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (finished) return;
            held = socket;
        }
        if (!held) return;
        try {
            // The plain socket's shutdown, also for a TLS socket, whose own
            // would unwrap it under the reading thread.
            py::module_ sockets = py::module_::import("socket");
            sockets.attr("socket").attr("shutdown")(held, sockets.attr("SHUT_RDWR"));
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_OSError)) throw;  // closed meanwhile: nothing left to cut
        }
    }

    void finish() {
        py::object stopping;
        {
            std::lock_guard<std::mutex> guard(lock);
            finished = true;
            stopping = timer;
            socket = py::object();
        }
        if (stopping) stopping.attr("cancel")();
    }

    void use_socket(py::object sock) {
        {
            std::lock_guard<std::mutex> guard(lock);
            socket = std::move(sock);
        }
        if (cut) cut_now();  // connected after the time was up
    }
};

/// The watch of the back-end call running on this thread, and whether one runs.
thread_local std::shared_ptr<Watch> current;
thread_local int calls_running = 0;

std::shared_ptr<Watch> start_watch(double seconds) {
    auto watch = std::make_shared<Watch>();
    watch->seconds = seconds;
    watch->deadline = now() + seconds;
    std::weak_ptr<Watch> weak = watch;
    py::cpp_function fire([weak]() {
        if (std::shared_ptr<Watch> w = weak.lock()) w->cut_now();
    });
    py::object timer = py::module_::import("threading").attr("Timer")(seconds, fire);
    timer.attr("daemon") = true;
    timer.attr("name") = "tarvok-request-deadline";
    watch->timer = timer;
    timer.attr("start")();
    return watch;
}

/// The trace callback of one request: learns the connection's socket, and
/// ends a watch that no back-end call owns when its response is closed.
py::cpp_function tracer(std::shared_ptr<Watch> watch, py::object previous, bool owned) {
    return py::cpp_function([watch, previous, owned](py::object name, py::object info) {
        if (!previous.is_none()) previous(name, info);
        pv::TraceEvent event = pv::trace_event(host::str_of(name));
        if (event == pv::TraceEvent::Connected) {
            py::object stream = info.attr("get")("return_value");
            if (stream.is_none()) return;
            py::object sock = stream.attr("get_extra_info")("socket");
            if (!sock.is_none()) watch->use_socket(sock);
        } else if (!owned && event == pv::TraceEvent::ResponseClosed) {
            watch->finish();
        }
    });
}

}  // namespace

py::object deadline_hooks(py::object timeout) {
    if (timeout.is_none()) return py::none();
    double seconds = timeout.cast<double>();
    py::cpp_function on_request([seconds](py::object request) {
        bool owned = calls_running > 0;
        std::shared_ptr<Watch> watch;
        if (owned && current && !current->finished) {
            watch = current;  // a redirect: the same call, the same deadline
        } else {
            watch = start_watch(seconds);
            if (owned) current = watch;
        }
        // A fresh connection for every request: its socket is then always learnt.
        request.attr("headers")[py::str("Connection")] = py::str("close");
        py::object extensions = request.attr("extensions");
        py::object previous = extensions.attr("get")("trace");
        extensions[py::str("trace")] = tracer(watch, previous, owned);
    });
    py::dict hooks;
    hooks["request"] = py::make_tuple(on_request);
    hooks["response"] = py::tuple();
    return hooks;
}

BoundedCall::BoundedCall() {
    ++calls_running;
    current.reset();
}

BoundedCall::~BoundedCall() {
    --calls_running;
    std::shared_ptr<Watch> watch = std::move(current);
    current.reset();
    if (!watch) return;
    py::error_scope keep;  // an error in flight stays the one raised
    try {
        watch->finish();
    } catch (py::error_already_set&) {
    }
    PyErr_Clear();
}

std::optional<std::string> BoundedCall::timed_out() const {
    if (!current || !(current->cut || now() >= current->deadline)) return std::nullopt;
    return pv::timed_out_text(current->seconds);
}

}  // namespace tarvok::generative::bind
