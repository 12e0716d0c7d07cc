// Cutting the JSON object out of an LLM reply.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative {

/// Half-open byte range of a UTF-8 reply.
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool operator==(const Span&) const = default;
};

/// Leftmost match of the fence pattern ```(?:json)?\s*(\{.*\})\s*``` (DOTALL,
/// greedy), computed in one linear pass instead of by backtracking: the
/// captured group, if any fence matches.
bool find_fenced_object(std::string_view reply, Span& capture);

/// The object text an LLM reply most likely carries: the fenced capture, else
/// the first brace-balanced run (quotes are not interpreted), else the whole
/// reply.
Span extract_json_span(std::string_view reply);

/// What a reading of a description rests on, as the assumptions request
/// lists it.
struct Assumption {
    std::string assumption;   ///< the reading the model takes
    std::string alternative;  ///< the other reasonable reading
    std::string where;        ///< the model or data lines it affects
    std::string kind;         ///< one of `assumption_kinds`
};

/// "invented_data", "interpretation", "units", "boundary_condition", "asked_quantity".
const std::vector<std::string>& assumption_kinds();

/// A reply to the assumptions request read as a list, or why it could not be.
struct ParsedAssumptions {
    std::optional<std::vector<Assumption>> list;
    std::string failure;
};

/// Reads the JSON list of an assumptions reply: the whole reply, else a
/// fenced block, else the first '[' to the last ']'; an object holding the
/// list under "assumptions" is taken too. Each entry needs a text
/// "assumption"; "alternative" and "where" may be missing (empty) and
/// "where" may be a list of lines, joined with ", "; a kind outside the five
/// is read as "interpretation". Any input is safe: nesting is bounded and
/// nothing is executed.
ParsedAssumptions parse_assumptions(std::string_view reply);

}  // namespace tarvok::generative
