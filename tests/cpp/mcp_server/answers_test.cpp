#include "mcp_server/answers.hpp"

#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

using namespace tarvok::mcp_server;

namespace {

TEST(McpAnswers, MessagesOfFailedCalls) {
    EXPECT_EQ(unknown_tool_message("solve"),
              "unknown tool 'solve'; the tools are check_model, run_model, emit_script, find_examples, "
              "generate_model, list_assumptions, what_if");
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

TEST_F(McpLibrary, AnExampleWithAFileThatCannotBeReadStillAnswers) {
    write("lib/diet/diet.txt", "Mix foods.");
    write("lib/diet/diet.mod", "dvar float x;");
    write("lib/diet/diet.dat", "\xff");  // not UTF-8
    PackageTexts texts;
    Value entry = example_entry(root_ / "lib" / "diet" / "diet.txt", 0.5, texts);
    EXPECT_EQ(entry.find("uri")->text(), "tarvok://examples/diet");
    EXPECT_EQ(entry.find("score")->number(), 0.5);
    EXPECT_EQ(entry.find("description")->text(), "Mix foods.");
    EXPECT_EQ(entry.find("data")->text(), "");
    ASSERT_EQ(texts.unread.size(), 1u);
    EXPECT_EQ(texts.unread[0].first, root_ / "lib" / "diet" / "diet.dat");
    EXPECT_NE(texts.unread[0].second.find("not UTF-8"), std::string::npos);

    std::string shown = example_document_of(root_ / "lib", "diet", texts);
    EXPECT_NE(shown.find("dvar float x;"), std::string::npos);
    EXPECT_EQ(texts.unread.size(), 2u) << "each unreadable file is noted where it was read";
}

TEST_F(McpLibrary, ResourcesReadFromThePackageFolder) {
    write("pkg/docs/grammars/Tarvok grammar.md", "# The language");
    write("pkg/tvl_models/diet/diet.mod", "dvar float x;");
    std::filesystem::path package = root_ / "pkg";
    PackageTexts texts;
    auto read = [&](std::string_view uri) {
        return package_resource_text(resource_named(uri, example_library(package)), package, texts);
    };
    EXPECT_EQ(read("tarvok://language"), "# The language");
    EXPECT_NE(read("tarvok://examples/diet").find("dvar float x;"), std::string::npos);
    EXPECT_EQ(read("tarvok://diagnostics"), "") << "the codes come from the compiler module";
    EXPECT_EQ(read("tarvok://examples/missing"), "");
    std::filesystem::remove(package / "docs" / "grammars" / "Tarvok grammar.md");
    texts.unread.clear();
    EXPECT_EQ(read("tarvok://language"), "");
    EXPECT_EQ(texts.unread.size(), 1u);
}

TEST_F(McpLibrary, ListingsAnswerFromThePackageFolder) {
    write("pkg/tvl_models/diet/diet.mod", "dvar float x;");
    std::map<std::string, std::string> types;
    for (const Listing& listing : listings()) {
        types[listing.handler] = listing.type;
        if (std::string_view(listing.handler) != "on_list_resources") continue;
        Value listed = listing.result(root_ / "pkg");
        EXPECT_EQ(listed.find("resources")->items().back().find("uri")->text(), "tarvok://examples/diet");
    }
    EXPECT_EQ(types, (std::map<std::string, std::string>{{"on_list_prompts", "ListPromptsResult"},
                                                         {"on_list_resource_templates", "ListResourceTemplatesResult"},
                                                         {"on_list_resources", "ListResourcesResult"}}));
}

}  // namespace

TEST(Results, ToolsListingIsJsonWithEachSchemaInPlace) {
    std::string json = tools_result_json();
    EXPECT_EQ(json.rfind("{\"tools\": [{\"name\": \"check_model\"", 0), 0u);
    for (const ToolSpec& tool : tools()) {
        EXPECT_NE(json.find("\"inputSchema\": " + std::string(tool.input_schema)), std::string::npos) << tool.name;
    }
    EXPECT_NE(json.find("\"readOnlyHint\": false, \"destructiveHint\": false, \"idempotentHint\": false, "
                        "\"openWorldHint\": true"),
              std::string::npos)
        << "generate_model talks to a service and changes nothing here";
    // Descriptions hold quotes and backticks; none may end its string early.
    std::size_t quotes = 0;
    for (std::size_t i = 0; i < json.size(); ++i)
        if (json[i] == '"' && json[i - 1] != '\\') ++quotes;
    EXPECT_EQ(quotes % 2, 0u);
}

TEST(Results, ResourcesAndPromptsInTheProtocolsShape) {
    Value listed = resources_result({"diet"});
    const std::vector<Value>& resources = listed.find("resources")->items();
    ASSERT_EQ(resources.size(), 3u);
    EXPECT_EQ(resources[2].find("uri")->text(), "tarvok://examples/diet");
    EXPECT_EQ(resources[2].find("title")->kind(), Value::Kind::Null);
    EXPECT_EQ(resources[2].find("mimeType")->text(), "text/markdown");
    EXPECT_EQ(templates_result().find("resourceTemplates")->items().at(0).find("uriTemplate")->text(),
              "tarvok://examples/{name}");
    Value read = resource_result("tarvok://language", "text/markdown", "# Language");
    EXPECT_EQ(read.find("contents")->items().at(0).find("text")->text(), "# Language");

    Value prompt = prompt_result("Plan the shifts.");
    const Value& message = prompt.find("messages")->items().at(0);
    EXPECT_EQ(message.find("role")->text(), "user");
    EXPECT_NE(message.find("content")->find("text")->text().find("Plan the shifts."), std::string::npos);
    EXPECT_EQ(
        prompts_result().find("prompts")->items().at(0).find("arguments")->items().at(0).find("required")->boolean(),
        false);
}

TEST(McpRunFolder, PrivateFreshAndRemovedWithItsFiles) {
    std::filesystem::path kept;
    {
        RunFolder first, second;
        kept = first.folder();
        EXPECT_NE(first.folder(), second.folder());
        EXPECT_EQ(kept.filename().string().rfind("tarvok-mcp-", 0), 0u) << kept;
        auto permissions = std::filesystem::status(kept).permissions();
        EXPECT_EQ(permissions & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
                  std::filesystem::perms::none);
        std::ofstream(first.model_file()) << "dvar float x;";
        EXPECT_EQ(first.data_file().parent_path(), kept);
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

namespace {

TEST(McpAnswers, AMessageTheSdkCannotReadIsAnsweredToItsId) {
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    std::string why = "recursion limit exceeded";
    auto reply = [&](const std::string& id) {
        return R"({"jsonrpc": "2.0", "id": )" + id +
               R"(, "error": {"code": -32600, "message": "Invalid request: the message cannot be read: recursion limit exceeded"}})";
    };
    // The id is found at the top level whatever comes before or after it.
    EXPECT_EQ(unread_message_reply(R"({"jsonrpc": "2.0", "params": {"arguments": {"data": )" + deep +
                                       R"(, "s": "}]\"{"}}, "id": 12, "method": "tools/call"})",
                                   why),
              reply("12"));
    EXPECT_EQ(unread_message_reply(R"({"id": "a\"b", "method": "tools/call", "params": )" + deep + "}", why),
              reply(R"("a\"b")"));
    // An id that is neither number nor string, or text that is no object: id null.
    EXPECT_EQ(unread_message_reply(R"({"id": {"x": 1}, "method": "m"})", why), reply("null"));
    EXPECT_EQ(unread_message_reply("not json", why), reply("null"));
    // A notification gets no answer.
    EXPECT_EQ(unread_message_reply(R"({"method": "notifications/progress", "params": )" + deep + "}", why),
              std::nullopt);
}

}  // namespace
