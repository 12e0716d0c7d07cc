#include "generative/server_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

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
