#include "cli/output.hpp"

namespace tarvok::cli {

int tell(Output& out, const Failure& failure, bool json) {
    if (json)
        out.say_json(failure_json(failure));
    else
        out.warn("tarvok: error: " + failure.message);
    return code(failure.status);
}

int tell_interrupt(Output& out, bool json) {
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
