#include "compiler/data_values.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tarvok::data;

namespace {

TEST(HostValues, WholeNumberKeysStayInTheIntegerRange) {
    EXPECT_EQ(whole_number_key(3.0), "3");
    EXPECT_EQ(whole_number_key(-0.0), "0");
    EXPECT_EQ(whole_number_key(-9223372036854775808.0), "-9223372036854775808");
    EXPECT_FALSE(whole_number_key(2.5).has_value());
    // Beyond the integers, and not numbers at all: the host spells them (no overflowing conversion).
    EXPECT_FALSE(whole_number_key(9223372036854775808.0).has_value());
    EXPECT_FALSE(whole_number_key(1e300).has_value());
    EXPECT_FALSE(whole_number_key(std::numeric_limits<double>::infinity()).has_value());
    EXPECT_FALSE(whole_number_key(std::nan("")).has_value());
    EXPECT_EQ(too_deep_message(), "the data nests more than 64 levels");
}

}  // namespace
