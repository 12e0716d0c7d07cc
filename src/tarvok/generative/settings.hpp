// The module's settings as shipped: each one's name, value and description.
// The module's documentation is composed from this table, so a setting and
// its description have one home.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvok::generative {

/// A setting's value as shipped: None, a truth value, a whole number, a number or a text.
using SettingValue = std::variant<std::monostate, bool, long long, double, const char*>;

struct Setting {
    const char* name;
    SettingValue value;
    std::string_view shown;  ///< the value as the documentation writes it
    std::string_view about;  ///< what it governs, wrapped: a line per '\n'
};

/// Every setting, in the order the module sets them.
const std::vector<Setting>& settings();

/// The module's docstring: what it does, then a table of the settings (name,
/// value from column 20, description from column 30; a value too wide for
/// its column puts the description on the lines below).
std::string module_doc();

}  // namespace tarvok::generative
