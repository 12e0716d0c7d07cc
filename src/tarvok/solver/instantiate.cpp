// Expands a compiled model into a Program. Every data value, index and
// condition goes through the compiler's Evaluator, so a fault that only the
// data reveals (an index outside its set, a zero divisor) is reported with the
// very message and place the compiler's own data checks use; the compiler's
// checks stop quietly after a step budget, this pass never does.
//
// Each linear expression is summed into a dense scratch accumulator indexed
// by column and stamped per expression, so repeated terms cost one addition
// and building a row costs time proportional to its terms.
#include "solver/program.hpp"

#include "compiler/evaluate.hpp"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>

#include <sys/mman.h>

namespace tarvok::solver {

using tc::Declaration;
using tc::DeclKind;
using tc::Expr;
using tc::ExprId;
using tc::ExprKind;
using tc::Op;
using tc::Value;

namespace {

/// Asks for huge pages under the reserved room of a large array before it is
/// first written, so that filling it takes one fault per 2 MiB instead of one
/// per 4 KiB. Only the whole huge pages inside the array's own room are
/// advised; the kernel may decline.
template <typename T>
void advise_huge_pages(const std::vector<T>& v) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    auto start = reinterpret_cast<uintptr_t>(v.data());
    uintptr_t end = start + v.capacity() * sizeof(T);
    uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1), last = end & ~(kHuge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();

double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Thrown once the instantiation has recorded the diagnostic that ends it.
struct Stopped {};

/// Whether 0 lies within [lower, upper] up to rounding of the data.
bool holds_for_zero(double lower, double upper) {
    return lower <= 1e-9 * std::max(1.0, std::fabs(lower)) && upper >= -1e-9 * std::max(1.0, std::fabs(upper));
}

}  // namespace

class Instantiator {
  public:
    Instantiator(Program& program, tc::Compilation& c, const InstantiateOptions& options)
        : p_(program), c_(c), ast_(c.ast), model_(c.model), options_(options), budget_{options.max_steps},
          ev_(c.ast, c.model, c.analysis, c.model_text, c.values, c.diagnostics, budget_),
          dexpr_index_(c.model.decls.size(), kNone), block_index_(c.model.decls.size(), kNone) {
        budget_.interrupt = options.compile.interrupt;  // every evaluation step may be the one that stops
        p_.binding_kinds_.assign(ast_.bindings.size(), tc::VKind::Unknown);
    }

    void run() {
        columns();
        // Never read before written (see `add`): left unset, so that only the
        // pages of columns in use are ever touched.
        coefficient_.reset(new double[std::max(p_.columns(), 1u)]);
        stamp_of_.reset(static_cast<uint32_t*>(std::calloc(std::max(p_.columns(), 1u), sizeof(uint32_t))));
        if (!stamp_of_) throw std::bad_alloc();
        // Room for an expression over every column, so that the objective of
        // a large model is never copied while its buffers grow; pages are
        // touched only as far as the longest expression reaches.
        touched_.reserve(p_.columns());
        taken_.columns.reserve(p_.columns());
        taken_.coefficients.reserve(p_.columns());
        dexprs();
        objective();
        name_constraints();
        reserve_rows();
        for (uint32_t ci = 0; ci < model_.constraints.size(); ++ci) constraint(ci);
        // One normal form for every output: a solve, a written file and a
        // script all read these arrays, so none can state another program.
        integer_bounds();
        crossing_bounds();
        crossing_rows();
    }

  private:
    Program& p_;
    tc::Compilation& c_;
    const tc::Ast& ast_;
    const tc::Model& model_;
    const InstantiateOptions& options_;
    tc::Budget budget_;
    tc::Evaluator ev_;
    std::vector<uint32_t> dexpr_index_;  ///< per declaration: its entry in p_.dexprs
    std::vector<uint32_t> block_index_;  ///< per declaration: its entry in p_.variables

    // The accumulator of the expression being expanded.
    struct Freeing {
        void operator()(void* p) const { std::free(p); }
    };
    std::unique_ptr<double[]> coefficient_;
    std::unique_ptr<uint32_t[], Freeing> stamp_of_;
    std::vector<uint32_t> touched_;
    uint32_t stamp_ = 0;
    double constant_ = 0;
    LinearForm taken_;

    /// Per syntax node: for an Index node whose indices are bindings over
    /// its declaration's own sets (see own_offset), where its dimensions
    /// start in plan_dims_; kEvaluated for any other node.
    static constexpr uint32_t kUndecided = std::numeric_limits<uint32_t>::max();
    static constexpr uint32_t kEvaluated = kUndecided - 1;
    std::vector<uint32_t> index_plan_;
    /// One dimension of a planned Index node: the binding that indexes it
    /// and what its offset needs of its set or range.
    struct PlanDim {
        uint32_t binding;
        bool is_range;
        int64_t low;
        uint64_t size;
        const tc::Domain* domain;
    };
    std::vector<PlanDim> plan_dims_;

    // The place of the instance being expanded in its constraint's enumeration, and of the next.
    uint32_t place_ = 0, next_place_ = 0;

    // The rows and nonzeros of the constraint being expanded, for the size message.
    uint32_t family_ = kNone;
    uint64_t family_rows_ = 0, family_nonzeros_ = 0;

    const tc::ExprInfo& info(ExprId id) const { return c_.analysis.info[id]; }
    std::string name(tc::TextId id) const { return std::string(ast_.texts[id]); }

    /// Ends the instantiation at `node`: with the diagnostic already
    /// recorded, or with one saying why it stops here.
    [[noreturn]] void stop(ExprId node, const std::string& why = {}, tc::Code code = tc::Code::Other) {
        if (!why.empty()) {
            ev_.report(node, code, why);
        } else if (budget_.exhausted) {
            c_.diagnostics.error(ast_[node].at, "expanding the model takes too long (more than " +
                                                    std::to_string(options_.max_steps) +
                                                    " evaluation steps); reduce the sizes of its sets");
        } else if (c_.diagnostics.empty()) {
            ev_.report(node, "cannot expand " + ev_.quoted(node) + " into a linear program");
        }
        throw Stopped{};
    }

    // ----------------------------------------------------------- columns

    void columns() {
        reserve_columns();
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            const Declaration& d = model_.decls[i];
            if (d.kind != DeclKind::Dvar) continue;
            const tc::DeclValue& dv = c_.values.decls[i];
            VariableBlock block;
            block.decl = i;
            block.name = name(d.name);
            block.first = p_.columns();
            block.at = d.at;
            block.integer = d.type.base != tc::BaseType::Float;
            uint64_t count = 1;
            for (const auto& dim : dv.dims) {
                uint64_t size = dim ? dim->size() : 0;
                if (__builtin_mul_overflow(count, size, &count)) count = std::numeric_limits<uint64_t>::max();
                block.dims.push_back(dim);
            }
            if (count > options_.max_columns - block.first) {
                uint64_t total = count + block.first < count ? count : count + block.first;
                c_.diagnostics.error(
                    tc::Code::ModelTooLarge, d.at,
                    tc::too_large_message(
                        "decision variable '" + tc::shown_name(block.name) + "'", tc::size_count(count) + " elements",
                        block.first == 0 ? std::string()
                                         : ", bringing the model's columns from " + tc::size_count(block.first) +
                                               " to " + tc::size_count(total),
                        options_.max_columns, "columns"));
                throw Stopped{};
            }
            block.count = static_cast<uint32_t>(count);

            double lower = -kInfinity, upper = kInfinity;
            if (d.nonnegative) lower = 0;
            if (d.type.base == tc::BaseType::Boolean) lower = 0, upper = 1;
            if (d.bounds != kNone) {
                double low = 0, high = 0;
                if (!data_number(ast_[d.bounds].low(), low) || !data_number(ast_[d.bounds].high(), high))
                    stop(d.bounds);
                lower = std::max(lower, low);
                upper = std::min(upper, high);
            }
            block_index_[i] = static_cast<uint32_t>(p_.variables.size());
            p_.variables.push_back(std::move(block));
            p_.cost.resize(p_.cost.size() + count, 0.0);
            p_.col_lower.resize(p_.col_lower.size() + count, lower);
            p_.col_upper.resize(p_.col_upper.size() + count, upper);
            p_.integrality.resize(p_.integrality.size() + count, p_.variables.back().integer ? 1 : 0);
        }
    }

    /// Room for every column at once: each array is then written once, never
    /// copied while it grows.
    void reserve_columns() {
        uint64_t total = 0;
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            if (model_.decls[i].kind != DeclKind::Dvar) continue;
            uint64_t count = 1;
            for (const auto& dim : c_.values.decls[i].dims)
                if (__builtin_mul_overflow(count, dim ? dim->size() : 0, &count)) return;
            if (__builtin_add_overflow(total, count, &total)) return;
        }
        if (total > options_.max_columns) return;  // refused below, at its declaration
        p_.cost.reserve(total);
        p_.col_lower.reserve(total);
        p_.col_upper.reserve(total);
        p_.integrality.reserve(total);
        advise_huge_pages(p_.cost);
        advise_huge_pages(p_.col_lower);
        advise_huge_pages(p_.col_upper);
        advise_huge_pages(p_.integrality);
    }

    /// Room for the rows the compiler counted (families without conditions)
    /// and their estimated nonzeros. Room reserved and never used costs
    /// address space only: its pages are never touched.
    void reserve_rows() {
        const std::vector<tc::FamilySize>& sizes = c_.family_sizes;
        if (sizes.size() != model_.constraints.size()) return;
        uint64_t rows = 0, nonzeros = 0, keys = 0;
        for (uint32_t ci = 0; ci < sizes.size(); ++ci) {
            uint64_t terms = 0, bindings = 0;
            if (__builtin_mul_overflow(sizes[ci].rows, sizes[ci].terms, &terms) ||
                __builtin_mul_overflow(sizes[ci].rows, p_.constraint_bindings_[ci].size(), &bindings) ||
                __builtin_add_overflow(rows, sizes[ci].rows, &rows) ||
                __builtin_add_overflow(nonzeros, terms, &nonzeros) || __builtin_add_overflow(keys, bindings, &keys))
                return;
        }
        rows = std::min(rows, options_.max_rows);
        nonzeros = std::min(nonzeros, options_.max_nonzeros);
        keys = std::min<uint64_t>(keys, std::numeric_limits<uint32_t>::max());
        try {
            p_.row_lower.reserve(rows);
            p_.row_upper.reserve(rows);
            p_.row_starts.reserve(rows + 1);
            p_.row_origin.reserve(rows);
            p_.keys.reserve(keys);
            p_.col_indices.reserve(nonzeros);
            p_.values.reserve(nonzeros);
            advise_huge_pages(p_.row_lower);
            advise_huge_pages(p_.row_upper);
            advise_huge_pages(p_.row_starts);
            advise_huge_pages(p_.row_origin);
            advise_huge_pages(p_.keys);
            advise_huge_pages(p_.col_indices);
            advise_huge_pages(p_.values);
        } catch (const std::bad_alloc&) {
            // Too much address space at once: the arrays grow as they go instead.
        }
    }

    /// The number a data expression denotes.
    bool data_number(ExprId id, double& out) {
        if (ast_[id].kind == ExprKind::Index && data_cell(id, out)) return true;
        Value v = ev_.value(id);
        if (!v.known()) return false;
        out = v.number();
        return true;
    }

    // ------------------------------------------------------- accumulator

    void begin() {
        if (++stamp_ == 0) {  // wrapped: forget every mark
            std::fill(stamp_of_.get(), stamp_of_.get() + p_.columns(), 0);
            stamp_ = 1;
        }
        touched_.clear();
        constant_ = 0;
    }

    void add(uint32_t column, double coefficient) {
        if (stamp_of_[column] != stamp_) {
            stamp_of_[column] = stamp_;
            coefficient_[column] = coefficient;
            touched_.push_back(column);
        } else {
            coefficient_[column] += coefficient;
        }
    }

    void add(const LinearForm& form, double scale) {
        for (size_t k = 0; k < form.columns.size(); ++k) add(form.columns[k], scale * form.coefficients[k]);
        constant_ += scale * form.constant;
    }

    /// The accumulated form without its zero terms, in a buffer reused from
    /// row to row; stops at `node` when a coefficient or the constant is not
    /// a finite number.
    const LinearForm& take(ExprId node) {
        LinearForm& form = taken_;
        form.columns.clear();
        form.coefficients.clear();
        for (uint32_t column : touched_) {
            double a = coefficient_[column];
            if (a == 0) continue;
            if (!std::isfinite(a))
                stop(node, "the coefficient of '" + p_.column_name(column) + "' in " + ev_.quoted(node) +
                               " is too large for a float");
            if (std::fabs(a) >= tc::kSolverInfinity)
                stop(node,
                     tc::beyond_solver_infinity("the coefficient of '" + p_.column_name(column) + "' in " +
                                                ev_.quoted(node)),
                     tc::Code::BeyondSolverInfinity);
            form.columns.push_back(column);
            form.coefficients.push_back(a);
        }
        if (!std::isfinite(constant_))
            stop(node, "the constant part of " + ev_.quoted(node) + " is too large for a float");
        if (std::fabs(constant_) >= tc::kSolverInfinity)
            stop(node, tc::beyond_solver_infinity("the constant part of " + ev_.quoted(node)),
                 tc::Code::BeyondSolverInfinity);
        form.constant = constant_;
        return form;
    }

    // -------------------------------------------------------- expansion

    /// Adds `scale` times the expression to the accumulator; false after a
    /// data fault has been reported (or the step budget ran out).
    bool linear(ExprId id, double scale) {
        const tc::ExprInfo& in = info(id);
        if (!in.variable) {
            double v = 0;
            if (!data_number(id, v)) return false;
            constant_ += scale * v;
            return true;
        }
        const Expr& e = ast_[id];
        switch (e.kind) {
        case ExprKind::Name: {
            if (e.ref_kind != tc::RefKind::Declaration) break;
            const Declaration& d = model_.decls[e.ref];
            if (d.kind == DeclKind::Dvar && d.dims.empty()) {
                add(p_.variables[block_index_[e.ref]].first, scale);
                return true;
            }
            if (d.kind == DeclKind::Dexpr && dexpr_index_[e.ref] != kNone) {
                add(p_.dexprs[dexpr_index_[e.ref]].form, scale);
                return true;
            }
            break;
        }
        case ExprKind::Index: {
            const Expr& target = ast_[e.target()];
            if (target.ref_kind != tc::RefKind::Declaration || block_index_[target.ref] == kNone) break;
            const VariableBlock& block = p_.variables[block_index_[target.ref]];
            uint64_t offset = 0;
            if (!bound_offset(id, e, block, offset)) {
                std::optional<uint64_t> located = ev_.locate(id);
                if (!located) return false;
                offset = *located;
            }
            add(block.first + static_cast<uint32_t>(offset), scale);
            return true;
        }
        case ExprKind::Unary:
            if (e.op == Op::Not) break;
            return linear(e.operand(), e.op == Op::Minus ? -scale : scale);
        case ExprKind::Chain: {
            const tc::Link* links = ast_.links_of(e);
            Op kind = links[1].op;
            if (kind == Op::Plus || kind == Op::Minus) {
                for (uint32_t i = 0; i < e.count; ++i)
                    if (!linear(links[i].expr, i > 0 && links[i].op == Op::Minus ? -scale : scale)) return false;
                return true;
            }
            if (kind != Op::Times && kind != Op::Divide) break;
            return product(e, scale);
        }
        case ExprKind::Aggregate: {
            if (e.op != Op::Sum) break;
            bool ok = true;
            bool done = ev_.enumerate(e.first, e.count, e.condition(), [&] {
                ok = linear(e.body(), scale);
                return ok;
            });
            return ok && done;
        }
        default: break;
        }
        stop(id, "cannot expand " + ev_.quoted(id) + " into a linear program");
    }

    /// The offset of `x[i][j]` when every index is a binding over the very
    /// set or range of its dimension, so that it is inside by construction
    /// and no evaluation is needed; false for any other index.
    bool bound_offset(ExprId id, const Expr& e, const VariableBlock& block, uint64_t& offset) {
        return own_offset(id, e, block.decl, block.dims, offset);
    }

    /// `d[i][j]` of a data array indexed like bound_offset: its cell read
    /// directly, as the evaluator would read it. False (and nothing spent)
    /// when the general evaluation must judge it, faults included.
    bool data_cell(ExprId id, double& out) {
        const Expr& e = ast_[id];
        const Expr& target = ast_[e.target()];
        if (target.ref_kind != tc::RefKind::Declaration) return false;
        const tc::DeclValue& dv = c_.values.decls[target.ref];
        if (!dv.known || !dv.array || !dv.dims_known || model_.decls[target.ref].kind == DeclKind::Dvar) return false;
        uint64_t offset = 0;
        if (!own_offset(id, e, target.ref, dv.dims, offset) || offset >= dv.array->cells.size()) return false;
        const Value& v = dv.array->cells[offset];
        if (!v.known() || !budget_.spend()) return false;
        out = v.number();
        return true;
    }

    /// The offset of `e` into the cells of declaration `decl` over `dims`
    /// when every index is a binding over its dimension's own set.
    bool own_offset(ExprId id, const Expr& e, uint32_t decl, const std::vector<std::shared_ptr<const tc::Domain>>& dims,
                    uint64_t& offset) {
        // Whether the indices are such bindings is a matter of the syntax
        // alone: decided once per node, not once per term.
        if (index_plan_.empty()) index_plan_.assign(ast_.exprs.size(), kUndecided);
        uint32_t plan = index_plan_[id];
        if (plan == kUndecided) plan = index_plan_[id] = make_plan(e, decl, dims);
        if (plan == kEvaluated) return false;
        offset = 0;
        for (const PlanDim *d = plan_dims_.data() + plan, *end = d + e.count; d != end; ++d) {
            const Value& v = ev_.binding_value(d->binding);
            uint64_t position;
            if (d->is_range) {
                position = static_cast<uint64_t>(v.i) - static_cast<uint64_t>(d->low);
            } else {
                std::optional<uint64_t> found = d->domain->find(v);
                if (!found) return false;
                position = *found;
            }
            offset = offset * d->size + position;
        }
        return true;
    }

    /// The plan of an Index node `e` into declaration `decl` (see index_plan_).
    uint32_t make_plan(const Expr& e, uint32_t decl, const std::vector<std::shared_ptr<const tc::Domain>>& dims) {
        if (!indexed_by_own_sets(e, decl) || dims.size() != e.count) return kEvaluated;
        for (const auto& dim : dims)
            if (!dim) return kEvaluated;
        uint32_t first = static_cast<uint32_t>(plan_dims_.size());
        for (uint32_t k = 0; k < e.count; ++k)
            plan_dims_.push_back({ast_[ast_.links[e.first + k].expr].ref, dims[k]->is_range, dims[k]->low,
                                  dims[k]->size(), dims[k].get()});
        return first;
    }

    bool indexed_by_own_sets(const Expr& e, uint32_t decl) const {
        const Declaration& d = model_.decls[decl];
        if (e.count != d.dims.size()) return false;
        for (uint32_t k = 0; k < e.count; ++k) {
            const Expr& ix = ast_[ast_.links[e.first + k].expr];
            if (ix.kind != ExprKind::Name || ix.ref_kind != tc::RefKind::Binding) return false;
            const Expr& over = ast_[ast_.bindings[ix.ref].domain];
            const Expr& dim = ast_[d.dims[k]];
            if (over.kind != ExprKind::Name || dim.kind != ExprKind::Name ||
                over.ref_kind != tc::RefKind::Declaration || dim.ref_kind != tc::RefKind::Declaration ||
                over.ref != dim.ref)
                return false;
        }
        return true;
    }

    /// A product of factors of which at most one has decision variables; the
    /// others and every divisor are numbers.
    bool product(const Expr& e, double scale) {
        const tc::Link* links = ast_.links_of(e);
        double factor = 1;
        ExprId variable = kNone;
        for (uint32_t i = 0; i < e.count; ++i) {
            ExprId f = links[i].expr;
            if (i > 0 && links[i].op == Op::Divide) {
                Value d = ev_.divisor(f);
                if (!d.known()) return false;
                factor /= d.number();
                continue;
            }
            if (variable == kNone && info(f).degree > 0) {
                variable = f;
                continue;
            }
            double k = 0;
            if (!number(f, k)) return false;
            factor *= k;
        }
        if (variable == kNone) {
            constant_ += scale * factor;
            return true;
        }
        return linear(variable, scale * factor);
    }

    /// The number an expression without decision variables denotes; it may
    /// still name a dexpr that is constant.
    bool number(ExprId id, double& out) {
        if (!info(id).variable) return data_number(id, out);
        double saved = constant_;
        constant_ = 0;
        bool ok = linear(id, 1);
        out = constant_;
        constant_ = saved;
        return ok;
    }

    // ---------------------------------------------- dexprs and objective

    void dexprs() {
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            const Declaration& d = model_.decls[i];
            if (d.kind != DeclKind::Dexpr) continue;
            begin();
            if (!linear(d.init, 1)) stop(d.init);
            DecisionExpression x;
            x.decl = i;
            x.name = name(d.name);
            x.form = take(d.init);
            x.integer = d.type.base == tc::BaseType::Int;
            x.at = d.at;
            dexpr_index_[i] = static_cast<uint32_t>(p_.dexprs.size());
            p_.dexprs.push_back(std::move(x));
        }
    }

    void objective() {
        const tc::Objective& o = model_.objective;
        if (!o.present) return;
        p_.sense = o.maximize ? Sense::Maximize : Sense::Minimize;
        begin();
        if (!linear(o.expr, 1)) stop(o.expr);
        const LinearForm& form = take(o.expr);
        for (size_t k = 0; k < form.columns.size(); ++k) p_.cost[form.columns[k]] = form.coefficients[k];
        p_.offset = form.constant;
    }

    // ------------------------------------------------------- constraints

    /// The label of each constraint, or c<line> (c<line>_<column> when
    /// several start on one line or a label already reads c<line>).
    void name_constraints() {
        std::unordered_map<uint32_t, uint32_t> per_line;
        std::unordered_map<std::string, bool> labels;
        for (const tc::Constraint& k : model_.constraints) {
            if (k.label != kNone)
                labels[name(k.label)] = true;
            else
                ++per_line[k.at.line];
        }
        p_.constraint_names_.clear();
        p_.constraint_bindings_.clear();
        for (const tc::Constraint& k : model_.constraints) {
            std::string n;
            if (k.label != kNone) {
                n = name(k.label);
            } else {
                n = "c" + std::to_string(k.at.line);
                if (per_line[k.at.line] > 1 || labels.count(n)) n += "_" + std::to_string(k.at.column);
            }
            p_.constraint_names_.push_back(std::move(n));
            std::vector<uint32_t> chain;
            for (uint32_t f = k.forall; f != kNone; f = model_.foralls[f].parent) chain.insert(chain.begin(), f);
            std::vector<uint32_t> bindings;
            for (uint32_t f : chain)
                for (uint32_t b = 0; b < model_.foralls[f].binding_count; ++b)
                    bindings.push_back(model_.foralls[f].first_binding + b);
            p_.constraint_bindings_.push_back(std::move(bindings));
        }
    }

    void constraint(uint32_t ci) {
        const tc::Constraint& k = model_.constraints[ci];
        std::vector<uint32_t> chain;
        for (uint32_t f = k.forall; f != kNone; f = model_.foralls[f].parent) chain.insert(chain.begin(), f);
        tell_by_position(ci, chain);
        next_place_ = 0;
        size_t before = c_.diagnostics.size();
        bool done = over(chain, 0, ci);
        // A condition or a set that could not be evaluated skips its
        // instances quietly in the enumeration; its diagnostic ends it here.
        if (!done || c_.diagnostics.size() != before) stop(k.left);
    }

    /// Whether the instances of constraint `ci` can be told by their place
    /// in the enumeration (see Program::positional): every binding runs over
    /// a declared set or range and no forall has a condition, so the
    /// enumeration is the full product of those sets, in order. Their
    /// values are then never stored.
    void tell_by_position(uint32_t ci, const std::vector<uint32_t>& chain) {
        std::vector<std::shared_ptr<const tc::Domain>> sets;
        uint64_t places = 1;
        for (uint32_t f : chain) {
            const tc::Forall& forall = model_.foralls[f];
            if (forall.condition != kNone) return;
            for (uint32_t b = forall.first_binding; b < forall.first_binding + forall.binding_count; ++b) {
                const Expr& over = ast_[ast_.bindings[b].domain];
                if (over.kind != ExprKind::Name || over.ref_kind != tc::RefKind::Declaration) return;
                std::shared_ptr<const tc::Domain> set = ev_.domain(ast_.bindings[b].domain);
                if (!set || __builtin_mul_overflow(places, set->size(), &places) ||
                    places > std::numeric_limits<uint32_t>::max())
                    return;
                sets.push_back(std::move(set));
            }
        }
        if (p_.positional_.empty()) p_.positional_.resize(model_.constraints.size());
        p_.positional_[ci] = std::move(sets);
    }

    bool over(const std::vector<uint32_t>& chain, size_t level, uint32_t ci) {
        if (level == chain.size()) return instance(ci);
        const tc::Forall& f = model_.foralls[chain[level]];
        return ev_.enumerate(f.first_binding, f.binding_count, f.condition, [&] { return over(chain, level + 1, ci); });
    }

    /// The current binding values of constraint `ci`, stored; their index.
    /// An instance told by position stores nothing: its key is its place.
    uint32_t record_keys(uint32_t ci) {
        if (p_.positional(ci)) return place_;
        uint64_t at = p_.keys.size();
        if (at > std::numeric_limits<uint32_t>::max() - 64)
            stop(model_.constraints[ci].left, "the model has too many constraint instances");
        for (uint32_t b : p_.constraint_bindings_[ci]) {
            const Value& v = ev_.binding_value(b);
            p_.binding_kinds_[b] = v.kind;
            uint64_t bits = 0;
            static_assert(sizeof v.i == sizeof bits);
            std::memcpy(&bits, &v.i, sizeof bits);
            p_.keys.push_back(bits);
        }
        return static_cast<uint32_t>(at);
    }

    bool instance(uint32_t ci) {
        const tc::Constraint& k = model_.constraints[ci];
        place_ = next_place_++;
        begin();
        double lower = -kInfinity, upper = kInfinity;
        if (k.middle == kNone) {
            // `data op expression` reads better turned around: sum(...) <= 10.
            bool swap = !info(k.left).variable && info(k.right).variable;
            ExprId first = swap ? k.right : k.left, second = swap ? k.left : k.right;
            Op op = k.op;
            if (swap && op != Op::Eq) op = op == Op::Le ? Op::Ge : Op::Le;
            if (!linear(first, 1) || !linear(second, -1)) return false;
            if (op != Op::Ge) upper = -constant_;
            if (op != Op::Le) lower = -constant_;
        } else {
            double low = 0, high = 0;
            if (!data_number(k.left, low) || !data_number(k.right, high) || !linear(k.middle, 1)) return false;
            lower = low - constant_;
            upper = high - constant_;
        }
        const LinearForm& form = take(k.middle == kNone ? k.left : k.middle);
        for (double side : {lower, upper})
            if (std::isfinite(side) && std::fabs(side) >= tc::kSolverInfinity)
                stop(k.left, tc::beyond_solver_infinity("a side of " + ev_.quoted(k.left)),
                     tc::Code::BeyondSolverInfinity);
        if (form.columns.empty()) {
            uint32_t key = record_keys(ci);
            if (holds_for_zero(lower, upper)) {
                p_.folded.push_back({{ci, key}, kNone, 0, lower, upper});
                return true;
            }
            p_.conflicts.push_back(
                {p_.instance_name({ci, key}), p_.instance_line({ci, key}), Culprit::Kind::Constraint});
            append_row(ci, key, form, lower, upper);
            return true;
        }
        if (form.columns.size() == 1 && options_.fold_bounds && fold(ci, form, lower, upper)) return true;
        append_row(ci, record_keys(ci), form, lower, upper);
        return true;
    }

    /// Ends the instantiation at constraint `ci`, which takes the program past
    /// the size limit of `unit`: its own part so far and the model's total.
    [[noreturn]] void too_large(uint32_t ci, uint64_t own, uint64_t total, uint64_t limit, const char* unit,
                                const char* items) {
        const tc::Constraint& k = model_.constraints[ci];
        std::string what = k.label == kNone ? "the constraint on line " + std::to_string(k.at.line)
                                            : "the constraint '" + tc::shown_name(ast_.texts[k.label]) + "'";
        c_.diagnostics.error(
            tc::Code::ModelTooLarge, k.at,
            tc::too_large_message(what, "at least " + tc::size_count(own) + " " + items,
                                  std::string(", bringing the model's ") + unit + " to " + tc::size_count(total), limit,
                                  unit));
        throw Stopped{};
    }

    void append_row(uint32_t ci, uint32_t key, const LinearForm& form, double lower, double upper) {
        if (ci != family_) {
            family_ = ci;
            family_rows_ = family_nonzeros_ = 0;
        }
        ++family_rows_;
        family_nonzeros_ += form.columns.size();
        if (p_.rows() >= options_.max_rows)
            too_large(ci, family_rows_, uint64_t{p_.rows()} + 1, options_.max_rows, "rows", "instances");
        if (p_.nonzeros() + form.columns.size() > options_.max_nonzeros)
            too_large(ci, family_nonzeros_, p_.nonzeros() + form.columns.size(), options_.max_nonzeros, "nonzeros",
                      "nonzero coefficients");
        p_.row_lower.push_back(lower);
        p_.row_upper.push_back(upper);
        p_.col_indices.insert(p_.col_indices.end(), form.columns.begin(), form.columns.end());
        p_.values.insert(p_.values.end(), form.coefficients.begin(), form.coefficients.end());
        p_.row_starts.push_back(static_cast<int32_t>(p_.col_indices.size()));
        p_.row_origin.push_back({ci, key});
    }

    /// Turns `lower <= a x <= upper` into bounds of x; false when the
    /// quotients overflow and the row must stay a row.
    bool fold(uint32_t ci, const LinearForm& form, double lower, double upper) {
        uint32_t column = form.columns[0];
        double a = form.coefficients[0];
        double low = a > 0 ? lower / a : upper / a;
        double high = a > 0 ? upper / a : lower / a;
        bool low_finite = std::isfinite(a > 0 ? lower : upper), high_finite = std::isfinite(a > 0 ? upper : lower);
        if (std::isfinite(low) != low_finite || std::isfinite(high) != high_finite) return false;
        // A bound the solver would read as none stays a row.
        if ((low_finite && std::fabs(low) >= tc::kSolverInfinity) ||
            (high_finite && std::fabs(high) >= tc::kSolverInfinity))
            return false;
        ++p_.folded_bounds;
        if (p_.lower_source.empty()) {
            p_.lower_source.assign(p_.columns(), kNone);
            p_.upper_source.assign(p_.columns(), kNone);
            p_.declared_lower = p_.col_lower;
            p_.declared_upper = p_.col_upper;
        }
        uint32_t source = static_cast<uint32_t>(p_.folded.size());
        p_.folded.push_back({{ci, record_keys(ci)}, column, a, lower, upper});
        // The first of equal bounds stays their source.
        bool tighter_low = low > p_.col_lower[column], tighter_high = high < p_.col_upper[column];
        if (tighter_low) {
            p_.col_lower[column] = low;
            p_.lower_source[column] = source;
        }
        if (tighter_high) {
            p_.col_upper[column] = high;
            p_.upper_source[column] = source;
        }
        return true;
    }

    /// Integer columns take only integer values, so their bounds round inward
    /// (see inward_integer_bound); a solver left with fractional bounds may
    /// round them the wrong way in its presolve.
    void integer_bounds() {
        for (uint32_t j = 0; j < p_.columns(); ++j) {
            if (!p_.integrality[j]) continue;
            p_.col_lower[j] = inward_integer_bound(p_.col_lower[j], true);
            p_.col_upper[j] = inward_integer_bound(p_.col_upper[j], false);
        }
    }

    /// Rows whose lower side exceeds the upper: within rounding they are
    /// equations, beyond it they make the program infeasible. Rows without
    /// columns were judged as they were made.
    void crossing_rows() {
        constexpr size_t kMostReported = 100;
        for (uint32_t i = 0; i < p_.rows(); ++i) {
            double& lower = p_.row_lower[i];
            double& upper = p_.row_upper[i];
            if (!(lower > upper) || p_.row_starts[i] == p_.row_starts[i + 1]) continue;
            if (lower - upper <= 1e-9 * std::max(1.0, std::fabs(upper))) {
                upper = lower;
                continue;
            }
            if (p_.conflicts.size() >= kMostReported) continue;
            p_.conflicts.push_back({p_.row_name(i), p_.row_line(i), Culprit::Kind::Constraint});
        }
    }

    /// Columns whose lower bound exceeds the upper: within rounding they are
    /// fixed, beyond it they make the program infeasible.
    void crossing_bounds() {
        constexpr size_t kMostReported = 100;
        for (uint32_t j = 0; j < p_.columns(); ++j) {
            double& lower = p_.col_lower[j];
            double& upper = p_.col_upper[j];
            if (!(lower > upper)) continue;
            if (lower - upper <= 1e-9 * std::max(1.0, std::fabs(upper))) {
                upper = lower;
                continue;
            }
            if (p_.conflicts.size() >= kMostReported) continue;
            for (bool low : {true, false}) {
                uint32_t source = p_.lower_source.empty() ? kNone : (low ? p_.lower_source : p_.upper_source)[j];
                Culprit culprit = source == kNone
                                      ? Culprit{p_.column_name(j), p_.column_line(j), Culprit::Kind::Bound}
                                      : Culprit{p_.instance_name(p_.folded[source].origin),
                                                p_.instance_line(p_.folded[source].origin), Culprit::Kind::Constraint};
                bool seen = false;
                for (const Culprit& c : p_.conflicts) seen = seen || (c.name == culprit.name && c.kind == culprit.kind);
                if (!seen) p_.conflicts.push_back(std::move(culprit));
            }
        }
    }
};

std::shared_ptr<Source> compile_source(std::string model_text, std::string data_text,
                                       const tc::CompileOptions& options) {
    auto source = std::make_shared<Source>();
    source->model_text = std::move(model_text);
    source->data_text = std::move(data_text);
    auto start = std::chrono::steady_clock::now();
    source->compilation = tc::compile(source->model_text, source->data_text, options);
    source->compile_seconds = since(start);
    return source;
}

std::unique_ptr<Program> instantiate(std::shared_ptr<const Source> source, const InstantiateOptions& requested) {
    // The size limit the compiler checks holds while building too: a count it
    // could not finish (conditions over very large sets) never lets the
    // program grow past it.
    InstantiateOptions options = requested;
    options.max_columns = std::min(options.max_columns, options.compile.sizes.max_columns);
    options.max_rows = std::min(options.max_rows, options.compile.sizes.max_rows);
    options.max_nonzeros = std::min(options.max_nonzeros, options.compile.sizes.max_nonzeros);
    tc::Compilation& c = *source->compilation;
    if (!c.ok()) throw Error::model(c.report(), false);

    auto program = std::make_unique<Program>();
    program->compile_seconds = source->compile_seconds;
    program->source = source;
    auto start = std::chrono::steady_clock::now();
    try {
        Instantiator(*program, c, options).run();
    } catch (const Stopped&) {
        throw Error::model(c.report(), true);
    }
    program->instantiate_seconds = since(start);
    return program;
}

std::unique_ptr<Program> instantiate(std::string model_text, std::string data_text, const InstantiateOptions& options) {
    return instantiate(compile_source(std::move(model_text), std::move(data_text), options.compile), options);
}

std::unique_ptr<Program> instantiate_or_explain(std::shared_ptr<const Source> source, const InstantiateOptions& options,
                                                std::string& failure) {
    try {
        return instantiate(std::move(source), options);
    } catch (const Error& e) {
        if (e.kind() != Error::Kind::Model) throw;
        failure = e.message();
        return nullptr;
    }
}

std::shared_ptr<Source> check_source(std::string model_text, std::string data_text, const InstantiateOptions& options,
                                     bool expand, bool& compiled) {
    std::shared_ptr<Source> source = compile_source(std::move(model_text), std::move(data_text), options.compile);
    compiled = true;
    std::string failure;  // the expansion's faults land in the compilation too
    if (expand && source->compilation->ok()) instantiate_or_explain(source, options, failure);
    return source;
}

std::string out_of_memory_message(size_t text_bytes, bool compiled) {
    if (compiled) return "not enough memory to expand the model into a program";
    return "not enough memory to compile the model and data (" + std::to_string(text_bytes >> 10) + " KB of text)";
}

}  // namespace tarvok::solver
