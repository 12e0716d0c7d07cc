// A function or method as the host shows it, kept beside the core it fronts
// so that the bindings only register it.
#pragma once

namespace tarvok {

/// Its name, its parameters as a text signature (a method's start with
/// `self`; defaults as literals) and its docstring.
struct Face {
    const char* name;
    const char* params;
    const char* doc;
};

}  // namespace tarvok
