#include "cli/pair_placement.hpp"

#include "cli/command_options.hpp"
#include "common/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tarvok::cli {

namespace {

constexpr std::string_view kFirstLine = "# tarvok: a model and data pair is being moved into place.";

/// One path per line: backslash and line feed are escaped.
std::string escape(const std::string& raw) {
    std::string out;
    for (char c : raw) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        if (text[i] == '\\')
            out += '\\';
        else if (text[i] == 'n')
            out += '\n';
        else
            return std::nullopt;
    }
    return out;
}

/// The most a journal holds: four paths and the lines that explain them.
constexpr std::size_t kMaxJournalBytes = 1 << 16;

/// `path` as lstat sees it: what kind of entry, and whose; nothing when absent.
std::optional<struct stat> entry(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

bool mine(const struct stat& st) { return st.st_uid == ::geteuid(); }

/// The journal's text, read without following a link at its name; nothing
/// (with `why`) when it is a link, no regular file, another's, or too long.
std::optional<std::string> read_journal(const fs::path& journal, std::string& why) {
    int fd = ::open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        why = "it is a link or no regular file";
        return std::nullopt;
    }
    if (!mine(st)) {
        ::close(fd);
        why = "it is not the user's own file";
        return std::nullopt;
    }
    std::string text(kMaxJournalBytes + 1, '\0');
    std::size_t have = 0;
    for (ssize_t n; have < text.size(); have += static_cast<std::size_t>(n)) {
        n = ::read(fd, text.data() + have, text.size() - have);
        if (n < 0 && errno == EINTR)
            n = 0;
        else if (n <= 0)
            break;
    }
    ::close(fd);
    text.resize(have);
    if (text.size() > kMaxJournalBytes) {
        why = "it is longer than a journal can be";
        return std::nullopt;
    }
    return text;
}

/// Whether `path` is absolute and holds no '.' or '..' component.
bool plain_absolute(const fs::path& path) {
    if (!path.is_absolute()) return false;
    for (const fs::path& part : path)
        if (part == "." || part == "..") return false;
    return true;
}

/// Moves `from` onto `to` unless `from` is already gone (moved by an earlier try).
void move_if_present(const fs::path& from, const fs::path& to, std::error_code& error) {
    if (error) return;
    if (!fs::exists(fs::symlink_status(from))) return;
    fs::rename(from, to, error);
}

}  // namespace

fs::path with_suffix(const fs::path& path, const std::string& suffix) {
    fs::path out = path;
    out += suffix;
    return out;
}

fs::path journal_path(const fs::path& model_target) { return with_suffix(model_target, ".tarvok-pending"); }

std::string journal_text(const Pair& staged, const Pair& target) {
    std::ostringstream out;
    out << kFirstLine << "\n"
        << "# If this file is still here, that move stopped part way and the two files may not belong\n"
        << "# together. The next `tarvok solve` or `tarvok feedback --apply` for these files finishes it.\n"
        << "staged model=" << escape(staged.model.string()) << "\n"
        << "staged data=" << escape(staged.data.string()) << "\n"
        << "model=" << escape(target.model.string()) << "\n"
        << "data=" << escape(target.data.string()) << "\n";
    return out.str();
}

std::optional<std::pair<Pair, Pair>> parse_journal(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kFirstLine) return std::nullopt;
    std::optional<std::string> values[4];
    constexpr std::string_view keys[4] = {"staged model=", "staged data=", "model=", "data="};
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        for (int k = 0; k < 4; ++k) {
            if (line.starts_with(keys[k])) {
                values[k] = unescape(std::string_view(line).substr(keys[k].size()));
                if (!values[k]) return std::nullopt;
                break;
            }
        }
    }
    for (const auto& v : values) {
        if (!v || v->empty()) return std::nullopt;
    }
    return std::make_pair(Pair{*values[0], *values[1]}, Pair{*values[2], *values[3]});
}

std::error_code place_pair(const Pair& staged, const Pair& target) {
    std::error_code error;
    const fs::path journal = journal_path(target.model);
    try {
        // Whatever was planted at the journal's name is replaced, never written through.
        files::write_file_atomically(journal, journal_text(staged, target), files::Existing::Replace);
    } catch (const files::FileError& e) {
        return e.code();
    }
    fs::rename(staged.data, target.data, error);
    if (error) {
        std::error_code ignored;
        fs::remove(journal, ignored);  // nothing moved yet
        return error;
    }
    fs::rename(staged.model, target.model, error);
    if (error) return error;  // the journal stays: the data is new, the model is not
    fs::remove(journal, error);
    return error;
}

bool staging_folder_name(const std::string& name) {
    constexpr std::string_view prefix = ".tarvok-";
    if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 64) return false;
    for (char c : name.substr(prefix.size())) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!plain) return false;
    }
    return true;
}

fs::path make_staging_folder(const fs::path& parent, std::error_code& error) {
    std::string name = (parent / ".tarvok-XXXXXXXX").string();
    if (!::mkdtemp(name.data())) {
        error.assign(errno, std::generic_category());
        return {};
    }
    return name;
}

std::optional<std::string> journal_refusal(const Pair& staged, const Pair& recorded, const Pair& target) {
    if (recorded.model.lexically_normal() != target.model.lexically_normal() ||
        recorded.data.lexically_normal() != target.data.lexically_normal())
        return "it records another pair";
    for (auto member : {&Pair::model, &Pair::data}) {
        const fs::path &file = staged.*member, &folder = file.parent_path();
        if (!plain_absolute(file) || file.filename() != (target.*member).filename() ||
            folder.parent_path() != (target.*member).parent_path().lexically_normal() ||
            !staging_folder_name(folder.filename().string()))
            return "it names a staged file that is not in a staging folder beside its target";
        auto made = entry(folder), written = entry(file);
        if (!made || !S_ISDIR(made->st_mode) || !mine(*made))
            return "its staging folder is a link, no folder or not the user's own";
        if (written && (!S_ISREG(written->st_mode) || !mine(*written)))
            return "a staged file is a link, no regular file or not the user's own";
    }
    return std::nullopt;
}

Pending finish_pending(const Pair& target, std::string& why) {
    const fs::path journal = journal_path(target.model);
    if (!entry(journal)) return Pending::None;
    std::optional<std::string> text = read_journal(journal, why);
    if (!text) return Pending::Refused;
    auto recorded = parse_journal(*text);
    if (!recorded) {
        why = "it is not a journal this package wrote";
        return Pending::Unreadable;
    }
    const auto& [staged, moved_to] = *recorded;
    if (auto refusal = journal_refusal(staged, moved_to, target)) {
        why = *refusal;
        return Pending::Refused;
    }
    std::error_code error;
    move_if_present(staged.data, target.data, error);
    move_if_present(staged.model, target.model, error);
    if (!error) fs::remove(journal, error);
    if (error) {
        why = error.message();
        return Pending::Unreadable;
    }
    for (const fs::path& folder : {staged.model.parent_path(), staged.data.parent_path()}) {
        std::error_code ignored;
        fs::remove(folder, ignored);  // only when empty
    }
    return Pending::Finished;
}

Pair keep_failed(const Pair& staged, const Pair& target, std::error_code& error) {
    Pair kept;
    const std::pair<const fs::path*, fs::path Pair::*> files[2] = {{&staged.model, &Pair::model},
                                                                   {&staged.data, &Pair::data}};
    for (const auto& [from, member] : files) {
        if (error || !fs::exists(fs::symlink_status(*from))) continue;
        fs::path to = with_suffix(target.*member, ".failed");
        fs::rename(*from, to, error);
        if (!error) kept.*member = to;
    }
    return kept;
}

Pair back_up(const Pair& target, std::string& error) {
    Pair copies;
    std::string bytes[2];
    std::vector<files::FileContent> writes;
    int k = 0;
    for (auto member : {&Pair::model, &Pair::data}) {
        const fs::path& original = target.*member;
        std::error_code absent;
        if (!fs::exists(original, absent)) continue;
        std::ifstream in(original, std::ios::binary);
        bytes[k].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad() || !in.is_open()) {
            error = "cannot back up " + original.string() + ": cannot read it";
            return {};
        }
        copies.*member = with_suffix(original, ".bak");
        writes.push_back({copies.*member, bytes[k++], files::Existing::Replace});
    }
    try {
        files::replace_files(writes);
    } catch (const files::FileError& e) {
        const fs::path& original = e.path() == copies.model ? target.model : target.data;
        error = "cannot back up " + original.string() + ": " + std::generic_category().message(e.error_number());
        return {};
    }
    return copies;
}

std::optional<std::string> unwritable_target(const fs::path& target, const std::string& shown) {
    std::error_code error;
    if (fs::is_directory(target, error)) return shown + " is a folder";
    bool exists = fs::exists(fs::symlink_status(target, error));
    if (exists && ::access(target.c_str(), W_OK) != 0) return shown + " is not writable";
    return std::nullopt;
}

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
    Pair kept = cli::keep_failed(staged_, target_, error);
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
