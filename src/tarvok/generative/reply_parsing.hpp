// Cutting the JSON object out of an LLM reply.
#pragma once

#include <cstddef>
#include <string_view>

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

}  // namespace tarvok::generative
