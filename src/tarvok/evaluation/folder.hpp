// The output folder of a run: locked against a second run, its records read
// and weighed against the data set and the run's settings, and results.jsonl
// appended to one record at a time, each on the disk before the next.
#pragma once

#include "common/file_lock.hpp"
#include "evaluation/dataset.hpp"
#include "evaluation/results.hpp"
#include "evaluation/settings.hpp"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::evaluation {

/// Another run holds the folder (the host's RuntimeError).
class FolderBusy : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The folder holds a run made with other settings (the host's ValueError).
class FolderConflict : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The output folder made ready for one run.
struct Prepared {
    std::optional<files::FileLock> lock;  ///< held until the run ends
    std::filesystem::path results_path;
    RecordedResults recorded;
    RunKey key;
    ResumePlan plan;  ///< points into the data set's problems
};

/// The whole file at `path` (a data set, whose links are followed); throws
/// std::filesystem::filesystem_error.
std::string read_file(const std::filesystem::path& path);

/// Makes the folder `out_dir` (with its parents, as there may be none yet),
/// locks it (shown as `shown`) and weighs its
/// records against `problems` under `key`. Throws DatasetError when the data
/// set's file `dataset` is one the run writes or replaces (results.jsonl,
/// summary.json, the lock, a problem's folder or what is in it), FolderBusy while another
/// run holds it, FolderConflict when it holds a run with other settings
/// (unless forced), std::filesystem::filesystem_error when it cannot be made
/// (EEXIST for a file at its name) or read, or its results file is a link (ELOOP: the records are never read or
/// appended through one).
Prepared prepare_folder(const std::filesystem::path& out_dir, const std::string& shown,
                        const std::vector<Problem>& problems, const RunKey& key, const Settings& settings,
                        const std::filesystem::path& dataset);

/// The plan of a run (see run_problems) from its configuration, its data set
/// and its prepared folder; it tells its start only when its progress shows.
RunPlan run_plan(const RunConfig& config, const Dataset& dataset, const Prepared& prepared);

/// Makes `folder` (a problem's folder or a sample folder in it) ready for a
/// run of its problem: the folder and what the run writes in it are the
/// run's own, so a link or a file at its name is replaced by a folder, and
/// every link in it is removed, so that nothing is written through one.
/// Throws std::filesystem::filesystem_error.
void own_folder(const std::filesystem::path& folder);

/// The folder `relative` (a problem's, see problem_folder) in `out_dir`,
/// each level of it made the run's own (see own_folder), so that a repeat's
/// folder is never reached through a link at its problem's name.
std::filesystem::path own_problem_folder(const std::filesystem::path& out_dir, const std::filesystem::path& relative);

/// A file the run writes a piece at a time, never through a link, closed
/// when the object ends: results.jsonl appended to, each piece on the disk
/// before the next, or a problem's log, made empty.
class AppendedFile {
  public:
    enum class Kind { Results, Log };
    /// Throws std::filesystem::filesystem_error when it cannot be opened, a
    /// link at `path` too (it is never followed).
    explicit AppendedFile(const std::filesystem::path& path, Kind kind = Kind::Results);
    AppendedFile(const AppendedFile&) = delete;
    AppendedFile& operator=(const AppendedFile&) = delete;
    ~AppendedFile() { close(); }

    /// Appends `bytes` (filesystem_error when they cannot be written).
    void append(std::string_view bytes);
    void close();

  private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool sync_;
};

}  // namespace tarvok::evaluation
