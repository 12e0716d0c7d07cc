#include "generative/providers/providers.hpp"

#include "common/utf8.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace pv = tarvok::generative::providers;
using pv::Provider;

namespace {

/// Working parameters backed by a set, recording the order of removals.
class KeySet : public pv::ParamKeys {
  public:
    explicit KeySet(std::set<std::string> keys) : keys_(std::move(keys)) {}
    bool contains(std::string_view key) override { return keys_.count(std::string(key)) > 0; }
    void erase(std::string_view key) override {
        keys_.erase(std::string(key));
        erased.emplace_back(key);
    }
    std::vector<std::string> erased;

  private:
    std::set<std::string> keys_;
};

std::optional<std::string> unsupported(std::string_view msg) {
    auto m = pv::match_unsupported_parameter(msg);
    return m ? std::optional<std::string>(std::string(*m)) : std::nullopt;
}

std::optional<std::string> not_supported(std::string_view msg) {
    auto m = pv::match_parameter_not_supported(msg);
    return m ? std::optional<std::string>(std::string(*m)) : std::nullopt;
}

}  // namespace

TEST(Inference, AliasesAreTrimmedAndLowerCased) {
    EXPECT_EQ(pv::infer_provider(" Gemini\t", "gpt-4o"), Provider::Google);
    EXPECT_EQ(pv::infer_provider("\u3000OAI\u2028", "gemini-pro"), Provider::OpenAI);
    EXPECT_EQ(pv::infer_provider("Google.GenerativeAI", "llama3"), Provider::Google);
    EXPECT_EQ(pv::infer_provider("openai", "llama3"), Provider::OpenAI);
    EXPECT_EQ(pv::infer_provider("OLLAMA", "gpt-5"), Provider::Ollama);
}

TEST(Inference, UnknownOrEmptyNameLetsTheModelDecide) {
    EXPECT_EQ(pv::infer_provider("anthropic", "qwen2.5:7b"), Provider::Ollama);
    EXPECT_EQ(pv::infer_provider("", "gpt-4o"), Provider::OpenAI);
    EXPECT_EQ(pv::infer_provider(std::nullopt, "gemini-1.5-pro"), Provider::Google);
    // Only ASCII letters and U+0130/U+212A lower-case into ASCII; a dotted
    // capital I becomes i plus a combining dot, which is no alias.
    EXPECT_EQ(pv::infer_provider("gem\u0130n\u0130", "gpt-5"), Provider::OpenAI);
    EXPECT_EQ(pv::infer_provider("open ai", "gpt-5"), Provider::OpenAI);
    EXPECT_EQ(pv::infer_provider("open ai", "mistral-large"), Provider::Ollama);
}

TEST(Inference, ModelRulesAreCaseSensitiveAndOrdered) {
    EXPECT_EQ(pv::provider_from_model("gpt-oss:20b"), Provider::Ollama);
    EXPECT_EQ(pv::provider_from_model("my-gpt-oss-model"), Provider::Ollama);
    EXPECT_EQ(pv::provider_from_model("gemini-gpt-oss"), Provider::Google);  // rule 1 first
    EXPECT_EQ(pv::provider_from_model("Llama3"), Provider::OpenAI);
    EXPECT_EQ(pv::provider_from_model("Gemini-pro"), Provider::OpenAI);
    EXPECT_EQ(pv::provider_from_model(" llama3"), Provider::OpenAI);  // not trimmed
    EXPECT_EQ(pv::provider_from_model("mistral-large"), Provider::Ollama);
    EXPECT_EQ(pv::provider_from_model(""), Provider::OpenAI);
}

TEST(Text, TrimAndLower) {
    EXPECT_EQ(tarvok::utf8::trim_host_space("\x1c a b \x1f\xc2\x85"), "a b");
    EXPECT_EQ(tarvok::utf8::trim_host_space("\xe2\x80\x8b x"), "\xe2\x80\x8b x");  // zero-width space is not whitespace
    EXPECT_EQ(tarvok::utf8::trim_host_space(" \u00e9 "), "\u00e9");
    EXPECT_EQ(tarvok::utf8::trim_host_space("   "), "");
    EXPECT_EQ(pv::lower_for_ascii_search("ABC \u212a\u0130 \u00c9"), "abc ki\u0307 \u00c9");
}

TEST(CreateParams, KeyOrder) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(pv::create_param_keys(false, false, false), (V{"model", "input", "response_format"}));
    EXPECT_EQ(pv::create_param_keys(true, true, true),
              (V{"model", "input", "response_format", "max_output_tokens", "temperature", "stop"}));
    EXPECT_EQ(pv::create_param_keys(false, true, false), (V{"model", "input", "response_format", "temperature"}));
}

TEST(Patterns, UnsupportedParameter) {
    EXPECT_EQ(unsupported("Unsupported parameter: 'max_output_tokens' is not supported with this model."),
              "max_output_tokens");
    EXPECT_EQ(unsupported("UNSUPPORTED PARAMETER:'top_p'"), "top_p");
    EXPECT_EQ(unsupported("unsupported parameter:\u2003\n 'x y'"), "x y");
    EXPECT_EQ(unsupported("unsupported parameter: ''  unsupported parameter: 'second'"), "second");
    EXPECT_EQ(unsupported("unsupported parameter: 'unterminated"), std::nullopt);
    EXPECT_EQ(unsupported("unsupported  parameter: 'two spaces'"), std::nullopt);  // literal space, not \s
    EXPECT_EQ(unsupported("unsupported parameter: \u200b'zw'"), std::nullopt);
    // The host folds long s, dotted and dotless I onto s and i when ignoring case.
    EXPECT_EQ(unsupported("un\u017fupported parameter: 'a'"), "a");
    EXPECT_EQ(unsupported("\u00fcnsupported parameter: 'a'"), std::nullopt);
    EXPECT_EQ(unsupported("unsupported parameter: 'caf\u00e9\nline'"), "caf\u00e9\nline");
}

TEST(Patterns, ParameterIsNotSupported) {
    EXPECT_EQ(not_supported("Parameter 'temperature' is not supported for o1."), "temperature");
    EXPECT_EQ(not_supported("parameter'stop'\tIS NOT SUPPORTED"), "stop");
    EXPECT_EQ(not_supported("parameter 'a' is  not supported"), std::nullopt);
    EXPECT_EQ(not_supported("parameter 'a' but parameter 'b' \u0130s not supported"), "b");
    EXPECT_EQ(not_supported("parameter 'a' \u0131s not \u017fupported"), "a");
    EXPECT_EQ(not_supported("parameters 'a' is not supported"), std::nullopt);
    EXPECT_EQ(not_supported("param\u00e9ter 'a' is not supported"), std::nullopt);
}

TEST(Stripping, FallbackKeysByMentionAndPhrases) {
    KeySet keys({"model", "input", "response_format", "stop", "temperature"});
    EXPECT_TRUE(pv::strip_param_from_error_message("Unexpected keyword argument 'response_format'", keys));
    EXPECT_EQ(keys.erased, (std::vector<std::string>{"response_format"}));

    KeySet passing({"model", "stop", "temperature"});
    EXPECT_TRUE(pv::strip_param_from_error_message("the stream STOPPED early", passing));
    EXPECT_EQ(passing.erased, (std::vector<std::string>{"stop"}));

    KeySet several({"response_format", "stop", "reasoning", "temperature"});
    EXPECT_TRUE(pv::strip_param_from_error_message("bad temperature and reasoning", several));
    EXPECT_EQ(several.erased, (std::vector<std::string>{"reasoning", "temperature"}));
}

TEST(Stripping, FallbackKeyAbsentFromParamsIsNotReported) {
    KeySet keys({"model", "input"});
    EXPECT_FALSE(pv::strip_param_from_error_message("unexpected keyword argument 'stop'", keys));
    EXPECT_TRUE(keys.erased.empty());
}

TEST(Stripping, ExpressionsRemoveAnyParameterWithExactCase) {
    KeySet keys({"max_output_tokens", "model"});
    EXPECT_TRUE(pv::strip_param_from_error_message(
        "Unsupported parameter: 'max_output_tokens' is not supported with this model.", keys));
    EXPECT_EQ(keys.erased, (std::vector<std::string>{"max_output_tokens"}));

    KeySet cased({"Top_P"});
    EXPECT_FALSE(pv::strip_param_from_error_message("unsupported parameter: 'top_p'", cased));

    KeySet second({"seed"});
    EXPECT_TRUE(pv::strip_param_from_error_message("Parameter 'seed' is not supported", second));
}

TEST(Stripping, NothingMatches) {
    KeySet keys({"model", "input", "response_format"});
    EXPECT_FALSE(pv::strip_param_from_error_message("rate limit exceeded", keys));
    EXPECT_FALSE(pv::strip_param_from_error_message("", keys));
    EXPECT_TRUE(keys.erased.empty());
}

TEST(Backoff, DoublesPerAttempt) {
    EXPECT_DOUBLE_EQ(pv::backoff_seconds(1.5, 0), 1.5);
    EXPECT_DOUBLE_EQ(pv::backoff_seconds(1.5, 1), 3.0);
    EXPECT_DOUBLE_EQ(pv::backoff_seconds(1.5, 2), 6.0);
    EXPECT_DOUBLE_EQ(pv::backoff_seconds(0.0, 5000), 0.0);
}
