// A function or method as the host shows it, kept beside the core it fronts
// so that the bindings only register it.
#pragma once

#include <string>

namespace tarvok {

/// Its name, its parameters as a text signature (a method's start with
/// `self`; defaults as literals) and its docstring.
struct Face {
    const char* name;
    const char* params;
    const char* doc;
};

/// Docstring in the host's text-signature convention, so that
/// inspect.signature() works on the builtin and __doc__ starts with `doc`.
/// Methods name `self` plainly: pybind11 functions carry a `__self__` of
/// their own, so a `$self` marker would be stripped twice.
inline std::string signed_doc(const char* name, const char* params, const char* doc) {
    return std::string(name) + "(" + params + ")\n--\n\n" + doc;
}

}  // namespace tarvok
