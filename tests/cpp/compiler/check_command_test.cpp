#include "compiler/check_command.hpp"

#include <gtest/gtest.h>

using namespace tarvok::compiler;
using Args = std::vector<std::optional<std::string>>;

TEST(CheckArguments, PathsAndOptionsInAnyOrder) {
    CheckArguments a = read_check_arguments(Args{"m.mod", "--max-size", "5", "d.dat", "--json"});
    EXPECT_FALSE(a.refusal);
    EXPECT_EQ(a.paths, (std::vector<std::size_t>{0, 3}));
    EXPECT_EQ(a.size, "5");
    EXPECT_TRUE(a.json);
    EXPECT_EQ(read_check_arguments(Args{"--max-size=7", "-"}).size, "7");  // "-" is a path
    EXPECT_EQ(read_check_arguments(Args{std::nullopt}).paths.size(), 1u);  // not text: a path, never an option
}

TEST(CheckArguments, RefusalsComeInTheOrderOfTheArguments) {
    // --json later on the line still makes the refusal JSON.
    CheckArguments unknown = read_check_arguments(Args{"-x", "--help", "--json"});
    ASSERT_TRUE(unknown.refusal);
    EXPECT_FALSE(unknown.help);
    EXPECT_TRUE(unknown.json);
    EXPECT_EQ(unknown.refusal->message, "unknown option -x");
    EXPECT_TRUE(read_check_arguments(Args{"--help", "-x"}).help);
    EXPECT_EQ(read_check_arguments(Args{"m.mod", "--max-size"}).refusal->line, kCheckUsage);  // a missing value
    EXPECT_EQ(read_check_arguments(Args{"a", "b", "c"}).refusal->message,
              "tarvok check MODEL.mod [DATA.dat] [--json] [--max-size N]");
    EXPECT_EQ(refused_size("x").message, "--max-size must be a whole number, at least 1 (x)");
    EXPECT_EQ(refused_read("m.mod", "No such file or directory").line,
              "tarvok check: cannot read m.mod: No such file or directory");
    EXPECT_EQ(check_ok_line(0), "OK");
    EXPECT_EQ(check_ok_line(1), "OK, 1 warning");
}
