// The compiled model and the diagnostic records as JSON values (dicts, lists,
// tuples, ranges and leaves). Every decision about their shape is made here;
// the bindings only turn the values into host objects, one object per shared
// value.
#pragma once

#include "common/interrupt.hpp"
#include "common/json.hpp"
#include "compiler/compiler.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::compiler::tree {

/// The containers a Builder closes.
enum class Kind : uint8_t { List, Tuple, Dict };

/// Builds the values of a compiled model or of diagnostic records. A literal
/// used as a word (a node's type, an operator) is one shared text however
/// often it is used, so the host makes one object of it; each value made
/// ticks the interrupt, so a large model can be stopped while it is shaped.
class Builder {
  public:
    explicit Builder(Interrupt* interrupt = nullptr) : interrupt_(interrupt) {}

    json::Value none() { return made(json::Value::null()); }
    json::Value boolean(bool value) { return made(json::Value::of(value)); }
    json::Value integer(int64_t value) { return made(json::Value::of(value)); }
    json::Value real(double value) { return made(json::Value::of(value)); }
    json::Value text(std::string_view value) { return made(json::Value::of(value)); }
    json::Value owned_text(std::string value) { return made(json::Value::of(std::move(value))); }
    /// One value per literal, however often it is used.
    json::Value key(const char* literal);
    json::Value list(std::vector<json::Value> items) { return made(json::Value::array(std::move(items))); }
    json::Value tuple(std::vector<json::Value> items) { return made(json::Value::tuple(std::move(items))); }
    json::Value range(int64_t low, int64_t high) { return made(json::Value::range(low, high)); }
    /// A dict of literal keys, in the order given.
    json::Value dict(std::initializer_list<std::pair<const char*, json::Value>> entries);
    /// A dict from alternating keys (texts) and values, in the order given.
    json::Value dict_of(const std::vector<json::Value>& keys_and_values);

    /// Children gathered while they are built (each may have children of its
    /// own), then made one container: `size_t at = mark(); push(...)...;
    /// close(Kind::List, at)`. Saves a vector per container.
    size_t mark() const { return stack_.size(); }
    void push(json::Value value) { stack_.push_back(std::move(value)); }
    json::Value close(Kind kind, size_t mark);

  private:
    json::Value made(json::Value v) {
        if (interrupt_) interrupt_->tick();
        return v;
    }

    Interrupt* interrupt_;
    std::vector<json::Value> stack_;
    /// Key texts by the literal's address: few, looked up for every dict entry.
    std::array<std::pair<const char*, json::Value>, 256> keys_{};
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
json::Value diagnostic_records(Builder& b, const Compilation& c, bool with_errors, const RecordPaths* paths = nullptr);
json::Value diagnostic_record_tree(const Compilation& c, bool with_errors, const RecordPaths* paths = nullptr);

/// The compiler's diagnostic codes: dicts of code, severity and format.
json::Value diagnostic_code_tree();

/// The compiled model of a compilation that succeeded: declarations,
/// objective, constraints, data and warnings. Equal leaves (numbers, names,
/// strings, booleans, data tuples) are one node, and a run of three or more
/// operands at one precedence is one "chain" node.
json::Value compiled_model_tree(const Compilation& c, Interrupt* interrupt = nullptr);

}  // namespace tarvok::compiler::tree
