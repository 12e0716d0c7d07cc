#include "emitter/targets.hpp"

namespace tarvok::emitter {

// Each target's file defines its accessor; a new target adds its line here.
const Emitter& scipy_target();

std::span<const Emitter* const> targets() {
    static const Emitter* const table[] = {
        &scipy_target(),
    };
    return table;
}

const Emitter* find_target(std::string_view name) {
    for (const Emitter* target : targets())
        if (target->name() == name) return target;
    return nullptr;
}

const Emitter& default_target() { return *targets().front(); }

}  // namespace tarvok::emitter
