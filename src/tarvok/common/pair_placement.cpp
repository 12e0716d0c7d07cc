#include "common/pair_placement.hpp"

#include <unistd.h>
#include <fstream>
#include <sstream>

namespace tarvok::files {

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

bool write_whole(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    return static_cast<bool>(out);
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
    const fs::path draft = with_suffix(journal, ".tmp");
    if (!write_whole(draft, journal_text(staged, target))) {
        fs::remove(draft, error);
        return std::make_error_code(std::errc::io_error);
    }
    fs::rename(draft, journal, error);
    if (error) {
        std::error_code ignored;
        fs::remove(draft, ignored);
        return error;
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

Pending finish_pending(const fs::path& model_target, std::error_code& error) {
    const fs::path journal = journal_path(model_target);
    if (!fs::exists(fs::symlink_status(journal))) return Pending::None;
    std::ifstream in(journal, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    auto recorded = parse_journal(text.str());
    if (!recorded) return Pending::Unreadable;
    const auto& [staged, target] = *recorded;
    move_if_present(staged.data, target.data, error);
    move_if_present(staged.model, target.model, error);
    if (error) return Pending::Unreadable;
    fs::remove(journal, error);
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
    for (auto member : {&Pair::model, &Pair::data}) {
        const fs::path& original = target.*member;
        if (!fs::exists(original)) continue;
        std::error_code failed;
        fs::path copy = with_suffix(original, ".bak");
        fs::copy_file(original, copy, fs::copy_options::overwrite_existing, failed);
        if (failed) {
            error = "cannot back up " + original.string() + ": " + failed.message();
            return copies;
        }
        copies.*member = copy;
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

}  // namespace tarvok::files
