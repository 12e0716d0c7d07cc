// What the fuzz harnesses share: checks that abort with a named finding, the
// split of an input into a model and a data text, the step budgets of this
// build, and the time oracle.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

namespace tarvok::fuzz {

/// A finding unless `condition` holds; libFuzzer keeps the input.
inline void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "oracle: %s\n", what);
    std::abort();
}

/// An input is a model text, then optionally "\n%%\n" and a data text.
struct ModelAndData {
    std::string_view model, data;
};

inline ModelAndData split_input(const uint8_t* bytes, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(bytes), size);
    size_t cut = input.find("\n%%\n");
    if (cut == std::string_view::npos) return {input, {}};
    return {input.substr(0, cut), input.substr(cut + 4)};
}

/// The compiler's step budgets cut by the slowdown of this build (coverage
/// and sanitizers make an evaluation step some 50 times slower): a budget
/// spent in full is bounded work by design, and the oracle is after work
/// that is not.
template <typename CompileOptions>
void cut_step_budgets(CompileOptions& options) {
    options.data_steps /= 64;
    options.steps_per_declaration /= 64;
    options.check_steps /= 64;
}

/// More than a second of processor time (so that other work on a shared
/// machine does not count) from construction to `check` is a finding.
class TimeOracle {
  public:
    void check(size_t size, const char* what) const {
        double seconds = static_cast<double>(std::clock() - start_) / CLOCKS_PER_SEC;
        if (seconds > 1.0) std::fprintf(stderr, "oracle: %.2f s for %zu bytes\n", seconds, size);
        fuzz::check(seconds <= 1.0, what);
    }

  private:
    std::clock_t start_ = std::clock();
};

}  // namespace tarvok::fuzz
