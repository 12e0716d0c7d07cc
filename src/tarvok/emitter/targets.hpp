// The targets of `tarvok emit --to`, in one table (targets.cpp).
#pragma once

#include "emitter/emitter.hpp"

#include <span>
#include <string>
#include <string_view>

namespace tarvok::emitter {

/// Every target, the default first.
std::span<const Emitter* const> targets();

/// The target of that name; nullptr when there is none.
const Emitter* find_target(std::string_view name);

/// The default target (the first of the table).
const Emitter& default_target();

}  // namespace tarvok::emitter
