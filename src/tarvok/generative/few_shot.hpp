// Worked examples for the prompts: gathering them from a ranked library, and
// pairing a stored problem description with its model and data files.
#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvok::generative {

/// Raw name of the first entry of `folder`, in the host's code-point order of
/// names, whose name ends in `suffix` (the pattern "*" + suffix); none when
/// there is no such entry or `folder` is missing or no directory. Throws
/// std::filesystem::filesystem_error when the folder cannot be listed.
std::optional<std::string> first_entry_with_suffix(const std::filesystem::path& folder, std::string_view suffix);

/// The file beside a stored description that holds its model or data
/// (`suffix` ".mod" or ".dat"): `same_stem` (the description's name with the
/// suffix, in `folder`) when it is a regular file, else the folder's first
/// entry with the suffix; none when that does not exist. Checks go as the
/// host's path checks go: a missing file, a path through a non-folder, a loop
/// of links or a name with a NUL is absent; any other error of the file
/// system (a folder that cannot be searched or listed) throws
/// std::filesystem::filesystem_error naming the path.
std::optional<std::filesystem::path> file_beside(const std::filesystem::path& folder,
                                                 const std::filesystem::path& same_stem, std::string_view suffix);

/// A step of the gathering that failed; it costs that step, never the run.
class GatheringStepFailed : public std::runtime_error {
  public:
    /// `reason` as the debug log shows it; `error` is what the host raised.
    GatheringStepFailed(const std::string& reason, std::exception_ptr error)
        : std::runtime_error(reason), reason_(reason), error_(std::move(error)) {}
    const std::string& reason() const { return reason_; }  ///< whole (what() ends at a NUL)
    const std::exception_ptr& error() const { return error_; }

  private:
    std::string reason_;
    std::exception_ptr error_;
};

/// Ranking by meaning cannot be done: no embedding model can be loaded, or
/// its libraries imported. what() says why.
class MeaningUnavailable : public std::runtime_error {
  public:
    explicit MeaningUnavailable(const std::string& reason) : std::runtime_error(reason), reason_(reason) {}
    const std::string& reason() const { return reason_; }  ///< whole (what() ends at a NUL)

  private:
    std::string reason_;
};

/// The host's side of gathering: the library, the ranked hits, the examples
/// taken and the progress. Any step may throw GatheringStepFailed.
class ExampleLibrary {
  public:
    virtual ~ExampleLibrary() = default;
    /// k as the progress line writes it.
    virtual std::string k_shown() = 0;
    /// Ranks the library against the problem by meaning; throws MeaningUnavailable when it cannot.
    virtual void rank_by_meaning() = 0;
    /// Ranks it by the words the descriptions share with the problem (BM25).
    virtual void rank_lexically() = 0;
    /// The number of hits of the ranking, and their file names as the progress line shows them.
    virtual std::size_t hit_count() = 0;
    virtual std::string hit_names() = 0;
    /// Takes hit `index` as an example when its description, model and data
    /// are all found and not empty; returns whether the examples now reach k.
    virtual bool take(std::size_t index) = 0;
    virtual void notify(const std::string& line) = 0;
    virtual void log(const std::string& line) = 0;
    /// Text from a library or server as messages show it (bounded, keys hidden).
    virtual std::string shown(const std::string& text) = 0;
};

/// Gathers up to k examples, best hit first: ranks by meaning, else by shared
/// words (which the progress says), then takes hits until k are taken. A
/// failed ranking leaves no examples and a failed hit is skipped; both are
/// logged.
void gather_examples(ExampleLibrary& library);

}  // namespace tarvok::generative
