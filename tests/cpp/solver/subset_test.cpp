#include "solver/backend.hpp"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace tarvok::solver {
namespace {

/// A subset whose variables have the bounds in `has`; it turns feasible
/// only without a bound in `needed`.
struct FakeSubset {
    std::set<std::pair<size_t, bool>> has, needed;
    std::vector<std::pair<size_t, bool>> tried;

    BoundTrials trials() {
        return {[this](size_t v, bool low) {
                    return has.count({v, low}) > 0;
                },
                [this](size_t v, bool low) {
                    tried.push_back({v, low});
                    return needed.count({v, low}) == 0;
                }};
    }
};

TEST(NeededBounds, OnlyTheBoundsWithoutWhichTheSubsetIsFeasibleStay) {
    FakeSubset s;
    s.has = {{0, true}, {0, false}, {1, true}, {2, false}, {3, true}, {3, false}};
    s.needed = {{0, true}, {0, false}, {1, true}, {2, false}, {3, false}};
    // 0 both, 1 lower, 2 upper, 3 upper only (its lower is not needed), 4 none at all.
    EXPECT_EQ(needed_bounds(5, s.trials()), (std::vector<int>{4, 2, 3, 3, 0}));
    // The lower bound of each variable is tried before its upper one.
    EXPECT_EQ(s.tried.front(), (std::pair<size_t, bool>{0, true}));
    EXPECT_EQ(s.tried.size(), 6u);
}

TEST(NeededBounds, PastTheTrialLimitBoundsAreKeptUntried) {
    FakeSubset s;
    for (size_t v = 0; v < 3; ++v) s.has.insert({v, true});
    EXPECT_EQ(needed_bounds(3, s.trials(), 1), (std::vector<int>{0, 2, 2}));
    EXPECT_EQ(s.tried.size(), 1u);
}

}  // namespace
}  // namespace tarvok::solver
