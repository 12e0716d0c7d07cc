// The gathering of worked examples, over a fake library.
#include "generative/few_shot.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace tarvok::generative;

namespace {

struct FakeLibrary : ExampleLibrary {
    bool meaning_available = true;
    bool ranking_fails = false;
    std::size_t hits = 4;
    std::set<std::size_t> failing_hits, empty_hits;
    std::size_t k = 2, taken_count = 0;
    std::vector<std::size_t> asked;
    std::vector<std::string> lines, logged;

    std::string k_shown() override { return std::to_string(k); }
    void rank_by_meaning() override {
        if (!meaning_available) throw MeaningUnavailable("'mini-lm': not installed");
    }
    void rank_lexically() override {
        if (ranking_fails) throw GatheringStepFailed("index unreadable", nullptr);
    }
    std::size_t hit_count() override { return hits; }
    std::string hit_names() override { return "['a.txt', 'b.txt']"; }
    bool take(std::size_t index) override {
        asked.push_back(index);
        if (failing_hits.contains(index)) throw GatheringStepFailed("bad file " + std::to_string(index), nullptr);
        if (!empty_hits.contains(index)) ++taken_count;
        return taken_count >= k;
    }
    void notify(const std::string& line) override { lines.push_back(line); }
    void log(const std::string& line) override { logged.push_back(line); }
    std::string shown(const std::string& text) override { return "<" + text + ">"; }
};

}  // namespace

TEST(FewShotGathering, TakesBestHitsUntilKSkippingFailedAndEmptyOnes) {
    FakeLibrary library;
    library.failing_hits = {0};
    library.empty_hits = {1};
    gather_examples(library);
    EXPECT_EQ(library.asked, (std::vector<std::size_t>{0, 1, 2, 3}));
    EXPECT_EQ(library.taken_count, 2u);
    EXPECT_EQ(library.lines, (std::vector<std::string>{"Retrieving few-shot examples (k=2)",
                                                       "Found 4 few-shot candidates: ['a.txt', 'b.txt']"}));
    EXPECT_EQ(library.logged, std::vector<std::string>{"Skipping example due to error: bad file 0"});

    FakeLibrary enough_early;
    gather_examples(enough_early);
    EXPECT_EQ(enough_early.asked, (std::vector<std::size_t>{0, 1}));  // k reached: the rest are not read
}

TEST(FewShotGathering, FallsBackToWordsThenGivesUpWithoutFailing) {
    FakeLibrary library;
    library.meaning_available = false;
    gather_examples(library);
    ASSERT_EQ(library.lines.size(), 3u);
    EXPECT_EQ(library.lines[1],
              "Embedding model unavailable (<'mini-lm': not installed>); ranking few-shot examples by word overlap "
              "(BM25)");
    EXPECT_EQ(library.logged.at(0), "Few-shot ranking by meaning unavailable: 'mini-lm': not installed");
    EXPECT_EQ(library.taken_count, 2u);

    FakeLibrary broken;
    broken.meaning_available = false;
    broken.ranking_fails = true;
    gather_examples(broken);
    EXPECT_TRUE(broken.asked.empty());
    EXPECT_EQ(broken.lines.back(), "Few-shot retrieval failed; continuing without examples");
    EXPECT_EQ(broken.logged.back(), "Few-shot retrieval skipped: index unreadable");
}
