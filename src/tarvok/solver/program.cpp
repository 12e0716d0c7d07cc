// Names, origins and other views of a Program built on request.
#include "solver/program.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_set>

namespace tarvok::solver {

double LinearForm::value(const double* x) const {
    double sum = constant;
    for (size_t k = 0; k < columns.size(); ++k) sum += coefficients[k] * x[columns[k]];
    return sum;
}

double inward_integer_bound(double bound, bool lower) {
    if (!std::isfinite(bound)) return bound;
    double nearest = std::nearbyint(bound);
    double tolerance = std::min(1e-9 * std::max(1.0, std::fabs(bound)), 1e-6);
    double out = std::fabs(bound - nearest) <= tolerance ? nearest : lower ? std::ceil(bound) : std::floor(bound);
    return out + 0.0;  // never -0
}

uint32_t Program::integer_columns() const {
    return static_cast<uint32_t>(std::count(integrality.begin(), integrality.end(), uint8_t{1}));
}

const VariableBlock& Program::block_of(uint32_t column) const {
    auto it = std::upper_bound(variables.begin(), variables.end(), column,
                               [](uint32_t c, const VariableBlock& b) { return c < b.first; });
    return *(it - 1);
}

std::string Program::key_text(const tc::Value& v) const {
    switch (v.kind) {
    case tc::VKind::Int: return std::to_string(v.i);
    case tc::VKind::Bool: return v.i ? "true" : "false";
    case tc::VKind::Float: {
        char buffer[64];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v.f);
        std::string s(buffer, end);
        if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
        return s;
    }
    case tc::VKind::String: return std::string(compilation().ast.texts[v.id]);
    case tc::VKind::Tuple: {
        std::string s = "<";
        const std::vector<tc::Value>& elements = compilation().values.tuples[v.id];
        for (size_t i = 0; i < elements.size(); ++i) s += (i ? "," : "") + key_text(elements[i]);
        return s + ">";
    }
    case tc::VKind::Unknown: break;
    }
    return "?";
}

tc::Value Program::key_value(uint32_t binding, uint64_t index) const {
    tc::Value v;
    v.kind = binding_kinds_[binding];
    std::memcpy(&v.i, &keys[index], sizeof v.i);
    return v;
}

tc::Value Program::instance_value(const InstanceRef& ref, size_t k) const {
    if (!positional(ref.constraint)) return key_value(constraint_bindings_[ref.constraint][k], ref.key + k);
    // The enumeration runs the innermost binding fastest.
    const std::vector<std::shared_ptr<const tc::Domain>>& sets = positional_[ref.constraint];
    uint64_t place = ref.key;
    for (size_t inner = sets.size() - 1; inner > k; --inner) place /= sets[inner]->size();
    return sets[k]->at(place % sets[k]->size());
}

std::vector<std::string> Program::column_keys(uint32_t column) const {
    const VariableBlock& b = block_of(column);
    uint64_t offset = column - b.first;
    std::vector<std::string> keys(b.dims.size());
    for (size_t k = b.dims.size(); k-- > 0;) {
        uint64_t size = b.dims[k]->size();
        keys[k] = key_text(b.dims[k]->at(offset % size));
        offset /= size;
    }
    return keys;
}

std::string Program::column_name(uint32_t column) const {
    std::string name = block_of(column).name;
    for (const std::string& key : column_keys(column)) name += "[" + key + "]";
    return name;
}

std::string Program::instance_name(const InstanceRef& ref) const {
    std::string name = constraint_names_[ref.constraint];
    const std::vector<uint32_t>& bindings = constraint_bindings_[ref.constraint];
    for (size_t k = 0; k < bindings.size(); ++k) name += "[" + key_text(instance_value(ref, k)) + "]";
    return name;
}

std::vector<std::string> Program::instance_keys(const InstanceRef& ref) const {
    const std::vector<uint32_t>& bindings = constraint_bindings_[ref.constraint];
    std::vector<std::string> out;
    out.reserve(bindings.size());
    for (size_t k = 0; k < bindings.size(); ++k) out.push_back(key_text(instance_value(ref, k)));
    return out;
}

uint32_t Program::instance_line(const InstanceRef& ref) const {
    const tc::Constraint& k = compilation().model.constraints[ref.constraint];
    return k.label != kNone ? k.label_at.line : k.at.line;
}

std::string Program::row_name(uint32_t row) const { return instance_name(row_origin[row]); }

uint32_t Program::row_line(uint32_t row) const { return instance_line(row_origin[row]); }

namespace {

/// One name as a file format allows it. MPS separates fields by white
/// space; the LP format allows letters, digits and a few signs, so brackets
/// become parentheses and angle brackets braces.
std::string format_name(std::string_view name, NameFormat format) {
    std::string out(name);
    for (char& ch : out) {
        unsigned char u = static_cast<unsigned char>(ch);
        if (format == NameFormat::Mps) {
            if (u <= 0x20 || u == 0x7f) ch = '_';
            continue;
        }
        if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')) continue;
        switch (ch) {
        case '[': ch = '('; break;
        case ']': ch = ')'; break;
        case '<': ch = '{'; break;
        case '>': ch = '}'; break;
        case '!':
        case '"':
        case '#':
        case '$':
        case '%':
        case '&':
        case '(':
        case ')':
        case ',':
        case '.':
        case ';':
        case '?':
        case '@':
        case '_':
        case '{':
        case '}':
        case '~': break;
        default: ch = '_';
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> Program::export_names(const std::vector<std::string>& names, NameFormat format) const {
    std::vector<std::string> out;
    out.reserve(names.size());
    std::unordered_set<std::string> taken;
    taken.reserve(names.size() * 2);
    for (const std::string& n : names) {
        std::string candidate = format_name(n, format);
        if (!taken.insert(candidate).second) {
            for (uint64_t k = 2;; ++k) {
                std::string next = candidate + "~" + std::to_string(k);
                if (taken.insert(next).second) {
                    candidate = std::move(next);
                    break;
                }
            }
        }
        out.push_back(std::move(candidate));
    }
    return out;
}

std::vector<std::string> Program::export_column_names(NameFormat format) const {
    std::vector<std::string> names;
    names.reserve(columns());
    for (uint32_t j = 0; j < columns(); ++j) names.push_back(column_name(j));
    return export_names(names, format);
}

std::vector<std::string> Program::export_row_names(NameFormat format) const {
    std::vector<std::string> names;
    names.reserve(rows());
    for (uint32_t i = 0; i < rows(); ++i) names.push_back(row_name(i));
    return export_names(names, format);
}

CscMatrix Program::csc() const {
    // A counting transpose: starts[j + 2] counts column j, so that after the
    // prefix sum starts[j + 1] is where column j begins and serves as its
    // fill position; filling moves it to where column j + 1 begins.
    CscMatrix m;
    m.starts.assign(columns() + 2, 0);
    for (int32_t j : col_indices) ++m.starts[j + 2];
    for (uint32_t j = 1; j <= columns(); ++j) m.starts[j + 1] += m.starts[j];
    m.rows.resize(col_indices.size());
    m.values.resize(col_indices.size());
    int32_t* next = m.starts.data() + 1;
    for (uint32_t i = 0; i < rows(); ++i) {
        for (int32_t k = row_starts[i]; k < row_starts[i + 1]; ++k) {
            int32_t slot = next[col_indices[k]]++;
            m.rows[slot] = static_cast<int32_t>(i);
            m.values[slot] = values[k];
        }
    }
    m.starts.pop_back();
    return m;
}

const CscMatrix& Program::columnwise() const {
    std::call_once(columnwise_->built, [this] { columnwise_->matrix = csc(); });
    return columnwise_->matrix;
}

std::vector<Culprit> Program::explain(const std::vector<uint32_t>& iis_rows, const std::vector<uint32_t>& iis_columns,
                                      const std::vector<int>& column_bound_status) const {
    // Bound statuses as HiGHS numbers them.
    constexpr int kLower = 2, kUpper = 3, kBoxed = 4;
    std::vector<Culprit> out;
    auto push = [&](Culprit c) {
        for (const Culprit& seen : out)
            if (seen.name == c.name && seen.kind == c.kind) return;
        out.push_back(std::move(c));
    };
    for (uint32_t row : iis_rows)
        if (row < rows()) push({row_name(row), row_line(row), Culprit::Kind::Constraint});
    for (size_t k = 0; k < iis_columns.size(); ++k) {
        uint32_t j = iis_columns[k];
        int status = k < column_bound_status.size() ? column_bound_status[k] : kBoxed;
        if (j >= columns() || (status != kLower && status != kUpper && status != kBoxed)) continue;
        for (bool low : {true, false}) {
            if ((low && status == kUpper) || (!low && status == kLower)) continue;
            uint32_t source = lower_source.empty() ? kNone : (low ? lower_source : upper_source)[j];
            if (source == kNone)
                push({column_name(j), column_line(j), Culprit::Kind::Bound});
            else
                push({instance_name(folded[source].origin), instance_line(folded[source].origin),
                      Culprit::Kind::Constraint});
        }
    }
    return out;
}

}  // namespace tarvok::solver
