// The syntax tree of a Tarvok model text and its data text, shared by the
// compiler passes. Nodes live in flat arenas and refer to each other by index,
// so a large model costs a few dozen bytes per node and no pass needs to free
// a tree recursively.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::compiler {

/// Index of an expression node in `Ast::exprs`.
using ExprId = uint32_t;
/// Index of an interned identifier or string value in `Ast::texts`.
using TextId = uint32_t;
/// "Absent" for every kind of index.
inline constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

/// The two texts a compilation reads.
enum class SourceFile : uint8_t { Model, Data };

/// A place in one of the texts. Columns count characters (an invalid UTF-8
/// byte counts as one), so they match what an editor shows.
struct Location {
    SourceFile file = SourceFile::Model;
    uint32_t line = 1;
    uint32_t column = 1;
    uint32_t offset = 0;  ///< byte offset, for quoting the line
};

enum class ExprKind : uint8_t {
    Number,        ///< `number()` is the value, kept in the node itself
    String,        ///< `text()` is the value
    Bool,          ///< `flag` is the value
    Name,          ///< `text()` is the identifier; `ref_kind`/`ref` set by the resolver
    Index,         ///< `target()` is the indexed name; links are the indices (`x[i][j]` and `x[i, j]` alike)
    Field,         ///< `tuple()` is the tuple; `text()` is the field name
    TupleLiteral,  ///< links are the elements
    SetLiteral,    ///< links are the elements
    ArrayLiteral,  ///< links are the elements (nested literals for more dimensions)
    Range,         ///< `low()..high()`
    Unary,         ///< `op` applied to `operand()`
    Chain,      ///< `+ -`, `* /`, `&&` or `||` chain: link 0 is the first operand, each later link carries its operator
    Compare,    ///< `left op right` with op one of `== != < <= > >=`
    In,         ///< `left in right`
    Aggregate,  ///< `op` is Sum, Min or Max; bindings `first..first+count`; `condition()` (or kNone); `body()`
    Abs,        ///< `abs(operand())`
    Card,       ///< `card(operand())`
};

enum class Op : uint8_t { None, Plus, Minus, Times, Divide, And, Or, Not, Eq, Ne, Lt, Le, Gt, Ge, Sum, Min, Max };

/// The source spelling of an operator.
const char* op_text(Op op);

/// One child of a list-shaped node, with the operator that joins it for chains.
struct Link {
    ExprId expr;
    Op op;
};

/// What a name refers to, filled in by the resolver.
enum class RefKind : uint8_t { Unresolved, Declaration, Binding };

/// A numeric literal: `12` is an int, `3.5`, `.5` and `1e-3` are floats.
struct Number {
    bool is_int = true;
    int64_t integer = 0;
    double real = 0;

    /// The 64 bits of the value as it is held: the int's, or the double's.
    uint64_t bits() const {
        if (is_int) return static_cast<uint64_t>(integer);
        uint64_t out = 0;
        std::memcpy(&out, &real, sizeof out);
        return out;
    }
};

/// One expression node. The two child slots and the payload mean different
/// things per kind (see ExprKind); read them through the named accessors so
/// that a use site says what it takes.
struct Expr {
    ExprKind kind;
    Op op = Op::None;
    RefKind ref_kind = RefKind::Unresolved;
    bool flag = false;
    Location at;           ///< the first character
    uint32_t end = 0;      ///< byte offset just past the last character, to quote the expression
    ExprId left = kNone;   ///< first child slot
    ExprId right = kNone;  ///< second child slot
    uint32_t first = 0;    ///< first link (or binding, for aggregates)
    uint32_t count = 0;
    uint32_t payload = kNone;  ///< TextId of a name, string or field
    uint32_t ref = kNone;      ///< declaration or binding index, by `ref_kind`

    ExprId operand() const { return left; }    ///< Unary, Abs, Card
    ExprId target() const { return left; }     ///< Index: the indexed name
    ExprId tuple() const { return left; }      ///< Field: the tuple
    ExprId low() const { return left; }        ///< Range
    ExprId high() const { return right; }      ///< Range
    ExprId condition() const { return left; }  ///< Aggregate; kNone when absent
    ExprId body() const { return right; }      ///< Aggregate
    TextId text() const { return payload; }    ///< Name, String, Field

    /// Number: the value lives in the slots a literal has no use for (`flag`
    /// says int, `first` and `count` hold the 64 bits), so a long list of
    /// numbers costs one node each.
    Number number() const {
        uint64_t bits = static_cast<uint64_t>(count) << 32 | first;
        Number n;
        n.is_int = flag;
        if (flag) {
            n.integer = static_cast<int64_t>(bits);
            n.real = static_cast<double>(n.integer);
        } else {
            std::memcpy(&n.real, &bits, sizeof bits);
        }
        return n;
    }
    void set_number(const Number& n) {
        uint64_t bits = n.bits();
        flag = n.is_int;
        first = static_cast<uint32_t>(bits);
        count = static_cast<uint32_t>(bits >> 32);
    }
};

/// A growing array in fixed chunks: appending never moves what is there, so
/// a large tree needs no twice-as-large copy on the way.
template <typename T, size_t kChunk = size_t{1} << 16>
class Chunked {
  public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void reserve(size_t) {}
    T& operator[](size_t i) { return chunks_[i / kChunk][i % kChunk]; }
    const T& operator[](size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
    T& back() { return (*this)[size_ - 1]; }
    void push_back(const T& value) {
        if (size_ % kChunk == 0) chunks_.push_back(std::make_unique<T[]>(kChunk));
        chunks_[size_ / kChunk][size_ % kChunk] = value;
        ++size_;
    }

    class const_iterator {
      public:
        const_iterator(const Chunked* owner, size_t i) : owner_(owner), i_(i) {}
        const T& operator*() const { return (*owner_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

      private:
        const Chunked* owner_;
        size_t i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }

  private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    size_t size_ = 0;
};

/// `name in domain`, in a forall, sum, min or max. Its index is also the slot
/// that holds its current value while the checker enumerates.
struct Binding {
    TextId name = kNone;
    Location at;
    ExprId domain = kNone;
};

enum class BaseType : uint8_t { Int, Float, String, Boolean, Tuple };

/// A written type: a built-in type or the name of a tuple type.
struct TypeName {
    BaseType base = BaseType::Float;
    TextId tuple = kNone;  ///< the tuple type's name
    Location at;
    uint32_t decl = kNone;  ///< the tuple type's declaration, set by the resolver
};

struct TupleField {
    TextId name = kNone;
    TypeName type;
    Location at;
};

enum class DeclKind : uint8_t { TupleType, Parameter, Set, Range, Dvar, Dexpr };

struct Declaration {
    DeclKind kind = DeclKind::Parameter;
    TextId name = kNone;
    Location at;               ///< the declared name
    Location start;            ///< the first token of the declaration
    uint32_t end = 0;          ///< byte offset past the final ';'
    TypeName type;             ///< value type; the element type of a set
    bool nonnegative = false;  ///< `float+`, `int+`
    std::vector<ExprId> dims;  ///< Name or Range nodes
    ExprId init = kNone;       ///< initializer; a Range node for `range` declarations
    bool from_data = false;    ///< written `= ...`
    ExprId bounds = kNone;     ///< `in lo..hi` of a dvar (a Range node)
    std::vector<TupleField> fields;
};

struct Objective {
    bool present = false;
    bool maximize = false;
    TextId label = kNone;
    Location label_at;
    Location at;
    ExprId expr = kNone;
};

/// The header of a `forall`; constraints under it point at the innermost one.
struct Forall {
    uint32_t first_binding = 0;
    uint32_t binding_count = 0;
    ExprId condition = kNone;
    Location at;
    uint32_t parent = kNone;
};

/// `left op right`, or the range form `left op middle op2 right` (both `<=`).
struct Constraint {
    TextId label = kNone;
    Location label_at;
    Location at;
    uint32_t forall = kNone;
    ExprId left = kNone;
    ExprId middle = kNone;
    ExprId right = kNone;
    Op op = Op::Le;
    Location op_at;
};

struct Model {
    std::vector<Declaration> decls;
    Objective objective;
    std::vector<Forall> foralls;
    std::vector<Constraint> constraints;
    bool has_subject_to = false;
    /// Names in declarations that failed to parse: a use of one of them is
    /// not reported as undeclared, and the data may assign it.
    std::vector<TextId> broken_names;
};

struct DataAssignment {
    TextId name = kNone;
    Location at;
    ExprId value = kNone;
};

struct DataFile {
    std::vector<DataAssignment> assignments;
    /// Names in assignments that failed to parse: the model's data of that
    /// name is not reported as missing.
    std::vector<TextId> broken_names;
};

/// Interned texts: identifiers and string values compare by id. An open
/// addressing table of (hash, id) pairs keeps lookups to one or two cache
/// lines, which matters for models with tens of thousands of names.
class Texts {
  public:
    TextId intern(std::string_view text);
    std::optional<TextId> find(std::string_view text) const;
    std::string_view operator[](TextId id) const { return store_[id]; }
    size_t size() const { return store_.size(); }
    void reserve(size_t count);

  private:
    std::deque<std::string> store_;
    std::vector<uint64_t> slots_;  ///< high half: hash bits; low half: id + 1; 0 is empty

    static uint64_t hash(std::string_view text);
    size_t probe(std::string_view text, uint64_t h) const;  ///< the slot holding `text`, or the empty one to fill
    void grow(size_t capacity);
};

/// The arenas of both texts.
struct Ast {
    Chunked<Expr> exprs;
    std::vector<Link> links;
    std::vector<Binding> bindings;
    Texts texts;

    const Expr& operator[](ExprId id) const { return exprs[id]; }
    Expr& operator[](ExprId id) { return exprs[id]; }
    const Link* links_of(const Expr& e) const { return links.data() + e.first; }
};

}  // namespace tarvok::compiler
