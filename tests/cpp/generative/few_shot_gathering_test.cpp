// The lines of the gathering of worked examples: which reach the user, which the debug log alone.
#include "generative/few_shot.hpp"

#include <gtest/gtest.h>

using namespace tarvok::generative;

TEST(FewShotGathering, FallbackAndFailureAreLoggedInFullAndShownBriefly) {
    std::vector<GatheringLine> fallback = lexical_fallback_lines("'mini-lm': key sk-1", "'mini-lm': [key hidden]");
    ASSERT_EQ(fallback.size(), 2u);
    EXPECT_FALSE(fallback[0].progress);
    EXPECT_EQ(fallback[0].text, "Few-shot ranking by meaning unavailable: 'mini-lm': key sk-1");
    EXPECT_TRUE(fallback[1].progress);
    EXPECT_EQ(fallback[1].text,
              "Embedding model unavailable ('mini-lm': [key hidden]); ranking few-shot examples by "
              "word overlap (BM25)");

    std::vector<GatheringLine> failed = retrieval_failed_lines("index unreadable");
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_FALSE(failed[0].progress);
    EXPECT_EQ(failed[0].text, "Few-shot retrieval skipped: index unreadable");
    EXPECT_TRUE(failed[1].progress);
    EXPECT_EQ(failed[1].text, "Few-shot retrieval failed; continuing without examples");
}
