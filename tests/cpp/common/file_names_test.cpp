#include "common/file_names.hpp"

#include <gtest/gtest.h>

using tarvok::host_name;

TEST(FileNames, UndecodableBytesStandForSurrogates) {
    EXPECT_EQ(host_name("caf\xE9"), (std::u32string{U'c', U'a', U'f', 0xDCE9}));
    EXPECT_EQ(host_name("\xE2\x82"
                        "A"),
              (std::u32string{0xDCE2, 0xDC82, U'A'}));
    // Names order by code point, upper case first; an escaped byte (U+DCFF)
    // sorts before U+E000 although its byte is the larger one.
    EXPECT_LT(host_name("B"), host_name("a"));
    EXPECT_LT(host_name("\xC3\xA9"), host_name("\xE9"));
    EXPECT_LT(host_name("\xFF"), host_name("\xEE\x80\x80"));
}
