#include "cli/solve_outcome.hpp"

#include <gtest/gtest.h>

using namespace tarvok::cli;
using tarvok::ExitStatus;

TEST(SolveStatus, TheGravestFindingGivesTheStatus) {
    EXPECT_EQ(loop_status({.compiled = false, .alignment = true}), ExitStatus::DoesNotCompile);
    SolveFacts infeasible{.compiled = true, .execution_check = true, .solver_status = "infeasible", .alignment = true};
    EXPECT_EQ(loop_status(infeasible), ExitStatus::NotOptimal);
    infeasible.execution_check = false;  // a status the check was not asked for decides nothing
    EXPECT_EQ(loop_status(infeasible), ExitStatus::NotAligned);
    EXPECT_EQ(loop_status({.compiled = true, .execution_check = true, .solver_status = "optimal"}),
              ExitStatus::Success);
    EXPECT_EQ(with_run_and_emit(ExitStatus::NotAligned, 3, 2), ExitStatus::NotOptimal);
    EXPECT_EQ(with_run_and_emit(ExitStatus::NotAligned, 0, 2), ExitStatus::Usage);
    EXPECT_EQ(with_run_and_emit(ExitStatus::NotAligned, 0, std::nullopt), ExitStatus::NotAligned);
}

TEST(SolveClosingLine, SaysWhereThePairIs) {
    SolvePlaces places{"m.mod", "m.dat", false, "m.mod.failed and m.dat.failed", "m.mod and m.dat"};
    EXPECT_EQ(closing_line({.compiled = false}, places),
              "the final model does not compile; m.mod and m.dat were not written; the last attempt is in "
              "m.mod.failed and m.dat.failed");
    places.existed = true;
    EXPECT_NE(closing_line({.compiled = false}, places).find("are unchanged"), std::string::npos);
    EXPECT_EQ(closing_line({.compiled = true, .execution_check = true, .solver_status = "unbounded"}, places),
              "the final model compiles but the execution check found it unbounded; it is in m.mod and m.dat");
    EXPECT_EQ(closing_line({.compiled = true, .alignment = true, .aligned = true}, places), "");
}
