#include "web/workdir.hpp"

#include "common/file_lock.hpp"
#include "common/files.hpp"
#include "common/pair_placement.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <thread>

namespace tarvok::web {

std::string name_refusal(std::string_view name) {
    if (name.empty()) return "the name is empty";
    if (name.size() > 64) return "the name has more than 64 characters";
    if (name.front() == '-') return "the name starts with '-'";
    for (char c : name) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!plain) return "the name may hold only letters, digits, '_' and '-'";
    }
    return "";
}

fs::path default_workdir(std::string_view xdg_data_home, const fs::path& home, std::string_view stamp) {
    fs::path data(xdg_data_home);
    fs::path root = (data.is_absolute() ? data : home / ".local" / "share") / "tarvok" / "serve";
    fs::path folder = root / stamp;
    for (int n = 2; fs::exists(folder); ++n) folder = root / (std::string(stamp) + "-" + std::to_string(n));
    return folder;
}

namespace {

/// The folder `~` names: $HOME without its trailing '/' ("/" when that leaves
/// nothing), else the user's entry, else `~` itself.
fs::path home_folder() {
    std::string home;
    if (const char* set = std::getenv("HOME")) {
        home = set;
    } else if (const passwd* user = getpwuid(getuid())) {
        home = user->pw_dir;
    } else {
        return "~";
    }
    while (!home.empty() && home.back() == '/') home.pop_back();
    return home.empty() ? fs::path("/") : fs::path(home);
}

}  // namespace

fs::path default_workdir_now() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::size_t length = std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return default_workdir(xdg ? xdg : "", home_folder(), std::string_view(stamp, length));
}

PairFiles pair_files(const fs::path& workdir, std::string_view name) {
    std::string base(name);
    return {workdir / (base + ".mod"), workdir / (base + ".dat")};
}

bool inside(const fs::path& workdir, const fs::path& path) {
    std::error_code error;
    fs::path root = fs::weakly_canonical(workdir, error);
    if (error) return false;
    fs::path resolved = fs::weakly_canonical(path, error);
    if (error) return false;
    auto r = root.begin();
    auto p = resolved.begin();
    for (; r != root.end(); ++r, ++p) {
        if (r->empty()) continue;  // a trailing separator
        if (p == resolved.end() || *p != *r) return false;
    }
    for (; p != resolved.end(); ++p)
        if (!p->empty()) return true;
    return false;
}

fs::path scratch_folder(const fs::path& workdir, std::string_view prefix) {
    static std::atomic<unsigned long long> counter{0};
    fs::path parent = workdir / ".scratch";
    // The folder is the server's own: anything else at its name, a link above all, is replaced.
    struct stat st {};
    if (::lstat(parent.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) fs::remove(parent);
    fs::create_directories(parent);
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    while (true) {
        fs::path folder =
            parent / (std::string(prefix) + "-" + std::to_string(stamp) + "-" + std::to_string(++counter));
        // A new folder or none: mkdir neither follows nor takes what is there.
        if (::mkdir(folder.c_str(), 0700) == 0) return folder;
        if (errno != EEXIST)
            throw fs::filesystem_error("cannot make a scratch folder", folder,
                                       std::error_code(errno, std::generic_category()));
    }
}

fs::path lock_path(const fs::path& workdir, std::string_view name) {
    return workdir / ("." + std::string(name) + ".tarvok-lock");
}

namespace {

/// The lock of the pair `name`, taken within `wait`; nothing when another
/// save holds it all that time. Throws filesystem_error as FileLock does.
std::optional<files::FileLock> lock_pair(const fs::path& workdir, std::string_view name,
                                         std::chrono::milliseconds wait) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (true) {
        if (auto lock = files::FileLock::try_take(lock_path(workdir, name))) return lock;
        if (std::chrono::steady_clock::now() >= until) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

/// Writes the pair once the lock is held (see apply_pair).
void apply_locked(Applied& out, const fs::path& workdir, const PairFiles& target, std::string_view model,
                  std::string_view data) {
    for (const fs::path& file : {target.model, target.data}) {
        std::error_code error;
        fs::file_status status = fs::symlink_status(file, error);
        if (fs::is_symlink(status) || fs::is_directory(status) || !inside(workdir, file)) {
            out.error = file.filename().string() + " in the working folder is a link or a folder; nothing was written";
            return;
        }
    }
    std::string why;
    files::Pending pending = files::finish_pending({target.model, target.data}, why);
    if (pending == files::Pending::Unreadable || pending == files::Pending::Refused) {
        out.error =
            files::journal_path(target.model).filename().string() + " was left alone: " + why + "; nothing was written";
        return;
    }
    std::error_code error;
    fs::path staging = files::make_staging_folder(workdir, error);
    if (error) {
        out.error = "cannot write the new pair: " + error.message();
        return;
    }
    files::Pair staged{staging / target.model.filename(), staging / target.data.filename()};
    try {
        files::FileContent pair[] = {{staged.model, model, files::Existing::Refuse},
                                     {staged.data, data, files::Existing::Refuse}};
        files::replace_files(pair);
    } catch (const std::exception& e) {
        fs::remove_all(staging, error);
        out.error = std::string("cannot write the new pair: ") + e.what();
        return;
    }
    files::Pair backups = files::back_up({target.model, target.data}, why);
    if (!why.empty()) {
        fs::remove_all(staging, error);
        out.error = why + "; nothing was written";
        return;
    }
    error = files::place_pair(staged, {target.model, target.data});
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    if (error) {
        out.error = "cannot move the new pair into place: " + error.message();
        return;
    }
    out.files = target;
    out.backups = {backups.model, backups.data};
}

}  // namespace

Applied apply_pair(const fs::path& workdir, std::string_view name, std::string_view model, std::string_view data,
                   std::chrono::milliseconds wait) {
    Applied out;
    out.error = name_refusal(name);
    if (!out.error.empty()) return out;
    std::error_code error;
    fs::create_directories(workdir, error);
    if (error) {
        out.error = "cannot make the working folder: " + error.message();
        return out;
    }
    try {
        std::optional<files::FileLock> lock = lock_pair(workdir, name, wait);
        if (!lock) {
            out.error = "another save of '" + std::string(name) + "' is under way; try again";
            return out;
        }
        apply_locked(out, workdir, pair_files(workdir, name), model, data);
    } catch (const fs::filesystem_error& e) {
        out.error = "cannot lock '" + std::string(name) + "' in the working folder: " + e.code().message() +
                    "; nothing was written";
    }
    return out;
}

}  // namespace tarvok::web
