// libFuzzer entry for the instantiation core. An input is a model text, then
// optionally "\n%%\n" and a data text, as for the compiler. Besides crashes,
// hangs and leaks (the sanitizers), it checks what the solver relies on: a
// text that does not compile is refused as such, a program that comes out is
// well formed (rows within bounds, each column at most once per row, no zero
// or non-finite coefficient, every name readable), a refusal is a located
// report, and no input takes more than a second of processor time (the time
// oracle).
#include "common/utf8.hpp"
#include "oracle.hpp"
#include "solver/program.hpp"

#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

using namespace tarvok::solver;
using namespace tarvok::fuzz;

namespace {

void check_program(const Program& p) {
    uint32_t n = p.columns();
    check(p.col_lower.size() == n && p.col_upper.size() == n && p.integrality.size() == n, "column arrays differ");
    check(p.row_upper.size() == p.rows() && p.row_starts.size() == p.rows() + size_t{1}, "row arrays differ");
    check(p.values.size() == p.col_indices.size(), "matrix arrays differ");
    check(p.row_starts.front() == 0 && static_cast<size_t>(p.row_starts.back()) == p.values.size(), "row starts");
    std::vector<uint32_t> seen(n, UINT32_MAX);
    for (uint32_t i = 0; i < p.rows(); ++i) {
        check(p.row_starts[i] <= p.row_starts[i + 1], "row starts go down");
        check(!(p.row_lower[i] > p.row_upper[i]) || !p.conflicts.empty(), "crossed row sides without a conflict");
        for (int32_t k = p.row_starts[i]; k < p.row_starts[i + 1]; ++k) {
            int32_t j = p.col_indices[k];
            check(j >= 0 && static_cast<uint32_t>(j) < n, "a column index outside the program");
            check(seen[j] != i, "a column twice in one row");
            seen[j] = i;
            check(p.values[k] != 0 && std::isfinite(p.values[k]), "a zero or non-finite coefficient");
        }
        check(tarvok::utf8::is_valid(p.row_name(i)), "a row name that is not UTF-8");
    }
    for (uint32_t j = 0; j < n; ++j) {
        check(std::isfinite(p.cost[j]), "a non-finite cost");
        check(!std::isnan(p.col_lower[j]) && !std::isnan(p.col_upper[j]), "a NaN bound");
        check(tarvok::utf8::is_valid(p.column_name(j)), "a column name that is not UTF-8");
    }
    check(std::isfinite(p.offset), "a non-finite objective constant");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    auto [model, data] = split_input(bytes, size);

    // Budgets cut by the slowdown of this build (coverage and sanitizers), so
    // that a budget spent in full is bounded work; the oracle is after work
    // that no budget bounds.
    InstantiateOptions options;
    cut_step_budgets(options.compile);
    options.max_steps = 2'000'000;
    options.max_columns = options.max_rows = options.max_nonzeros = 200'000;
    TimeOracle time;
    try {
        auto program = instantiate(std::string(model), std::string(data), options);
        check_program(*program);
    } catch (const tarvok::Error& e) {
        check(!e.message().empty() && tarvok::utf8::is_valid(e.message()), "an empty or broken refusal");
        check(e.message().rfind("model:", 0) == 0 || e.message().rfind("data:", 0) == 0, "a refusal without a place");
    }
    time.check(size, "an input took more than a second");
    return 0;
}
