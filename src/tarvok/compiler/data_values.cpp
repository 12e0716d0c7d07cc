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
    DataWriter(std::string_view model_text, const Value& data) : model_text_(model_text), data_(data) {
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

    static std::string key_of(const Value& element) {
        return element.kind() == Value::Kind::String ? element.text() : std::to_string(element.integer());
    }

    /// The keys of dimension `k` of the declaration, in its order: the
    /// elements of a set this data lists, or else of the set or range as the
    /// model computes it from this data's single values (`range T = 1..n`).
    std::optional<std::vector<std::string>> dimension_keys(const Shape& shape, size_t k) {
        const std::string& set = shape.dim_sets[k];
        if (const std::vector<Value>* elements = set.empty() ? nullptr : listed_elements(set)) {
            std::vector<std::string> keys;
            for (const Value& e : *elements) keys.push_back(key_of(e));
            return keys;
        }
        const compiler::Compilation& c = evaluated();
        if (shape.decl >= c.values.decls.size()) return std::nullopt;
        const compiler::DeclValue& dv = c.values.decls[shape.decl];
        const compiler::Domain* found = k < dv.dims.size() ? dv.dims[k].get() : nullptr;
        auto named = set.empty() ? shapes_.end() : shapes_.find(set);
        if (!found && named != shapes_.end() && named->second.decl < c.values.decls.size())
            found = c.values.decls[named->second.decl].set.get();
        if (!found) return std::nullopt;
        const compiler::Domain& domain = *found;
        if (domain.size() > kMaxTextBytes) return std::nullopt;
        std::vector<std::string> keys;
        for (uint64_t i = 0; i < domain.size(); ++i) {
            compiler::Value v = domain.at(i);
            if (v.kind == compiler::VKind::Int)
                keys.push_back(std::to_string(v.i));
            else if (v.kind == compiler::VKind::String)
                keys.emplace_back(c.ast.texts[v.id]);
            else
                return std::nullopt;
        }
        return keys;
    }

    /// The model compiled with the single values of this data, which is
    /// what the sizes of its ranges are made of.
    const compiler::Compilation& evaluated() {
        if (!evaluated_) {
            for (const auto& [name, value] : data_.members()) {
                bool single = value.kind() == Value::Kind::Integer || value.kind() == Value::Kind::Number ||
                              value.kind() == Value::Kind::String || value.kind() == Value::Kind::Boolean;
                auto found = shapes_.find(name);
                if (!single || !is_identifier(name) || found == shapes_.end() || found->second.dims != 0 ||
                    found->second.kind == compiler::DeclKind::Set)
                    continue;
                std::string saved_out = std::move(out_), saved_where = std::move(where_);
                out_.clear();
                where_ = name;
                if (scalar(value)) singles_ += name + " = " + out_ + ";\n";
                out_ = std::move(saved_out);
                where_ = std::move(saved_where);
            }
            compiler::CompileOptions options;
            options.check_instance = false;
            evaluated_ = compiler::compile(model_text_, singles_, options);
        }
        return *evaluated_;
    }

    /// An array given as an object keyed by the elements of its index set,
    /// written in the order of that set.
    bool keyed(const Shape& shape, const Value& value, size_t dims, size_t depth) {
        size_t k = shape.dims - dims;
        const std::string& set = shape.dim_sets[k];
        std::optional<std::vector<std::string>> keys = dimension_keys(shape, k);
        if (!keys)
            return fail("'" + where_ +
                        "' is an array; give its values as a list in the order of its index set, or as an object "
                        "keyed by the elements of a set this data lists or a range the model defines");
        std::string named = set.empty() ? "its index range" : set;
        for (const auto& [key, v] : value.members()) {
            bool known = false;
            for (const std::string& e : *keys) known = known || e == key;
            if (!known) return fail("data '" + where_ + "': key '" + key + "' is not in " + named);
        }
        out_ += "[";
        for (size_t i = 0; i < keys->size(); ++i) {
            const std::string& key = (*keys)[i];
            const Value* at = value.find(key);
            if (!at) return fail("'" + where_ + "' has no value for \"" + key + "\" of " + named);
            if (i) out_ += ", ";
            if (!at_path(key, false, [&] { return array(shape, *at, dims - 1, depth + 1); })) return false;
        }
        out_ += "]";
        return true;
    }

    std::string_view model_text_;
    const Value& data_;
    std::map<std::string, Shape> shapes_;
    std::string out_, error_, where_;
    std::string singles_;  ///< the data text `evaluated_` holds a view of
    size_t watch_ = SIZE_MAX;
    DataPath path_, found_;
    std::unique_ptr<compiler::Compilation> evaluated_;
};

}  // namespace

std::variant<std::string, std::string> data_from_json(std::string_view model_text, const Value& data) {
    using Result = std::variant<std::string, std::string>;
    if (data.kind() != Value::Kind::Object) return Result(std::in_place_index<1>, "the data must be an object");
    DataWriter writer(model_text, data);
    for (const auto& [name, value] : data.members())
        if (!writer.assignment(name, value)) return Result(std::in_place_index<1>, writer.error());
    if (writer.text().size() > kMaxTextBytes)
        return Result(std::in_place_index<1>,
                      "the data makes a text of more than " + std::to_string(kMaxTextBytes) + " bytes");
    return Result(std::in_place_index<0>, writer.text());
}

std::optional<DataPath> data_path_at(std::string_view model_text, const Value& data, size_t offset) {
    if (data.kind() != Value::Kind::Object) return std::nullopt;
    DataWriter writer(model_text, data);
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
    std::optional<DataPath> path = data_path_at(sources.model_text, sources.values, offset - sources.base);
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

std::map<std::string, Declared> declared_names(std::string_view model_text) {
    compiler::CompileOptions options;
    options.check_instance = false;
    std::unique_ptr<compiler::Compilation> c = compiler::compile(model_text, "", options);
    std::map<std::string, Declared> out;
    for (const compiler::Declaration& d : c->model.decls) {
        if (d.kind != compiler::DeclKind::Set && d.kind != compiler::DeclKind::Parameter) continue;
        out[std::string(c->ast.texts[d.name])] = {d.kind == compiler::DeclKind::Set, d.dims.size()};
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

std::variant<WrittenMapping, std::string> write_mapping(std::string model_text, Value data) {
    auto model = std::make_shared<const std::string>(std::move(model_text));
    auto values = std::make_shared<const Value>(std::move(data));
    std::variant<std::string, std::string> written = data_from_json(*model, *values);
    if (written.index() == 1) return std::get<1>(std::move(written));
    return WrittenMapping{std::get<0>(std::move(written)),
                          [model, values](uint32_t offset) { return mapping_path_at(*model, *values, offset); }};
}

}  // namespace tarvok::data
