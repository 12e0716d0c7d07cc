#include "example_ranker/lexical.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvok::example_ranker;

TEST(Terms, FoldEndingsCaseAndCommonWords) {
    EXPECT_EQ(terms("The Batches, batch and BATCHED!"), (std::vector<std::string>{"batch", "batch", "batch"}));
    EXPECT_EQ(terms("maximise maximize maximising"), (std::vector<std::string>{"maximiz", "maximiz", "maximiz"}));
    EXPECT_EQ(terms("bake baked baking cakes"), (std::vector<std::string>{"bak", "bak", "bak", "cak"}));
    EXPECT_EQ(terms("shipped ships planning plan"), (std::vector<std::string>{"ship", "ship", "plan", "plan"}));
    EXPECT_EQ(terms("we have 240 hours of x2"), (std::vector<std::string>{"hour", "x2"}));
    EXPECT_EQ(terms("Zürich café"), (std::vector<std::string>{"zürich", "caf\xC3\xA9"}))
        << "bytes beyond ASCII are letters";
    EXPECT_TRUE(terms("").empty());
    EXPECT_TRUE(terms("... 12 3.5 ;").empty());
}

TEST(Bm25, RareSharedWordsWinAndLengthDamps) {
    std::vector<std::string_view> documents = {
        "A workshop makes tables and chairs for profit from wood and hours of carpentry.",
        "A driver looks for the shortest route from the bakery to a hotel through the city.",
        "A canteen plans the cheapest menu that covers nutrients.",
        "Profit profit profit.",
    };
    std::vector<double> scores =
        bm25_scores("a bakery makes bread and cakes; each earns a profit per batch", documents);
    ASSERT_EQ(scores.size(), 4u);
    EXPECT_GT(scores[1], 0) << "shares 'bakery'";
    EXPECT_EQ(scores[2], 0) << "shares nothing";
    EXPECT_GT(scores[0], scores[2]);
    // More occurrences raise a score, with diminishing returns.
    EXPECT_GT(scores[3], 0);
    EXPECT_LT(scores[3], 3 * bm25_scores("profit", {"Profit here.", "other words", "more words"})[0]);
}

TEST(Bm25, QueryTermsCountOnceAndEmptyInputsScoreZero) {
    std::vector<std::string_view> documents = {"ship goods", "store goods"};
    EXPECT_EQ(bm25_scores("ship ship ship", documents), bm25_scores("ship", documents));
    EXPECT_EQ(bm25_scores("", documents), (std::vector<double>{0, 0}));
    EXPECT_TRUE(bm25_scores("ship", {}).empty());
    std::vector<double> blank = bm25_scores("ship", {"", "ship"});
    EXPECT_EQ(blank[0], 0);
    EXPECT_GT(blank[1], 0);
}
