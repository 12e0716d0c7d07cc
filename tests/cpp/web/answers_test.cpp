// The generation stream's queue and the answers the web core shapes.
#include "scratch_folder.hpp"
#include "web/api.hpp"
#include "web/workdir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace tarvok::web;

TEST(FrameQueue, DeliversEveryFrameBeforeItEnds) {
    FrameQueue q;
    q.push("one");
    q.push("two");
    q.finish();
    EXPECT_EQ(q.next(), "one");
    EXPECT_EQ(q.next(), "two");
    EXPECT_EQ(q.next(), std::nullopt);
    EXPECT_EQ(q.next(), std::nullopt) << "over stays over";
}

TEST(FrameQueue, HeartbeatWhileWaitingAndWakesForAFrame) {
    FrameQueue q;
    EXPECT_EQ(q.next(), std::string(heartbeat()));
    std::thread producer([&] { q.push("late"); });
    std::optional<std::string> got = q.next();
    producer.join();
    // The frame either came within the wait or right after one heartbeat.
    if (got == std::string(heartbeat())) got = q.next();
    EXPECT_EQ(got, "late");
    EXPECT_FALSE(q.cancelled());
}

TEST(FrameQueue, CancellingEndsTheWaitAtOnceAndGivesTheRunUp) {
    FrameQueue q;
    auto cut = std::make_shared<tarvok::generative::providers::Watch>(180);
    int cuts = 0;
    cut->connected([&] { ++cuts; });
    q.bound()->watch(cut);
    std::thread waiting([&] {
        auto start = std::chrono::steady_clock::now();
        q.next();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.cancel();
    waiting.join();
    EXPECT_TRUE(q.cancelled());
    EXPECT_EQ(cuts, 1) << "the request the run waits on is cut";
}

class Library : public tarvok::testing::ScratchFolder {};

TEST_F(Library, ListsPlainExamplesByNameWithTheirTexts) {
    write("knapsack/knapsack.mod", "dvar int x;");
    write("knapsack/knapsack.txt", "Pack a bag.");
    write("diet/diet.mod", "dvar float y;");
    write("diet/diet.dat", "n = 1;");
    write("notes/readme.txt", "no model here");
    write("two words/two words.mod", "dvar int z;");
    Value answer = examples_by_name(root_);
    EXPECT_EQ(answer.find("ranking")->text(), "name");
    const std::vector<Value>& examples = answer.find("examples")->items();
    ASSERT_EQ(examples.size(), 2u);
    EXPECT_EQ(examples[0].find("name")->text(), "diet");
    EXPECT_EQ(examples[0].find("data")->text(), "n = 1;");
    EXPECT_EQ(examples[0].find("description")->text(), "") << "a missing file is an empty text";
    EXPECT_EQ(examples[1].find("name")->text(), "knapsack");
    EXPECT_EQ(examples[1].find("description")->text(), "Pack a bag.");
    EXPECT_TRUE(examples_by_name(root_ / "missing").find("examples")->items().empty());
}

TEST(Grounding, SplitsAssumedNumbersFromConvertedOnes) {
    Value report =
        grounding_value("Ship at most 40 crates; the fee is 5% of the price.", "cap = 40;\nfee = 0.05;\nk = 7;\n");
    const std::vector<Value>& assumed = report.find("assumptions")->items();
    ASSERT_EQ(assumed.size(), 1u);
    EXPECT_EQ(assumed[0].find("text")->text(), "7");
    EXPECT_EQ(assumed[0].find("line")->integer(), 3);
    EXPECT_EQ(assumed[0].find("kind")->text(), "assumed");
    const std::vector<Value>& converted = report.find("conversions")->items();
    ASSERT_EQ(converted.size(), 1u);
    EXPECT_EQ(converted[0].find("kind")->text(), "percentage");
    EXPECT_EQ(converted[0].find("source")->text(), "5");
}

TEST(Answers, EmittedFormatsAndAppliedFiles) {
    Value mps = emitted(*tarvok::emitter::find_output("mps"));
    EXPECT_EQ(mps.find("format")->text(), "mps");
    EXPECT_EQ(mps.find("file_name")->text(), "model.mps");
    EXPECT_EQ(emitted(tarvok::emitter::default_output()).find("format")->text(), "scipy");
    EXPECT_EQ(emitted(tarvok::emitter::default_output()).find("media_type")->text(), "text/x-python");

    Applied applied;
    applied.files = {"/w/plan.mod", "/w/plan.dat"};
    applied.backups.model = "/w/plan.mod.bak";
    Value answer = applied_answer(applied);
    EXPECT_EQ(answer.find("model_file")->text(), "plan.mod") << "names only, never the server's paths";
    EXPECT_EQ(answer.find("backup_model_file")->text(), "plan.mod.bak");
    EXPECT_EQ(answer.find("backup_data_file")->kind(), Value::Kind::Null);
}

TEST(RunSlots, RefusesTheRunBeyondTheLimitUntilOneEnds) {
    RunSlots slots(kMaxGenerationRuns, "generation runs");
    std::vector<RunSlots::Slot> held;
    for (int i = 0; i < kMaxGenerationRuns; ++i) {
        held.push_back(slots.take().slot);
        EXPECT_TRUE(held.back());
    }
    RunSlots::Taken refused = slots.take();
    EXPECT_FALSE(refused.slot);
    EXPECT_EQ(refused.refusal, "4 generation runs are under way; wait for one to end");
    EXPECT_FALSE(slots.take().slot) << "a refusal takes no slot";
    RunSlots::Slot copy = held.back();
    held.pop_back();
    EXPECT_FALSE(slots.take().slot) << "a copy of the slot still holds it";
    copy.reset();
    RunSlots::Slot again = slots.take().slot;
    EXPECT_TRUE(again);
    // A slot outlives the app that gave it.
    RunSlots::Slot kept;
    {
        RunSlots gone(1, "questions");
        kept = gone.take().slot;
    }
    kept.reset();
}

TEST(BodyLimit, ReadsAtMostTheEndpointsBoundAndNothingPastADeclaredExcess) {
    EXPECT_EQ(body_limit("/api/generate", std::nullopt), kMaxSmallBody);
    EXPECT_EQ(body_limit("/api/run", "100"), kMaxPairBody);
    EXPECT_EQ(body_limit("/api/generate", std::to_string(kMaxSmallBody + 1)), std::nullopt);
    EXPECT_EQ(body_limit("/api/run", "12abc"), std::nullopt) << "a length that is no count is too large";
    EXPECT_EQ(body_limit("/api/nothing", "5"), 0u);
}
