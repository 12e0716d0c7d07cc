// The one reader of the named values of a JSON object that a server is
// handed (a request's body, a tool call's arguments): each member is taken
// with its check, the first fault is kept as the one message that says what
// is wrong, and members nobody takes are refused at the end.
#pragma once

#include "compiler/data_values.hpp"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::data {

class JsonArgs {
  public:
    /// `given` that is not an object holds no members; the caller says why it is refused.
    explicit JsonArgs(const Value& given) : given_(given) {}
    /// The members are read where they are, so they must outlive the reader.
    explicit JsonArgs(Value&&) = delete;

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    /// Keeps `message` unless a fault was found before.
    void fail(std::string message);

    /// The members that may be given, in the order a refusal lists them.
    void takes(std::initializer_list<std::string_view> names);

    /// A member that is present and not null; nothing once a fault was found.
    const Value* get(std::string_view name) const;

    /// A string of at most `most` bytes; `nonblank` refuses one of white space alone.
    std::optional<std::string> text(std::string_view name, bool required, bool nonblank = false,
                                    std::size_t most = kMaxTextBytes);
    /// A finite number of at least `low` (above it when `low_open`) and, when
    /// `high` is given, at most `high`.
    std::optional<double> number(std::string_view name, double low, bool low_open,
                                 std::optional<double> high = std::nullopt);
    /// A whole number (2.0 counts) from `low` to `high`.
    std::optional<int64_t> integer(std::string_view name, int64_t low, int64_t high);
    std::optional<bool> flag(std::string_view name);
    /// One of `choices`, by its word.
    template <typename E>
    std::optional<E> choice(std::string_view name, std::initializer_list<std::pair<std::string_view, E>> choices) {
        return choice<E>(name, std::span<const std::pair<std::string_view, E>>(choices.begin(), choices.size()));
    }
    /// The same, from a table made at run time.
    template <typename E>
    std::optional<E> choice(std::string_view name, std::span<const std::pair<std::string_view, E>> choices) {
        const Value* v = get(name);
        if (!v) return std::nullopt;
        std::vector<std::string_view> words;
        for (const auto& [word, value] : choices) {
            if (v->kind() == Value::Kind::String && v->text() == word) return value;
            words.push_back(word);
        }
        fail(not_one_of(name, words));
        return std::nullopt;
    }

    /// Refuses a member not taken: "unknown NOUN 'x'; TAKER takes a, b".
    /// Call after reading them all.
    void finish(std::string_view noun, std::string_view taker);

  private:
    static std::string not_one_of(std::string_view name, const std::vector<std::string_view>& words);

    const Value& given_;
    std::set<std::string, std::less<>> known_;
    std::vector<std::string> order_;
    std::string error_;
};

}  // namespace tarvok::data
