#include "solver/options.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tarvok::solver {

const std::vector<std::string>& solver_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const SolverLibrary& solver : kSolverLibraries) out.emplace_back(solver.name);
        return out;
    }();
    return names;
}

namespace {

std::string prefix(std::string_view function, const char* name) {
    return std::string(function) + "() argument '" + name + "'";
}

Error wrong_type(std::string_view function, const char* name, const char* wanted, const Argument& a) {
    return Error::type(prefix(function, name) + " must be " + wanted + ", not " + a.type_name);
}

/// A non-negative number (positive when `positive`); NaN for None.
std::variant<double, Error> number_option(std::string_view function, const char* name, const Argument& a,
                                          bool positive) {
    if (a.kind == Argument::Kind::None) return std::nan("");
    if (a.kind != Argument::Kind::Float && a.kind != Argument::Kind::Int)
        return wrong_type(function, name, "float, int or None", a);
    double v = a.number;
    if (std::isnan(v) || v < 0 || (positive && v == 0))
        return Error::value(prefix(function, name) + " must be " + (positive ? "greater than 0" : "at least 0") +
                            ", not " + a.text);
    return v;
}

/// 0 none, 1 duals, 2 ranging.
std::variant<int, Error> sensitivity_option(std::string_view function, const Argument& a) {
    if (a.kind == Argument::Kind::Bool) return a.flag ? 2 : 0;
    if (a.kind != Argument::Kind::Str) return wrong_type(function, "sensitivity", "bool or str", a);
    if (a.text == "duals") return 1;
    if (a.text == "ranging") return 2;
    return Error::value(prefix(function, "sensitivity") + " must be True, False, 'duals' or 'ranging', not " + a.repr);
}

std::variant<std::optional<int>, Error> threads_option(std::string_view function, const Argument& a) {
    if (a.kind == Argument::Kind::None) return std::optional<int>();
    if (a.kind != Argument::Kind::Int) return wrong_type(function, "threads", "int or None", a);
    if (a.whole < 1) return Error::value(prefix(function, "threads") + " must be at least 1, not " + a.text);
    return std::optional<int>(static_cast<int>(std::min<long long>(a.whole, 1 << 16)));
}

}  // namespace

std::string choices(const std::vector<std::string>& solvers) {
    std::string out;
    size_t n = solvers.size();
    for (size_t k = 0; k < n; ++k)
        out += std::string(k == 0 ? "" : k + 1 == n ? " or " : ", ") + "'" + solvers[k] + "'";
    return out;
}

std::variant<size_t, Error> solver_choice(std::string_view function, const Argument& solver,
                                          const std::vector<std::string>& solvers) {
    if (solver.kind != Argument::Kind::Str) return wrong_type(function, "solver", "str", solver);
    for (size_t k = 0; k < solvers.size(); ++k)
        if (solver.text == solvers[k]) return k;
    return Error::value(prefix(function, "solver") + " must be " + choices(solvers) + ", not " + solver.repr);
}

std::variant<SolveChoice, Error> check_solve_options(std::string_view function, const SolveArguments& a,
                                                     const std::vector<std::string>& solvers) {
    SolveChoice choice;
    SolveSettings& s = choice.settings;
    auto sensitivity = sensitivity_option(function, a.sensitivity);
    if (auto* no = std::get_if<Error>(&sensitivity)) return *no;
    s.sensitivity = std::get<int>(sensitivity);
    auto time_limit = number_option(function, "time_limit", a.time_limit, true);
    if (auto* no = std::get_if<Error>(&time_limit)) return *no;
    s.time_limit = std::get<double>(time_limit);
    auto mip_gap = number_option(function, "mip_gap", a.mip_gap, false);
    if (auto* no = std::get_if<Error>(&mip_gap)) return *no;
    s.mip_gap = std::get<double>(mip_gap);
    auto threads = threads_option(function, a.threads);
    if (auto* no = std::get_if<Error>(&threads)) return *no;
    s.threads = std::get<std::optional<int>>(threads);
    if (a.log.kind != Argument::Kind::Bool) return wrong_type(function, "log", "bool", a.log);
    s.log = a.log.flag;
    auto solver = solver_choice(function, a.solver, solvers);
    if (auto* no = std::get_if<Error>(&solver)) return *no;
    choice.solver = std::get<size_t>(solver);
    if (s.sensitivity >= 2 && choice.solver != 0)
        return Error::value(prefix(function, "sensitivity") + ": ranging needs solver='" + solvers[0] +
                            "'; with solver='" + solvers[choice.solver] + "' ask for sensitivity='duals'");
    return choice;
}

std::variant<NameFormat, Error> model_file_format(const std::string& path) {
    std::string lower;
    for (char ch : path) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    auto ends = [&](std::string_view suffix) { return lower.ends_with(suffix); };
    if (ends(".lp")) return NameFormat::Lp;
    if (ends(".mps")) return NameFormat::Mps;
    return Error::value("write_model() writes .mps or .lp files; '" + path + "' has neither extension");
}

}  // namespace tarvok::solver
