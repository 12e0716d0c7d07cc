#include "solver/backend.hpp"

namespace tarvok::solver {

std::vector<int> needed_bounds(size_t variables, const BoundTrials& trials, int most_trials) {
    constexpr int kLower = 2, kUpper = 3, kBoxed = 4;
    int made = 0;
    std::vector<int> out(variables, 0);
    for (size_t v = 0; v < variables; ++v) {
        bool kept[2] = {false, false};  // [upper, lower]
        for (int low = 1; low >= 0; --low) {
            if (!trials.has_bound(v, low)) continue;
            kept[low] = true;
            if (++made > most_trials) continue;
            if (trials.infeasible_without(v, low)) kept[low] = false;
        }
        out[v] = kept[0] && kept[1] ? kBoxed : kept[1] ? kLower : kept[0] ? kUpper : 0;
    }
    return out;
}

}  // namespace tarvok::solver
