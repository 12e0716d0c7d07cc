#include "cli/check_command.hpp"

#include "common/terminal_text.hpp"
#include "compiler/model_tree.hpp"

#include <cstring>

namespace tarvok::cli {

using namespace compiler;

namespace {

/// As json.dumps(value, indent=2, ensure_ascii=False) writes it.
constexpr json::WriteOptions kAsJsonDumps{.indent = 2, .ensure_ascii = false};

}  // namespace

std::string check_help() {
    return std::string(kCheckUsage) +
           "\nCompiles a Tarvok model with its data and expands it as running it would. Without a data file, a "
           "model that\ntakes data is checked alone (syntax, names, types) and the data is not checked. Prints the errors and warnings "
           "as\nFILE:LINE:COLUMN: error: message, or OK; with --json, "
           "the\ndiagnostic records as a JSON list. --max-size N refuses a model that would expand to more "
           "than N columns or\nrows or 10 N nonzeros (default: MAX_SIZE). Exit status: 0 compiles (warnings "
           "allowed), 1 does not, 2 usage\nerror or unreadable file.";
}

CheckArguments read_check_arguments(const std::vector<std::optional<std::string>>& args) {
    CheckArguments out;
    for (const auto& arg : args) out.json = out.json || arg == "--json";
    bool size_next = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string text = args[i].value_or("");
        if (size_next) {
            out.size = text;
            size_next = false;
        } else if (text == "--max-size") {
            size_next = true;
        } else if (text.rfind("--max-size=", 0) == 0) {
            out.size = text.substr(11);
        } else if (text == "-h" || text == "--help") {
            out.help = true;
            return out;
        } else if (text == "--json") {
            out.json = true;
        } else if (!text.empty() && text[0] == '-' && text != "-") {
            out.refusal = {std::string(kCheckUsage) + "\ntarvok check: unknown option " + text,
                           "unknown option " + text};
            return out;
        } else {
            out.paths.push_back(i);
        }
    }
    if (out.paths.empty() || out.paths.size() > 2 || size_next)
        out.refusal = {kCheckUsage, std::string(kCheckUsage).substr(std::strlen("usage: "))};
    return out;
}

CheckRefusal refused_size(const std::string& size) {
    std::string why = "--max-size must be a whole number, at least 1 (" + size + ")";
    return {std::string(kCheckUsage) + "\ntarvok check: " + why, why};
}

CheckRefusal refused_read(const std::string& path, const std::string& reason) {
    std::string why = "cannot read " + path + ": " + reason;
    return {"tarvok check: " + why, why};
}

std::string check_ok_line(std::size_t warnings) {
    if (warnings == 0) return "OK";
    return "OK, " + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
}

CheckOutput help_output() { return {{{terminal::shown(check_help())}}, 0}; }

CheckOutput refusal_output(const CheckRefusal& refusal, bool as_json) {
    if (!as_json) return {{{terminal::shown(refusal.line), true}}, 2};
    json::Value answer =
        json::Value::object({{"error", json::Value::of(refusal.message)}, {"status", json::Value::of(2)}});
    return {{{json::write(answer, kAsJsonDumps)}}, 2};
}

CheckOutput check_output(const Compilation& c, const FileNames& names, bool data_file, bool as_json) {
    CheckOutput out{{}, c.ok() ? 0 : 1};
    if (as_json) {
        tree::RecordPaths where{names.model, data_file ? std::optional(names.data) : std::nullopt};
        out.writes.push_back({json::write(tree::diagnostic_record_tree(c, true, &where), kAsJsonDumps)});
        return out;
    }
    std::string report = render_for_files(c.diagnostics, c.model_text, c.data_text, names);
    if (!report.empty()) out.writes.push_back({terminal::shown(report)});
    if (c.data_unchecked) out.writes.push_back({terminal::shown(names.model + ": " + kDataNotChecked)});
    if (c.ok()) out.writes.push_back({terminal::shown(check_ok_line(c.diagnostics.warnings().size()))});
    return out;
}

}  // namespace tarvok::cli
