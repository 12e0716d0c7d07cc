#include "compiler/json_args.hpp"

#include <charconv>
#include <cmath>

namespace tarvok::data {

namespace {

std::string shown_number(double d) {
    char buffer[32];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, d).ptr;
    return std::string(buffer, end);
}

std::string quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

}  // namespace

void JsonArgs::fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
}

void JsonArgs::takes(std::initializer_list<std::string_view> names) {
    for (std::string_view n : names) {
        order_.emplace_back(n);
        known_.emplace(n);
    }
}

const Value* JsonArgs::get(std::string_view name) const {
    if (failed() || given_.kind() != Value::Kind::Object) return nullptr;
    const Value* v = given_.find(name);
    return v && v->kind() != Value::Kind::Null ? v : nullptr;
}

std::optional<std::string> JsonArgs::text(std::string_view name, bool required, bool nonblank, std::size_t most) {
    const Value* v = get(name);
    if (!v) {
        if (required) fail(quoted(name) + " is required");
        return std::nullopt;
    }
    if (v->kind() != Value::Kind::String) {
        fail(quoted(name) + " must be a string, not " + describe_kind(*v));
    } else if (v->text().size() > most) {
        fail(quoted(name) + " has " + std::to_string(v->text().size()) + " bytes; at most " + std::to_string(most) +
             " are taken");
    } else if (nonblank && v->text().find_first_not_of(" \t\r\n\f\v") == std::string::npos) {
        fail(quoted(name) + " is empty");
    } else {
        return v->text();
    }
    return std::nullopt;
}

std::optional<double> JsonArgs::number(std::string_view name, double low, bool low_open, std::optional<double> high) {
    const Value* v = get(name);
    if (!v) return std::nullopt;
    if (v->kind() != Value::Kind::Number && v->kind() != Value::Kind::Integer) {
        fail(quoted(name) + " must be a number, not " + describe_kind(*v));
        return std::nullopt;
    }
    double n = v->number();
    if (std::isfinite(n) && (low_open ? n > low : n >= low) && (!high || n <= *high)) return n;
    // With an upper bound the bounds say it is finite; without, the message does.
    fail(quoted(name) + " must be a " + (high ? "" : "finite ") + "number " + (low_open ? "above " : "of at least ") +
         shown_number(low) + (high ? " and at most " + shown_number(*high) : ""));
    return std::nullopt;
}

std::optional<int64_t> JsonArgs::integer(std::string_view name, int64_t low, int64_t high) {
    const Value* v = get(name);
    if (!v) return std::nullopt;
    bool whole = v->kind() == Value::Kind::Integer || (v->kind() == Value::Kind::Number && std::isfinite(v->number()) &&
                                                       std::trunc(v->number()) == v->number());
    if (!whole) {
        fail(quoted(name) + " must be a whole number, not " + describe_kind(*v));
        return std::nullopt;
    }
    double n = v->kind() == Value::Kind::Integer ? static_cast<double>(v->integer()) : v->number();
    if (n < static_cast<double>(low) || n > static_cast<double>(high)) {
        fail(quoted(name) + " must be from " + std::to_string(low) + " to " + std::to_string(high));
        return std::nullopt;
    }
    return static_cast<int64_t>(n);
}

std::optional<bool> JsonArgs::flag(std::string_view name) {
    const Value* v = get(name);
    if (!v) return std::nullopt;
    if (v->kind() != Value::Kind::Boolean) {
        fail(quoted(name) + " must be true or false, not " + describe_kind(*v));
        return std::nullopt;
    }
    return v->boolean();
}

std::string JsonArgs::not_one_of(std::string_view name, const std::vector<std::string_view>& words) {
    std::string listed;
    for (std::string_view word : words) listed += (listed.empty() ? "" : ", ") + quoted(word);
    return quoted(name) + " must be one of " + listed;
}

void JsonArgs::finish(std::string_view noun, std::string_view taker) {
    if (failed() || given_.kind() != Value::Kind::Object) return;
    for (const auto& [key, value] : given_.members()) {
        if (known_.count(key)) continue;
        std::string names;
        for (const std::string& k : order_) names += (names.empty() ? "" : ", ") + k;
        fail("unknown " + std::string(noun) + " '" + key + "'; " + std::string(taker) + " takes " + names);
        return;
    }
}

}  // namespace tarvok::data
