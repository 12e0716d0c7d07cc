#include "web/workdir.hpp"

#include "common/pair_placement.hpp"
#include "common/files.hpp"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <system_error>

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
    fs::create_directories(parent);
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    while (true) {
        fs::path folder =
            parent / (std::string(prefix) + "-" + std::to_string(stamp) + "-" + std::to_string(++counter));
        if (fs::create_directory(folder)) return folder;
    }
}

Applied apply_pair(const fs::path& workdir, std::string_view name, std::string_view model, std::string_view data) {
    Applied out;
    out.error = name_refusal(name);
    if (!out.error.empty()) return out;
    std::error_code error;
    fs::create_directories(workdir, error);
    if (error) {
        out.error = "cannot make the working folder: " + error.message();
        return out;
    }
    PairFiles target = pair_files(workdir, name);
    for (const fs::path& file : {target.model, target.data}) {
        fs::file_status status = fs::symlink_status(file, error);
        if (fs::is_symlink(status) || fs::is_directory(status) || !inside(workdir, file)) {
            out.error = file.filename().string() + " in the working folder is a link or a folder; nothing was written";
            return out;
        }
    }
    error.clear();
    files::finish_pending(target.model, error);
    if (error) {
        out.error = "an earlier move into " + target.model.filename().string() + " cannot be completed";
        return out;
    }
    fs::path staging;
    try {
        staging = scratch_folder(workdir, "apply");
        files::write_file_atomically(staging / "model.mod", model);
        files::write_file_atomically(staging / "data.dat", data);
    } catch (const std::exception& e) {
        if (!staging.empty()) fs::remove_all(staging, error);
        out.error = std::string("cannot write the new pair: ") + e.what();
        return out;
    }
    for (auto member : {&PairFiles::model, &PairFiles::data}) {
        const fs::path& original = target.*member;
        if (!fs::exists(original)) continue;
        fs::path copy = files::with_suffix(original, ".bak");
        fs::copy_file(original, copy, fs::copy_options::overwrite_existing, error);
        if (error) {
            fs::remove_all(staging, error);
            out.error = "cannot back up " + original.filename().string() + "; nothing was written";
            return out;
        }
        out.backups.*member = copy;
    }
    error = files::place_pair({staging / "model.mod", staging / "data.dat"}, {target.model, target.data});
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    if (error) {
        out.error = "cannot move the new pair into place: " + error.message();
        return out;
    }
    out.files = target;
    return out;
}

}  // namespace tarvok::web
