#include "mcp_server/answers.hpp"

#include <algorithm>

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

ExampleFiles example_files(const std::filesystem::path& description) {
    ExampleFiles files;
    files.name = description.stem().string();
    files.uri = std::string(kExampleUriPrefix) + files.name;
    files.description = description;
    files.model = description.parent_path() / (files.name + ".mod");
    files.data = description.parent_path() / (files.name + ".dat");
    return files;
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

}  // namespace tarvok::mcp_server
