// libFuzzer entry for the reply parser: cutting the JSON object out of an
// LLM reply. Besides crashes and the sanitizers, it checks the span the
// callers cut with (inside the reply; a brace at each end unless it is the
// whole reply), that a fenced capture lies between fences, and that no reply
// takes more than a second (the time oracle).
#include "generative/reply_parsing.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

using namespace tarvok::generative;

namespace {

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "oracle: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string_view reply(reinterpret_cast<const char*>(bytes), size);
    // Processor time, so that other work on a shared machine does not count.
    std::clock_t start = std::clock();
    Span fenced;
    bool has_fence = find_fenced_object(reply, fenced);
    Span span = extract_json_span(reply);
    double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    if (seconds > 1.0) std::fprintf(stderr, "oracle: %.2f s for %zu bytes\n", seconds, size);
    check(seconds <= 1.0, "a reply took more than a second");

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
