#include "evaluation/work_queue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace tarvok::evaluation;

namespace {

Record with_id(std::string id) {
    Record r;
    r.id = std::move(id);
    return r;
}

}  // namespace

TEST(WorkQueue, EveryProblemIsTakenOnceAndHandedBackInTheOrderItFinished) {
    WorkQueue queue(50, 4);
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&] {
            while (auto index = queue.take()) queue.put(*index, with_id(std::to_string(*index)));
            queue.worker_ended();
        });
    std::set<std::size_t> seen;
    for (int i = 0; i < 50; ++i) {
        Finished done = queue.next(nullptr);
        EXPECT_EQ(done.record.id, std::to_string(done.index));
        EXPECT_TRUE(seen.insert(done.index).second);
    }
    queue.wait_for_workers(nullptr);
    for (auto& t : workers) t.join();
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_EQ(queue.running(), 0u);
    EXPECT_FALSE(queue.take());
}

TEST(WorkQueue, AStoppedRunHandsOutNoMoreAndAFailureComesInItsTurn) {
    WorkQueue queue(10, 1);
    ASSERT_EQ(queue.take(), 0u);
    queue.put(0, with_id("a"));
    queue.fail(std::make_exception_ptr(std::runtime_error("worker died")));
    queue.stop();
    EXPECT_TRUE(queue.stopping());
    EXPECT_FALSE(queue.take());
    EXPECT_EQ(queue.next(nullptr).record.id, "a");  // what finished before the failure first
    EXPECT_THROW(queue.next(nullptr), std::runtime_error);
}

TEST(WorkQueue, AnInterruptEndsAWaitThatNothingWouldEnd) {
    WorkQueue queue(1, 1);
    std::atomic<int> polls = 0;
    tarvok::Interrupt interrupt([&] { return ++polls >= 3; }, std::chrono::microseconds(0));
    EXPECT_THROW(queue.next(&interrupt), tarvok::Interrupted);
    polls = 0;
    EXPECT_THROW(queue.wait_for_workers(&interrupt), tarvok::Interrupted);
    queue.worker_ended();
    polls = 0;
    queue.wait_for_workers(&interrupt);  // none running: no wait, no poll
    EXPECT_EQ(polls, 0);
}

TEST(WorkerPlan, NoMoreWorkersThanProblemsAndEachRepeatInItsOwnFolder) {
    std::vector<Problem> problems(2);
    problems[0].id = problems[0].folder = problems[1].id = problems[1].folder = "p";
    problems[1].repeat = 2;
    std::vector<const Problem*> todo{&problems[0], &problems[1]};
    WorkerPlan plan = plan_workers(todo, 8);
    EXPECT_EQ(plan.names, (std::vector<std::string>{"tarvok-eval-1", "tarvok-eval-2"}));
    EXPECT_EQ(plan.problems.at(0).folder, "p");
    EXPECT_EQ(plan.problems.at(1).folder, "p/repeat-2");
    EXPECT_EQ(plan_workers(todo, 1).names.size(), 1u);
    EXPECT_TRUE(plan_workers({}, 4).names.empty());
}
