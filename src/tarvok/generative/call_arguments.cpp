#include "generative/call_arguments.hpp"

#include "generative/providers/providers.hpp"

#include <cmath>

namespace tarvok::generative {

namespace {

/// The one kind an exact-kind rule takes, with its name as the host spells the type.
struct ExactKind {
    SeenKind kind;
    const char* name;
    bool or_none;
};

std::optional<ExactKind> exact_kind(Expect expect) {
    switch (expect) {
    case Expect::Bool: return ExactKind{SeenKind::Bool, "bool", false};
    case Expect::BoolOrNone: return ExactKind{SeenKind::Bool, "bool", true};
    case Expect::StrOrNone: return ExactKind{SeenKind::Str, "str", true};
    case Expect::FloatOrNone: return ExactKind{SeenKind::Float, "float", true};
    case Expect::ListOrNone: return ExactKind{SeenKind::List, "list", true};
    case Expect::Count: return ExactKind{SeenKind::Int, "int", false};
    default: return std::nullopt;
    }
}

Refusal type_refusal(std::string_view subject, std::string_view wanted, std::string_view type_name) {
    return {Refusal::Error::Type,
            std::string(subject) + " must be " + std::string(wanted) + ", not " + std::string(type_name)};
}

Refusal value_refusal(std::string_view subject, std::string_view wanted, std::string_view shown) {
    return {Refusal::Error::Value,
            std::string(subject) + " must be " + std::string(wanted) + ", not " + std::string(shown)};
}

}  // namespace

std::string run_parameter_list() {
    std::string out;
    for (std::size_t i = 0; i < std::size(kRunParameters); ++i) {
        if (i > 0) out += ", ";
        if (i == kRunPositional) out += "*, ";
        out += kRunParameters[i].name;
        if (kRunParameters[i].given != nullptr) out += std::string("=") + kRunParameters[i].given;
    }
    return out;
}

std::string argument_subject(std::string_view function, std::string_view name) {
    return std::string(function) + "() argument '" + std::string(name) + "'";
}

std::optional<Refusal> kind_refusal(std::string_view subject, Expect expect, SeenKind kind, bool callable,
                                    std::string_view type_name) {
    if (std::optional<ExactKind> exact = exact_kind(expect)) {
        if (kind == exact->kind || (exact->or_none && kind == SeenKind::None)) return std::nullopt;
        std::string wanted = std::string(exact->name) + (exact->or_none ? " or None" : "");
        return type_refusal(subject, wanted, type_name);
    }
    if (expect == Expect::CallableOrNone) {
        if (kind == SeenKind::None || callable) return std::nullopt;
        return type_refusal(subject, "callable or None", type_name);
    }
    // Seconds: an int or a float, or None.
    if (kind == SeenKind::None || kind == SeenKind::Int || kind == SeenKind::Float) return std::nullopt;
    return type_refusal(subject, "a number of seconds or None", type_name);
}

bool judges_number(Expect expect) {
    return expect == Expect::Count || expect == Expect::Seconds || expect == Expect::FiniteSeconds;
}

std::optional<Refusal> number_refusal(std::string_view subject, Expect expect, double number, std::string_view shown) {
    if (expect == Expect::Count) {
        if (number < 0) return value_refusal(subject, "at least 0", shown);
        return std::nullopt;
    }
    if (!judges_number(expect)) return std::nullopt;
    if (!(number > 0)) return value_refusal(subject, "greater than 0", shown);  // NaN too
    if (expect == Expect::FiniteSeconds && !std::isfinite(number)) return value_refusal(subject, "finite", shown);
    return std::nullopt;
}

Refusal choice_refusal(std::string_view subject, const std::vector<std::string>& names, std::string_view shown) {
    std::vector<std::string> quoted;
    for (const std::string& name : names) quoted.push_back("'" + name + "'");
    return value_refusal(subject, providers::spoken_list({quoted.begin(), quoted.end()}, "or"), shown);
}

std::string same_file_refusal(std::string_view function, std::string_view first, std::string_view second,
                              std::string_view shown) {
    return std::string(function) + "(): " + std::string(first) + " and " + std::string(second) +
           " name the same file: " + std::string(shown);
}

SolverNeed solver_need(std::string_view step, std::string_view solver) {
    bool highs = solver == "highs";
    return {std::string(step) + " " + std::string(highs ? "HiGHS" : solver) + " and", highs};
}

}  // namespace tarvok::generative
