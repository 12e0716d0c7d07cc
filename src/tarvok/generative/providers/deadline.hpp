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
#include <vector>

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
    /// Its run was given up: cut as expire() does, and said so instead of a timeout.
    void abandon();
    /// A connection was made; `cut` shuts it down. Cut at once when the time is already up.
    void connected(std::function<void()> cut);
    /// The call is over: nothing is cut any more and the timer stops.
    void finish();
    /// When the requests ran into the deadline by `now`: the text that says so.
    std::optional<std::string> timed_out(double now = steady_now()) const;

  private:
    double seconds_, deadline_;
    std::atomic<bool> expired_{false}, abandoned_{false}, finished_{false};
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

/// What bounds every request of one run (a generation, a question put to an
/// LLM) besides each request's own timeout: the run's deadline, and its
/// caller, who may give it up from another thread. Giving it up cuts the
/// request in flight at once, not only before the next one, and every one
/// it starts later as soon as it connects.
class RunBound {
  public:
    explicit RunBound(double seconds, double now = steady_now()) : deadline_(now + seconds) {}

    /// Gives the run up: its requests are cut and are not tried again.
    void abandon();
    bool abandoned() const { return abandoned_; }
    /// Given up, or past its deadline.
    bool over(double now = steady_now()) const { return abandoned_ || now >= deadline_; }
    /// Seconds left until the deadline; 0 once it has passed.
    double remaining(double now = steady_now()) const { return deadline_ > now ? deadline_ - now : 0; }
    /// A request of the run started under `watch`: cut when the run is given
    /// up, at once when it already was.
    void watch(const std::shared_ptr<Watch>& watch);

  private:
    double deadline_;
    std::atomic<bool> abandoned_{false};
    std::mutex lock_;  ///< guards watches_
    std::vector<std::weak_ptr<Watch>> watches_;
};

/// While it lives, the requests this thread starts belong to `run`.
class RunScope {
  public:
    explicit RunScope(std::shared_ptr<RunBound> run);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

  private:
    std::shared_ptr<RunBound> previous_;
};

/// Whether the run this thread's requests belong to is over (given up or
/// past its deadline); false outside any run.
bool run_over_here(double now = steady_now());

/// The timeout of a request that starts now on this thread: its own
/// (`timeout`, none for no bound of its own), within what is left of the
/// run it belongs to, so that a run's deadline bounds its requests too.
/// Never below a millisecond, so that the request ends at once when no time is left.
std::optional<double> timeout_within_run(std::optional<double> timeout, double now = steady_now());

/// Waits `seconds` through `sleep` in pieces of at most a tenth of a second
/// while the run of this thread goes on; all at once outside any run.
void back_off(double seconds, const std::function<void(double)>& sleep);

}  // namespace tarvok::generative::providers
