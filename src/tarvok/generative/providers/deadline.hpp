// The bound on one back-end call's whole time, as decisions without the host.
// A watch starts with the first request of a call; the host tells it when the
// connection in use was made (and how to cut it), when its timer fired and
// when the call ended; the watch decides whether and when to cut.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tarvok::generative::providers {

/// Seconds on the steady clock.
double steady_now();

/// The watch over one back-end call's requests. The timer and the connection
/// belong to the host, which hands over the way to stop the one and cut the
/// other; both may be used from the timer's thread and the requesting one.
class Watch {
  public:
    explicit Watch(double seconds, double now = steady_now()) : seconds_(seconds), deadline_(now + seconds) {}

    double seconds() const { return seconds_; }
    bool finished() const { return finished_; }
    /// How the host stops the timer once the call is over.
    void on_finish(std::function<void()> stop_timer);

    /// The time is up: cuts the connection in use, or the next one made.
    void expire();
    /// A connection was made; `cut` shuts it down. Cut at once when the time is already up.
    void connected(std::function<void()> cut);
    /// The call is over: nothing is cut any more and the timer stops.
    void finish();
    /// When the requests ran into the deadline by `now`: the text that says so.
    std::optional<std::string> timed_out(double now = steady_now()) const;

  private:
    double seconds_, deadline_;
    std::atomic<bool> expired_{false}, finished_{false};
    std::mutex lock_;  ///< guards the two below
    std::function<void()> cut_, stop_timer_;
};

/// One back-end call on this thread that owns the watch its requests start;
/// not nested. Ending it finishes that watch.
class BoundedCall {
  public:
    BoundedCall();
    ~BoundedCall();
    BoundedCall(const BoundedCall&) = delete;
    BoundedCall& operator=(const BoundedCall&) = delete;
    /// When the call's requests ran into their deadline: the text that says
    /// so, naming the timeout ("request timed out: ...").
    std::optional<std::string> timed_out() const;
};

/// The watch of a request that starts now on this thread.
struct RequestWatch {
    std::shared_ptr<Watch> watch;
    bool owned;  ///< a call owns it; else the request's own end finishes it
};

/// Inside a call, the call's watch while it runs (a redirect keeps the
/// deadline), else a new one made by `start`, which the call then owns.
/// Outside any call, a new one for this request alone.
RequestWatch watch_for_request(const std::function<std::shared_ptr<Watch>()>& start);

}  // namespace tarvok::generative::providers
