#include "cli/pair_stage.hpp"

#include "cli/command_options.hpp"
#include "common/file_names.hpp"
#include "common/files.hpp"

#include <cerrno>
#include <cstdlib>

namespace tarvok::cli {

using namespace files;

namespace {

std::string shown(const fs::path& path) { return shown_path(path); }

std::string os_error(int error, const fs::path& path) { return os_error_text(error, shown(path)); }

/// A new, empty staging folder in `parent`, which is made first when missing.
fs::path make_folder(const fs::path& parent) {
    auto refuse_at = [&](int error, const fs::path& where) {
        fail(ExitStatus::Usage, "cannot write in " + shown(parent) + ": " + os_error(error, where));
    };
    std::error_code error;
    fs::create_directories(parent, error);
    // A file in the way is EEXIST, as the host's mkdir says it.
    if (error) refuse_at(fs::exists(parent) && !fs::is_directory(parent) ? EEXIST : error.value(), parent);
    std::string name = (parent / ".tarvok-XXXXXX").native();
    if (::mkdtemp(name.data()) == nullptr) refuse_at(errno, parent / ".tarvok-XXXXXX");
    return name;
}

void remove_folders(const std::vector<fs::path>& folders) {
    for (const fs::path& folder : folders) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
}

}  // namespace

std::string shown_path(const fs::path& path) { return shown_name(path.native()); }

PairStage::~PairStage() { remove_folders(folders_); }

PairStage::PairStage(Pair target, const Output& out) : target_(std::move(target)), out_(out) {
    for (const fs::path& target : {target_.model, target_.data}) refuse(unwritable_target(target, shown(target)));
    std::string why;
    Pending pending = finish_pending(target_, why);
    if (pending == Pending::Unreadable) {
        fail(ExitStatus::Usage, shown(journal_path(target_.model)) +
                                    " records an unfinished move that cannot be completed (" + why +
                                    "); look at it and remove it");
    }
    if (pending == Pending::Refused) {
        fail(ExitStatus::Usage, shown(journal_path(target_.model)) + " was left alone: " + why +
                                    "; nothing was moved. Look at it and remove it");
    }
    if (pending == Pending::Finished) {
        out_.warn("tarvok: finished moving the pair that an earlier run left half moved into " + shown(target_.model) +
                  " and " + shown(target_.data));
    }
    std::vector<fs::path> staged;
    for (const fs::path& target : {target_.model, target_.data}) {
        fs::path parent = target.parent_path();
        // Both targets in one folder share one staging folder.
        if (folders_.empty() || folders_.front().parent_path() != parent) {
            try {
                folders_.push_back(make_folder(parent));
            } catch (const Failure&) {
                remove_folders(folders_);  // a constructor that throws leaves its destructor unrun
                throw;
            }
        }
        staged.push_back(folders_.back() / target.filename());
    }
    staged_ = {staged[0], staged[1]};
}

void PairStage::place() {
    std::error_code error = place_pair(staged_, target_);
    if (!error) return;
    std::string message = "cannot move the new pair into place: " + error.message();
    if (fs::exists(journal_path(target_.model)))
        message += "; the move is recorded in " + shown(journal_path(target_.model));
    fail(ExitStatus::Usage, message);
}

Pair PairStage::keep_failed() {
    std::error_code error;
    Pair kept = files::keep_failed(staged_, target_, error);
    if (error) out_.warn("tarvok: could not keep the last attempt: " + error.message());
    return kept;
}

std::string PairStage::kept_text(const Pair& kept) const {
    if (kept.model.empty() && kept.data.empty()) return "";
    if (kept.model.empty()) return shown(kept.data);
    if (kept.data.empty()) return shown(kept.model);
    return shown(kept.model) + " and " + shown(kept.data);
}

std::string PairStage::as_targets(std::string line) const {
    for (auto [from, to] : {std::pair{&staged_.model, &target_.model}, std::pair{&staged_.data, &target_.data}}) {
        std::string staged = shown(*from), target = shown(*to);
        if (staged.empty()) continue;
        for (std::size_t at = line.find(staged); at != std::string::npos; at = line.find(staged, at + target.size()))
            line.replace(at, staged.size(), target);
    }
    return line;
}

std::string PairStage::targets_text() const { return shown(target_.model) + " and " + shown(target_.data); }

}  // namespace tarvok::cli
