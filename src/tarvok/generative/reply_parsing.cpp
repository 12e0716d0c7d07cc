#include "generative/reply_parsing.hpp"

#include "common/json.hpp"
#include "common/utf8.hpp"

#include <algorithm>

namespace tarvok::generative {

namespace {

bool fence_at(std::string_view text, std::size_t pos) { return text.substr(pos, 3) == "```"; }

/// The opening brace a fence at `fence` leads to, or npos. The optional
/// "json" is tried first, as the backtracking engine would.
std::size_t brace_after_fence(std::string_view text, std::size_t fence) {
    std::size_t p = fence + 3;
    if (text.substr(p, 4) == "json") {
        std::size_t q = utf8::skip_host_space(text, p + 4);
        if (q < text.size() && text[q] == '{') return q;
    }
    std::size_t q = utf8::skip_host_space(text, p);
    if (q < text.size() && text[q] == '{') return q;
    return std::string_view::npos;
}

}  // namespace

bool find_fenced_object(std::string_view text, Span& capture) {
    // The greedy body ends at the last '}' that is followed by optional
    // whitespace and a closing fence. Scanning backwards once, `reachable`
    // says whether that holds after the current character.
    std::size_t last_close = std::string_view::npos;
    bool reachable = false;
    for (std::size_t i = text.size(); i-- > 0;) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
        if (text[i] == '}' && reachable) {
            last_close = i;
            break;
        }
        if (fence_at(text, i)) {
            reachable = true;
        } else if (utf8::host_space_at(text, i) == 0) {
            reachable = false;
        }
    }
    if (last_close == std::string_view::npos) return false;
    for (std::size_t pos = text.find("```"); pos != std::string_view::npos && pos < last_close;
         pos = text.find("```", pos + 1)) {
        std::size_t brace = brace_after_fence(text, pos);
        if (brace != std::string_view::npos && brace < last_close) {
            capture = {brace, last_close + 1};
            return true;
        }
    }
    return false;
}

Span extract_json_span(std::string_view text) {
    Span capture;
    if (find_fenced_object(text, capture)) return capture;
    std::size_t first = text.find('{');
    if (first == std::string_view::npos) return {0, text.size()};
    long depth = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        if (text[i] == '{') {
            ++depth;
        } else if (text[i] == '}') {
            if (--depth == 0) return {first, i + 1};
        }
    }
    return {0, text.size()};
}

const std::vector<std::string>& assumption_kinds() {
    static const std::vector<std::string> kinds = {"invented_data", "interpretation", "units", "boundary_condition",
                                                   "asked_quantity"};
    return kinds;
}

namespace {

/// The text of a member that may be missing: a string as it is, a number by
/// its source text, a list of those joined with ", ".
std::optional<std::string> text_member(const json::Value& entry, std::string_view key) {
    const json::Value* v = entry.find(key);
    if (v == nullptr || v->is_null()) return std::string();
    auto scalar = [](const json::Value& x) -> std::optional<std::string> {
        if (x.kind() == json::Value::Kind::String || x.is_numeric()) return x.text();
        return std::nullopt;
    };
    if (v->kind() != json::Value::Kind::Array) return scalar(*v);
    std::string joined;
    for (const json::Value& item : v->items()) {
        std::optional<std::string> one = scalar(item);
        if (!one) return std::nullopt;
        if (!joined.empty()) joined += ", ";
        joined += *one;
    }
    return joined;
}

/// The list a parsed value holds, or why it holds none.
ParsedAssumptions from_value(const json::Value& value) {
    ParsedAssumptions out;
    const json::Value* list = &value;
    if (value.kind() == json::Value::Kind::Object) list = value.find("assumptions");
    if (list == nullptr || list->kind() != json::Value::Kind::Array) {
        out.failure = "expected a JSON list of assumptions";
        return out;
    }
    std::vector<Assumption> entries;
    for (const json::Value& item : list->items()) {
        std::size_t n = entries.size() + 1;
        const json::Value* said = item.kind() == json::Value::Kind::Object ? item.find("assumption") : nullptr;
        if (said == nullptr || said->kind() != json::Value::Kind::String) {
            out.failure = "entry " + std::to_string(n) + " has no text \"assumption\"";
            return out;
        }
        Assumption a;
        a.assumption = said->text();
        std::optional<std::string> alternative = text_member(item, "alternative"), where = text_member(item, "where"),
                                   kind = text_member(item, "kind");
        if (!alternative || !where || !kind) {
            out.failure = "entry " + std::to_string(n) + " has a member that is no text";
            return out;
        }
        a.alternative = *alternative;
        a.where = *where;
        const auto& kinds = assumption_kinds();
        a.kind = std::find(kinds.begin(), kinds.end(), *kind) != kinds.end() ? *kind : "interpretation";
        entries.push_back(std::move(a));
    }
    out.list = std::move(entries);
    return out;
}

/// The content of the first ``` fence (an optional "json" after it) up to the next fence.
std::optional<std::string_view> fenced_block(std::string_view reply) {
    std::size_t open = reply.find("```");
    if (open == std::string_view::npos) return std::nullopt;
    std::size_t begin = open + 3;
    if (reply.substr(begin, 4) == "json") begin += 4;
    std::size_t close = reply.find("```", begin);
    if (close == std::string_view::npos) return std::nullopt;
    return reply.substr(begin, close - begin);
}

}  // namespace

ParsedAssumptions parse_assumptions(std::string_view reply) {
    std::vector<std::string_view> candidates = {reply};
    if (auto fenced = fenced_block(reply)) candidates.push_back(*fenced);
    std::size_t first = reply.find('['), last = reply.rfind(']');
    if (first != std::string_view::npos && last != std::string_view::npos && first < last)
        candidates.push_back(reply.substr(first, last - first + 1));
    std::string failure;
    for (std::string_view text : candidates) {
        try {
            ParsedAssumptions parsed = from_value(json::parse(text, {.repeated_keys = true, .number_text = true}));
            if (parsed.list) return parsed;
            if (failure.empty()) failure = parsed.failure;
        } catch (const json::ParseError& e) {
            if (failure.empty()) failure = e.what();
        }
    }
    return ParsedAssumptions{std::nullopt, failure};
}

}  // namespace tarvok::generative
