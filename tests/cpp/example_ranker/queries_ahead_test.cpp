#include "example_ranker/queries_ahead.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace tarvok::example_ranker;

namespace {

/// Encodes every batch the queue hands out, position p as 10 * p, until it ends.
void encode_all(QueriesAhead<int>& queue) {
    while (auto batch = queue.next_batch()) {
        std::vector<int> vectors;
        for (std::size_t i = 0; i < batch->second; ++i) vectors.push_back(10 * int(batch->first + i));
        queue.encoded(batch->first, vectors);
    }
}

}  // namespace

TEST(QueriesAhead, ClaimsInOrderAndEncodesABoundedDistanceAhead) {
    // Texts: keys 7, 8, 7 (a repeated text), then 1000 others; two texts share key 9 but differ.
    std::vector<std::int64_t> keys{7, 8, 7, 9, 9};
    for (int i = 0; i < 1000; ++i) keys.push_back(100 + i);
    QueriesAhead<int> queue(keys, /*ahead=*/20, /*batch=*/4);
    auto any = [](std::size_t) { return true; };

    EXPECT_EQ(queue.claim(7, any), 0u);
    EXPECT_EQ(queue.claim(7, any), 2u) << "a repeated text claims its next position";
    EXPECT_EQ(queue.claim(7, any), std::nullopt);
    EXPECT_EQ(queue.claim(9, [](std::size_t p) { return p == 4; }), 4u) << "the text decides, not the key alone";
    EXPECT_EQ(queue.claim(5, any), std::nullopt) << "not a query of the run";

    std::thread encoder([&] { encode_all(queue); });
    EXPECT_EQ(queue.wait(2), 20);
    EXPECT_EQ(queue.wait(4), 40);
    // The claimed first (batches of 4, then 1 up to the furthest claim, 5), then 20 past it: 25 encoded, 2 taken.
    while (queue.held() < 23) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(queue.held(), 23u);

    // Claims far ahead move it on; vectors left a full distance behind are let go.
    auto at = [](std::size_t wanted) { return [wanted](std::size_t p) { return p == wanted; }; };
    EXPECT_EQ(queue.claim(100 + 295, at(300)), 300u);
    EXPECT_EQ(queue.wait(300), 3000);
    EXPECT_EQ(queue.claim(8, any), 1u);
    EXPECT_EQ(queue.wait(1), std::nullopt) << "let go: the ranking encodes its own";
    EXPECT_LE(queue.held(), 45u);

    queue.close();
    encoder.join();
    EXPECT_EQ(queue.claim(100 + 500, any), 505u);
    EXPECT_EQ(queue.wait(505), std::nullopt) << "closed: nothing to wait for";
}

TEST(QueriesAhead, AFailedBatchStopsTheEncodingAndReleasesItsWaiters) {
    QueriesAhead<int> queue({1, 2, 3, 4, 5, 6}, 8, 4);
    auto any = [](std::size_t) { return true; };
    ASSERT_EQ(queue.claim(2, any), 1u);
    std::thread waiter([&] { EXPECT_EQ(queue.wait(1), std::nullopt); });
    auto batch = queue.next_batch();
    ASSERT_EQ(batch, (std::pair<std::size_t, std::size_t>(0, 2))) << "no further than the waiting ranking needs";
    queue.encoded(batch->first, {});
    waiter.join();
    EXPECT_EQ(queue.next_batch(), std::nullopt);
}
