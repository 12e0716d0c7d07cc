// Voting among independent generations of one problem: the answer most of
// them reach, and how many agree on it.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace tarvok::evaluation {

/// One generation's outcome.
struct Candidate {
    std::optional<double> objective;  ///< none when the final model was not solved to optimality
    long long repairs = 0;            ///< its repair rounds
};

struct Vote {
    std::optional<std::size_t> chosen;  ///< the winning candidate; none when no candidate has an answer
    std::size_t agreeing = 0;           ///< candidates whose objective is the winner's (within the tolerance)
    double confidence = 0;              ///< agreeing / all candidates
};

/// The objective most candidates reach, two objectives agreeing within
/// rel_tol * max(1, |objective|) of the first; ties go to the candidate with
/// fewer repairs, then to the earlier one. Candidates without an answer count
/// against the confidence.
Vote vote(const std::vector<Candidate>& candidates, double rel_tol);

/// "all_agree" (every candidate), "majority" (more than half) or "split".
std::string_view agreement(const Vote& vote, std::size_t candidates);

}  // namespace tarvok::evaluation
