// What `tarvok mcp` says back: the messages of calls that fail, the examples
// a library holds and the files of each, and the resources and prompt as
// plain descriptions that the binding turns into the protocol's types.
#pragma once

#include "generative/module_face.hpp"
#include "mcp_server/tools.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::mcp_server {

/// The answer to a call of a tool that does not exist, naming those that do.
std::string unknown_tool_message(std::string_view name);

/// The answer to a call whose work raised `kind` with `message`.
std::string failure_message(std::string_view tool, std::string_view kind, std::string_view message,
                            bool memory_ran_out);

/// The answer to a call whose model does not compile: the compiler's report,
/// and the data text written from JSON when that is where a data error points.
std::string does_not_compile_message(std::string_view report, const Pair& pair);

/// The error reply to a message the protocol library cannot read (nested
/// too deeply, not JSON, not JSON-RPC), saying `why`: to its id, read from
/// the message's top level alone (nothing nested is followed), or to id
/// null when it has none that can be read. Nothing for a notification,
/// which is never answered.
std::optional<std::string> unread_message_reply(std::string_view line, std::string_view why);

/// The protocol's error code for a resource that does not exist.
inline constexpr int kResourceNotFound = -32002;

/// Why emit_script gives no script for a model whose numbers need a .npz file.
inline constexpr std::string_view kScriptNeedsArrays =
    "The model is too large for a script alone: its numbers go to a .npz file beside the "
    "script. Write both with `tarvok emit MODEL DATA -o SCRIPT.py`.";

// ------------------------------------------------------------- examples ----

/// The files of one worked example, found from its description file.
struct ExampleFiles {
    std::string name;
    std::string uri;
    std::filesystem::path description, model, data;
};
ExampleFiles example_files(const std::filesystem::path& description);

/// The examples of a library a resource can name (a folder holding NAME.mod), sorted.
std::vector<std::string> example_names(const std::filesystem::path& library);

/// The texts of the package's files, each read whole. A file that cannot be
/// read stands as an empty text rather than failing the answer around it,
/// and is noted in `unread` with why, for the log.
struct PackageTexts {
    std::string read(const std::filesystem::path& file);
    std::vector<std::pair<std::filesystem::path, std::string>> unread;
};

/// One example of a ranking as find_examples answers it: its name, score,
/// resource address, description, model and data.
Value example_entry(const std::filesystem::path& description, double score, PackageTexts& texts);
/// The example `name` of `library` as its resource shows it (example_document).
std::string example_document_of(const std::filesystem::path& library, const std::string& name, PackageTexts& texts);

/// The language reference and the example library inside the package folder.
std::filesystem::path language_file(const std::filesystem::path& package_folder);
std::filesystem::path example_library(const std::filesystem::path& package_folder);

// ------------------------------------------------------- generate_model ----

/// A fresh folder `<temp>/tarvok-mcp-XXXXXX`, readable by its owner alone, for
/// the files of one generation run; removed with what it holds when this goes.
class RunFolder {
  public:
    RunFolder();
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    std::filesystem::path model_file() const { return folder_ / "model.mod"; }
    std::filesystem::path data_file() const { return folder_ / "data.dat"; }
    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
};

/// A member of generate_model's answer and the generation result's field it copies.
struct ResultMember {
    const char* key;
    generative::ResultField field;
};
inline constexpr ResultMember kGenerationFields[] = {
    {"model", generative::ResultField::ModelText},        {"data", generative::ResultField::DataText},
    {"compiled", generative::ResultField::Compiled},      {"aligned", generative::ResultField::Aligned},
    {"assessment", generative::ResultField::Assessment},  {"iterations", generative::ResultField::Iterations},
    {"diagnostics", generative::ResultField::Diagnostics}};

// ------------------------------------------------ resources and prompt ----

struct ResourceSpec {
    std::string uri;
    std::string name;
    std::optional<std::string> title;
    std::string description;
    std::string mime_type;
};

/// The resources listed: the language, the diagnostic codes and each example.
std::vector<ResourceSpec> resources(const std::vector<std::string>& examples);
/// The template that names any example (`uri` holds the template).
ResourceSpec example_template();

/// What a resource address names: the language, the codes, an example of
/// `library`, or nothing.
struct ResourceTarget {
    enum class Kind { Language, Diagnostics, Example, None } kind = Kind::None;
    std::string example;
    std::string mime_type;
};
ResourceTarget resource_named(std::string_view uri, const std::filesystem::path& library);
/// The text of a resource the package's files hold: the language reference,
/// or an example of the package's library ("" for the others).
std::string package_resource_text(const ResourceTarget& target, const std::filesystem::path& package_folder,
                                  PackageTexts& texts);

struct PromptArgumentSpec {
    std::string_view name;
    std::string_view description;
    bool required;
};
inline constexpr std::string_view kFormulateTitle = "Formulate an optimisation model";
inline constexpr PromptArgumentSpec kFormulateArgument = {
    "description", "The problem in plain words (leave it out to be asked for it).", false};

// ------------------------------------------- results as the protocol's ----

// The results of the listings and readings as the protocol's JSON, from which
// the binding builds the SDK's types.

/// The tools listed (ListToolsResult) as JSON text: their schemas are JSON text already.
std::string tools_result_json();
/// The resources listed (ListResourcesResult) and the template (ListResourceTemplatesResult).
Value resources_result(const std::vector<std::string>& examples);
Value templates_result();
/// One resource read (ReadResourceResult).
Value resource_result(std::string_view uri, std::string_view mime_type, std::string_view text);
/// The prompts listed (ListPromptsResult), and the formulate prompt for a description (GetPromptResult).
Value prompts_result();
Value prompt_result(std::string_view description);

/// A listing the server answers from the package alone: the SDK's handler
/// that answers it, the SDK type of its result, and the result.
struct Listing {
    const char* handler;
    const char* type;
    Value (*result)(const std::filesystem::path& package_folder);
};
/// The resources, the resource templates and the prompts.
const std::vector<Listing>& listings();

}  // namespace tarvok::mcp_server
