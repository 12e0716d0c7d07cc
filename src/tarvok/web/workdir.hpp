// The working folder of `tarvok serve`: the one place the server writes.
// Names that come with a request are data: a name is taken only when it is a
// plain word, and every path is made here from the folder and such a name,
// so that nothing a page sends can point elsewhere.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace tarvok::web {

namespace fs = std::filesystem;

/// The working folder a server starts with when given none: a new folder
/// `tarvok/serve/<stamp>` under the user's data folder ($XDG_DATA_HOME when
/// set and absolute, else ~/.local/share), `<stamp>-2`, ... when one exists.
fs::path default_workdir(std::string_view xdg_data_home, const fs::path& home, std::string_view stamp);
/// default_workdir for this process now: its environment's $XDG_DATA_HOME,
/// the home folder as `~` names it ($HOME, else the user's entry) and the
/// local time as the stamp (YYYYmmdd-HHMMSS).
fs::path default_workdir_now();

/// Why `name` cannot name a pair in the working folder (1 to 64 letters,
/// digits, '_' or '-', not starting with '-'), or "" when it can.
std::string name_refusal(std::string_view name);

struct PairFiles {
    fs::path model;
    fs::path data;
};

/// `<workdir>/<name>.mod` and `<workdir>/<name>.dat`; `name` must be one
/// name_refusal takes.
PairFiles pair_files(const fs::path& workdir, std::string_view name);

/// Whether `path` lies inside `workdir` once both are resolved (links
/// followed, '..' taken away); a path that names `workdir` itself is not inside.
bool inside(const fs::path& workdir, const fs::path& path);

/// A fresh folder `<workdir>/.scratch/<prefix>-N` for one request's files
/// (the generation loop's pair, a question's pair, a written model); the
/// caller removes it. `.scratch` is the server's own: a link or a file at
/// that name is replaced by a folder, never followed.
fs::path scratch_folder(const fs::path& workdir, std::string_view prefix);

/// A scratch folder of the working folder, removed with what it holds when this goes.
struct Scratch {
    const fs::path folder;
    Scratch(const fs::path& workdir, std::string_view prefix) : folder(scratch_folder(workdir, prefix)) {}
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

/// What writing a pair into the working folder did.
struct Applied {
    PairFiles files;    ///< where the pair now is
    PairFiles backups;  ///< the earlier files, kept as <file>.bak (empty paths: there was none)
    std::string error;  ///< why nothing was written; "" on success
};

/// The lock file of the pair `name`: `<workdir>/.<name>.tarvok-lock`.
fs::path lock_path(const fs::path& workdir, std::string_view name);

/// Writes `model` and `data` as the pair `name` of `workdir`: an earlier pair
/// is kept as <file>.bak and the new one moved into place as one change (the
/// journal of common/pair_placement.hpp guards the two renames). The pair, its
/// backups and its journal are one unit: saves of one name take its lock
/// (see lock_path) in turn, in this process or another, and one that waits
/// longer than `wait` is refused. A target that is a link, a folder or
/// outside the folder is refused, and then nothing is written.
Applied apply_pair(const fs::path& workdir, std::string_view name, std::string_view model, std::string_view data,
                   std::chrono::milliseconds wait = std::chrono::seconds(10));

}  // namespace tarvok::web
