// The checks of a solve's options and of the file a model is written to,
// with their messages: the host hands over each argument's kind and
// spelling, and raises what comes back.
#pragma once

#include "common/error.hpp"

#include "solver/backend.hpp"
#include "solver/program.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvok::solver {

/// A solver the module offers: its name as `solver=` and --solver take it,
/// the Python package it drives and the extra that installs it.
struct SolverLibrary {
    const char* name;
    const char* library;
    const char* extra;
};

/// The solvers, the default (the only one that ranges) first. To add one: a
/// line here, its adapter file beside solver_bindings.cpp (which registers its
/// factory under the same name) and its extra in pyproject.toml.
inline constexpr SolverLibrary kSolverLibraries[] = {
    {"highs", "highspy", "solve"},
    {"scip", "pyscipopt", "scip"},
};

/// The names of kSolverLibraries, in their order.
const std::vector<std::string>& solver_names();

/// The solvers' names as messages list them: 'highs' or 'scip'.
std::string choices(const std::vector<std::string>& solvers);

/// An argument as the host holds it: its exact built-in kind (a bool is no
/// int, a str subclass no str), its value, and how messages spell it.
struct Argument {
    enum class Kind : uint8_t { None, Bool, Int, Float, Str, Other };
    Kind kind = Kind::Other;
    bool flag = false;      ///< Bool
    long long whole = 0;    ///< Int
    double number = 0;      ///< Int and Float
    std::string text;       ///< str() of a Bool, Int or Float; the text of a Str
    std::string repr;       ///< repr() of a Str
    std::string type_name;  ///< type(value).__name__
};

struct SolveArguments {
    Argument time_limit, mip_gap, threads, log, sensitivity, solver;
};

/// The options of one solve, checked, and the solver chosen (its index in
/// `solvers`).
struct SolveChoice {
    SolveSettings settings;
    size_t solver = 0;
};

/// The solver named by `solver`, an index in `solvers` (the default first,
/// the only one that ranges); `function` names the caller in messages.
std::variant<size_t, Error> solver_choice(std::string_view function, const Argument& solver,
                                          const std::vector<std::string>& solvers);

/// Checks the options in the order of the signature (sensitivity first, as
/// it decides what else is asked for).
std::variant<SolveChoice, Error> check_solve_options(std::string_view function, const SolveArguments& arguments,
                                                     const std::vector<std::string>& solvers);

/// The format a model file is written in, by its extension (any case), or
/// the message refusing any other extension.
std::variant<NameFormat, Error> model_file_format(const std::string& path);

}  // namespace tarvok::solver
