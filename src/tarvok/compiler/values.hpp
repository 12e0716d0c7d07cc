// Data values as the compiler holds them: scalars, interned tuples, sets and
// ranges (ranges are never materialised), and arrays laid out row by row.
#pragma once

#include "common/interrupt.hpp"
#include "compiler/analysis.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace tarvok::compiler {

enum class VKind : uint8_t { Unknown, Int, Float, Bool, String, Tuple };

/// One scalar. Strings are TextIds and tuples are ids in the TuplePool, so
/// equal values have equal payloads.
struct Value {
    VKind kind = VKind::Unknown;
    union {
        int64_t i;
        double f;
        uint32_t id;
    };

    Value() : i(0) {}
    static Value integer(int64_t v) {
        Value r;
        r.kind = VKind::Int;
        r.i = v;
        return r;
    }
    static Value real(double v) {
        Value r;
        r.kind = VKind::Float;
        r.f = v == 0 ? 0.0 : v;
        return r;
    }
    static Value boolean(bool v) {
        Value r;
        r.kind = VKind::Bool;
        r.i = v ? 1 : 0;
        return r;
    }
    static Value string(TextId v) {
        Value r;
        r.kind = VKind::String;
        r.i = 0;
        r.id = v;
        return r;
    }
    static Value tuple(uint32_t v) {
        Value r;
        r.kind = VKind::Tuple;
        r.i = 0;
        r.id = v;
        return r;
    }

    bool known() const { return kind != VKind::Unknown; }
    bool is_number() const { return kind == VKind::Int || kind == VKind::Float || kind == VKind::Bool; }
    double number() const { return kind == VKind::Float ? f : static_cast<double>(i); }

    bool operator==(const Value& o) const {
        if (kind != o.kind) return false;
        switch (kind) {
        case VKind::Unknown: return true;
        case VKind::Int:
        case VKind::Bool: return i == o.i;
        case VKind::Float: return f == o.f;
        case VKind::String:
        case VKind::Tuple: return id == o.id;
        }
        return false;
    }
    bool operator!=(const Value& o) const { return !(*this == o); }
};

struct ValueHash {
    size_t operator()(const Value& v) const {
        uint64_t bits = 0;
        switch (v.kind) {
        case VKind::Int:
        case VKind::Bool: bits = static_cast<uint64_t>(v.i); break;
        case VKind::Float: {
            double d = v.f;
            static_assert(sizeof d == sizeof bits);
            __builtin_memcpy(&bits, &d, sizeof bits);
            break;
        }
        case VKind::String:
        case VKind::Tuple: bits = v.id; break;
        case VKind::Unknown: break;
        }
        bits ^= static_cast<uint64_t>(v.kind) << 56;
        bits *= 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(bits ^ (bits >> 29));
    }
};

/// Tuples by content: the same elements always get the same id.
class TuplePool {
  public:
    uint32_t intern(const std::vector<Value>& elements);
    const std::vector<Value>& operator[](uint32_t id) const { return *items_[id]; }

  private:
    struct Hash {
        size_t operator()(const std::vector<Value>* v) const;
    };
    struct Equal {
        bool operator()(const std::vector<Value>* a, const std::vector<Value>* b) const { return *a == *b; }
    };
    std::vector<std::unique_ptr<std::vector<Value>>> items_;
    std::unordered_map<const std::vector<Value>*, uint32_t, Hash, Equal> index_;
};

/// A set (elements in their given order) or a range `low..high`.
struct Domain {
    ValueType element{Base::Int};
    bool is_range = false;
    int64_t low = 1;
    int64_t high = 0;
    std::vector<Value> elements;
    std::unordered_map<Value, uint32_t, ValueHash> position;

    static std::shared_ptr<Domain> range(int64_t low, int64_t high);

    /// Number of elements; a range too large to count saturates.
    uint64_t size() const;
    Value at(uint64_t index) const {
        return is_range ? Value::integer(low + static_cast<int64_t>(index)) : elements[index];
    }
    /// Adds an element; false when it is already there.
    bool add(const Value& v);
    /// The position of a value already in canonical form.
    std::optional<uint64_t> find(const Value& v) const;
};

/// Values of an array parameter, row by row over its dimensions.
struct ArrayValue {
    std::vector<std::shared_ptr<const Domain>> dims;
    std::vector<Value> cells;
};

/// What the data binding learnt about one declaration.
struct DeclValue {
    bool known = false;
    Value scalar;                                     ///< scalar parameters
    std::shared_ptr<Domain> set;                      ///< sets and ranges
    std::unique_ptr<ArrayValue> array;                ///< array parameters
    std::vector<std::shared_ptr<const Domain>> dims;  ///< dimensions of arrays and variables (null: unknown)
    bool dims_known = false;
};

struct Values {
    std::vector<DeclValue> decls;
    TuplePool tuples;
};

/// Counts evaluation steps so that no input can make the compiler spin, and
/// lets the host interrupt the evaluation.
struct Budget {
    uint64_t left = 0;
    bool exhausted = false;
    Interrupt* interrupt = nullptr;
    bool spend() {
        if (left == 0) {
            exhausted = true;
            return false;
        }
        --left;
        tick(interrupt);
        return true;
    }
};

}  // namespace tarvok::compiler
