#include "common/terminal_text.hpp"

#include <gtest/gtest.h>

using tarvok::terminal::shown;

TEST(TerminalText, WhatATerminalWouldActOnIsShownEscaped) {
    // ESC starting a colour, an OSC setting the title (ended by BEL), CSI as one C1 character.
    EXPECT_EQ(shown("x[\x1b[31mred\x1b[0m]"), "x[\\x1b[31mred\\x1b[0m]");
    EXPECT_EQ(shown("\x1b]0;owned\x07"), "\\x1b]0;owned\\x07");
    EXPECT_EQ(shown("a\u009b2Jb\u0085c"), "a\\x9b2Jb\\x85c");
    // A carriage return could overwrite the line; one before a line feed is only a line end.
    EXPECT_EQ(shown("ok\rfake\r\nnext"), "ok\\x0dfake\nnext");
    EXPECT_EQ(shown(std::string("nul\0del\x7f", 8)), "nul\\x00del\\x7f");
    EXPECT_EQ(shown("\x0b\x0c\x1c"), "\\x0b\\x0c\\x1c");
}

TEST(TerminalText, ReorderingLineSeparatorsSurrogatesAndStrayBytes) {
    EXPECT_EQ(shown("abc\u202Edef\u2066"), "abc\\u202edef\\u2066");
    EXPECT_EQ(shown("one\u2028two\u2029"), "one\\u2028two\\u2029");
    EXPECT_EQ(shown("\xED\xB3\xBF"), "\\udcff");  // a lone surrogate, as the host passes one
    EXPECT_EQ(shown("\xFF\xFE"
                    "ok\xE2\x82"),
              "\\xff\\xfeok\\xe2\\x82");
}

TEST(TerminalText, OrdinaryTextStaysAsItIs) {
    for (const char* text : {"", "Status: optimal\n\tship[Aalborg] 250", "Århus → Ørsted ✓ 日本", "back\\slash \"q\""})
        EXPECT_EQ(shown(text), text);
}
