#include "cli/output.hpp"

#include "common/terminal_text.hpp"

namespace tarvok::cli {

std::string json_text(const data::Value& value) { return json::write(value, {.indent = 2, .ensure_ascii = false}); }

void Output::say(const std::string& line) const { out(terminal::shown(line) + "\n"); }

void Output::warn(const std::string& line) const { err(terminal::shown(line) + "\n"); }

void Output::say_json(const data::Value& value) const { out(json_text(value) + "\n"); }

int tell(const Output& out, const Failure& failure, bool json) {
    if (json)
        out.say_json(failure_json(failure));
    else
        out.warn("tarvok: error: " + failure.message);
    return code(failure.status);
}

int tell_interrupt(const Output& out, bool json) {
    if (!json) {
        out.warn("tarvok: interrupted");
        return code(ExitStatus::Interrupted);
    }
    return tell(out, {ExitStatus::Interrupted, "interrupted"}, json);
}

Failure unhandled(bool out_of_memory, std::string line) {
    return {out_of_memory ? ExitStatus::Usage : ExitStatus::DoesNotCompile, std::move(line)};
}

}  // namespace tarvok::cli
