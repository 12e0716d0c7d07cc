#include "cli/command_line.hpp"

#include "common/files.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace tarvok::cli;
using tarvok::data::Value;

namespace {

CommandLine line(tarvok::json::Members members) { return CommandLine(Value::object(std::move(members))); }

}  // namespace

TEST(CommandLine, ReadsEachKindAndNamesAWrongOne) {
    CommandLine c = line({{"model", Value::of("m.mod")},
                          {"json", Value::of(true)},
                          {"threads", Value::big_integer("-123456789012345678901234567890")},
                          {"time_limit", Value::of(1e-5)},
                          {"top_k", Value::of(int64_t{3})},
                          {"data", Value::array({Value::of("a.dat"), Value::of("b.json")})},
                          {"replay", Value::null()}});
    EXPECT_EQ(c.given("model"), "m.mod");
    EXPECT_TRUE(c.flag("json"));
    EXPECT_FALSE(c.flag("not_in_this_parser"));  // a flag of another subcommand
    EXPECT_EQ(c.integer("threads"), std::numeric_limits<long long>::min());
    EXPECT_EQ(c.shown("threads"), "-123456789012345678901234567890");  // as the user wrote it
    EXPECT_EQ(c.shown("time_limit"), "1e-05");                         // the host's repr
    EXPECT_EQ(c.number("top_k"), 3.0);
    EXPECT_EQ(c.texts("data"), (std::vector<std::string>{"a.dat", "b.json"}));
    EXPECT_FALSE(c.text("replay"));
    EXPECT_FALSE(c.has("replay"));

    auto message = [](auto read) {
        try {
            read();
        } catch (const OptionKindError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { c.integer("model"); }), "the option 'model' holds a text, not a whole number");
    EXPECT_EQ(message([&] { c.text("json"); }), "the option 'json' holds a flag, not a text");
    EXPECT_EQ(message([&] { c.given("replay"); }), "the option 'replay' holds nothing, not a text");
    EXPECT_EQ(message([&] { c.text("modle"); }), "the command line has no option 'modle'");
}

TEST(CommandLine, LlmOptionsRefuseFirstThenDecideOnce) {
    CommandLine replay = line({{"provider", Value::null()},
                               {"replay", Value::of(".")},
                               {"timeout", Value::null()},
                               {"model_name", Value::null()}});
    LlmOptions o = checked_llm_options(replay, "gpt-default", false);
    EXPECT_EQ(o.provider, "replay");  // --replay alone names the provider
    EXPECT_EQ(o.model_name, "gpt-default");
    EXPECT_EQ(o.replay, tarvok::files::absolute_name("."));

    auto refusal = [](CommandLine c) {
        try {
            checked_llm_options(c, "gpt-default", false);
        } catch (const Failure& f) {
            return f.message;
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal(line({{"provider", Value::of(" OpenAI\u00a0")},
                            {"replay", Value::null()},
                            {"timeout", Value::of(0.0)},
                            {"model_name", Value::of("m")}})),
              "--timeout must be a positive number");  // the provider is trimmed and lower-cased as the host does
    EXPECT_EQ(refusal(line({{"provider", Value::null()},
                            {"replay", Value::of("no/such/transcript")},
                            {"timeout", Value::null()},
                            {"model_name", Value::null()}})),
              "replay path not found: no/such/transcript");
    EXPECT_EQ(refusal(line({{"provider", Value::null()},
                            {"replay", Value::of("/dev/null")},
                            {"timeout", Value::null()},
                            {"model_name", Value::null()}})),
              "replay path is neither a transcript nor a folder: /dev/null");  // it is there, but holds none
}

TEST(CommandLine, PathsAreMadeAbsoluteByName) {
    using tarvok::files::absolute_name, tarvok::files::folder_name;
    EXPECT_EQ(absolute_name("/a/./b//c/../d/"), "/a/b/d");
    EXPECT_EQ(absolute_name("//a/../.."), "//");
    EXPECT_EQ(absolute_name("///a"), "/a");
    EXPECT_EQ(absolute_name("/.."), "/");
    EXPECT_EQ(folder_name("/a/b"), "/a");
    EXPECT_EQ(folder_name("//a"), "//");
    EXPECT_EQ(folder_name("/a//b"), "/a");
}
