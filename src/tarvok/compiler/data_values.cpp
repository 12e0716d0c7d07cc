#include "compiler/data_values.hpp"
#include "compiler/compiler.hpp"

#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>

namespace tarvok::data {

namespace {

/// What the model says about a name the data gives.
struct Shape {
    compiler::DeclKind kind = compiler::DeclKind::Parameter;
    size_t dims = 0;
    std::vector<std::string> fields;  ///< of the tuple type of the value (or of a set's elements)
    bool is_tuple = false;
    bool unknown = false;               ///< not declared: written as given, for the compiler to report
    std::vector<std::string> dim_sets;  ///< the set or range named by each dimension ("" for `a..b`)
    uint32_t decl = compiler::kNone;    ///< the declaration in the model
};

bool is_identifier(std::string_view name) {
    if (name.empty()) return false;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!letter(name[0])) return false;
    for (char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

class DataWriter {
  public:
    /// `known_text`: data text given beside the values (.dat files), whose sets may index them.
    DataWriter(std::string_view model_text, const Value& data, std::string_view known_text = {})
        : model_text_(model_text), data_(data), known_text_(known_text) {
        compiler::CompileOptions options;
        options.check_instance = false;
        std::unique_ptr<compiler::Compilation> c = compiler::compile(model_text, "", options);
        std::map<std::string, std::vector<std::string>> tuple_fields;
        for (const compiler::Declaration& d : c->model.decls) {
            if (d.kind != compiler::DeclKind::TupleType) continue;
            std::vector<std::string> fields;
            for (const compiler::TupleField& f : d.fields) fields.emplace_back(c->ast.texts[f.name]);
            tuple_fields[std::string(c->ast.texts[d.name])] = std::move(fields);
        }
        for (const compiler::Declaration& d : c->model.decls) {
            if (d.kind == compiler::DeclKind::TupleType) continue;
            Shape s;
            s.decl = static_cast<uint32_t>(&d - c->model.decls.data());
            s.kind = d.kind;
            s.dims = d.dims.size();
            for (compiler::ExprId dim : d.dims) {
                const compiler::Expr& e = c->ast[dim];
                s.dim_sets.emplace_back(e.kind == compiler::ExprKind::Name ? c->ast.texts[e.text()] : "");
            }
            if (d.type.base == compiler::BaseType::Tuple && d.type.tuple != compiler::kNone) {
                auto found = tuple_fields.find(std::string(c->ast.texts[d.type.tuple]));
                if (found != tuple_fields.end()) {
                    s.fields = found->second;
                    s.is_tuple = true;
                }
            }
            shapes_[std::string(c->ast.texts[d.name])] = std::move(s);
        }
    }

    /// Writes `name = value;`; false (and `error` set) when it cannot.
    bool assignment(const std::string& name, const Value& value) {
        path_ = {};
        return at_path(name, false, [&] { return assign(name, value); });
    }

  private:
    bool assign(const std::string& name, const Value& value) {
        if (!is_identifier(name)) return fail("'" + name + "' is not a name");
        out_ += name + " = ";
        auto found = shapes_.find(name);
        Shape none;
        none.unknown = true;
        const Shape& shape = found == shapes_.end() ? none : found->second;
        where_ = name;
        if (shape.unknown && value.kind() == Value::Kind::Object)
            return fail("the model declares no '" + name + "' to take an object");
        bool ok = shape.kind == compiler::DeclKind::Set ? set(shape, value) : array(shape, value, shape.dims, 0);
        out_ += ";\n";
        return ok;
    }

  public:
    const std::string& text() const { return out_; }
    const std::string& error() const { return error_; }

    /// Remembers the innermost value written over byte `offset` (see found).
    void watch(size_t offset) { watch_ = offset; }
    const DataPath& found() const { return found_; }

  private:
    /// Writes one value (`write`) as the step `step` of the path being written.
    template <typename Write>
    bool at_path(const std::string& step, bool positional, Write write) {
        path_.steps.push_back(step);
        path_.positional.push_back(positional);
        size_t begin = out_.size();
        bool ok = write();
        if (watch_ >= begin && watch_ < out_.size() && path_.steps.size() > found_.steps.size()) found_ = path_;
        path_.steps.pop_back();
        path_.positional.pop_back();
        return ok;
    }

    bool fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return false;
    }

    bool set(const Shape& shape, const Value& value) {
        if (value.kind() != Value::Kind::Array)
            return fail("'" + where_ + "' is a set; give its elements as a list, not " + describe_kind(value));
        out_ += "{";
        for (size_t i = 0; i < value.items().size(); ++i) {
            if (i) out_ += ", ";
            if (!at_path(std::to_string(i), true, [&] { return element(shape, value.items()[i], 1); })) return false;
        }
        out_ += "}";
        return true;
    }

    /// An array of `dims` dimensions (a lone element at 0).
    bool array(const Shape& shape, const Value& value, size_t dims, size_t depth) {
        if (depth > kMaxDataDepth) return fail("'" + where_ + "' nests more than " + std::to_string(kMaxDataDepth));
        if (dims == 0 && !shape.unknown) return element(shape, value, depth);
        if (value.kind() == Value::Kind::Object && dims > 0 && !shape.unknown) return keyed(shape, value, dims, depth);
        if (value.kind() != Value::Kind::Array) return element(shape, value, depth);
        out_ += "[";
        for (size_t i = 0; i < value.items().size(); ++i) {
            if (i) out_ += ", ";
            if (!at_path(std::to_string(i), true,
                         [&] { return array(shape, value.items()[i], dims ? dims - 1 : 0, depth + 1); }))
                return false;
        }
        out_ += "]";
        return true;
    }

    bool element(const Shape& shape, const Value& value, size_t depth) {
        if (depth > kMaxDataDepth) return fail("'" + where_ + "' nests more than " + std::to_string(kMaxDataDepth));
        if (value.kind() == Value::Kind::Object) {
            if (!shape.is_tuple) return fail("'" + where_ + "' takes no tuples, but an object was given");
            for (const auto& [key, v] : value.members()) {
                bool known = false;
                for (const std::string& f : shape.fields) known = known || f == key;
                if (!known) return fail("'" + where_ + "': the tuple has no field '" + key + "'");
            }
            out_ += "<";
            for (size_t i = 0; i < shape.fields.size(); ++i) {
                const Value* field = value.find(shape.fields[i]);
                if (!field) return fail("'" + where_ + "': a tuple lacks its field '" + shape.fields[i] + "'");
                if (i) out_ += ", ";
                if (!scalar(*field)) return false;
            }
            out_ += ">";
            return true;
        }
        if (value.kind() == Value::Kind::Array) {
            if (!shape.is_tuple) return fail("'" + where_ + "' has a list where a single value belongs");
            out_ += "<";
            for (size_t i = 0; i < value.items().size(); ++i) {
                if (i) out_ += ", ";
                if (!scalar(value.items()[i])) return false;
            }
            out_ += ">";
            return true;
        }
        return scalar(value);
    }

    bool scalar(const Value& value) {
        switch (value.kind()) {
        case Value::Kind::Null: return fail("'" + where_ + "' holds a null");
        case Value::Kind::Boolean: out_ += value.boolean() ? "true" : "false"; return true;
        case Value::Kind::Integer: out_ += std::to_string(value.integer()); return true;
        case Value::Kind::Number: {
            if (!std::isfinite(value.number())) return fail("'" + where_ + "' holds a number that is not finite");
            char buffer[32];
            auto end = std::to_chars(buffer, buffer + sizeof buffer, value.number()).ptr;
            std::string_view written(buffer, static_cast<size_t>(end - buffer));
            out_ += written;
            // A number JSON gave with a fraction or exponent stays a float: 1e19 written "10000000000000000000"
            // would read as an int too large for one.
            if (written.find_first_of(".e") == std::string_view::npos) out_ += ".0";
            return true;
        }
        case Value::Kind::String: {
            out_ += '"';
            for (char c : value.text()) {
                switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\n': out_ += "\\n"; break;
                case '\t': out_ += "\\t"; break;
                default: out_ += c;
                }
            }
            out_ += '"';
            return true;
        }
        case Value::Kind::Array:
        case Value::Kind::Object:
            return fail("'" + where_ + "' has " + describe_kind(value) + " where a single value belongs");
        }
        return false;
    }

    /// The elements of the set `name` as this data lists them (strings and
    /// whole numbers only), or nothing.
    const std::vector<Value>* listed_elements(const std::string& name) const {
        const Value* set = data_.find(name);
        if (!set || set->kind() != Value::Kind::Array) return nullptr;
        for (const Value& e : set->items())
            if (e.kind() != Value::Kind::String && e.kind() != Value::Kind::Integer) return nullptr;
        return &set->items();
    }

    /// The elements of an index set: each as canonical_key makes a key of
    /// it, and as messages show it; the kinds of its fields.
    struct Elements {
        std::vector<std::string> canonical, shown;
        std::vector<CellType> kinds{CellType::String};
        bool tuple = false;
    };

    static CellType kind_of(const compiler::Value& v) {
        switch (v.kind) {
        case compiler::VKind::Int: return CellType::Int;
        case compiler::VKind::Float: return CellType::Float;
        case compiler::VKind::Bool: return CellType::Boolean;
        case compiler::VKind::String: return CellType::String;
        default: return CellType::Unknown;
        }
    }

    /// A field of an element as it is written in data.
    static std::optional<std::string> field_text(const compiler::Compilation& c, const compiler::Value& v) {
        switch (v.kind) {
        case compiler::VKind::Int: return std::to_string(v.i);
        case compiler::VKind::Bool: return std::string(v.i ? "true" : "false");
        case compiler::VKind::String: return std::string(c.ast.texts[v.id]);
        case compiler::VKind::Float: {
            char buffer[32];
            auto end = std::to_chars(buffer, buffer + sizeof buffer, v.f).ptr;
            return std::string(buffer, end);
        }
        default: return std::nullopt;
        }
    }

    /// The elements of dimension `k` of the declaration, in its order: the
    /// set or range as the model computes it from this data (one rule for a
    /// set the data lists and one the model defines, `range T = 1..n` or
    /// `{int} V = K`), else the elements of a set this data lists.
    std::optional<Elements> dimension_elements(const Shape& shape, size_t k) {
        const std::string& set = shape.dim_sets[k];
        const compiler::Compilation& c = evaluated();
        const compiler::Domain* found = nullptr;
        if (shape.decl < c.values.decls.size()) {
            const compiler::DeclValue& dv = c.values.decls[shape.decl];
            found = k < dv.dims.size() ? dv.dims[k].get() : nullptr;
        }
        auto named = set.empty() ? shapes_.end() : shapes_.find(set);
        if (!found && named != shapes_.end() && named->second.decl < c.values.decls.size())
            found = c.values.decls[named->second.decl].set.get();
        Elements out;
        if (!found) {
            const std::vector<Value>* listed = set.empty() ? nullptr : listed_elements(set);
            if (!listed) return std::nullopt;
            for (const Value& e : *listed) {
                std::string text = e.kind() == Value::Kind::String ? e.text() : std::to_string(e.integer());
                out.kinds = {e.kind() == Value::Kind::String ? CellType::String : CellType::Int};
                out.shown.push_back(text);
            }
            for (const std::string& text : out.shown) out.canonical.push_back(canonical_key(text, out.kinds, false));
            return out;
        }
        const compiler::Domain& domain = *found;
        if (domain.size() > kMaxTextBytes) return std::nullopt;
        for (uint64_t i = 0; i < domain.size(); ++i) {
            compiler::Value v = domain.at(i);
            std::vector<compiler::Value> fields{v};
            out.tuple = v.kind == compiler::VKind::Tuple;
            if (out.tuple) fields = c.values.tuples[v.id];
            std::vector<std::string> texts;
            std::vector<CellType> kinds;
            for (const compiler::Value& f : fields) {
                std::optional<std::string> text = field_text(c, f);
                if (!text) return std::nullopt;
                texts.push_back(std::move(*text));
                kinds.push_back(kind_of(f));
            }
            out.kinds = kinds;
            std::string shown, quoted;
            for (const std::string& t : texts) {
                shown += (shown.empty() ? "" : ",") + t;
                quoted += (quoted.empty() ? "" : ",") + ("\"" + t + "\"");
            }
            out.shown.push_back(out.tuple ? "<" + shown + ">" : shown);
            out.canonical.push_back(canonical_key(out.tuple ? "<" + quoted + ">" : shown, kinds, out.tuple));
        }
        return out;
    }

    /// The model compiled with the single values and sets of this data,
    /// which is what its index sets are made of.
    const compiler::Compilation& evaluated() {
        if (!evaluated_) {
            for (const auto& [name, value] : data_.members()) {
                bool single = value.kind() == Value::Kind::Integer || value.kind() == Value::Kind::Number ||
                              value.kind() == Value::Kind::String || value.kind() == Value::Kind::Boolean;
                auto found = shapes_.find(name);
                if (!is_identifier(name) || found == shapes_.end()) continue;
                bool is_set = found->second.kind == compiler::DeclKind::Set;
                // Sets too: a set the model defines from another (`{int} V = K;`) keys an array like any other.
                if (!(is_set ? value.kind() == Value::Kind::Array : single && found->second.dims == 0)) continue;
                std::string saved_out = std::move(out_), saved_where = std::move(where_), saved_error = error_;
                DataPath saved_path = path_, saved_found = found_;
                size_t saved_watch = std::exchange(watch_, SIZE_MAX);
                out_.clear();
                where_ = name;
                if (is_set ? set(found->second, value) : scalar(value)) singles_ += name + " = " + out_ + ";\n";
                out_ = std::move(saved_out);
                where_ = std::move(saved_where);
                error_ = std::move(saved_error);
                path_ = std::move(saved_path);
                found_ = std::move(saved_found);
                watch_ = saved_watch;
            }
            compiler::CompileOptions options;
            options.check_instance = false;
            singles_.insert(0, known_text_.empty() || known_text_.back() == '\n' ? known_text_ : known_text_ + "\n");
            evaluated_ = compiler::compile(model_text_, singles_, options);
        }
        return *evaluated_;
    }

    /// What a keyed level gives: canonical key -> the key as given, and its value.
    struct GivenKeys {
        std::unordered_map<std::string, std::pair<std::string, const Value*>> at;
        std::vector<std::string> order;  ///< the canonical keys as given
    };

    /// The entries of `value` for the elements of `of`: a key per element,
    /// or for tuples a `<a,1>` key or one nested level per field.
    bool given_keys(const Value& value, const Elements& of, const std::string& named, size_t field,
                    std::vector<std::string>& fields, GivenKeys& out) {
        for (const auto& [key, v] : value.members()) {
            std::string canonical, given;
            if (of.tuple && field == 0 && key.size() >= 2 && key.front() == '<' && key.back() == '>') {
                canonical = canonical_key(key, of.kinds, true);
                given = key;
            } else if (!of.tuple) {
                canonical = canonical_key(key, of.kinds, false);
                given = key;
            } else {
                fields.push_back(key);
                bool ok = true;
                if (field + 1 < of.kinds.size()) {
                    if (v.kind() != Value::Kind::Object) {
                        fields.pop_back();
                        return fail("data '" + where_ + "': the elements of " + named + " are tuples of " +
                                    std::to_string(of.kinds.size()) +
                                    " fields; key them as \"<a,1>\" or by "
                                    "each field in turn");
                    }
                    ok = given_keys(v, of, named, field + 1, fields, out);
                } else {
                    // Each field quoted, so that a comma inside one stays inside it.
                    std::string joined, quoted;
                    for (const std::string& f : fields) {
                        joined += (joined.empty() ? "" : ",") + f;
                        quoted += (quoted.empty() ? "" : ",") + ("\"" + f + "\"");
                    }
                    given = "<" + joined + ">";
                    canonical = canonical_key("<" + quoted + ">", of.kinds, true);
                }
                fields.pop_back();
                if (!ok) return false;
                if (given.empty()) continue;
            }
            if (!out.at.emplace(canonical, std::pair(given, &v)).second)
                return fail("data '" + where_ + "' gives the element " + given + " of " + named + " twice");
            out.order.push_back(canonical);
        }
        return true;
    }

    /// Whether a dimension of the declaration after `k` has no elements, so
    /// that the array holds none and may be given with no entries.
    bool empty_below(const Shape& shape, size_t k) {
        for (size_t d = k + 1; d < shape.dims; ++d) {
            std::optional<Elements> elements = dimension_elements(shape, d);
            if (elements && elements->canonical.empty()) return true;
        }
        return false;
    }

    /// An array given as an object keyed by the elements of its index set,
    /// written in the order of that set.
    bool keyed(const Shape& shape, const Value& value, size_t dims, size_t depth) {
        size_t k = shape.dims - dims;
        const std::string& set = shape.dim_sets[k];
        std::optional<Elements> elements = dimension_elements(shape, k);
        if (!elements)
            return fail("'" + where_ +
                        "' is an array; give its values as a list in the order of its index set, or as an object "
                        "keyed by the elements of a set this data lists or a range the model defines");
        std::string named = set.empty() ? "its index range" : set;
        GivenKeys given;
        std::vector<std::string> fields;
        if (!given_keys(value, *elements, named, 0, fields, given)) return false;
        std::unordered_map<std::string_view, size_t> known;
        for (size_t i = 0; i < elements->canonical.size(); ++i) known.emplace(elements->canonical[i], i);
        for (const std::string& canonical : given.order)
            if (!known.contains(canonical))
                return fail("data '" + where_ + "': key '" + given.at[canonical].first + "' is not in " + named);
        std::optional<bool> holds_none;
        static const Value kNoEntries = Value::object();
        out_ += "[";
        for (size_t i = 0; i < elements->canonical.size(); ++i) {
            auto at = given.at.find(elements->canonical[i]);
            const Value* inner = at == given.at.end() ? nullptr : at->second.second;
            if (!inner) {
                if (!holds_none) holds_none = dims > 1 && empty_below(shape, k);
                if (!*holds_none)
                    return fail("'" + where_ + "' has no value for \"" + elements->shown[i] + "\" of " + named);
                inner = &kNoEntries;
            }
            if (i) out_ += ", ";
            const std::string& step = at == given.at.end() ? elements->shown[i] : at->second.first;
            if (!at_path(step, false, [&] { return array(shape, *inner, dims - 1, depth + 1); })) return false;
        }
        out_ += "]";
        return true;
    }

    std::string_view model_text_;
    const Value& data_;
    std::string known_text_;
    std::map<std::string, Shape> shapes_;
    std::string out_, error_, where_;
    std::string singles_;  ///< the data text `evaluated_` holds a view of
    size_t watch_ = SIZE_MAX;
    DataPath path_, found_;
    std::unique_ptr<compiler::Compilation> evaluated_;
};

}  // namespace

std::variant<std::string, std::string> data_from_json(std::string_view model_text, const Value& data,
                                                      std::string_view known_text) {
    using Result = std::variant<std::string, std::string>;
    if (data.kind() != Value::Kind::Object) return Result(std::in_place_index<1>, "the data must be an object");
    DataWriter writer(model_text, data, known_text);
    for (const auto& [name, value] : data.members())
        if (!writer.assignment(name, value)) return Result(std::in_place_index<1>, writer.error());
    if (writer.text().size() > kMaxTextBytes)
        return Result(std::in_place_index<1>,
                      "the data makes a text of more than " + std::to_string(kMaxTextBytes) + " bytes");
    return Result(std::in_place_index<0>, writer.text());
}

std::optional<DataPath> data_path_at(std::string_view model_text, const Value& data, size_t offset,
                                     std::string_view known_text) {
    if (data.kind() != Value::Kind::Object) return std::nullopt;
    DataWriter writer(model_text, data, known_text);
    writer.watch(offset);
    for (const auto& [name, value] : data.members())
        if (!writer.assignment(name, value) || writer.text().size() > offset) break;
    if (writer.found().steps.empty()) return std::nullopt;
    return writer.found();
}

namespace {

/// The steps of `path` from `first` on, each in brackets: `["Odense"]`, `[2]`.
std::string keys_text(const DataPath& path, size_t first, size_t end) {
    std::string out;
    for (size_t i = first; i < end; ++i)
        out += path.positional[i] ? "[" + path.steps[i] + "]" : "[\"" + path.steps[i] + "\"]";
    return out;
}

}  // namespace

std::string path_text(const DataPath& path) {
    return path.steps.empty() ? std::string() : path.steps[0] + keys_text(path, 1, path.steps.size());
}

std::string mapping_path_at(std::string_view model_text, const Value& data, size_t offset) {
    std::optional<DataPath> path = data_path_at(model_text, data, offset);
    if (!path) return "";
    DataPath named = *path;
    named.steps[0] = "data";
    named.steps.insert(named.steps.begin() + 1, path->steps[0]);
    named.positional.insert(named.positional.begin() + 1, false);
    return path_text(named);
}

std::string describe_source(const DataSources& sources, size_t offset) {
    if (offset < sources.base) return "";
    std::optional<DataPath> path =
        data_path_at(sources.model_text, sources.values, offset - sources.base, sources.known_text);
    if (!path) return "";
    const std::string& name = path->steps[0];
    // The row of a table, or the nearest one that holds the place.
    auto table = sources.rows.find(name);
    if (table != sources.rows.end()) {
        for (size_t end = path->steps.size(); end >= 1; --end) {
            auto row = table->second.find(keys_text(*path, 1, end));
            if (row != table->second.end()) return row->second;
        }
    }
    auto file = sources.files.find(name);
    return (file == sources.files.end() ? std::string("data") : file->second) + ": " + path_text(*path);
}

namespace {

CellType cell_type(compiler::BaseType base) {
    switch (base) {
    case compiler::BaseType::Int: return CellType::Int;
    case compiler::BaseType::Float: return CellType::Float;
    case compiler::BaseType::String: return CellType::String;
    case compiler::BaseType::Boolean: return CellType::Boolean;
    case compiler::BaseType::Tuple: return CellType::Tuple;
    }
    return CellType::Unknown;
}

/// A number's text made comparable: a whole number as an integer, else the
/// shortest text of its double; nothing for a text that is no number.
std::optional<std::string> number_key(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const char* end = text.data() + text.size();
    int64_t whole = 0;
    if (auto [at, ec] = std::from_chars(text.data(), end, whole); ec == std::errc() && at == end)
        return std::to_string(whole);
    double number = 0;
    if (auto [at, ec] = std::from_chars(text.data(), end, number); ec != std::errc() || at != end) return std::nullopt;
    if (!std::isfinite(number)) return std::nullopt;
    if (auto w = whole_number_key(number)) return *w;
    char buffer[32];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, number).ptr);
}

std::string field_key(std::string_view text, CellType kind) {
    if (kind == CellType::Boolean) {
        if (text == "true") return "1";
        if (text == "false") return "0";
    }
    if (kind == CellType::Int || kind == CellType::Float || kind == CellType::Boolean)
        if (auto number = number_key(text)) return *number;
    return std::string(text);
}

/// The fields of `<a, "b,c", 1>`, unquoted; nothing when it is no such text.
std::optional<std::vector<std::string>> tuple_fields(std::string_view key) {
    if (key.size() < 2 || key.front() != '<' || key.back() != '>') return std::nullopt;
    std::vector<std::string> fields(1);
    bool quoted = false, was_quoted = false;
    for (char c : key.substr(1, key.size() - 2)) {
        if (c == '"') {
            quoted = !quoted;
            was_quoted = true;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
            was_quoted = false;
        } else if (quoted || was_quoted || !(c == ' ' && fields.back().empty())) {
            fields.back() += c;
        }
    }
    for (std::string& f : fields)
        while (!f.empty() && f.back() == ' ') f.pop_back();
    return fields;
}

}  // namespace

std::string canonical_key(std::string_view key, const std::vector<CellType>& kinds, bool tuple) {
    if (!tuple) return field_key(key, kinds.empty() ? CellType::Unknown : kinds.front());
    std::optional<std::vector<std::string>> fields = tuple_fields(key);
    if (!fields || fields->size() != kinds.size()) return std::string(key);
    std::string out;
    for (size_t i = 0; i < fields->size(); ++i) out += (i ? "\x1f" : "") + field_key((*fields)[i], kinds[i]);
    return out;
}

std::map<std::string, Declared> declared_names(std::string_view model_text) {
    compiler::CompileOptions options;
    options.check_instance = false;
    std::unique_ptr<compiler::Compilation> c = compiler::compile(model_text, "", options);
    std::map<std::string, std::vector<CellType>> tuple_types;
    std::map<std::string, const compiler::Declaration*> by_name;
    for (const compiler::Declaration& d : c->model.decls) {
        by_name[std::string(c->ast.texts[d.name])] = &d;
        if (d.kind != compiler::DeclKind::TupleType) continue;
        std::vector<CellType> fields;
        for (const compiler::TupleField& f : d.fields) fields.push_back(cell_type(f.type.base));
        tuple_types[std::string(c->ast.texts[d.name])] = std::move(fields);
    }
    auto fields_of = [&](const compiler::TypeName& type) {
        auto found =
            type.tuple == compiler::kNone ? tuple_types.end() : tuple_types.find(std::string(c->ast.texts[type.tuple]));
        return found == tuple_types.end() ? std::vector<CellType>{} : found->second;
    };
    std::map<std::string, Declared> out;
    for (const compiler::Declaration& d : c->model.decls) {
        if (d.kind != compiler::DeclKind::Set && d.kind != compiler::DeclKind::Parameter) continue;
        Declared& declared = out[std::string(c->ast.texts[d.name])];
        declared.is_set = d.kind == compiler::DeclKind::Set;
        declared.dims = d.dims.size();
        declared.value = cell_type(d.type.base);
        if (declared.value == CellType::Tuple) declared.fields = fields_of(d.type);
        for (compiler::ExprId dim : d.dims) {
            const compiler::Expr& e = c->ast[dim];
            auto set =
                e.kind == compiler::ExprKind::Name ? by_name.find(std::string(c->ast.texts[e.text()])) : by_name.end();
            bool of_set = set != by_name.end() && set->second->kind == compiler::DeclKind::Set;
            declared.index.push_back(of_set ? cell_type(set->second->type.base) : CellType::Int);
        }
    }
    return out;
}

namespace {

Value host_numbers_at(const Value& v, std::size_t depth, std::size_t most, const std::string& too_deep) {
    if (depth > most) throw std::runtime_error(too_deep);
    if (v.is_big()) return Value::of(v.number());
    if (v.kind() == Value::Kind::Array) {
        json::Items items;
        items.reserve(v.size());
        for (const Value& item : v.items()) items.push_back(host_numbers_at(item, depth + 1, most, too_deep));
        return Value::array(std::move(items));
    }
    if (v.kind() == Value::Kind::Object) {
        json::Members members;
        members.reserve(v.size());
        for (const auto& [key, item] : v.members())
            members.emplace_back(key, host_numbers_at(item, depth + 1, most, too_deep));
        return Value::object(std::move(members));
    }
    return v;
}

}  // namespace

Value host_numbers(const Value& given, std::size_t most, const std::string& too_deep) {
    return host_numbers_at(given, 0, most, too_deep);
}

std::optional<std::string> whole_number_key(double key) {
    // [-2^63, 2^63): the doubles that convert to an int64_t without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(key >= -kLimit && key < kLimit)) return std::nullopt;
    auto whole = static_cast<int64_t>(key);
    if (static_cast<double>(whole) != key) return std::nullopt;
    return std::to_string(whole);
}

std::string too_deep_message() { return "the data nests more than " + std::to_string(kMaxDataDepth) + " levels"; }

std::string not_a_data_value_message(std::string_view type_name) {
    return "data values are numbers, texts, booleans, lists, tuples, dicts, numpy arrays or pandas objects, not " +
           std::string(type_name);
}

std::string data_name_message(std::string_view function, std::string_view type_name) {
    return std::string(function) + "() data names must be str, not " + std::string(type_name);
}

namespace {

/// A mapping being nested: its members in order, each a value or a mapping
/// made here, found by key.
struct Nest {
    struct Member {
        std::string key;
        Value value;
        std::unique_ptr<Nest> nested;
    };
    std::vector<Member> members;
    std::unordered_map<std::string, size_t> index;

    Member& slot(const std::string& key) {
        auto [at, added] = index.emplace(key, members.size());
        if (added) members.push_back({key, Value::null(), nullptr});
        return members[at->second];
    }
    void set(const std::string& key, Value value) {
        Member& m = slot(key);
        m.value = std::move(value);
        m.nested.reset();
    }
    /// The mapping under `key`: the one there, a mapping given as a value
    /// (which the key then extends), or a new one in place of anything else.
    Nest& inner(const std::string& key) {
        Member& m = slot(key);
        if (m.nested) return *m.nested;
        m.nested = std::make_unique<Nest>();
        if (m.value.kind() == Value::Kind::Object)
            for (auto& [name, value] : m.value.members()) m.nested->set(name, std::move(value));
        m.value = Value::null();
        return *m.nested;
    }
    Value done() {
        Value out = Value::object();
        out.members().reserve(members.size());
        for (Member& m : members) out.members().emplace_back(m.key, m.nested ? m.nested->done() : std::move(m.value));
        return out;
    }
};

}  // namespace

Value nest_keys(std::vector<std::pair<std::vector<std::string>, Value>> entries) {
    Nest top;
    for (auto& [fields, value] : entries) {
        if (fields.empty()) continue;
        Nest* level = &top;
        for (size_t k = 0; k + 1 < fields.size(); ++k) level = &level->inner(fields[k]);
        level->set(fields.back(), std::move(value));
    }
    return top.done();
}

std::variant<WrittenMapping, std::string> write_mapping(std::string model_text, Value data, std::string known_text) {
    auto model = std::make_shared<const std::string>(std::move(model_text));
    auto values = std::make_shared<const Value>(std::move(data));
    std::variant<std::string, std::string> written = data_from_json(*model, *values, known_text);
    if (written.index() == 1) return std::get<1>(std::move(written));
    return WrittenMapping{std::get<0>(std::move(written)),
                          [model, values](uint32_t offset) { return mapping_path_at(*model, *values, offset); }};
}

}  // namespace tarvok::data
