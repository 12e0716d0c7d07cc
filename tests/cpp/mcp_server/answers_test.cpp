#include "mcp_server/answers.hpp"

#include "scratch_folder.hpp"

#include <gtest/gtest.h>

using namespace tarvok::mcp_server;

namespace {

TEST(McpAnswers, MessagesOfFailedCalls) {
    EXPECT_EQ(unknown_tool_message("solve"),
              "unknown tool 'solve'; the tools are check_model, run_model, emit_script, find_examples, "
              "generate_model");
    EXPECT_EQ(failure_message("run_model", "ValueError", "bad", false), "run_model failed (ValueError): bad");
    EXPECT_EQ(failure_message("run_model", "MemoryError", "", true), "run_model failed (MemoryError): memory ran out");
    EXPECT_EQ(failure_message("emit_script", "MemoryError", "42", true),
              "emit_script failed (MemoryError): memory ran out: 42");
    EXPECT_EQ(failure_message("check_model", "", "bad_alloc", false), "check_model failed: bad_alloc");

    // The written data is shown only when it came as JSON: the agent never saw it as text.
    EXPECT_EQ(does_not_compile_message("model:1:1: error: x", Pair{"m", "n = 1;", false}),
              "The model does not compile:\nmodel:1:1: error: x");
    EXPECT_EQ(does_not_compile_message("data:1:5: error: y", Pair{"m", "n = 1;", true}),
              "The model does not compile:\ndata:1:5: error: y\n\nThe data, as written from the JSON object:\nn = 1;");
}

class McpLibrary : public tarvok::testing::ScratchFolder {};

TEST_F(McpLibrary, ExamplesAndResourcesOfALibrary) {
    write("lib/knapsack/knapsack.mod", "");
    write("lib/knapsack/knapsack.txt", "");
    write("lib/diet/diet.mod", "");
    write("lib/notes/readme.txt", "");       // no model of its own name
    write("lib/bad name/bad name.mod", "");  // a name no address can carry
    write("lib/plain.mod", "");              // a file, not an example folder
    std::filesystem::path lib = root_ / "lib";
    EXPECT_EQ(example_names(lib), (std::vector<std::string>{"diet", "knapsack"}));
    EXPECT_TRUE(example_names(root_ / "missing").empty());

    std::vector<ResourceSpec> listed = resources(example_names(lib));
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].uri, kLanguageUri);
    EXPECT_EQ(listed[1].mime_type, "application/json");
    EXPECT_EQ(listed[2].uri, "tarvok://examples/diet");
    EXPECT_EQ(listed[2].name, "example diet");
    EXPECT_FALSE(listed[2].title.has_value());

    EXPECT_EQ(resource_named("tarvok://language", lib).kind, ResourceTarget::Kind::Language);
    EXPECT_EQ(resource_named("tarvok://diagnostics", lib).mime_type, "application/json");
    ResourceTarget diet = resource_named("tarvok://examples/diet", lib);
    EXPECT_EQ(diet.kind, ResourceTarget::Kind::Example);
    EXPECT_EQ(diet.example, "diet");
    for (const char* none : {"tarvok://examples/notes", "tarvok://examples/../lib/diet", "tarvok://examples/",
                             "tarvok://examples/missing", "tarvok://other", "file:///etc/passwd"})
        EXPECT_EQ(resource_named(none, lib).kind, ResourceTarget::Kind::None) << none;

    ExampleFiles files = example_files(lib / "knapsack" / "knapsack.txt");
    EXPECT_EQ(files.name, "knapsack");
    EXPECT_EQ(files.uri, "tarvok://examples/knapsack");
    EXPECT_EQ(files.model, lib / "knapsack" / "knapsack.mod");
    EXPECT_EQ(files.data, lib / "knapsack" / "knapsack.dat");
}

}  // namespace
