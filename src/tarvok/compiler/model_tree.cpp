#include "compiler/model_tree.hpp"

#include <array>
#include <cstring>

namespace tarvok::compiler::tree {

// ------------------------------------------------------------ builder ----

using Node = json::Value;

Node Builder::key(const char* literal) {
    size_t slot = (reinterpret_cast<uintptr_t>(literal) >> 3) % keys_.size();
    while (keys_[slot].first != nullptr && keys_[slot].first != literal) slot = (slot + 1) % keys_.size();
    auto& [known, value] = keys_[slot];
    if (known == nullptr) {
        known = literal;
        value = text(literal);
    }
    return value;
}

Node Builder::dict(std::initializer_list<std::pair<const char*, Node>> entries) {
    json::Members members;
    members.reserve(entries.size());
    for (const auto& [name, value] : entries) members.emplace_back(name, value);
    return made(Node::object(std::move(members)));
}

Node Builder::dict_of(const std::vector<Node>& keys_and_values) {
    json::Members members;
    members.reserve(keys_and_values.size() / 2);
    for (size_t i = 0; i + 1 < keys_and_values.size(); i += 2)
        members.emplace_back(keys_and_values[i].text(), keys_and_values[i + 1]);
    return made(Node::object(std::move(members)));
}

Node Builder::close(Kind kind, size_t mark) {
    auto first = stack_.begin() + static_cast<std::ptrdiff_t>(mark);
    Node out;
    if (kind == Kind::Dict) {
        out = dict_of(std::vector<Node>(std::make_move_iterator(first), std::make_move_iterator(stack_.end())));
    } else {
        std::vector<Node> items(std::make_move_iterator(first), std::make_move_iterator(stack_.end()));
        out = kind == Kind::List ? list(std::move(items)) : tuple(std::move(items));
    }
    stack_.resize(mark);
    return out;
}

// ---------------------------------------------------------- diagnostics ----

namespace {

const char* file_text(SourceFile file) { return file == SourceFile::Model ? "model" : "data"; }

Node record(Builder& b, const Diagnostic& d, const Compilation& c, const RecordPaths* paths) {
    std::string_view source = d.at.file == SourceFile::Model ? c.model_text : c.data_text;
    Position end = end_position(d, source);
    std::vector<Node> r;
    auto put = [&](const char* name, Node value) {
        r.push_back(b.key(name));
        r.push_back(value);
    };
    put("severity", b.text(severity_text(d.severity)));
    put("code", b.text(code_info(d.code).id));
    put("file", b.key(file_text(d.at.file)));
    put("line", b.integer(d.at.line));
    put("column", b.integer(d.at.column));
    put("end_line", b.integer(end.line));
    put("end_column", b.integer(end.column));
    put("message", b.text(d.message));
    // Data written from other data: where in that data the place is.
    if (d.at.file == SourceFile::Data && c.data_origin) {
        std::string origin = c.data_origin(d.at.offset);
        if (!origin.empty()) put("source", b.owned_text(std::move(origin)));
    }
    std::vector<Node> notes;
    for (const Note& n : d.notes)
        notes.push_back(b.dict({{"message", b.text(n.message)},
                                {"file", b.key(file_text(n.at.file))},
                                {"line", b.integer(n.at.line)},
                                {"column", b.integer(n.at.column)}}));
    put("notes", b.list(notes));
    put("fix", d.fix ? b.text(*d.fix) : b.none());
    if (paths) {
        const std::optional<std::string>& path =
            d.at.file == SourceFile::Model ? std::optional<std::string>(paths->model) : paths->data;
        put("path", path ? b.owned_text(*path) : b.none());
    }
    return b.dict_of(r);
}

}  // namespace

Node diagnostic_records(Builder& b, const Compilation& c, bool with_errors, const RecordPaths* paths) {
    std::vector<Node> out;
    if (with_errors)
        for (const Diagnostic* d : in_source_order(c.diagnostics.items())) out.push_back(record(b, *d, c, paths));
    for (const Diagnostic* d : in_source_order(c.diagnostics.warnings())) out.push_back(record(b, *d, c, paths));
    return b.list(out);
}

Node diagnostic_record_tree(const Compilation& c, bool with_errors, const RecordPaths* paths) {
    Builder b;
    return diagnostic_records(b, c, with_errors, paths);
}

Node diagnostic_code_tree() {
    Builder b;
    size_t at = b.mark();
    for (const CodeInfo& info : diagnostic_codes())
        b.push(b.dict({{"code", b.text(info.id)},
                       {"severity", b.text(severity_text(info.severity))},
                       {"format", b.text(info.format)}}));
    return b.close(Kind::List, at);
}

// ------------------------------------------------------- compiled model ----

namespace {

const char* decl_kind(DeclKind kind) {
    switch (kind) {
    case DeclKind::TupleType: return "tuple";
    case DeclKind::Parameter: return "parameter";
    case DeclKind::Set: return "set";
    case DeclKind::Range: return "range";
    case DeclKind::Dvar: return "dvar";
    case DeclKind::Dexpr: return "dexpr";
    }
    return "";
}

/// The model's tree. Large models make hundreds of thousands of small
/// dicts, so leaves with the same content are one node (one host object).
class ModelTree {
  public:
    ModelTree(const Compilation& c, Interrupt* interrupt)
        : c_(c), b_(interrupt), texts_(c.ast.texts.size()), strings_(texts_.size()),
          names_(texts_.size() * kNameCodes) {}

    Node build() {
        std::vector<Node> declarations, constraints;
        for (const Declaration& d : c_.model.decls) declarations.push_back(declaration(d));
        Node objective_node = objective();
        for (const Constraint& k : c_.model.constraints) constraints.push_back(constraint(k));
        Node declarations_node = b_.list(declarations);
        Node constraints_node = b_.list(constraints);
        Node data_node = data();
        return b_.dict({{"declarations", declarations_node},
                        {"objective", objective_node},
                        {"constraints", constraints_node},
                        {"data", data_node},
                        {"warnings", diagnostic_records(b_, c_, false)}});
    }

  private:
    const Compilation& c_;
    Builder b_;
    /// name_code() values: unknown, binding, then one per declaration kind.
    static constexpr size_t kNameCodes = 8;
    std::vector<Node> texts_;                    ///< text nodes by TextId
    std::vector<Node> strings_;                  ///< string leaves by TextId
    std::vector<Node> names_;                    ///< name leaves by TextId and name_code()
    std::unordered_map<uint64_t, Node> ints_;    ///< int leaves by value
    std::unordered_map<uint64_t, Node> reals_;   ///< float leaves by bits
    std::array<Node, 2> booleans_;               ///< boolean leaves
    std::unordered_map<uint32_t, Node> tuples_;  ///< data tuples by pool id

    const Ast& ast() const { return c_.ast; }

    Node text(TextId id) {
        if (texts_[id].is_null()) texts_[id] = b_.text(ast().texts[id]);
        return texts_[id];
    }

    /// The node of `make()` kept in `slot`, made on first use.
    template <typename Make>
    Node shared(Node& slot, Make make) {
        if (slot.is_null()) slot = make();
        return slot;
    }
    template <typename Map, typename Make>
    Node shared(Map& map, typename Map::key_type key, Make make) {
        auto [at, fresh] = map.try_emplace(key);
        if (fresh) at->second = make();
        return at->second;
    }

    Node optional(ExprId id) { return id == kNone ? b_.none() : expr(id); }

    Node list(ExprId id) {
        const Expr& e = ast()[id];
        size_t at = b_.mark();
        for (uint32_t i = 0; i < e.count; ++i) b_.push(expr(ast().links[e.first + i].expr));
        return b_.close(Kind::List, at);
    }

    Node binary(const char* op, Node left, Node right) {
        return b_.dict({{"type", b_.key("binary")}, {"op", b_.key(op)}, {"left", left}, {"right", right}});
    }

    Node binding(uint32_t index) {
        const Binding& binding = ast().bindings[index];
        Node name = text(binding.name);
        return b_.dict({{"name", name}, {"set", expr(binding.domain)}});
    }

    Node bindings(uint32_t first, uint32_t count) {
        size_t at = b_.mark();
        for (uint32_t i = 0; i < count; ++i) b_.push(binding(first + i));
        return b_.close(Kind::List, at);
    }

    const char* name_kind(const Expr& e) const {
        if (e.ref_kind == RefKind::Binding) return "binding";
        if (e.ref_kind == RefKind::Declaration) return decl_kind(c_.model.decls[e.ref].kind);
        return "unknown";
    }

    uint64_t name_code(const Expr& e) const {
        if (e.ref_kind == RefKind::Binding) return 1;
        if (e.ref_kind == RefKind::Declaration) return 2 + static_cast<uint64_t>(c_.model.decls[e.ref].kind);
        return 0;
    }

    // Leaves: one node per distinct content.

    Node number(const Number& n) {
        return shared(n.is_int ? ints_ : reals_, n.bits(), [&] {
            return b_.dict({{"type", b_.key("number")}, {"value", n.is_int ? b_.integer(n.integer) : b_.real(n.real)}});
        });
    }

    Node name(const Expr& e) {
        return shared(names_[e.text() * kNameCodes + name_code(e)], [&] {
            return b_.dict({{"type", b_.key("name")}, {"name", text(e.text())}, {"kind", b_.key(name_kind(e))}});
        });
    }

    Node leaf(const char* type, Node value) { return b_.dict({{"type", b_.key(type)}, {"value", value}}); }

    /// A tuple, set or array literal: its elements in order.
    Node elements(const char* kind, ExprId id) { return b_.dict({{"type", b_.key(kind)}, {"elements", list(id)}}); }

    Node chain(const Expr& e) {
        const Link* links = ast().links_of(e);
        if (e.count == 2) return binary(op_text(links[1].op), expr(links[0].expr), expr(links[1].expr));
        // One node for the whole run, built in a loop: a long sum costs no
        // native stack and one list slot per operand.
        size_t at = b_.mark();
        for (uint32_t i = 0; i < e.count; ++i) b_.push(expr(links[i].expr));
        Node operands = b_.close(Kind::List, at);
        for (uint32_t i = 1; i < e.count; ++i) b_.push(b_.key(op_text(links[i].op)));
        Node operators = b_.close(Kind::List, at);
        return b_.dict({{"type", b_.key("chain")}, {"operands", operands}, {"operators", operators}});
    }

    Node aggregate(const Expr& e) {
        Node type = b_.key(op_text(e.op));
        Node over = bindings(e.first, e.count);
        Node condition = optional(e.condition());
        return b_.dict({{"type", type}, {"bindings", over}, {"condition", condition}, {"body", expr(e.body())}});
    }

    /// A node with one or two expressions under names of its own.
    Node with_parts(const char* kind, std::initializer_list<std::pair<const char*, Node>> parts) {
        size_t at = b_.mark();
        b_.push(b_.key("type"));
        b_.push(b_.key(kind));
        for (const auto& [part, value] : parts) {
            b_.push(b_.key(part));
            b_.push(value);
        }
        return b_.close(Kind::Dict, at);
    }

    Node index(ExprId id, const Expr& e) {
        const Expr& target = ast()[e.target()];
        return b_.dict({{"type", b_.key("index")},
                        {"name", text(target.text())},
                        {"kind", b_.key(name_kind(target))},
                        {"indices", list(id)}});
    }

    Node expr(ExprId id) {
        const Expr& e = ast()[id];
        switch (e.kind) {
        case ExprKind::Number: return number(e.number());
        case ExprKind::String: return shared(strings_[e.text()], [&] { return leaf("string", text(e.text())); });
        case ExprKind::Bool:
            return shared(booleans_[e.flag ? 1 : 0], [&] { return leaf("boolean", b_.boolean(e.flag)); });
        case ExprKind::Name: return name(e);
        case ExprKind::Index: return index(id, e);
        case ExprKind::Field: return with_parts("field", {{"tuple", expr(e.tuple())}, {"field", text(e.text())}});
        case ExprKind::TupleLiteral: return elements("tuple_literal", id);
        case ExprKind::SetLiteral: return elements("set_literal", id);
        case ExprKind::ArrayLiteral: return elements("array_literal", id);
        case ExprKind::Range: return with_parts("range", {{"low", expr(e.low())}, {"high", expr(e.high())}});
        case ExprKind::Unary:
            return with_parts("unary", {{"op", b_.key(op_text(e.op))}, {"operand", expr(e.operand())}});
        case ExprKind::Chain: return chain(e);
        case ExprKind::Compare: return binary(op_text(e.op), expr(e.left), expr(e.right));
        case ExprKind::In: return binary("in", expr(e.left), expr(e.right));
        case ExprKind::Aggregate: return aggregate(e);
        case ExprKind::Abs:
        case ExprKind::Card:
            return with_parts(e.kind == ExprKind::Abs ? "abs" : "card", {{"argument", expr(e.operand())}});
        }
        return b_.none();
    }

    /// `items` followed by the declaration's line and column, as a dict.
    Node placed(std::vector<Node>& items, const Location& at) {
        for (auto [part, value] : {std::pair{"line", at.line}, std::pair{"column", at.column}}) {
            items.push_back(b_.key(part));
            items.push_back(b_.integer(value));
        }
        return b_.dict_of(items);
    }

    Node low_high(ExprId range) {
        return b_.dict({{"low", expr(ast()[range].low())}, {"high", expr(ast()[range].high())}});
    }

    Node declaration(const Declaration& decl) {
        std::vector<Node> d{b_.key("name"), text(decl.name), b_.key("type"), b_.key(decl_kind(decl.kind))};
        auto put = [&](const char* part, Node value) {
            d.push_back(b_.key(part));
            d.push_back(value);
        };
        if (decl.kind == DeclKind::TupleType) {
            std::vector<Node> fields;
            for (const auto& field : decl.fields) {
                Node field_name = text(field.name);
                fields.push_back(
                    b_.dict({{"name", field_name}, {"value_type", b_.owned_text(type_text(field.type, ast()))}}));
            }
            put("fields", b_.list(fields));
            return placed(d, decl.at);
        }
        put("value_type", b_.owned_text(type_text(decl.type, ast())));
        if (decl.kind == DeclKind::Parameter || decl.kind == DeclKind::Dvar) {
            std::vector<Node> dims;
            for (ExprId dim : decl.dims) dims.push_back(expr(dim));
            put("dimensions", b_.list(dims));
        }
        switch (decl.kind) {
        case DeclKind::Parameter:
        case DeclKind::Set:
            put("initializer", optional(decl.init));
            put("from_data", b_.boolean(decl.init == kNone));
            break;
        case DeclKind::Range:
            put("low", expr(ast()[decl.init].low()));
            put("high", expr(ast()[decl.init].high()));
            break;
        case DeclKind::Dvar:
            put("nonnegative", b_.boolean(decl.nonnegative));
            put("bounds", decl.bounds == kNone ? b_.none() : low_high(decl.bounds));
            break;
        case DeclKind::Dexpr: put("expression", expr(decl.init)); break;
        default: break;
        }
        return placed(d, decl.at);
    }

    Node label(TextId id) { return id == kNone ? b_.none() : text(id); }

    Node objective() {
        const Objective& o = c_.model.objective;
        if (!o.present) return b_.none();
        std::vector<Node> d{b_.key("sense"),      b_.key(o.maximize ? "maximize" : "minimize"),
                            b_.key("label"),      label(o.label),
                            b_.key("expression"), expr(o.expr)};
        return placed(d, o.at);
    }

    Node constraint(const Constraint& k) {
        std::vector<uint32_t> chain;
        for (uint32_t f = k.forall; f != kNone; f = c_.model.foralls[f].parent) chain.insert(chain.begin(), f);
        std::vector<Node> all_bindings;
        std::optional<Node> condition;
        for (uint32_t f : chain) {
            const Forall& forall = c_.model.foralls[f];
            for (uint32_t i = 0; i < forall.binding_count; ++i)
                all_bindings.push_back(binding(forall.first_binding + i));
            if (forall.condition == kNone) continue;
            Node next = expr(forall.condition);
            condition = condition ? binary("&&", *condition, next) : next;
        }
        std::vector<Node> d{b_.key("label"),       label(k.label),      b_.key("bindings"),
                            b_.list(all_bindings), b_.key("condition"), condition ? *condition : b_.none()};
        auto put = [&](const char* part, Node value) {
            d.push_back(b_.key(part));
            d.push_back(value);
        };
        if (k.middle == kNone) {
            put("operator", b_.key(op_text(k.op)));
            put("left", expr(k.left));
            put("right", expr(k.right));
        } else {
            put("operator", b_.key("range"));
            put("low", expr(k.left));
            put("expression", expr(k.middle));
            put("high", expr(k.right));
        }
        return placed(d, k.at);
    }

    // ------------------------------------------------------------- data ----

    Node value(const Value& v) {
        switch (v.kind) {
        case VKind::Unknown: return b_.none();
        case VKind::Int: return b_.integer(v.i);
        case VKind::Float: return b_.real(v.f);
        case VKind::Bool: return b_.boolean(v.i != 0);
        case VKind::String: return text(v.id);
        case VKind::Tuple:
            return shared(tuples_, v.id, [&] {
                size_t at = b_.mark();
                for (const Value& element : c_.values.tuples[v.id]) b_.push(value(element));
                return b_.close(Kind::Tuple, at);
            });
        }
        return b_.none();
    }

    Node domain(const Domain& d) {
        if (d.is_range) return b_.range(d.low, d.high);
        size_t at = b_.mark();
        for (const Value& element : d.elements) b_.push(value(element));
        return b_.close(Kind::List, at);
    }

    Node cells(const ArrayValue& a, size_t level, size_t& next) {
        uint64_t n = a.dims[level]->size();
        size_t at = b_.mark();
        for (uint64_t i = 0; i < n; ++i)
            b_.push(level + 1 == a.dims.size() ? value(a.cells[next++]) : cells(a, level + 1, next));
        return b_.close(Kind::List, at);
    }

    Node data() {
        std::vector<Node> out;
        for (size_t i = 0; i < c_.model.decls.size(); ++i) {
            const Declaration& d = c_.model.decls[i];
            const DeclValue& dv = c_.values.decls[i];
            if (!dv.known) continue;
            Node v;
            if (d.kind == DeclKind::Set || d.kind == DeclKind::Range) {
                v = domain(*dv.set);
            } else if (d.kind == DeclKind::Parameter && dv.array) {
                size_t next = 0;
                v = cells(*dv.array, 0, next);
            } else if (d.kind == DeclKind::Parameter) {
                v = value(dv.scalar);
            } else {
                continue;
            }
            out.push_back(text(d.name));
            out.push_back(v);
        }
        return b_.dict_of(out);
    }
};

}  // namespace

Node compiled_model_tree(const Compilation& c, Interrupt* interrupt) { return ModelTree(c, interrupt).build(); }

}  // namespace tarvok::compiler::tree
