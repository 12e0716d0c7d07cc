#include "scipy_emitter/script.hpp"

#include "common/utf8.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarvok::scipy_emitter {

// ------------------------------------------------- Python literal pieces

namespace {

/// Characters that copied text never carries into the script as they are:
/// control characters (C0, DEL, C1), whatever ends a line for the host's
/// tokenizer, its str.splitlines() or an editor, and characters that reorder
/// the text around them when displayed, so that code could read differently
/// from what it is.
bool is_kept_out(char32_t c) { return utf8::is_control(c) || utf8::is_line_break(c) || utf8::is_bidi_control(c); }

void append_hex(std::string& out, const char* prefix, uint32_t value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%s%0*x", prefix, digits, value);
    out += buffer;
}

}  // namespace

std::string python_string(std::string_view s) {
    std::string out = "\"";
    for (size_t pos = 0; pos < s.size();) {
        utf8::Step step = utf8::decode(s, pos, /*allow_surrogates=*/true);
        unsigned char byte = static_cast<unsigned char>(s[pos]);
        if (!step.ok) {
            for (size_t k = 0; k < step.length; ++k) append_hex(out, "\\x", static_cast<unsigned char>(s[pos + k]), 2);
        } else if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (step.code_point <= 0xFF && utf8::is_control(step.code_point)) {
            append_hex(out, "\\x", step.code_point, 2);
        } else if (is_kept_out(step.code_point) || (step.code_point >= 0xD800 && step.code_point <= 0xDFFF)) {
            append_hex(out, "\\u", step.code_point, 4);  // a lone surrogate stays one
        } else {
            out.append(s, pos, step.length);
        }
        pos += step.length;
    }
    return out + "\"";
}

std::string python_number(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, end);
}

std::string comment_text(std::string_view s) {
    std::string out;
    for (size_t pos = 0; pos < s.size();) {
        utf8::Step step = utf8::decode(s, pos);
        if (!step.ok || is_kept_out(step.code_point))
            out += ' ';
        else
            out.append(s, pos, step.length);
        pos += step.length;
    }
    return out;
}

std::string_view family_of(std::string_view name) { return name.substr(0, name.find('[')); }

// ----------------------------------------------------------- the script

namespace {

/// Longest line the literal tables are wrapped at, indentation included.
constexpr size_t kWrapAt = 110;

class Writer {
  public:
    std::vector<Line> lines;

    void line(int indent, std::string text) { lines.push_back({indent, std::move(text)}); }
    void blank() { line(0, ""); }

    /// Ends a list literal opened by a line ending in "= [": "= []" when nothing was added.
    void close_list() {
        std::string& last = lines.back().text;
        if (last.size() >= 3 && last.compare(last.size() - 3, 3, "= [") == 0)
            last += "]";
        else
            line(0, "]");
    }
    void comment(int indent, std::string_view text) { line(indent, "# " + comment_text(text)); }

    /// Adds fixed code; each leading four spaces are one level of indentation.
    void code(std::string_view block) {
        while (!block.empty()) {
            size_t end = block.find('\n');
            std::string_view text = block.substr(0, end);
            block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
            size_t spaces = text.find_first_not_of(' ');
            if (spaces == std::string_view::npos) {
                blank();
                continue;
            }
            line(static_cast<int>(spaces / 4), std::string(text.substr(spaces - spaces % 4)));
        }
    }

    /// `head` + the items separated by ", " + `tail` on one line when it fits,
    /// else the items wrapped over lines one level deeper than `indent`.
    void wrapped(int indent, const std::string& head, const std::vector<std::string>& items, const std::string& tail) {
        size_t length = 4 * indent + head.size() + tail.size();
        for (const std::string& item : items) length += item.size() + 2;
        if (length <= kWrapAt) {
            std::string text = head;
            for (size_t k = 0; k < items.size(); ++k) text += (k ? ", " : "") + items[k];
            line(indent, text + tail);
            return;
        }
        line(indent, head);
        std::string current;
        size_t room = kWrapAt - 4 * (indent + 1);
        for (const std::string& item : items) {
            if (!current.empty() && current.size() + item.size() + 2 > room) {
                line(indent + 1, current);
                current.clear();
            }
            current += (current.empty() ? "" : " ") + item + ",";
        }
        if (!current.empty()) line(indent + 1, current);
        line(indent, tail.substr(tail.find_first_not_of(' ')));
    }
};

std::string plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::vector<std::string> terms_of(const SparseRows& m, size_t row) {
    std::vector<std::string> items;
    for (int64_t k = m.starts[row]; k < m.starts[row + 1]; ++k)
        items.push_back(std::to_string(m.columns[k]) + ": " + python_number(m.values[k]));
    return items;
}

/// Writes the family's note above the first member of each run of one family.
class FamilyNotes {
  public:
    explicit FamilyNotes(const ScriptInput& in) : in_(in) {}
    void before(Writer& w, std::string_view name) {
        std::string_view family = family_of(name);
        if (started_ && family == last_) return;
        started_ = true;
        last_ = std::string(family);
        auto it = in_.family_notes.find(last_);
        if (it != in_.family_notes.end()) w.comment(1, it->second);
    }

  private:
    const ScriptInput& in_;
    bool started_ = false;
    std::string last_;
};

void header(Writer& w, const ScriptInput& in) {
    // The host reads a coding declaration in the first two lines only: both
    // are fixed, so no text of the model can ever stand there.
    w.line(0, "#!/usr/bin/env python3");
    w.line(0, "# -*- coding: utf-8 -*-");
    for (const std::string& text : in.preamble) w.line(0, text.empty() ? "#" : "# " + comment_text(text));
    if (!in.preamble.empty()) w.line(0, "#");

    size_t columns = in.column_names.size();
    size_t integers = static_cast<size_t>(std::count(in.integer.begin(), in.integer.end(), uint8_t{1}));
    size_t rows = in.a_ub.rows() + in.a_eq.rows();
    size_t nonzeros = in.a_ub.nonzeros() + in.a_eq.nonzeros();
    std::string kind = integers > 0 ? "A mixed-integer linear program: " : "A linear program: ";
    w.comment(0, kind + plural(columns, "variable", "variables") +
                     (integers > 0 ? " (" + std::to_string(integers) + " integer), " : ", ") +
                     plural(rows, "constraint row", "constraint rows") + ", " +
                     plural(nonzeros, "nonzero", "nonzeros") + ".");
    w.code(R"(# Written by `tarvok emit`. Run it with Python (it needs numpy and scipy): it solves the program
# with scipy.optimize.milp (HiGHS inside SciPy) and prints one JSON object with "status",
# "objective", "values" and "message", in the shape `tarvok run --json --nested-values` prints.
#
# The program in SciPy's standard form:
#     minimize    c @ x              c is the objective's cost, negated when the model maximizes
#     subject to  A_ub @ x <= b_ub   rows written >= appear negated; lo <= ... <= hi gives two rows
#                 A_eq @ x == b_eq
#                 lower <= x <= upper, and x[j] integer where integrality[j] == 1)");
    if (in.folded_bounds > 0)
        w.comment(0, plural(in.folded_bounds, "constraint instance", "constraint instances") +
                         " over a single variable became part of its bounds.");
    w.blank();
}

void imports(Writer& w, bool npz) {
    w.code("import contextlib\nimport ctypes\nimport json\nimport math\nimport os\n");
    if (npz) w.line(0, "import pathlib");
    w.code(R"(import sys

import numpy as np
from scipy.optimize import Bounds, LinearConstraint, milp
from scipy.sparse import coo_array

inf, nan = math.inf, math.nan
)");
}

void objective(Writer& w, const ScriptInput& in) {
    if (in.has_objective) {
        std::string what = in.maximize ? "maximize" : "minimize";
        if (!in.objective_note.empty()) what += " " + in.objective_note;
        w.comment(0, "The objective: " + what + ", plus the constant OFFSET.");
    } else {
        w.comment(0, "The model has no objective: any x that satisfies the constraints is optimal.");
    }
    w.line(0, std::string("MAXIMIZE = ") + (in.maximize ? "True" : "False"));
    w.line(0, "OFFSET = " + python_number(in.offset));
    w.blank();
    if (in.conflicts.empty()) {
        w.line(0, "CONFLICTS = []");
    } else {
        w.comment(0, "Found while expanding the model: these cannot hold whatever the variables are.");
        w.line(0, "CONFLICTS = [");
        for (const std::string& conflict : in.conflicts) w.line(1, python_string(conflict) + ",");
        w.line(0, "]");
    }
    w.blank();
}

void column_table(Writer& w, const ScriptInput& in) {
    w.code(R"(# The decision variables, one column of x each:
# (name, lower bound, upper bound, integer, objective coefficient)
COLUMNS = [)");
    FamilyNotes notes(in);
    for (size_t j = 0; j < in.column_names.size(); ++j) {
        notes.before(w, in.column_names[j]);
        w.line(1, "(" + python_string(in.column_names[j]) + ", " + python_number(in.lower[j]) + ", " +
                      python_number(in.upper[j]) + ", " + (in.integer[j] ? "1" : "0") + ", " +
                      python_number(in.cost[j]) + "),  # " + std::to_string(j));
    }
    w.close_list();
    w.blank();
}

void row_table(Writer& w, const ScriptInput& in, const char* table, const char* relation, const SparseRows& m,
               const std::vector<double>& rhs, const std::vector<std::string>& names) {
    std::string side = std::string(table) == "UB_ROWS" ? "b_ub" : "b_eq";
    std::string matrix = std::string(table) == "UB_ROWS" ? "A_ub" : "A_eq";
    w.comment(0, matrix + " @ x " + relation + " " + side + ", one row per line: (name, {column: coefficient}, " +
                     side + ")");
    w.line(0, std::string(table) + " = [");
    FamilyNotes notes(in);
    for (size_t i = 0; i < m.rows(); ++i) {
        notes.before(w, names[i]);
        w.wrapped(1, "(" + python_string(names[i]) + ", {", terms_of(m, i), "}, " + python_number(rhs[i]) + "),");
    }
    w.close_list();
    w.blank();
}

void report_tables(Writer& w, const ScriptInput& in, bool npz) {
    w.code(R"(# The output reports each variable as nested lists over its index sets (a number when it has
# none), from these columns: (name, first column, shape, integer)
VARIABLES = [)");
    for (const ReportedVariable& v : in.variables) {
        std::string shape = "(";
        for (size_t k = 0; k < v.shape.size(); ++k) shape += (k ? ", " : "") + std::to_string(v.shape[k]);
        shape += v.shape.size() == 1 ? ",)" : ")";
        w.line(1, "(" + python_string(v.name) + ", " + std::to_string(v.first) + ", " + shape + ", " +
                      (v.integer ? "True" : "False") + "),");
    }
    w.close_list();
    if (npz) {
        w.code(R"(
# ... and each decision expression: (name, constant, integer); its terms are a row of the
# .npz file's dexpr matrix.
DEXPRS = [)");
        for (const ReportedExpression& d : in.dexprs)
            w.line(1, "(" + python_string(d.name) + ", " + python_number(d.constant) + ", " +
                          (d.integer ? "True" : "False") + "),");
    } else {
        w.code(R"(
# ... and each decision expression: (name, {column: coefficient}, constant, integer)
DEXPRS = [)");
        for (const ReportedExpression& d : in.dexprs) {
            std::vector<std::string> items;
            for (size_t k = 0; k < d.columns.size(); ++k)
                items.push_back(std::to_string(d.columns[k]) + ": " + python_number(d.coefficients[k]));
            w.wrapped(1, "(" + python_string(d.name) + ", {", items,
                      "}, " + python_number(d.constant) + ", " + (d.integer ? "True" : "False") + "),");
        }
    }
    w.close_list();
    w.blank();
}

const char* kOptions = R"(# Options for scipy.optimize.milp, e.g. {"time_limit": 60, "mip_rel_gap": 1e-4, "disp": True}.
OPTIONS = {}
)";

const char* kInlineArrays = R"(

def sparse(rows, n):
    """A sparse matrix with one row per {column: coefficient} dict, built from coordinate lists."""
    i, j, a = [], [], []
    for row, terms in enumerate(rows):
        i.extend([row] * len(terms))
        j.extend(terms.keys())
        a.extend(terms.values())
    coordinates = (np.array(i, dtype=np.int64), np.array(j, dtype=np.int64))
    return coo_array((np.array(a, dtype=float), coordinates), shape=(len(rows), n)).tocsr()


def names(kind):
    """The names of the columns ("column"), of the rows of A_ub ("ub") or of A_eq ("eq")."""
    table = {"column": COLUMNS, "ub": UB_ROWS, "eq": EQ_ROWS}[kind]
    return [entry[0] for entry in table]


n = len(COLUMNS)
lower = np.array([column[1] for column in COLUMNS], dtype=float)
upper = np.array([column[2] for column in COLUMNS], dtype=float)
integrality = np.array([column[3] for column in COLUMNS], dtype=np.uint8)
cost = np.array([column[4] for column in COLUMNS], dtype=float)
A_ub = sparse([row[1] for row in UB_ROWS], n)
b_ub = np.array([row[2] for row in UB_ROWS], dtype=float)
A_eq = sparse([row[1] for row in EQ_ROWS], n)
b_eq = np.array([row[2] for row in EQ_ROWS], dtype=float)
D = sparse([dexpr[1] for dexpr in DEXPRS], n)
D_constant = np.array([dexpr[2] for dexpr in DEXPRS], dtype=float)
)";

const char* kNpzArrays = R"(# The numbers are in the .npz file of the same name beside this script, written with it:
# the columns' bounds, integrality and costs, and the matrices as coordinate lists. A link
# to the script finds the file beside the script itself, where it was written.
with np.load(pathlib.Path(__file__).resolve().with_suffix(".npz")) as npz:
    DATA = dict(npz)


def matrix(prefix, rows, n):
    """The sparse matrix stored as the coordinate lists <prefix>_rows, _columns and _values."""
    coordinates = (DATA[prefix + "_rows"], DATA[prefix + "_columns"])
    return coo_array((DATA[prefix + "_values"], coordinates), shape=(rows, n)).tocsr()


def names(kind):
    """The names of the columns ("column"), of the rows of A_ub ("ub") or of A_eq ("eq")."""
    blob, ends = DATA[kind + "_names"].tobytes(), DATA[kind + "_name_ends"].tolist()
    return [blob[start:end].decode("utf-8", "surrogatepass") for start, end in zip([0] + ends[:-1], ends)]


n = DATA["cost"].size
lower, upper = DATA["lower"], DATA["upper"]
integrality, cost = DATA["integrality"], DATA["cost"]
b_ub, b_eq = DATA["b_ub"], DATA["b_eq"]
A_ub = matrix("ub", b_ub.size, n)
A_eq = matrix("eq", b_eq.size, n)
D = matrix("dexpr", len(DEXPRS), n)
D_constant = np.array([dexpr[1] for dexpr in DEXPRS], dtype=float)
)";

const char* kSolve = R"(

MESSAGES = {
    "infeasible": "No solution satisfies all constraints.",
    "unbounded": "The objective can improve without limit.",
    "infeasible_or_unbounded": "The model is infeasible or unbounded.",
}


def status_of(result):
    """The status word `tarvok run` uses for a milp result."""
    message = result.message.lower()
    if result.status == 0:
        return "optimal"
    if result.status == 1 and message.startswith("time limit"):
        return "time_limit"
    if result.status == 2 and "infeasible" in message:
        return "infeasible"
    if result.status == 3:
        return "unbounded"
    if result.status == 4 and "unbounded or infeasible" in message:
        return "infeasible_or_unbounded"
    return "error"


def integer_bounds():
    """(lower, upper) with the bounds of integer columns rounded inward, as `tarvok run` has them:
    a bound within min(1e-9 * max(1, |bound|), 1e-6) of an integer is that integer, any other
    rounds up (lower) or down (upper). milp's presolve can go astray on fractional ones."""
    whole = integrality != 0

    def rounded(bound, up):
        with np.errstate(invalid="ignore"):
            nearest = np.round(bound)
            close = np.abs(bound - nearest) <= np.minimum(1e-9 * np.maximum(1.0, np.abs(bound)), 1e-6)
            inward = np.where(close, nearest, np.ceil(bound) if up else np.floor(bound)) + 0.0
        return np.where(whole & np.isfinite(bound), inward, bound)

    return rounded(lower, True), rounded(upper, False)


def cannot_hold(low, high):
    """Whether bounds cross or a row without variables is false, whatever x is."""
    empty_ub = np.diff(A_ub.indptr) == 0
    empty_eq = np.diff(A_eq.indptr) == 0
    return bool(np.any(low > high) or np.any(empty_ub & (b_ub < 0)) or np.any(empty_eq & (b_eq != 0)))


@contextlib.contextmanager
def stdout_to_stderr():
    """File descriptor 1 pointed at stderr while the solver runs, so that whatever the solver
    prints there stays out of stdout, which carries the JSON object alone."""
    def flush_all():
        sys.stdout.flush()
        with contextlib.suppress(Exception):
            ctypes.CDLL(None).fflush(None)  # the C library's buffers, where the solver prints

    flush_all()
    try:
        saved = os.dup(1)
        os.dup2(2, 1)
    except OSError:
        yield  # no descriptors to move (an embedded interpreter): solve as things are
        return
    try:
        yield
    finally:
        flush_all()
        os.dup2(saved, 1)
        os.close(saved)


def solve():
    """Solve the program: (status, x or None, objective or None, message or None)."""
    low, high = integer_bounds()
    if CONFLICTS or cannot_hold(low, high):
        return "infeasible", None, None, "constraints that cannot hold whatever the variables are"
    if n == 0:
        return "optimal", np.zeros(0), OFFSET, None
    c = -cost if MAXIMIZE else cost
    constraints = []
    if A_ub.shape[0]:
        constraints.append(LinearConstraint(A_ub, -inf, b_ub))
    if A_eq.shape[0]:
        constraints.append(LinearConstraint(A_eq, b_eq, b_eq))
    bounds = Bounds(low, high)
    result = milp(c, integrality=integrality, bounds=bounds, constraints=constraints, options=OPTIONS)
    status = status_of(result)
    if status == "error":
        # The solver inside SciPy has failed in its presolve on programs it settles without it; one
        # more solve, bounded in time, answers, or the error stands.
        bounded = {**OPTIONS, "presolve": False, "time_limit": min(OPTIONS.get("time_limit", 60.0), 60.0)}
        again = milp(c, integrality=integrality, bounds=bounds, constraints=constraints, options=bounded)
        if status_of(again) in ("optimal", "infeasible", "unbounded", "infeasible_or_unbounded"):
            result, status = again, status_of(again)
    if status == "infeasible" and not integrality.any():
        # The solver's presolve has called feasible linear programs infeasible; a solve without it
        # confirms. (Without presolve, a search over unbounded integers may never end.)
        again = milp(c, integrality=integrality, bounds=bounds, constraints=constraints,
                     options={**OPTIONS, "presolve": False})
        if status_of(again) in ("optimal", "unbounded", "infeasible_or_unbounded"):
            result, status = again, status_of(again)
    if status == "infeasible_or_unbounded":
        # Presolve often cannot tell the two apart; the solver without it can.
        again = milp(c, integrality=integrality, bounds=bounds, constraints=constraints,
                     options={**OPTIONS, "presolve": False})
        if status_of(again) in ("infeasible", "unbounded"):
            status = status_of(again)
    if status in ("optimal", "infeasible", "infeasible_or_unbounded") and integrality.any():
        # The relaxation checks the mixed-integer answer, which the solver has got wrong when the
        # objective is unbounded: with an infeasible relaxation the program is infeasible; with an
        # unbounded one it is unbounded as soon as it has a feasible point.
        relaxation = milp(c, bounds=bounds, constraints=constraints, options={**OPTIONS, "presolve": False})
        relaxed = status_of(relaxation)
        if relaxed == "infeasible" and status != "optimal":
            status = "infeasible"
        elif relaxed == "unbounded":
            status = "unbounded" if status == "optimal" else "infeasible_or_unbounded"
    if status == "infeasible_or_unbounded":
        # The solver found a direction of unlimited improvement: with a feasible point the
        # program is unbounded, without one infeasible.
        point = milp(np.zeros(n), integrality=integrality, bounds=bounds, constraints=constraints,
                     options=OPTIONS)
        status = {"optimal": "unbounded", "infeasible": "infeasible"}.get(status_of(point), status)
    if status in ("optimal", "time_limit") and result.x is not None:
        return status, result.x, OFFSET + (-result.fun if MAXIMIZE else result.fun), None
    if status == "time_limit":
        return status, None, None, "No feasible solution was found within the time limit."
    if status == "error":
        return status, None, None, "HiGHS stopped without a result: " + result.message
    return status, None, None, MESSAGES[status]


def reported(values, integer):
    """Values as `tarvok run` reports them: integers rounded, anything within 1e-9 of zero made 0."""
    values = np.array(values, dtype=float)
    if integer:
        values = np.round(values)
    values[np.abs(values) < 1e-9] = 0.0
    if integer and np.all(np.abs(values) < 9e15):
        return values.astype(np.int64)
    return values


def solution_values(x):
    """{variable or dexpr name: value}, each variable as nested lists over its index sets."""
    values = {}
    for name, first, shape, integer in VARIABLES:
        size = math.prod(shape)
        values[name] = reported(x[first:first + size], integer).reshape(shape).tolist()
    dexpr_values = D @ x + D_constant
    for k, dexpr in enumerate(DEXPRS):
        values[dexpr[0]] = reported(dexpr_values[k:k + 1], dexpr[-1]).reshape(()).tolist()
    return values


def main():
    with stdout_to_stderr():
        status, x, objective, message = solve()
    result = {
        "status": status,
        "objective": None if objective is None else reported([objective], False).reshape(()).tolist(),
        "values": {} if x is None else solution_values(x),
        "message": message,
    }
    try:
        print(json.dumps(result, indent=2, ensure_ascii=False))
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader stopped reading (`| head`): quiet, as SIGPIPE would end the script, and what
        # is still buffered goes nowhere, so that the interpreter's last flush does not complain.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 141
    return 0 if status == "optimal" else 3


if __name__ == "__main__":
    sys.exit(main())
)";

template <typename T>
NamedArray array(std::string name, std::vector<T> data) {
    return {std::move(name), std::move(data)};
}

/// The names as one UTF-8 blob and the end offset of each name in it.
void add_names(std::vector<NamedArray>& out, const std::string& kind, const std::vector<std::string>& names) {
    std::vector<uint8_t> blob;
    std::vector<int64_t> ends;
    ends.reserve(names.size());
    for (const std::string& name : names) {
        blob.insert(blob.end(), name.begin(), name.end());
        ends.push_back(static_cast<int64_t>(blob.size()));
    }
    out.push_back(array(kind + "_names", std::move(blob)));
    out.push_back(array(kind + "_name_ends", std::move(ends)));
}

/// A matrix as the coordinate lists <prefix>_rows, _columns and _values.
void add_matrix(std::vector<NamedArray>& out, const std::string& prefix, SparseRows&& m) {
    std::vector<int32_t> rows(m.nonzeros());
    for (size_t i = 0; i < m.rows(); ++i)
        std::fill(rows.begin() + m.starts[i], rows.begin() + m.starts[i + 1], static_cast<int32_t>(i));
    out.push_back(array(prefix + "_rows", std::move(rows)));
    out.push_back(array(prefix + "_columns", std::move(m.columns)));
    out.push_back(array(prefix + "_values", std::move(m.values)));
}

std::vector<NamedArray> npz_arrays(ScriptInput& in) {
    std::vector<NamedArray> out;
    out.push_back(array("cost", std::move(in.cost)));
    out.push_back(array("lower", std::move(in.lower)));
    out.push_back(array("upper", std::move(in.upper)));
    out.push_back(array("integrality", std::move(in.integer)));
    out.push_back(array("b_ub", std::move(in.b_ub)));
    out.push_back(array("b_eq", std::move(in.b_eq)));
    add_matrix(out, "ub", std::move(in.a_ub));
    add_matrix(out, "eq", std::move(in.a_eq));
    SparseRows d;
    for (ReportedExpression& e : in.dexprs) {
        d.columns.insert(d.columns.end(), e.columns.begin(), e.columns.end());
        d.values.insert(d.values.end(), e.coefficients.begin(), e.coefficients.end());
        d.end_row();
    }
    add_matrix(out, "dexpr", std::move(d));
    add_names(out, "column", in.column_names);
    add_names(out, "ub", in.ub_names);
    add_names(out, "eq", in.eq_names);
    return out;
}

}  // namespace

bool needs_npz(const ScriptInput& in) {
    uint64_t nonzeros = in.a_ub.nonzeros() + in.a_eq.nonzeros();
    for (const ReportedExpression& d : in.dexprs) nonzeros += d.columns.size();
    uint64_t rows = in.a_ub.rows() + in.a_eq.rows();
    return in.column_names.size() > in.inline_limit || rows > in.inline_limit || nonzeros > in.inline_limit;
}

Script render_script(ScriptInput in) {
    bool npz = needs_npz(in);
    Writer w;
    header(w, in);
    imports(w, npz);
    w.blank();
    objective(w, in);
    if (!npz) {
        column_table(w, in);
        row_table(w, in, "UB_ROWS", "<=", in.a_ub, in.b_ub, in.ub_names);
        row_table(w, in, "EQ_ROWS", "==", in.a_eq, in.b_eq, in.eq_names);
    }
    report_tables(w, in, npz);
    w.code(kOptions);
    Script out;
    if (npz) {
        w.blank();
        w.code(kNpzArrays);
        out.arrays = npz_arrays(in);
    } else {
        w.code(kInlineArrays);
    }
    w.code(kSolve);
    while (!w.lines.empty() && w.lines.back().text.empty()) w.lines.pop_back();
    out.lines = std::move(w.lines);
    return out;
}

}  // namespace tarvok::scipy_emitter
