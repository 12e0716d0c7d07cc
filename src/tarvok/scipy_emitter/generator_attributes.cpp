#include "scipy_emitter/generator_attributes.hpp"

#include "scipy_emitter/describe.hpp"
#include "scipy_emitter/generator_checks.hpp"

#include <cmath>
#include <vector>

namespace tarvok::scipy_emitter {

namespace {

/// Opens `attribute`, which must have `expected` items.
void open_expecting(GeneratorAttributes& attributes, const char* attribute, std::size_t expected) {
    std::size_t count = attributes.open(attribute);
    if (count != expected) throw AttributeFault(count_fault(attribute, count, expected));
}

std::vector<double> numbers(GeneratorAttributes& attributes, const char* attribute, std::size_t expected) {
    open_expecting(attributes, attribute, expected);
    std::vector<double> out;
    for (std::size_t k = 0; k < expected; ++k) out.push_back(attributes.number(k));
    return out;
}

std::vector<std::string> texts(GeneratorAttributes& attributes, const char* attribute, std::size_t expected) {
    open_expecting(attributes, attribute, expected);
    std::vector<std::string> out;
    for (std::size_t k = 0; k < expected; ++k) out.push_back(attributes.text(k));
    return out;
}

}  // namespace

void check_width(std::string_view attribute, std::size_t width, std::size_t columns) {
    if (width != columns) throw AttributeFault(width_fault(attribute, width, columns));
}

void check_dimensions(std::string_view attribute, long long dimensions) {
    if (dimensions != 2) throw AttributeFault(dimension_fault(attribute, dimensions));
}

ScriptInput read_script_input(const solver::Program& program, GeneratorAttributes& attributes) {
    ScriptInput in;
    describe_program(program, in);
    std::size_t n = attributes.length("var_names");
    in.column_names = texts(attributes, "var_names", n);

    open_expecting(attributes, "bounds", n);
    for (std::size_t j = 0; j < n; ++j) {
        std::optional<BoundSides> sides = attributes.sides(j);
        if (!sides) throw AttributeFault(bounds_pair_fault(j));
        in.lower.push_back(sides->first.value_or(-INFINITY));  // None: no bound
        in.upper.push_back(sides->second.value_or(INFINITY));
    }
    open_expecting(attributes, "integrality", n);
    for (std::size_t j = 0; j < n; ++j) in.integer.push_back(attributes.flag(j) ? 1 : 0);

    in.maximize = attributes.holds("objective_sense", "maximize");
    in.offset = attributes.scalar("objective_offset");
    in.cost = numbers(attributes, "c", n);
    if (in.maximize)
        for (double& v : in.cost) v = -v;

    in.a_ub = attributes.matrix("A_ub", n);
    in.b_ub = numbers(attributes, "b_ub", in.a_ub.rows());
    in.ub_names = texts(attributes, "ub_names", in.a_ub.rows());
    in.a_eq = attributes.matrix("A_eq", n);
    in.b_eq = numbers(attributes, "b_eq", in.a_eq.rows());
    in.eq_names = texts(attributes, "eq_names", in.a_eq.rows());

    if (std::optional<std::string> fault = column_fault(in, n)) throw AttributeFault(*fault);
    in.inline_limit = attributes.count("inline_limit");
    return in;
}

}  // namespace tarvok::scipy_emitter
