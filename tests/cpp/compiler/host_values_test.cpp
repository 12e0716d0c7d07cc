#include "compiler/data_values.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tarvok::data;

namespace {

TEST(HostValues, KindsByModuleAndType) {
    EXPECT_EQ(host_value_kind("numpy", "ndarray"), HostValueKind::ArrayLike);
    EXPECT_EQ(host_value_kind("numpy.ma.core", "MaskedArray"), HostValueKind::ArrayLike);
    EXPECT_EQ(host_value_kind("pandas.core.frame", "DataFrame"), HostValueKind::Table);
    EXPECT_EQ(host_value_kind("pandas.core.series", "Series"), HostValueKind::Series);
    EXPECT_EQ(host_value_kind("pandas.core.indexes.multi", "MultiIndex"), HostValueKind::Labels);
    EXPECT_EQ(host_value_kind("pandas.core.arrays", "Categorical"), HostValueKind::Other);
    EXPECT_EQ(host_value_kind("mylib", "DataFrame"), HostValueKind::Other);
    EXPECT_EQ(host_value_kind("builtins", "dict"), HostValueKind::Other);
}

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
