// The rules the loop's entry points check their arguments by.
#include "generative/call_arguments.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tarvok::generative;

namespace {

const std::string kSubject = argument_subject("run_generation", "x");

std::string type_error(Expect expect, SeenKind kind, bool callable = false, const char* type = "T") {
    std::optional<Refusal> r = kind_refusal(kSubject, expect, kind, callable, type);
    if (!r) return "";
    EXPECT_EQ(r->error, Refusal::Error::Type);
    return r->message;
}

std::string value_error(Expect expect, double number) {
    std::optional<Refusal> r = number_refusal(kSubject, expect, number, "N");
    if (!r) return "";
    EXPECT_EQ(r->error, Refusal::Error::Value);
    return r->message;
}

TEST(CallArguments, KindsAreExactAndNoneOnlyWhereTheRuleTakesIt) {
    EXPECT_EQ(type_error(Expect::Bool, SeenKind::Bool), "");
    EXPECT_EQ(type_error(Expect::Bool, SeenKind::None, false, "NoneType"),
              "run_generation() argument 'x' must be bool, not NoneType");
    EXPECT_EQ(type_error(Expect::BoolOrNone, SeenKind::None), "");
    EXPECT_EQ(type_error(Expect::BoolOrNone, SeenKind::Int, false, "int"),
              "run_generation() argument 'x' must be bool or None, not int");
    EXPECT_EQ(type_error(Expect::Count, SeenKind::Bool, false, "bool"),
              "run_generation() argument 'x' must be int, not bool");  // a bool is no count
    EXPECT_EQ(type_error(Expect::StrOrNone, SeenKind::Other, false, "MyStr"),
              "run_generation() argument 'x' must be str or None, not MyStr");  // nor is a subclass
    EXPECT_EQ(type_error(Expect::FloatOrNone, SeenKind::Int, false, "int"),
              "run_generation() argument 'x' must be float or None, not int");
    EXPECT_EQ(type_error(Expect::ListOrNone, SeenKind::List), "");
    EXPECT_EQ(type_error(Expect::CallableOrNone, SeenKind::Other, true), "");
    EXPECT_EQ(type_error(Expect::CallableOrNone, SeenKind::Str, false, "str"),
              "run_generation() argument 'x' must be callable or None, not str");
}

TEST(CallArguments, SecondsArePositiveNumbersAndATimeoutIsFinite) {
    for (SeenKind k : {SeenKind::None, SeenKind::Int, SeenKind::Float}) EXPECT_EQ(type_error(Expect::Seconds, k), "");
    EXPECT_EQ(type_error(Expect::FiniteSeconds, SeenKind::Bool, false, "bool"),
              "run_generation() argument 'x' must be a number of seconds or None, not bool");
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(value_error(Expect::Seconds, 0.5), "");
    EXPECT_EQ(value_error(Expect::Seconds, inf), "");  // no limit
    EXPECT_EQ(value_error(Expect::Seconds, 0), "run_generation() argument 'x' must be greater than 0, not N");
    EXPECT_EQ(value_error(Expect::Seconds, std::nan("")),
              "run_generation() argument 'x' must be greater than 0, not N");
    EXPECT_EQ(value_error(Expect::FiniteSeconds, inf), "run_generation() argument 'x' must be finite, not N");
    EXPECT_EQ(value_error(Expect::FiniteSeconds, -inf), "run_generation() argument 'x' must be greater than 0, not N");
    EXPECT_EQ(value_error(Expect::Count, 0), "");
    EXPECT_EQ(value_error(Expect::Count, -1), "run_generation() argument 'x' must be at least 0, not N");
    EXPECT_FALSE(judges_number(Expect::BoolOrNone));
}

TEST(CallArguments, ChoicesAndSolverNeedsAreWordedForTheCaller) {
    Refusal r = choice_refusal(argument_subject("run_generation", "solver"), {"highs", "scip"}, "'cplex'");
    EXPECT_EQ(r.error, Refusal::Error::Value);
    EXPECT_EQ(r.message, "run_generation() argument 'solver' must be 'highs' or 'scip', not 'cplex'");
    SolverNeed highs = solver_need(kExecutionCheckSolves, "highs");
    EXPECT_EQ(highs.why, "The execution check (EXECUTION_CHECK) solves models with HiGHS and");
    EXPECT_TRUE(highs.in_solve_extra);
    SolverNeed scip = solver_need(kWhatIfSolves, "scip");
    EXPECT_EQ(scip.why, "The what-if step solves every alternative with scip and");
    EXPECT_FALSE(scip.in_solve_extra);
    EXPECT_EQ(same_file_refusal("run_generation", "model_file", "data_file", "out/m.mod"),
              "run_generation(): model_file and data_file name the same file: out/m.mod");
}

}  // namespace
