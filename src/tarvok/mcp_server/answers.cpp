#include "mcp_server/answers.hpp"

#include "common/files.hpp"
#include "common/json.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tarvok::mcp_server {

std::string unknown_tool_message(std::string_view name) {
    std::string names;
    for (const ToolSpec& t : tools()) names += (names.empty() ? "" : ", ") + std::string(t.name);
    return "unknown tool '" + std::string(name) + "'; the tools are " + names;
}

std::string failure_message(std::string_view tool, std::string_view kind, std::string_view message,
                            bool memory_ran_out) {
    std::string said(message);
    if (memory_ran_out) said = "memory ran out" + (said.empty() ? "" : ": " + said);
    std::string out(tool);
    out += " failed";
    if (!kind.empty()) out += " (" + std::string(kind) + ")";
    return out + ": " + said;
}

std::string does_not_compile_message(std::string_view report, const Pair& pair) {
    std::string message = "The model does not compile:\n" + std::string(report);
    if (pair.data_from_json) message += "\n\nThe data, as written from the JSON object:\n" + pair.data;
    return message;
}

std::optional<std::string> unread_message_reply(std::string_view line, std::string_view why) {
    json::Envelope envelope = json::envelope_of(line);
    if (envelope.method && !envelope.identified) return std::nullopt;  // a notification
    return R"({"jsonrpc": "2.0", "id": )" + envelope.id + R"(, "error": {"code": -32600, "message": )" +
           json::quote("Invalid request: the message cannot be read: " + std::string(why)) + "}}";
}

ExampleFiles example_files(const std::filesystem::path& description) {
    ExampleFiles files;
    files.name = description.stem().string();
    files.uri = std::string(kExampleUriPrefix) + files.name;
    files.description = description;
    files.model = description.parent_path() / (files.name + ".mod");
    files.data = description.parent_path() / (files.name + ".dat");
    return files;
}

std::string PackageTexts::read(const std::filesystem::path& file) {
    files::InputFile read = files::read_input_file(file);
    if (read.ok()) return std::move(read.bytes);
    unread.emplace_back(file, read.reason());
    return "";
}

Value example_entry(const std::filesystem::path& description, double score, PackageTexts& texts) {
    ExampleFiles files = example_files(description);
    std::string about = texts.read(files.description), model = texts.read(files.model), data = texts.read(files.data);
    return Value::object({{"name", Value::of(files.name)},
                          {"score", Value::of(score)},
                          {"uri", Value::of(files.uri)},
                          {"description", Value::of(std::move(about))},
                          {"model", Value::of(std::move(model))},
                          {"data", Value::of(std::move(data))}});
}

std::string example_document_of(const std::filesystem::path& library, const std::string& name, PackageTexts& texts) {
    std::filesystem::path folder = library / name;
    std::string description = texts.read(folder / (name + ".txt"));
    std::string model = texts.read(folder / (name + ".mod"));
    return example_document(name, description, model, texts.read(folder / (name + ".dat")));
}

namespace {

bool holds_example(const std::filesystem::path& library, const std::string& name) {
    std::error_code error;
    return std::filesystem::is_regular_file(library / name / (name + ".mod"), error);
}

}  // namespace

std::vector<std::string> example_names(const std::filesystem::path& library) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(library, error)) {
        std::string name = entry.path().filename().string();
        if (example_named_by(std::string(kExampleUriPrefix) + name) && holds_example(library, name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::filesystem::path language_file(const std::filesystem::path& package_folder) {
    return package_folder / "docs" / "grammars" / "Tarvok grammar.md";
}

std::filesystem::path example_library(const std::filesystem::path& package_folder) {
    return package_folder / "tvl_models";
}

RunFolder::RunFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "tarvok-mcp-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr)
        throw std::filesystem::filesystem_error("cannot make a folder for the run", name,
                                                std::error_code(errno, std::generic_category()));
    folder_ = name;
}

RunFolder::~RunFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::vector<ResourceSpec> resources(const std::vector<std::string>& examples) {
    std::vector<ResourceSpec> out;
    out.push_back({std::string(kLanguageUri), "language", "The Tarvok language",
                   "The grammar and rules of the Tarvok modelling language, with examples: read it before writing a "
                   "model.",
                   "text/markdown"});
    out.push_back({std::string(kDiagnosticsUri), "diagnostics", "Diagnostic codes",
                   "Every code the compiler reports (T0201 ...), its severity and message form.", "application/json"});
    for (const std::string& name : examples) {
        out.push_back({std::string(kExampleUriPrefix) + name, "example " + name, std::nullopt,
                       "The worked example " + name + ": its problem, model and data.", "text/markdown"});
    }
    return out;
}

ResourceSpec example_template() {
    return {std::string(kExampleUriTemplate), "example", "A worked example",
            "A shipped worked example by name (find_examples gives the names): its problem description, model and "
            "data.",
            "text/markdown"};
}

ResourceTarget resource_named(std::string_view uri, const std::filesystem::path& library) {
    if (uri == kLanguageUri) return {ResourceTarget::Kind::Language, "", "text/markdown"};
    if (uri == kDiagnosticsUri) return {ResourceTarget::Kind::Diagnostics, "", "application/json"};
    if (auto name = example_named_by(uri); name && holds_example(library, *name))
        return {ResourceTarget::Kind::Example, *name, "text/markdown"};
    return {};
}

std::string package_resource_text(const ResourceTarget& target, const std::filesystem::path& package_folder,
                                  PackageTexts& texts) {
    if (target.kind == ResourceTarget::Kind::Language) return texts.read(language_file(package_folder));
    if (target.kind == ResourceTarget::Kind::Example)
        return example_document_of(example_library(package_folder), target.example, texts);
    return "";
}

// ------------------------------------------- results as the protocol's ----

namespace {

Value text_value(std::string_view text) { return Value::of(std::string(text)); }

Value resource_value(const ResourceSpec& r, const char* uri_key) {
    return Value::object({{uri_key, Value::of(r.uri)},
                          {"name", Value::of(r.name)},
                          {"title", r.title ? Value::of(*r.title) : Value::null()},
                          {"description", Value::of(r.description)},
                          {"mimeType", Value::of(r.mime_type)}});
}

Value text_content(std::string_view text) {
    return Value::object({{"type", Value::of("text")}, {"text", text_value(text)}});
}

/// `text` as a JSON string.
std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[(c >> 4) & 0xf];
            out += hex[c & 0xf];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::string tools_result_json() {
    auto flag = [](bool b) { return b ? "true" : "false"; };
    std::string out = "{\"tools\": [";
    for (const ToolSpec& tool : tools()) {
        if (&tool != &tools().front()) out += ", ";
        out += "{\"name\": " + json_string(tool.name) + ", \"title\": " + json_string(tool.title) +
               ", \"description\": " + json_string(tool.description) +
               ", \"inputSchema\": " + std::string(tool.input_schema) +
               ", \"annotations\": {\"title\": " + json_string(tool.title) +
               ", \"readOnlyHint\": " + flag(tool.read_only) +
               ", \"destructiveHint\": false, \"idempotentHint\": " + flag(tool.read_only) +
               ", \"openWorldHint\": " + flag(tool.open_world) + "}}";
    }
    return out + "]}";
}

Value resources_result(const std::vector<std::string>& examples) {
    Value listed = Value::array();
    for (const ResourceSpec& r : resources(examples)) listed.items().push_back(resource_value(r, "uri"));
    return Value::object({{"resources", std::move(listed)}});
}

Value templates_result() {
    return Value::object({{"resourceTemplates", Value::array({resource_value(example_template(), "uriTemplate")})}});
}

Value resource_result(std::string_view uri, std::string_view mime_type, std::string_view text) {
    Value contents =
        Value::object({{"uri", text_value(uri)}, {"mimeType", text_value(mime_type)}, {"text", text_value(text)}});
    return Value::object({{"contents", Value::array({std::move(contents)})}});
}

Value prompts_result() {
    Value argument = Value::object({{"name", text_value(kFormulateArgument.name)},
                                    {"description", text_value(kFormulateArgument.description)},
                                    {"required", Value::of(kFormulateArgument.required)}});
    Value prompt = Value::object({{"name", text_value(kFormulatePrompt)},
                                  {"title", text_value(kFormulateTitle)},
                                  {"description", text_value(formulate_description())},
                                  {"arguments", Value::array({std::move(argument)})}});
    return Value::object({{"prompts", Value::array({std::move(prompt)})}});
}

const std::vector<Listing>& listings() {
    static const std::vector<Listing> all = {
        {"on_list_resources", "ListResourcesResult",
         [](const std::filesystem::path& package) {
             return resources_result(example_names(example_library(package)));
         }},
        {"on_list_resource_templates", "ListResourceTemplatesResult",
         [](const std::filesystem::path&) { return templates_result(); }},
        {"on_list_prompts", "ListPromptsResult", [](const std::filesystem::path&) { return prompts_result(); }},
    };
    return all;
}

Value prompt_result(std::string_view description) {
    Value message =
        Value::object({{"role", Value::of("user")}, {"content", text_content(formulate_text(description))}});
    return Value::object(
        {{"description", text_value(formulate_description())}, {"messages", Value::array({std::move(message)})}});
}

}  // namespace tarvok::mcp_server
