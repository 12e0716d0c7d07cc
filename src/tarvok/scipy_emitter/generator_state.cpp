#include "scipy_emitter/generator_state.hpp"

#include "scipy_emitter/describe.hpp"

#include <cmath>

namespace tarvok::scipy_emitter {

namespace {

void expect_count(const char* attribute, std::size_t count, std::size_t expected) {
    if (count != expected)
        throw AttributeFault(std::string(attribute) + " has " + std::to_string(count) + " entries; var_names has " +
                             std::to_string(expected));
}

void expect_width(const char* attribute, const GivenMatrix& m, std::size_t columns) {
    if (m.dimensions != 2)
        throw AttributeFault(std::string(attribute) + " must have two dimensions, not " + std::to_string(m.dimensions));
    for (std::size_t width : m.widths)
        if (width != columns)
            throw AttributeFault(std::string(attribute) + " has " + std::to_string(width) + " columns; var_names has " +
                                 std::to_string(columns));
}

}  // namespace

ScriptInput script_input(const solver::Program& program, GeneratorState state) {
    ScriptInput in;
    describe_program(program, in);
    std::size_t n = state.var_names_length.value_or(state.var_names.size());
    expect_count("var_names", state.var_names.size(), n);
    expect_count("bounds", state.bounds.size(), n);
    for (std::size_t j = 0; j < n; ++j) {
        if (!state.bounds[j]) throw AttributeFault("bounds[" + std::to_string(j) + "] is not a (lower, upper) pair");
        in.lower.push_back(state.bounds[j]->first.value_or(-INFINITY));  // None: no bound
        in.upper.push_back(state.bounds[j]->second.value_or(INFINITY));
    }
    expect_count("integrality", state.integrality.size(), n);
    expect_count("c", state.c.size(), n);
    expect_width("A_ub", state.a_ub, n);
    expect_count("b_ub", state.b_ub.size(), state.a_ub.rows.rows());
    expect_count("ub_names", state.ub_names.size(), state.a_ub.rows.rows());
    expect_width("A_eq", state.a_eq, n);
    expect_count("b_eq", state.b_eq.size(), state.a_eq.rows.rows());
    expect_count("eq_names", state.eq_names.size(), state.a_eq.rows.rows());

    in.column_names = std::move(state.var_names);
    in.integer = std::move(state.integrality);
    in.maximize = state.maximize;
    in.offset = state.objective_offset;
    in.cost = std::move(state.c);
    if (in.maximize)
        for (double& v : in.cost) v = -v;
    in.a_ub = std::move(state.a_ub.rows);
    in.b_ub = std::move(state.b_ub);
    in.ub_names = std::move(state.ub_names);
    in.a_eq = std::move(state.a_eq.rows);
    in.b_eq = std::move(state.b_eq);
    in.eq_names = std::move(state.eq_names);
    if (std::optional<std::string> fault = column_fault(in, n)) throw AttributeFault(*fault);
    in.inline_limit = state.inline_limit;
    return in;
}

}  // namespace tarvok::scipy_emitter
