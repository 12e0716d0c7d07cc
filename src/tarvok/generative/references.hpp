// Where the grammar references the prompts carry are read from.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarvok::generative {

/// The grammar document `name`: docs/grammars/`name` under the installation
/// root (the folder above the package), else the copy the package carries in
/// its own docs/grammars. With neither, the first, so that the reader's error
/// names the documented place.
std::filesystem::path grammar_document(const std::filesystem::path& package_dir, std::string_view name);

}  // namespace tarvok::generative
