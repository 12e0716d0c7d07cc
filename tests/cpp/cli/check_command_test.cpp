#include "cli/check_command.hpp"

#include <gtest/gtest.h>

using namespace tarvok::cli;
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

TEST(CheckOutput, RefusalsAndReportsGoWhereTheyBelong) {
    CheckRefusal refusal = refused_read("m\x1b.mod", "No such file");
    CheckOutput plain = refusal_output(refusal, false);
    ASSERT_EQ(plain.writes.size(), 1u);
    EXPECT_TRUE(plain.writes[0].to_stderr);
    EXPECT_EQ(plain.writes[0].text, "tarvok check: cannot read m\\x1b.mod: No such file");  // shown, not acted on
    CheckOutput json = refusal_output(refusal, true);
    EXPECT_FALSE(json.writes[0].to_stderr);
    EXPECT_EQ(json.writes[0].text, "{\n  \"error\": \"cannot read m\\u001b.mod: No such file\",\n  \"status\": 2\n}");
    EXPECT_EQ(json.status, 2);

    auto c = compile("int n = ...;\nint unused = 3;\n", "n = 2;\n");
    FileNames names{"m.mod", "d.dat"};
    CheckOutput report = check_output(*c, names, true, false);
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(report.writes.back().text, check_ok_line(c->diagnostics.warnings().size()));
    auto broken = compile("int n = \"a\\\"\tb\";\n", "");
    CheckOutput records = check_output(*broken, names, false, true);
    EXPECT_EQ(records.status, 1);
    ASSERT_EQ(records.writes.size(), 1u);
    const std::string& text = records.writes[0].text;
    EXPECT_EQ(text.substr(0, 8), "[\n  {\n  ");
    EXPECT_NE(text.find("\n    \"path\": \"m.mod\"\n  }"), std::string::npos) << text;
    EXPECT_NE(text.find("\"notes\": []"), std::string::npos) << text;
}

TEST(CheckOutput, AModelWithoutItsDataIsCheckedAloneAndSaysSo) {
    const char* model =
        "{string} F = ...;\nfloat cost[F] = ...;\ndvar float+ x[F];\nminimize sum(f in F) cost[f] * x[f];\n"
        "subject to { forall(f in F: cost[f] > 9) x[f] <= 0; }\n";
    CompileOptions alone;
    alone.model_only = true;
    auto c = compile(model, "", alone);
    EXPECT_TRUE(c->ok()) << c->report();  // no "has no value", no "has no members for this data"
    CheckOutput out = check_output(*c, {"m.mod", "data"}, false, false);
    ASSERT_EQ(out.writes.size(), 2u);
    EXPECT_EQ(out.writes[0].text, std::string("m.mod: ") + kDataNotChecked);
    EXPECT_EQ(out.writes[1].text, "OK");
    std::string typo(model);
    typo.replace(typo.find("* x[f]"), 6, "* z[f]");
    EXPECT_NE(compile(typo, "", alone)->report().find("undeclared name 'z'"), std::string::npos);  // names are checked
    // A model that takes no data is checked whole.
    EXPECT_FALSE(compile("dvar float+ x;\nminimize x;\n", "", alone)->data_unchecked);
}
