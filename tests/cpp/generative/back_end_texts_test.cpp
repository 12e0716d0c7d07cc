#include "generative/providers/back_end_texts.hpp"

#include <gtest/gtest.h>

using namespace tarvok::generative::providers;

namespace {

TEST(BackEndTexts, RetryLoopCountsFromOneAndNamesTheProvider) {
    EXPECT_EQ(request_started("OpenAI", "gpt-x"), "[LLM] OpenAI \u2022 gpt-x: sending request");
    EXPECT_EQ(request_started("Ollama", "llama3", "generating"), "[LLM] Ollama \u2022 llama3: generating");
    EXPECT_EQ(retrying_after("OpenAI", 0, "3", "boom"), "[LLM] OpenAI: retry 1/3 after error: boom");
    EXPECT_EQ(retrying_after("OpenAI", 1, "3", "boom"), "[LLM] OpenAI: retry 2/3 after error: boom");
    EXPECT_EQ(gave_up("OpenAI", "3"), "[LLM] OpenAI: failed after 3 attempts");
    EXPECT_EQ(request_failed("OpenAI", "3", "503"), "OpenAI request failed after 3 attempts: 503");
    EXPECT_EQ(listing_failed("Gemini", "no key"), "Failed to list Gemini models: no key");
    EXPECT_EQ(unreadable_reply("Ollama", "'response'"),
              "Failed to retrieve response text from Ollama response: 'response'");
    EXPECT_EQ(empty_reply("OpenAI", "Response()"), "Empty OpenAI response: Response().");
}

TEST(BackEndTexts, TimeoutsAreShownAndRoundedUp) {
    EXPECT_EQ(timed_out_text(0.5),
              "request timed out: no complete reply within the 0.5 s request timeout (REQUEST_TIMEOUT, --timeout)");
    EXPECT_NE(timed_out_text(30).find("within the 30 s"), std::string::npos);
    // A timeout under a millisecond still waits one: zero would mean no wait at all.
    EXPECT_EQ(timeout_milliseconds(0.0001), 1);
    EXPECT_EQ(timeout_milliseconds(1.5), 1500);
    EXPECT_EQ(timeout_milliseconds(2.0005), 2001);
}

TEST(BackEndTexts, ListingNamesAndTraceEvents) {
    EXPECT_EQ(listed_model_name("models/gemini-2.0"), "gemini-2.0");
    EXPECT_EQ(listed_model_name("models/"), "");
    EXPECT_FALSE(listed_model_name("tunedModels/x").has_value());
    EXPECT_FALSE(listed_model_name("model").has_value());

    EXPECT_EQ(trace_event("connection.connect_tcp.complete"), TraceEvent::Connected);
    EXPECT_EQ(trace_event("connection.connect_unix_socket.complete"), TraceEvent::Connected);
    EXPECT_EQ(trace_event("connection.start_tls.complete"), TraceEvent::Connected);
    EXPECT_EQ(trace_event("http11.response_closed.complete"), TraceEvent::ResponseClosed);
    EXPECT_EQ(trace_event("connection.connect_tcp.started"), TraceEvent::Other);
    EXPECT_EQ(trace_event("complete"), TraceEvent::Other);
}

}  // namespace
