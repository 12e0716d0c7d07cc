#include "example_ranker/query_batches.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace tarvok::example_ranker;

TEST(QueryBatches, OneOwnerPerModelTakesWhatWaitsForItUpToTheCap) {
    QueryBatches<int> queue;
    int a = 0, b = 0;
    auto first = queue.add(&a, 0);
    std::vector<QueryBatches<int>::Ticket> others;
    for (int i = 1; i < 40; ++i) others.push_back(queue.add(&a, i));
    auto other_model = queue.add(&b, 100);

    auto batch = queue.wait(others[5]);
    ASSERT_EQ(batch.size(), kQueryBatch);
    EXPECT_EQ(batch[0], others[5]) << "the owner's own query first";
    EXPECT_EQ(batch[1], first) << "then the oldest";
    EXPECT_EQ(queue.wait(other_model).size(), 1u) << "another model is not held up";

    // A waiter of the owned model sleeps until the batch is done.
    std::thread waiter([&] { EXPECT_TRUE(queue.wait(first).empty()); });
    queue.finish(batch, true);
    waiter.join();
    EXPECT_EQ(first->state, QueryBatches<int>::State::Done);

    // What was left over is the next owner's batch; a failed batch tells its waiters.
    auto rest = queue.wait(others.back());
    EXPECT_EQ(rest.size(), 40 - kQueryBatch);
    queue.finish(rest, false);
    EXPECT_TRUE(queue.wait(others.back()).empty());
    EXPECT_EQ(others.back()->state, QueryBatches<int>::State::Failed);
}
