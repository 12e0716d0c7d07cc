#include "cli/command_line.hpp"

#include "common/file_names.hpp"
#include "common/files.hpp"
#include "common/json.hpp"
#include "common/utf8.hpp"
#include "generative/providers/transcripts.hpp"

#include <cmath>
#include <limits>

namespace tarvok::cli {

namespace {

using Kind = data::Value::Kind;

const char* kind_name(const data::Value& v) {
    switch (v.kind()) {
    case Kind::Null: return "nothing";
    case Kind::Boolean: return "a flag";
    case Kind::Integer: return "a whole number";
    case Kind::Number: return "a number";
    case Kind::String: return "a text";
    case Kind::Array: return "a list";
    case Kind::Object: return "an object";
    }
    return "a value";
}

}  // namespace

CommandLine::CommandLine(data::Value options) : options_(std::move(options)) {
    if (options_.kind() != Kind::Object) throw OptionKindError("the command line's options are not an object");
}

const data::Value& CommandLine::at(std::string_view dest) const {
    const data::Value* found = options_.find(std::string(dest));
    if (found == nullptr) throw OptionKindError("the command line has no option '" + std::string(dest) + "'");
    return *found;
}

void CommandLine::wrong_kind(std::string_view dest, const char* wanted) const {
    throw OptionKindError("the option '" + std::string(dest) + "' holds " + kind_name(at(dest)) + ", not " + wanted);
}

bool CommandLine::has(std::string_view dest) const {
    const data::Value* found = options_.find(std::string(dest));
    return found != nullptr && !found->is_null();
}

bool CommandLine::flag(std::string_view dest) const {
    const data::Value* found = options_.find(std::string(dest));
    if (found == nullptr) return false;
    if (found->kind() != Kind::Boolean) wrong_kind(dest, "a flag");
    return found->boolean();
}

std::optional<std::string> CommandLine::text(std::string_view dest) const {
    const data::Value& v = at(dest);
    if (v.is_null()) return std::nullopt;
    if (v.kind() != Kind::String) wrong_kind(dest, "a text");
    return v.text();
}

std::string CommandLine::given(std::string_view dest) const {
    std::optional<std::string> v = text(dest);
    if (!v) wrong_kind(dest, "a text");
    return *v;
}

std::optional<long long> CommandLine::integer(std::string_view dest) const {
    const data::Value& v = at(dest);
    if (v.is_null()) return std::nullopt;
    if (v.kind() != Kind::Integer) wrong_kind(dest, "a whole number");
    if (!v.is_big()) return v.integer();
    bool negative = !v.text().empty() && v.text().front() == '-';
    return negative ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
}

std::optional<double> CommandLine::number(std::string_view dest) const {
    const data::Value& v = at(dest);
    if (v.is_null()) return std::nullopt;
    if (!v.is_numeric()) wrong_kind(dest, "a number");
    if (v.is_big()) return std::stod(v.text());
    return v.number();
}

std::vector<std::string> CommandLine::texts(std::string_view dest) const {
    const data::Value& v = at(dest);
    std::vector<std::string> out;
    if (v.is_null()) return out;
    if (v.kind() != Kind::Array) wrong_kind(dest, "a list of texts");
    for (const data::Value& item : v.items()) {
        if (item.kind() != Kind::String) wrong_kind(dest, "a list of texts");
        out.push_back(item.text());
    }
    return out;
}

std::string CommandLine::shown(std::string_view dest) const {
    const data::Value& v = at(dest);
    switch (v.kind()) {
    case Kind::String: return v.text();
    case Kind::Integer: return v.is_big() ? v.text() : std::to_string(v.integer());
    case Kind::Number: return json::float_repr(v.number());
    case Kind::Boolean: return v.boolean() ? "True" : "False";
    case Kind::Null: return "None";
    default: wrong_kind(dest, "a text or a number");
    }
}

std::string provider_key(std::string_view given) {
    // The provider names are ASCII, so ASCII lower case is the host's lower() for every name that can match.
    std::string key(utf8::strip_host_space(given));
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

LlmOptions checked_llm_options(const CommandLine& line, const std::string& default_model, bool default_replay) {
    LlmChoice choice;
    choice.provider = line.text("provider");
    if (choice.provider) choice.provider_key = provider_key(*choice.provider);
    choice.replay = line.text("replay");
    if (choice.replay)
        choice.replay_refusal =
            tarvok::generative::providers::replay_path_refusal(files::named_path(*choice.replay), *choice.replay);
    choice.default_replay = default_replay;
    choice.timeout = line.number("timeout");
    refuse(refused_llm_choice(choice));
    LlmOptions out;
    // --replay alone names the provider.
    out.provider = choice.replay ? std::optional<std::string>("replay") : choice.provider;
    out.model_name = line.text("model_name").value_or(default_model);
    if (choice.replay) out.replay = files::absolute_name(*choice.replay);
    out.timeout = choice.timeout;
    if (line.has("temperature")) out.temperature = line.number("temperature");
    if (line.has("grammar")) out.grammar = line.given("grammar");
    return out;
}

void require_at_least(const CommandLine& line, std::string_view dest, const std::string& option, long long least) {
    if (std::optional<double> value = line.number(dest)) refuse(refused_below(option, *value, least));
}

std::optional<compiler::SizeLimits> size_option(const CommandLine& line) {
    std::optional<long long> size = line.integer("max_size");
    if (!size) return std::nullopt;
    require_at_least(line, "max_size", "--max-size", 1);
    return compiler::SizeLimits::of_size(static_cast<uint64_t>(*size));
}

}  // namespace tarvok::cli
