#include "generative/server_text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using tarvok::generative::shown_server_text;

TEST(ServerText, KeysAreHiddenBeforeTheCut) {
    std::string_view keys[] = {"sk-abc", "sk-abc-longer", ""};
    EXPECT_EQ(shown_server_text("Bearer sk-abc-longer and sk-abc.", keys), "Bearer [key hidden] and [key hidden].");
    EXPECT_EQ(shown_server_text("nothing to hide", keys), "nothing to hide");
    // A key that would straddle the cut is hidden all the same.
    EXPECT_EQ(shown_server_text("abcsk-abc", keys, 5), "abc[k [... cut after 5 of 15 characters]");
}

TEST(ServerText, TheCutCountsCharactersNotBytes) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "\xC3\xA9";  // U+00E9
    std::string shown = shown_server_text(text, {});
    EXPECT_EQ(shown.substr(0, 8000), text.substr(0, 8000));
    EXPECT_EQ(shown.substr(8000), " [... cut after 4000 of 5000 characters]");
    EXPECT_EQ(shown_server_text(text.substr(0, 8000), {}), text.substr(0, 8000));  // exactly the limit: whole
}

TEST(ServerText, AnyTwelveCharactersOfAKeyAreHidden) {
    using tarvok::generative::hide_keys;
    std::string_view keys[] = {"sk-proj-AbCdEfGhIjKlMnOpQrStUvWxYz0123456789"};
    // A key cut short, its middle, its end: each run of 12+ of its characters goes.
    EXPECT_EQ(hide_keys("key sk-proj-AbCdEfGh...", keys), "key [key hidden]...");
    EXPECT_EQ(hide_keys("[IjKlMnOpQrSt]", keys), "[[key hidden]]");
    EXPECT_EQ(hide_keys("tail Yz0123456789", keys), "tail [key hidden]");
    // Eleven characters are not enough to show a key; twelve are.
    EXPECT_EQ(hide_keys("AbCdEfGhIjK", keys), "AbCdEfGhIjK");
    EXPECT_EQ(hide_keys("AbCdEfGhIjKl", keys), "[key hidden]");
    // Two fragments side by side, and a fragment inside other text, each hidden whole.
    EXPECT_EQ(hide_keys("AbCdEfGhIjKlYz0123456789!", keys), "[key hidden]!");
    EXPECT_EQ(hide_keys("xxAbCdEfGhIjKlMnyy", keys), "xx[key hidden]yy");
    // A short key is hidden whole only; a text without a key is kept byte for byte.
    std::string_view short_key[] = {"abc123"};
    EXPECT_EQ(hide_keys("abc12 abc123", short_key), "abc12 [key hidden]");
    EXPECT_EQ(hide_keys("plain \xC3\xA9 text", keys), "plain \xC3\xA9 text");
}

TEST(ServerText, HidingIsLinearAndExactOnLongTexts) {
    using tarvok::generative::hide_keys;
    std::string key = "sk-0123456789abcdefghijklmnopqrstuvwxyz";
    std::string_view keys[] = {key};
    // Windows whose hashes may collide with the key's are compared, not trusted.
    std::string text(1 << 18, 'a');
    for (size_t i = 0; i < text.size(); i += 97) text[i] = static_cast<char>('0' + i % 10);
    EXPECT_EQ(hide_keys(text, keys), text);
    text.replace(200000, 20, key.substr(10, 20));
    std::string hidden = hide_keys(text, keys);
    EXPECT_EQ(hidden.size(), text.size() - 20 + 12);
    EXPECT_EQ(hidden.substr(200000, 12), "[key hidden]");
}

TEST(ServerText, TheConfiguredKeysAreEveryProvidersKeyVariablesThatHoldText) {
    std::vector<std::string> asked;
    tarvok::generative::ConfiguredKeys keys([&](std::string_view name) -> std::optional<std::string> {
        asked.emplace_back(name);
        if (name == "OPENAI_API_KEY") return "sk-open-0123456789";
        if (name == "GOOGLE_API_KEY") return "g-key-0123456789";
        return std::nullopt;  // unset, or no text
    });
    // Google's variables are tried in the table's order; the unset one gives no key.
    auto at = [&](const char* name) { return std::find(asked.begin(), asked.end(), name) - asked.begin(); };
    EXPECT_LT(at("GEMINI_API_KEY"), at("GOOGLE_API_KEY"));
    EXPECT_LT(at("GOOGLE_API_KEY"), static_cast<long>(asked.size()));
    std::vector<std::string_view> views(keys.views().begin(), keys.views().end());
    EXPECT_EQ(views, (std::vector<std::string_view>{"sk-open-0123456789", "g-key-0123456789"}));
    EXPECT_EQ(shown_server_text("bad key sk-open-0123456789", keys.views()), "bad key [key hidden]");
}
