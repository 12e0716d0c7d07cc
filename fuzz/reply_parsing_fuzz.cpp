// libFuzzer entry for the reply parser: cutting the JSON object out of an
// LLM reply. Besides crashes and the sanitizers, it checks the span the
// callers cut with (inside the reply; a brace at each end unless it is the
// whole reply), that a fenced capture lies between fences, that an
// assumptions list read from it holds only the five kinds, and that no reply
// takes more than a second (the time oracle).
#include "generative/reply_parsing.hpp"
#include "oracle.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

using namespace tarvok::generative;
using namespace tarvok::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string_view reply(reinterpret_cast<const char*>(bytes), size);
    TimeOracle time;
    Span fenced;
    bool has_fence = find_fenced_object(reply, fenced);
    Span span = extract_json_span(reply);
    ParsedAssumptions assumptions = parse_assumptions(reply);
    time.check(size, "a reply took more than a second");

    check(assumptions.list.has_value() != !assumptions.failure.empty(), "a list and a failure, or neither");
    if (assumptions.list) {
        const auto& kinds = assumption_kinds();
        for (const Assumption& a : *assumptions.list)
            check(std::find(kinds.begin(), kinds.end(), a.kind) != kinds.end(), "a kind outside the five");
    }

    check(span.begin <= span.end && span.end <= reply.size(), "a span outside the reply");
    if (!(span.begin == 0 && span.end == reply.size())) {
        check(span.end - span.begin >= 2, "a span too short for an object");
        check(reply[span.begin] == '{' && reply[span.end - 1] == '}', "a span without braces at its ends");
    }
    if (has_fence) {
        check(span == fenced, "the fenced capture is not what is cut");
        check(reply.substr(0, fenced.begin).find("```") != std::string_view::npos, "a capture with no fence before");
        check(reply.find("```", fenced.end) != std::string_view::npos, "a capture with no fence after");
    }
    return 0;
}
