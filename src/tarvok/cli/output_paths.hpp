// Which files a command may write: no output may fall on one of its inputs
// or on another of its outputs, however the two paths are spelled.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::cli {

/// A path as the command was given it: the file it names, and its text as
/// messages show it.
struct GivenPath {
    std::filesystem::path path;
    std::string shown;
};

/// Refuses (status 2) an `output` that is the same file as one of `inputs`
/// (by name, through '..', a symbolic link or a hard link): "<what> <output>
/// is the same file as <input>; choose another path".
void refuse_output_over(const GivenPath& output, const std::vector<GivenPath>& inputs, const std::string& what);

/// With --what-if, the files of each alternative (plan.alt1.mod beside
/// plan.mod, up to `what_if_max`) may not fall on the pair, the transcript
/// or the script, and are new files: a file, a link or a folder already at
/// one of their names is refused. `path_of` names the file a path's text
/// stands for, as the host does.
struct AlternativeOutputs {
    GivenPath model, data;
    std::optional<GivenPath> record, script;
    long long what_if_max = 0;
};
void refuse_alternatives_over(const AlternativeOutputs& outputs,
                              const std::function<std::filesystem::path(const std::string&)>& path_of);

/// "Wrote A and B": the line for the files a command wrote, in order.
std::string written_line(const std::vector<std::string>& written);

}  // namespace tarvok::cli
