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

class Emitter {
  public:
    virtual ~Emitter() = default;
    /// The name `tarvok emit --to` takes.
    virtual std::string_view name() const = 0;
    /// The suffix of the script's file, with its dot.
    virtual std::string_view suffix() const = 0;
    /// One line for the command's help.
    virtual std::string_view summary() const = 0;
    /// The script for `program` (pure: no file is written).
    virtual Emitted emit(const solver::Program& program) const = 0;
};

}  // namespace tarvok::emitter
