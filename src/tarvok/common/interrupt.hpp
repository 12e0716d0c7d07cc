// A way for the host to stop long pure-C++ work (compiling, instantiating,
// solving) without the cores knowing anything about the host.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

namespace tarvok {

/// Thrown by `Interrupt` when the host asks the work to stop. It unwinds the
/// work, which frees everything it holds on the way out.
struct Interrupted {};

/// The work calls `tick()` for every small unit it does (a token, an
/// evaluation step, a node). Every few milliseconds of such work, `tick()`
/// asks `poll`; when the answer is true it throws Interrupted. The host gives
/// the answer its meaning: the Python bindings check for a pending Ctrl-C.
class Interrupt {
  public:
    using Poll = std::function<bool()>;

    explicit Interrupt(Poll poll, std::chrono::microseconds every = std::chrono::milliseconds(5))
        : poll_(std::move(poll)), every_(every), last_(std::chrono::steady_clock::now()) {}

    /// Cheap: looks at the clock once in 1024 calls.
    void tick() {
        if ((++calls_ & 1023) == 0) check();
    }

    /// Polls now if the interval has passed since the last poll.
    void check() {
        auto now = std::chrono::steady_clock::now();
        if (now - last_ < every_) return;
        last_ = now;
        if (poll_ && poll_()) throw Interrupted{};
    }

  private:
    Poll poll_;
    std::chrono::microseconds every_;
    std::chrono::steady_clock::time_point last_;
    uint32_t calls_ = 0;
};

/// `interrupt->tick()` when there is one.
inline void tick(Interrupt* interrupt) {
    if (interrupt) interrupt->tick();
}

}  // namespace tarvok
