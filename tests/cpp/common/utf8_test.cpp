#include "common/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace tarvok::utf8;

TEST(Decoding, AcceptsWellFormedSequencesOnly) {
    auto at0 = [](const std::string& bytes) { return decode(bytes, 0); };
    EXPECT_EQ(at0("A").code_point, U'A');
    EXPECT_EQ(at0("\xC3\xA9").length, 2u);
    EXPECT_EQ(at0("\xC3\xA9").code_point, U'\u00E9');
    EXPECT_EQ(at0("\xE2\x82\xAC").code_point, U'\u20AC');
    Step emoji = at0("\xF0\x9F\x98\x80");
    EXPECT_TRUE(emoji.ok);
    EXPECT_EQ(emoji.length, 4u);
    EXPECT_EQ(emoji.code_point, U'\U0001F600');
    // Overlong forms, encoded surrogates, code points above U+10FFFF, stray bytes.
    for (const char* bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xED\xA0\x80", "\xF0\x80\x80\x80",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\xFF", "\xE2\x41"}) {
        Step step = at0(bad);
        EXPECT_FALSE(step.ok) << bad;
        EXPECT_FALSE(step.truncated) << bad;
    }
    EXPECT_TRUE(at0("\xE2\x82").truncated);
    EXPECT_TRUE(at0("\xF0\x9F").truncated);
}

TEST(Decoding, ErrorsSpanTheMaximalIllFormedSubpart) {
    EXPECT_EQ(decode("\xE2\x82"
                     "A",
                     0)
                  .length,
              2u);  // the host drops both bytes as one error
    EXPECT_EQ(decode("\xF0\x9F\x98"
                     "A",
                     0)
                  .length,
              3u);
    EXPECT_EQ(decode("\xE0\x80\x80", 0).length, 1u);  // overlong: the second byte is already wrong
}

TEST(Decoding, SurrogatesOnlyWhenPassedThrough) {
    EXPECT_FALSE(decode("\xED\xA0\x80", 0).ok);
    Step lone = decode("\xED\xA0\x80", 0, true);
    EXPECT_TRUE(lone.ok);
    EXPECT_EQ(lone.code_point, 0xD800u);
}

TEST(Encoding, RoundTrips) {
    for (char32_t cp : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600', char32_t{0x10FFFF}}) {
        std::string out;
        append(out, cp);
        EXPECT_EQ(decode(out, 0).code_point, cp);
        EXPECT_EQ(decode(out, 0).length, out.size());
    }
}

TEST(WhiteSpace, HostWhiteSpaceOnly) {
    EXPECT_EQ(skip_host_space("\xE3\x80\x80 \xE2\x80\xA9\x1F\xC2\x85\xC2\xA0\xE2\x80\x8Ax", 0), 15u);
    EXPECT_EQ(skip_host_space(" \t\r\n\x0B\x0C ", 0), 7u);
    // Zero-width space (U+200B) and the byte-order mark are not white space to the host.
    EXPECT_EQ(host_space_at("\xE2\x80\x8Bx", 0), 0u);
    EXPECT_EQ(host_space_at("\xEF\xBB\xBF", 0), 0u);
    EXPECT_EQ(host_space_at("x\xE2\x80", 1), 0u);  // a cut-off sequence is no white space
    EXPECT_EQ(host_space_at("x", 1), 0u);
}
