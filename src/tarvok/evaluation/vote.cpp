#include "evaluation/vote.hpp"

#include <algorithm>
#include <cmath>

namespace tarvok::evaluation {

Vote vote(const std::vector<Candidate>& candidates, double rel_tol) {
    Vote best;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const auto& objective = candidates[i].objective;
        if (!objective || !std::isfinite(*objective)) continue;
        std::size_t agreeing = 0;
        for (const Candidate& other : candidates) {
            agreeing += other.objective && std::isfinite(*other.objective) &&
                        std::fabs(*other.objective - *objective) <= rel_tol * std::max(1.0, std::fabs(*objective));
        }
        bool better = !best.chosen || agreeing > best.agreeing ||
                      (agreeing == best.agreeing && candidates[i].repairs < candidates[*best.chosen].repairs);
        if (better) {
            best.chosen = i;
            best.agreeing = agreeing;
        }
    }
    if (!candidates.empty())
        best.confidence = static_cast<double>(best.agreeing) / static_cast<double>(candidates.size());
    return best;
}

std::string_view agreement(const Vote& vote, std::size_t candidates) {
    if (candidates > 0 && vote.agreeing == candidates) return "all_agree";
    if (2 * vote.agreeing > candidates) return "majority";
    return "split";
}

}  // namespace tarvok::evaluation
