#include "generative/reply_parsing.hpp"

#include "common/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

using tarvok::generative::extract_json_span;
using tarvok::generative::Span;
using tarvok::utf8::host_space_at;

namespace {

std::string cut(const std::string& text) {
    Span s = extract_json_span(text);
    return text.substr(s.begin, s.end - s.begin);
}

}  // namespace

TEST(FenceSearch, GreedyAcrossTwoBlocks) {
    EXPECT_EQ(cut("```json\n{\"a\":1}\n```\n```json\n{\"b\":2}\n```"), "{\"a\":1}\n```\n```json\n{\"b\":2}");
}

TEST(FenceSearch, LeftmostFenceWithABraceWins) {
    // The first fence has no object after it; the second one does.
    EXPECT_EQ(cut("```text\nhi\n``` and ```json {\"x\": 1} ```"), "{\"x\": 1}");
}

TEST(FenceSearch, JsonTagThenNoBraceFallsBackToBraceScan) {
    EXPECT_EQ(cut("```json\nnot json\n``` {\"k\": {}} tail"), "{\"k\": {}}");
}

TEST(FenceSearch, ClosingBraceMustBeFollowedByFence) {
    EXPECT_EQ(cut("```json {\"a\": 1} x ``` {\"b\": 2}"), "{\"a\": 1}");
}

TEST(FenceSearch, UnicodeWhitespaceBetweenBraceAndFence) {
    EXPECT_EQ(cut("```{\"a\":1}\u2028```"), "{\"a\":1}");
    EXPECT_EQ(cut("```{\"a\":1}\u200b```"), "{\"a\":1}");  // zero-width space is not \s: brace scan decides
}

TEST(BraceScan, QuotesAreNotInterpreted) { EXPECT_EQ(cut("x {\"s\": \"}\"} y"), "{\"s\": \"}"); }

TEST(BraceScan, UnbalancedGivesWholeText) {
    std::string text = "pre {\"a\": {\"b\": 1}";
    Span s = extract_json_span(text);
    EXPECT_EQ(s, (Span{0, text.size()}));
}

TEST(HostSpace, MatchesTheHostSet) {
    EXPECT_EQ(host_space_at("\x1c", 0), 1u);
    EXPECT_EQ(host_space_at("\xc2\x85", 0), 2u);
    EXPECT_EQ(host_space_at("\xc2\xa0", 0), 2u);
    EXPECT_EQ(host_space_at("\xe3\x80\x80", 0), 3u);
    EXPECT_EQ(host_space_at("\xe2\x80\x8b", 0), 0u);  // U+200B
    EXPECT_EQ(host_space_at("x", 0), 0u);
    EXPECT_EQ(host_space_at("\xe2\x80", 0), 0u);  // truncated sequence
}

TEST(BraceScan, ManyOpeningFencesAndBracesWithoutAnEnd) {
    // The shape that makes a backtracking engine quadratic; timing is in benchmarks/.
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "```json {";
    EXPECT_EQ(extract_json_span(text), (Span{0, text.size()}));
}

// ------------------------------------------------------- assumptions lists

namespace {

using tarvok::generative::parse_assumptions;

}  // namespace

TEST(AssumptionsList, ReadFromTheWholeReplyAFenceOrTheBrackets) {
    const std::string one = R"([{"assumption": "a", "alternative": "b", "where": "line 2", "kind": "units"}])";
    for (const std::string& reply :
         {one, "```json\n" + one + "\n```", "Sure: " + one + " Hope it helps.", "{\"assumptions\": " + one + "}"}) {
        auto parsed = parse_assumptions(reply);
        ASSERT_TRUE(parsed.list) << reply << ": " << parsed.failure;
        ASSERT_EQ(parsed.list->size(), 1u);
        EXPECT_EQ((*parsed.list)[0].assumption, "a");
        EXPECT_EQ((*parsed.list)[0].alternative, "b");
        EXPECT_EQ((*parsed.list)[0].where, "line 2");
        EXPECT_EQ((*parsed.list)[0].kind, "units");
    }
    auto empty = parse_assumptions(" [] ");
    ASSERT_TRUE(empty.list);
    EXPECT_TRUE(empty.list->empty());
}

TEST(AssumptionsList, LenientWithMembersStrictWithTheShape) {
    auto parsed = parse_assumptions(R"([{"assumption": "x", "where": ["l1", 7], "kind": "guess"}])");
    ASSERT_TRUE(parsed.list);
    EXPECT_EQ((*parsed.list)[0].where, "l1, 7");
    EXPECT_EQ((*parsed.list)[0].alternative, "");
    EXPECT_EQ((*parsed.list)[0].kind, "interpretation");  // a kind outside the five

    EXPECT_FALSE(parse_assumptions("no list at all").list);
    EXPECT_EQ(parse_assumptions(R"([{"assumption": 3}])").failure, "entry 1 has no text \"assumption\"");
    EXPECT_EQ(parse_assumptions(R"([{"assumption": "a", "where": {"l": 1}}])").failure,
              "entry 1 has a member that is no text");
    EXPECT_EQ(parse_assumptions(R"({"list": 3})").failure, "expected a JSON list of assumptions");
    // Deep nesting is refused, not followed.
    EXPECT_FALSE(parse_assumptions(std::string(100000, '[') + std::string(100000, ']')).list);
    EXPECT_FALSE(parse_assumptions("```json [ ``` ]").list);
}
