// An emitter turns an expanded program into the text of a script in some
// target language, with the arrays that go beside the script when its numbers
// are too many to write inline. Each target is one class implementing
// Emitter, listed once in targets.cpp.
#pragma once

#include "common/named_array.hpp"
#include "solver/program.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tarvok::emitter {

/// A script: its whole text and, when there are any, its arrays.
struct Emitted {
    std::string text;
    std::vector<NamedArray> arrays;
};

/// A script target: what it is called and how its file is named are facts
/// of the target; writing the script is its one behaviour.
class Emitter {
  public:
    constexpr Emitter(std::string_view name, std::string_view suffix, std::string_view summary)
        : name(name), suffix(suffix), summary(summary) {}
    virtual ~Emitter() = default;
    /// The script for `program` (pure: no file is written).
    virtual Emitted emit(const solver::Program& program) const = 0;

    std::string_view name;     ///< the name `tarvok emit --to` takes
    std::string_view suffix;   ///< the suffix of the script's file, with its dot
    std::string_view summary;  ///< one line for the command's help
};

}  // namespace tarvok::emitter
