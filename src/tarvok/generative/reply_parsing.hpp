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

/// True for the characters the host's `\s` and str.isspace() accept, given
/// as a code point.
bool is_host_space(char32_t c);

/// Length in bytes of the host whitespace character at `pos` (0 if none).
std::size_t host_space_at(std::string_view text, std::size_t pos);

}  // namespace tarvok::generative
