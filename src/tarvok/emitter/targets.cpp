#include "emitter/targets.hpp"

#include <vector>

namespace tarvok::emitter {

// Each script target's file defines its accessor; a new target adds its line here and its entry below.
const Emitter& scipy_target();

Output Output::of(const Emitter& target, std::string_view media_type) {
    return {target.name, target.suffix, media_type, target.summary, &target};
}

namespace {

struct Table {
    std::vector<Output> outputs;
    std::vector<const Emitter*> scripts;

    void add(const Output& output) {
        outputs.push_back(output);
        if (output.script) scripts.push_back(output.script);
    }
};

/// The table; entries are added only before main runs, so pointers into it stay.
Table& table() {
    static Table t = [] {
        Table made;
        for (const Output& output : {
                 Output::of(scipy_target(), "text/x-python"),
                 Output{"mps", ".mps", "text/plain", "the model as an MPS file", nullptr, solver::NameFormat::Mps},
                 Output{"lp", ".lp", "text/plain", "the model as an LP file", nullptr, solver::NameFormat::Lp},
             })
            made.add(output);
        return made;
    }();
    return t;
}

}  // namespace

OutputRegistration::OutputRegistration(const Output& output) { table().add(output); }

std::span<const Output> outputs() { return table().outputs; }

const Output* find_output(std::string_view name) {
    for (const Output& output : outputs())
        if (output.name == name) return &output;
    return nullptr;
}

std::span<const Emitter* const> targets() { return table().scripts; }

const Emitter* find_target(std::string_view name) {
    const Output* output = find_output(name);
    return output ? output->script : nullptr;
}

const Emitter& default_target() { return *targets().front(); }

const Output& default_output() { return *find_output(default_target().name); }

}  // namespace tarvok::emitter
