#include "generative/providers/providers.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <vector>

namespace pv = tarvok::generative::providers;

namespace {

std::string_view inferred(std::optional<std::string_view> name, std::string_view model) {
    return pv::infer_provider(name, model).member;
}

}  // namespace

TEST(Table, NamesAreUniqueLowerCaseAndComplete) {
    std::set<std::string_view> members, aliases, listings;
    for (const pv::Provider& p : pv::kProviders) {
        EXPECT_TRUE(members.insert(p.member).second) << p.member;
        EXPECT_TRUE(listings.insert(p.list_models).second) << p.list_models;
        // The canonical name is one of its own aliases, so the value always names the provider.
        EXPECT_EQ(pv::provider_from_alias(p.value), &p);
        for (std::string_view alias : p.aliases) {
            EXPECT_TRUE(aliases.insert(alias).second) << "alias used twice: " << alias;
            for (char c : alias) EXPECT_FALSE(c >= 'A' && c <= 'Z') << alias;
        }
        EXPECT_FALSE(p.label.empty());
        // A provider with a client library names its extra and how to install it.
        EXPECT_EQ(p.extra.empty(), p.missing_library.empty()) << p.member;
        if (!p.extra.empty()) {
            EXPECT_NE(p.missing_library.find("pip install"), std::string_view::npos);
        }
    }
    // Only the default provider and those served by name only go without a model rule.
    for (std::size_t i = 1; i < pv::kProviders.size(); ++i) {
        const pv::Provider& p = pv::kProviders[i];
        EXPECT_NE(p.model_rule.prefixes.empty() && p.model_rule.fragments.empty(), !p.named_only) << p.member;
    }
}

TEST(Inference, NamedProviderWinsOverTheModel) {
    EXPECT_EQ(inferred("gemini", "gpt-4o"), "GOOGLE");
    EXPECT_EQ(inferred("oai", "gemini-pro"), "OPENAI");
    EXPECT_EQ(inferred("google.generativeai", "llama3"), "GOOGLE");
    EXPECT_EQ(inferred("ollama", "gpt-5"), "OLLAMA");
}

TEST(Inference, ReplayIsServedByNameOnly) {
    EXPECT_EQ(inferred("replay", "gpt-5"), "REPLAY");
    EXPECT_EQ(inferred(std::nullopt, "replay"), "OPENAI");
}

TEST(Inference, UnknownOrAbsentNameLetsTheModelDecide) {
    EXPECT_EQ(inferred("anthropic", "qwen2.5:7b"), "OLLAMA");
    EXPECT_EQ(inferred("", "gpt-4o"), "OPENAI");
    EXPECT_EQ(inferred(std::nullopt, "gemini-1.5-pro"), "GOOGLE");
    EXPECT_EQ(inferred("open ai", "mistral-large"), "OLLAMA");
    EXPECT_EQ(inferred("Gemini", "gpt-5"), "OPENAI");  // the binding lower-cases; the table does not
}

TEST(Inference, ModelRulesAreCaseSensitiveAndOrdered) {
    auto by_model = [](std::string_view model) { return pv::provider_from_model(model).member; };
    EXPECT_EQ(by_model("gpt-oss:20b"), "OLLAMA");
    EXPECT_EQ(by_model("my-gpt-oss-model"), "OLLAMA");
    EXPECT_EQ(by_model("gemini-gpt-oss"), "GOOGLE");  // Google's rule comes first
    EXPECT_EQ(by_model("Llama3"), "OPENAI");
    EXPECT_EQ(by_model("Gemini-pro"), "OPENAI");
    EXPECT_EQ(by_model(" llama3"), "OPENAI");  // not trimmed
    EXPECT_EQ(by_model("mistral-large"), "OLLAMA");
    EXPECT_EQ(by_model(""), "OPENAI");
}

TEST(Inference, AnotherTableIsReadTheSameWay) {
    static constexpr std::string_view first_aliases[] = {"first"};
    static constexpr std::string_view second_aliases[] = {"second", "2nd"};
    static constexpr std::string_view second_fragments[] = {"-two-"};
    const pv::Provider table[] = {
        {.member = "FIRST", .value = "first", .aliases = first_aliases},
        {.member = "SECOND",
         .value = "second",
         .aliases = second_aliases,
         .model_rule = {.fragments = second_fragments}},
    };
    EXPECT_EQ(pv::infer_provider("2nd", "m", table).member, "SECOND");
    EXPECT_EQ(pv::infer_provider(std::nullopt, "model-two-x", table).member, "SECOND");
    EXPECT_EQ(pv::infer_provider("openai", "gemini", table).member, "FIRST");
}

TEST(Text, SpokenLists) {
    EXPECT_EQ(pv::spoken_list({}, "or"), "");
    EXPECT_EQ(pv::spoken_list({"a"}, "or"), "a");
    EXPECT_EQ(pv::spoken_list({"a", "b"}, "and"), "a and b");
    EXPECT_EQ(pv::spoken_list({"a", "b", "c"}, "or"), "a, b or c");
}

TEST(Text, TheEnumerationNamesEveryBackEndAsDocumentsDo) {
    const pv::Provider table[] = {{.member = "A", .value = "a", .described = "the first"},
                                  {.member = "B", .value = "b", .described = "a local one"},
                                  {.member = "C", .value = "c", .described = "recordings"}};
    EXPECT_EQ(pv::enumeration_doc(table), "The LLM back-ends: the first, a local one and recordings.");
}

TEST(Table, EveryBackEndValueHasItsEntry) {
    for (const pv::Provider& p : pv::kProviders) EXPECT_EQ(&pv::provider(p.value), &p);
    EXPECT_THROW(pv::provider("OpenAI"), std::logic_error);  // values are exact, not aliases
}

TEST(Table, EveryModuleFunctionHasOneEntryAndEveryListingItsParameters) {
    std::set<std::string_view> names;
    for (const pv::Provider& p : pv::kProviders) {
        for (const auto& f : p.functions) {
            EXPECT_TRUE(names.insert(f.name).second) << f.name;
            EXPECT_EQ(&pv::back_end_doc(f.name), &f);
        }
    }
    EXPECT_STREQ(pv::back_end_doc("list_models").params, "llm_provider=None, model_name='gpt-5'");
    EXPECT_THROW(pv::back_end_doc("list_openai_models"), std::out_of_range);  // defined from the row instead
    EXPECT_EQ(pv::listing_params(pv::provider("openai")), "prefix='gpt'");
    EXPECT_EQ(pv::listing_params(pv::provider("ollama")), "prefix=None");
}

TEST(CreateParams, KeyOrder) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(pv::create_param_keys(false, false, false), (V{"model", "input", "response_format"}));
    EXPECT_EQ(pv::create_param_keys(true, true, true),
              (V{"model", "input", "response_format", "max_output_tokens", "temperature", "stop"}));
    EXPECT_EQ(pv::create_param_keys(false, true, false), (V{"model", "input", "response_format", "temperature"}));
}

TEST(Stripping, RejectedAmongThePresentKeysEachOnceInRemovalOrder) {
    using S = std::vector<std::string>;
    auto rejected = [](pv::RejectionText text, S present) { return pv::rejected_params(text, present); };
    // Fallback keys by the phrases that name them, or by a mention alone.
    EXPECT_EQ(rejected({"unexpected keyword argument 'response_format'"},
                       {"model", "input", "response_format", "stop", "temperature"}),
              (S{"response_format"}));
    EXPECT_EQ(rejected({"the stream stopped early"}, {"model", "stop", "temperature"}), (S{"stop"}));
    EXPECT_EQ(rejected({"bad temperature and reasoning"}, {"response_format", "stop", "reasoning", "temperature"}),
              (S{"reasoning", "temperature"}));
    // Only keys that are present, each once ("stop" is both a mention and the captured name).
    EXPECT_TRUE(rejected({"unexpected keyword argument 'stop'"}, {"model", "input"}).empty());
    EXPECT_EQ(rejected({"unsupported parameter: 'stop' (temperature)", "stop", std::nullopt},
                       {"model", "temperature", "stop"}),
              (S{"stop", "temperature"}));
    // Captured names remove any parameter, with its exact case.
    EXPECT_EQ(
        rejected({"unsupported parameter: 'max_output_tokens' is not supported", "max_output_tokens", std::nullopt},
                 {"max_output_tokens", "model"}),
        (S{"max_output_tokens"}));
    EXPECT_TRUE(rejected({"unsupported parameter: 'top_p'", "top_p", std::nullopt}, {"Top_P"}).empty());
    EXPECT_EQ(rejected({"...", "top_p", "seed"}, {"seed", "top_p"}), (S{"top_p", "seed"}));
    EXPECT_TRUE(rejected({"unsupported parameter: 'seed'", "seed", std::nullopt}, {"model"}).empty());
    // Nothing matches.
    EXPECT_TRUE(rejected({"rate limit exceeded"}, {"model", "input", "response_format"}).empty());
    EXPECT_TRUE(rejected({""}, {"model", "input", "response_format"}).empty());
}

TEST(Backoff, DoublesPerAttempt) {
    EXPECT_DOUBLE_EQ(pv::backoff_seconds(1.5, 0), 1.5);
    EXPECT_DOUBLE_EQ(pv::backoff_seconds(1.5, 1), 3.0);
    EXPECT_DOUBLE_EQ(pv::backoff_seconds(1.5, 2), 6.0);
    EXPECT_DOUBLE_EQ(pv::backoff_seconds(0.0, 5000), 0.0);
}

TEST(Backoff, AWaitMayBeZeroButATimeoutMustBePositiveAndBothFinite) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(pv::is_wait(0.0) && pv::is_wait(-0.0) && pv::is_wait(1.5));
    EXPECT_FALSE(pv::is_wait(-1e-9) || pv::is_wait(inf) || pv::is_wait(nan));
    EXPECT_TRUE(pv::is_timeout(1e-9) && pv::is_timeout(30));
    EXPECT_FALSE(pv::is_timeout(0.0) || pv::is_timeout(-0.0) || pv::is_timeout(inf) || pv::is_timeout(nan));
}

TEST(Outages, ServerErrorsTimeoutsAndDroppedConnectionsAreOutages) {
    for (long long status : {500, 502, 503, 504, 408, 429}) EXPECT_TRUE(pv::is_outage_status(status)) << status;
    for (long long status : {400, 401, 403, 404, 422}) EXPECT_FALSE(pv::is_outage_status(status)) << status;
    std::vector<pv::ErrorKind> refused{{"AuthenticationError", "openai"}, {"APIStatusError", "openai"}};
    std::vector<pv::ErrorKind> dropped{{"APIConnectionError", "openai"}, {"Exception", "builtins"}};
    std::vector<pv::ErrorKind> slow{{"ReadTimeout", "httpx"}, {"TimeoutException", "httpx"}};
    EXPECT_FALSE(pv::is_outage_kind(refused));
    EXPECT_TRUE(pv::is_outage_kind(dropped));
    EXPECT_TRUE(pv::is_outage_kind(slow));
}

TEST(Outages, OnlyTheModelsValidationErrorMeansAMalformedReply) {
    std::vector<pv::ErrorKind> pydantic{{"ValidationError", "pydantic_core._pydantic_core"},
                                        {"ValueError", "builtins"}};
    std::vector<pv::ErrorKind> other{{"ValidationError", "jsonschema.exceptions"}, {"ValueError", "builtins"}};
    EXPECT_TRUE(pv::is_malformed_reply_kind(pydantic));
    EXPECT_FALSE(pv::is_malformed_reply_kind(other));
    EXPECT_FALSE(pv::is_malformed_reply_kind(std::vector<pv::ErrorKind>{{"KeyError", "builtins"}}));
}

TEST(ProviderTexts, HelpAndListingFiltersComeFromTheTable) {
    static constexpr std::string_view fragments[] = {"oss"};
    static constexpr std::string_view keys[] = {"A_KEY", "B_KEY"};
    const std::array<tarvok::generative::providers::Provider, 2> table{{
        {.value = "first", .described = "First", .listing_prefix = "f", .extra = "fx", .environment = keys},
        {.value = "local", .described = "Local", .model_rule = {.fragments = fragments}, .named_only = true},
    }};
    EXPECT_EQ(tarvok::generative::providers::providers_help("m1", table),
              "providers (--provider, else inferred from the model name):\n"
              "  first: First; API key from A_KEY or B_KEY; needs the fx extra (pip install \"tarvok[fx]\"); serves "
              "every other model name\n"
              "  local: Local; only with --provider local; serves model names holding oss\n"
              "default model: m1\n");
    EXPECT_EQ(tarvok::generative::providers::listing_filters(table), "f for first, none for local");
    EXPECT_EQ(tarvok::generative::providers::listing_filters(),
              "gpt for openai, gemini for google, none for ollama and replay");
    EXPECT_EQ(tarvok::generative::providers::provider_names(table), "first or local");
}
