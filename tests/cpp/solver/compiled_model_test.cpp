#include "solver/compiled_model.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace tarvok::solver {
namespace {

/// Runs the expansion as the host would, counting the runs.
struct CountingWatch {
    int runs = 0;
    CompiledModel::Watch watch() {
        return [this](const auto& expand) {
            ++runs;
            return expand(nullptr);
        };
    }
};

std::shared_ptr<Source> compiled(const char* model, const char* data, tc::SizeLimits sizes = {}) {
    return compile_texts(model, data, sizes, {}, nullptr);
}

TEST(CompiledModel, ExpandsOnceAndKeepsTheProgramOrWhyItCannotBeMade) {
    CountingWatch counted;
    CompiledModel ok(compiled("dvar float+ x;\nminimize x;\n", ""), {});
    std::string failure;
    std::shared_ptr<Program> first = ok.program(counted.watch(), failure);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ok.program(counted.watch(), failure), first);
    EXPECT_EQ(counted.runs, 1);
    EXPECT_EQ(failure, "");

    CountingWatch refused;
    CompiledModel bad(compiled("dvar float+ x;\nminimize y;\n", ""), {});
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(bad.program(refused.watch(), failure), nullptr);
    std::string again;
    EXPECT_EQ(bad.program(refused.watch(), again), nullptr);
    EXPECT_EQ(refused.runs, 1);
    EXPECT_NE(failure, "");
    EXPECT_EQ(again, failure);
}

TEST(CompiledModel, TextsPastTheSizeLimitAreNotExpanded) {
    const char* model = "int n = ...;\nrange R = 1..n;\ndvar float+ x[R];\nminimize sum(i in R) x[i];\n";
    tc::SizeLimits small = tc::SizeLimits::of_size(3);
    std::string failure;
    EXPECT_EQ(expand_texts(model, "n = 5;\n", small, {}, {}, nullptr, failure), nullptr);
    EXPECT_NE(failure, "");
    CountingWatch counted;
    CompiledModel within(compiled(model, "n = 3;\n", small), small);
    std::shared_ptr<Program> program = within.program(counted.watch(), failure);
    ASSERT_NE(program, nullptr) << failure;
    EXPECT_EQ(program->columns(), 3u);
}

TEST(CompiledModel, DataWrittenFromFilesIsNamedByItsFileInTheReport) {
    const char* model = "int n = ...;\n";
    data::Value values = data::Value::object();
    values.members().emplace_back("n", data::Value::of(std::string("two")));
    auto written = data::write_mapping(model, values);
    ASSERT_TRUE(std::holds_alternative<data::WrittenMapping>(written));
    CompiledModel c(compiled(model, std::get<data::WrittenMapping>(written).text.c_str()), {});
    ASSERT_FALSE(c.ok());
    data::DataSources sources;
    sources.values = values;
    sources.files = {{"n", "d.json"}};
    c.name_data_sources(std::move(sources));
    EXPECT_EQ(c.source().compilation->report().rfind("d.json: n", 0), 0u) << c.source().compilation->report();
}

}  // namespace
}  // namespace tarvok::solver
