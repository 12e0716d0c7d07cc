#include "generative/references.hpp"

#include <system_error>

namespace tarvok::generative {

std::filesystem::path grammar_document(const std::filesystem::path& package_dir, std::string_view name) {
    std::filesystem::path documented = package_dir.parent_path() / "docs" / "grammars" / name;
    std::filesystem::path own_copy = package_dir / "docs" / "grammars" / name;
    std::error_code unreadable;  // a path that cannot be looked at counts as missing
    if (std::filesystem::exists(documented, unreadable) || !std::filesystem::exists(own_copy, unreadable))
        return documented;
    return own_copy;
}

std::filesystem::path shipped_path(const std::filesystem::path& package_dir, const ShippedReference& reference) {
    if (reference.grammar) return grammar_document(package_dir, reference.name);
    return package_dir / reference.name;
}

}  // namespace tarvok::generative
