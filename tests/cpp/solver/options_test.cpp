#include "solver/options.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace tarvok::solver {
namespace {

const std::vector<std::string>& kSolvers = solver_names();

Argument none() {
    Argument a;
    a.kind = Argument::Kind::None;
    a.type_name = "NoneType";
    return a;
}
Argument flag(bool b) {
    Argument a;
    a.kind = Argument::Kind::Bool;
    a.flag = b;
    a.text = b ? "True" : "False";
    a.type_name = "bool";
    return a;
}
Argument whole(long long n) {
    Argument a;
    a.kind = Argument::Kind::Int;
    a.whole = n;
    a.number = static_cast<double>(n);
    a.text = std::to_string(n);
    a.type_name = "int";
    return a;
}
Argument real(double v, const char* text) {
    Argument a;
    a.kind = Argument::Kind::Float;
    a.number = v;
    a.text = text;
    a.type_name = "float";
    return a;
}
Argument str(const std::string& s) {
    Argument a;
    a.kind = Argument::Kind::Str;
    a.text = s;
    a.repr = "'" + s + "'";
    a.type_name = "str";
    return a;
}
Argument other(const char* type) {
    Argument a;
    a.type_name = type;
    return a;
}

SolveArguments defaults() { return {none(), none(), none(), flag(false), flag(false), str("highs")}; }

/// The refusal for these arguments: "TypeError: ..." or "ValueError: ...".
std::string refusal(const SolveArguments& a) {
    auto checked = check_solve_options("solve_model", a, kSolvers);
    const tarvok::Error* no = std::get_if<tarvok::Error>(&checked);
    if (!no) return "accepted";
    return std::string(no->kind() == tarvok::Error::Kind::Type ? "TypeError: " : "ValueError: ") + no->message();
}

TEST(SolveOptions, TheDefaultsAskForNothing) {
    auto checked = check_solve_options("solve_model", defaults(), kSolvers);
    ASSERT_TRUE(std::holds_alternative<SolveChoice>(checked));
    const SolveChoice& c = std::get<SolveChoice>(checked);
    EXPECT_TRUE(std::isnan(c.settings.time_limit));
    EXPECT_TRUE(std::isnan(c.settings.mip_gap));
    EXPECT_FALSE(c.settings.threads.has_value());
    EXPECT_EQ(c.settings.sensitivity, 0);
    EXPECT_EQ(c.solver, 0u);
}

TEST(SolveOptions, ValuesAreReadAsTheirMeaning) {
    SolveArguments a = defaults();
    a.time_limit = whole(5);
    a.mip_gap = real(0.0, "0.0");  // a gap of zero is allowed; a time limit of zero is not
    a.threads = whole(1LL << 40);
    a.log = flag(true);
    a.sensitivity = str("duals");
    a.solver = str("scip");
    SolveChoice c = std::get<SolveChoice>(check_solve_options("f", a, kSolvers));
    EXPECT_EQ(c.settings.time_limit, 5);
    EXPECT_EQ(c.settings.mip_gap, 0);
    EXPECT_EQ(c.settings.threads, 1 << 16);  // a pool this large is no pool: capped
    EXPECT_TRUE(c.settings.log);
    EXPECT_EQ(c.settings.sensitivity, 1);
    EXPECT_EQ(c.solver, 1u);
    a.sensitivity = flag(true);
    a.solver = str("highs");
    EXPECT_EQ(std::get<SolveChoice>(check_solve_options("f", a, kSolvers)).settings.sensitivity, 2);
}

TEST(SolveOptions, EachRefusalNamesTheFunctionTheArgumentAndWhatWasGiven) {
    struct Case {
        void (*set)(SolveArguments&);
        const char* expected;
    };
    const Case cases[] = {
        {[](SolveArguments& a) { a.time_limit = str("5"); },
         "TypeError: solve_model() argument 'time_limit' must be float, int or None, not str"},
        {[](SolveArguments& a) { a.time_limit = whole(0); },
         "ValueError: solve_model() argument 'time_limit' must be greater than 0, not 0"},
        {[](SolveArguments& a) { a.mip_gap = real(std::nan(""), "nan"); },
         "ValueError: solve_model() argument 'mip_gap' must be at least 0, not nan"},
        {[](SolveArguments& a) { a.mip_gap = flag(true); },
         "TypeError: solve_model() argument 'mip_gap' must be float, int or None, not bool"},
        {[](SolveArguments& a) { a.threads = real(2, "2.0"); },
         "TypeError: solve_model() argument 'threads' must be int or None, not float"},
        {[](SolveArguments& a) { a.threads = whole(0); },
         "ValueError: solve_model() argument 'threads' must be at least 1, not 0"},
        {[](SolveArguments& a) { a.log = none(); },
         "TypeError: solve_model() argument 'log' must be bool, not NoneType"},
        {[](SolveArguments& a) { a.sensitivity = str("all"); },
         "ValueError: solve_model() argument 'sensitivity' must be True, False, 'duals' or 'ranging', not 'all'"},
        {[](SolveArguments& a) { a.sensitivity = whole(1); },
         "TypeError: solve_model() argument 'sensitivity' must be bool or str, not int"},
        {[](SolveArguments& a) { a.solver = str("glpk"); },
         "ValueError: solve_model() argument 'solver' must be 'highs' or 'scip', not 'glpk'"},
        {[](SolveArguments& a) { a.solver = other("Path"); },
         "TypeError: solve_model() argument 'solver' must be str, not Path"},
        {[](SolveArguments& a) {
             a.solver = str("scip");
             a.sensitivity = str("ranging");
         },
         "ValueError: solve_model() argument 'sensitivity': ranging needs solver='highs'; with solver='scip' ask for "
         "sensitivity='duals'"},
        // Sensitivity is checked first: it decides what else is asked for.
        {[](SolveArguments& a) {
             a.time_limit = whole(-1);
             a.sensitivity = other("list");
         },
         "TypeError: solve_model() argument 'sensitivity' must be bool or str, not list"},
    };
    for (const Case& c : cases) {
        SolveArguments a = defaults();
        c.set(a);
        EXPECT_EQ(refusal(a), c.expected);
    }
}

TEST(SolveOptions, ThreeSolversAreListedWithCommas) {
    auto checked = solver_choice("_check_solver", str("x"), {"a", "b", "c"});
    EXPECT_EQ(std::get<tarvok::Error>(checked).message(),
              "_check_solver() argument 'solver' must be 'a', 'b' or 'c', not 'x'");
}

TEST(ModelFiles, TheExtensionChoosesTheFormatInAnyCase) {
    EXPECT_EQ(std::get<NameFormat>(model_file_format("out/Model.LP")), NameFormat::Lp);
    EXPECT_EQ(std::get<NameFormat>(model_file_format("m.mps")), NameFormat::Mps);
    auto refused = model_file_format("m.mps.txt");
    EXPECT_EQ(std::get<tarvok::Error>(refused).message(),
              "write_model() writes .mps or .lp files; 'm.mps.txt' has neither extension");
    EXPECT_FALSE(std::get<tarvok::Error>(refused).kind() == tarvok::Error::Kind::Type);
}

}  // namespace
}  // namespace tarvok::solver
