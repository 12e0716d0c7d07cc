#include "generative/providers/retry.hpp"

#include "generative/providers/deadline.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace pv = tarvok::generative::providers;

namespace {

/// A request that fails with the scripted errors in turn ("" answers), and
/// drops rejected parameters when the error says "rejected".
struct Scripted {
    explicit Scripted(std::vector<std::string> scripted) : errors(std::move(scripted)) {}
    std::vector<std::string> errors;
    std::size_t sent = 0;
    std::vector<std::string> lines;
    std::vector<double> waits;
    std::string last;

    bool run(long long attempts, double backoff = 1.5) {
        return pv::run_with_retry({"OpenAI", attempts, std::to_string(attempts), backoff},
                                  {.send = [&]() -> std::optional<std::string> {
                                       last = sent < errors.size() ? errors[sent] : "";
                                       ++sent;
                                       if (last.empty()) return std::nullopt;
                                       return last;
                                   },
                                   .drop_rejected = [&] { return last == "rejected"; },
                                   .say = [&](const std::string& line) { lines.push_back(line); },
                                   .wait = [&](double seconds) { waits.push_back(seconds); }});
    }
};

TEST(Retry, WaitsDoublingBetweenFailuresButNotAfterTheLast) {
    Scripted request{{"503", "503", "503"}};
    EXPECT_FALSE(request.run(3));
    EXPECT_EQ(request.sent, 3u);
    EXPECT_EQ(request.waits, (std::vector<double>{1.5, 3.0}));
    EXPECT_EQ(request.lines, (std::vector<std::string>{"[LLM] OpenAI: 503", "[LLM] OpenAI: retry 1/3 after error: 503",
                                                       "[LLM] OpenAI: 503", "[LLM] OpenAI: retry 2/3 after error: 503",
                                                       "[LLM] OpenAI: 503", "[LLM] OpenAI: failed after 3 attempts"}));
}

TEST(Retry, DroppingRejectedParametersRetriesAtOnceAndAnAnswerEndsTheLoop) {
    Scripted request{{"rejected", "503", ""}};
    EXPECT_TRUE(request.run(3));
    EXPECT_EQ(request.sent, 3u);
    EXPECT_EQ(request.waits, (std::vector<double>{3.0})) << "the drop used the first attempt's turn";
    EXPECT_EQ(request.lines[1], "[LLM] OpenAI: retrying without unsupported parameters");

    Scripted never({});
    EXPECT_FALSE(never.run(0));
    EXPECT_EQ(never.sent, 0u);
    EXPECT_EQ(never.lines, (std::vector<std::string>{"[LLM] OpenAI: failed after 0 attempts"}));
}

TEST(Retry, ARunGivenUpIsNotTriedAgain) {
    auto run = std::make_shared<pv::RunBound>(100);
    pv::RunScope scope(run);
    run->abandon();
    Scripted request{{"cut", "503"}};
    EXPECT_FALSE(request.run(3));
    EXPECT_EQ(request.sent, 1u);
    EXPECT_TRUE(request.waits.empty());
}

}  // namespace
