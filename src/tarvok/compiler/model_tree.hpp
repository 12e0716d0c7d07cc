// The compiled model and the diagnostic records as a neutral tree of dicts,
// lists and leaves. Every decision about their shape is made here; the
// bindings only turn the nodes into host objects, one object per node.
#pragma once

#include "common/interrupt.hpp"
#include "compiler/compiler.hpp"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarvok::compiler::tree {

using NodeId = uint32_t;

/// Key is a text that names something (dict keys, node types, operators):
/// few distinct ones, each a literal; Text is any other text. Range is the
/// integers from its first child to its second, both included.
enum class Kind : uint8_t { None, Bool, Int, Real, Text, Key, List, Tuple, Dict, Range };

/// Sixteen bytes whatever the kind: a large model makes millions of nodes.
struct Node {
    Kind kind = Kind::None;
    uint32_t count = 0;  ///< containers: how many children (a dict: key, value, key, value, ...); texts: the length
    union {
        int64_t integer = 0;  ///< Int; Bool as 0 or 1
        double real;          ///< Real
        const char* chars;    ///< Text, Key
        uint32_t first;       ///< containers: where their children start in Tree::children
    };

    bool flag() const { return integer != 0; }
    std::string_view text() const { return {chars, count}; }
};
static_assert(sizeof(Node) == 16);

/// A node's children always come before it, so the nodes can be made in
/// order, each once and with no recursion; a node used twice (a shared leaf)
/// is one object. The last node is the root.
struct Tree {
    std::vector<Node> nodes;
    std::vector<NodeId> children;
    std::deque<std::string> owned;  ///< texts made while building, where Node::text points

    NodeId root() const { return static_cast<NodeId>(nodes.size() - 1); }
    const Node& operator[](NodeId id) const { return nodes[id]; }
    /// The child `i` of a container; for a dict, key `i / 2` or its value.
    const Node& child(const Node& n, uint32_t i) const { return nodes[children[n.first + i]]; }
};

/// Builds a Tree; texts passed as views must outlive it (the compilation's
/// own, or literals), others are copied in with `owned_text`.
class Builder {
  public:
    explicit Builder(Interrupt* interrupt = nullptr) : interrupt_(interrupt) {}
    /// Room for about `nodes` nodes and as many children, made once.
    void reserve(size_t nodes);

    NodeId none();
    NodeId boolean(bool value);
    NodeId integer(int64_t value);
    NodeId real(double value);
    NodeId text(std::string_view stable);
    NodeId owned_text(std::string value);
    /// One node per literal, however often it is used.
    NodeId key(const char* literal);
    NodeId list(const std::vector<NodeId>& items) { return container(Kind::List, items); }
    NodeId tuple(const std::vector<NodeId>& items) { return container(Kind::Tuple, items); }
    NodeId range(int64_t low, int64_t high);
    /// A dict of literal keys, in the order given.
    NodeId dict(std::initializer_list<std::pair<const char*, NodeId>> entries);
    /// A dict from alternating keys and values, in the order given.
    NodeId dict_of(const std::vector<NodeId>& keys_and_values) { return container(Kind::Dict, keys_and_values); }

    /// Children gathered while they are built (each may have children of its
    /// own), then made one container: `size_t at = mark(); push(...)...;
    /// close(Kind::List, at)`. Saves a vector per container.
    size_t mark() const { return stack_.size(); }
    void push(NodeId id) { stack_.push_back(id); }
    NodeId close(Kind kind, size_t mark);

    Tree finish() { return std::move(tree_); }

  private:
    NodeId add(Node node);
    NodeId container(Kind kind, const std::vector<NodeId>& items);

    Tree tree_;
    Interrupt* interrupt_;
    std::vector<NodeId> stack_;
    /// Key nodes by the literal's address: few, looked up for every dict entry.
    std::array<std::pair<const char*, NodeId>, 256> keys_{};
};

/// The paths `tarvok check --json` gives its records: the model's, and the
/// data's when there is a data file (a record about the data then has none).
struct RecordPaths {
    std::string model;
    std::optional<std::string> data;
};

/// The list of diagnostic records, errors (when asked) in source order then
/// warnings: dicts of severity, code, file, line, column, end_line,
/// end_column, message, source (data written from other data), notes, fix,
/// and path when `paths` are given.
NodeId diagnostic_records(Builder& b, const Compilation& c, bool with_errors, const RecordPaths* paths = nullptr);
Tree diagnostic_record_tree(const Compilation& c, bool with_errors, const RecordPaths* paths = nullptr);

/// `t` as the host's json.dumps(value, indent=2, ensure_ascii=False) writes
/// the objects it stands for. A tree with a Real throws std::logic_error:
/// the host's float repr is not copied here.
std::string json_text(const Tree& t);

/// The compiler's diagnostic codes: dicts of code, severity and format.
Tree diagnostic_code_tree();

/// The compiled model of a compilation that succeeded: declarations,
/// objective, constraints, data and warnings. Equal leaves (numbers, names,
/// strings, booleans, data tuples) are one node, and a run of three or more
/// operands at one precedence is one "chain" node.
Tree compiled_model_tree(const Compilation& c, Interrupt* interrupt = nullptr);

}  // namespace tarvok::compiler::tree
