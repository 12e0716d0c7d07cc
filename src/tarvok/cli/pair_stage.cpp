#include "cli/pair_stage.hpp"

#include "cli/command_options.hpp"

namespace tarvok::cli {

using namespace files;

PairStage::~PairStage() {
    for (const fs::path& folder : folders_) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
}

void PairStage::stage() {
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
        warn("tarvok: finished moving the pair that an earlier run left half moved into " + shown(target_.model) +
             " and " + shown(target_.data));
    }
    std::vector<fs::path> staged;
    for (const fs::path& target : {target_.model, target_.data}) {
        fs::path parent = target.parent_path();
        // Both targets in one folder share one staging folder.
        if (folders_.empty() || folders_.front().parent_path() != parent) folders_.push_back(make_folder(parent));
        staged.push_back(folders_.back() / target.filename());
    }
    staged_ = {staged[0], staged[1]};
}

void PairStage::place() {
    std::error_code error = move(staged_, target_);
    if (!error) return;
    std::string message = "cannot move the new pair into place: " + error.message();
    if (fs::exists(journal_path(target_.model)))
        message += "; the move is recorded in " + shown(journal_path(target_.model));
    fail(ExitStatus::Usage, message);
}

Pair PairStage::keep_failed() {
    std::error_code error;
    Pair kept = files::keep_failed(staged_, target_, error);
    if (error) warn("tarvok: could not keep the last attempt: " + error.message());
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
