#include "generative/providers/transcripts.hpp"

#include "common/json.hpp"
#include "generative/providers/back_end_texts.hpp"

#include <algorithm>
#include <charconv>
#include <climits>

namespace tarvok::generative::providers {

namespace {

/// The length of the line end at `pos`, or 0 when none starts there.
std::size_t line_end_at(std::string_view text, std::size_t pos) {
    switch (static_cast<unsigned char>(text[pos])) {
    case '\r': return pos + 1 < text.size() && text[pos + 1] == '\n' ? 2 : 1;
    case '\n':
    case '\v':
    case '\f':
    case 0x1c:
    case 0x1d:
    case 0x1e: return 1;
    case 0xc2:  // U+0085
        return text.substr(pos, 2) == "\xc2\x85" ? 2 : 0;
    case 0xe2:  // U+2028, U+2029
        return text.substr(pos, 3) == "\xe2\x80\xa8" || text.substr(pos, 3) == "\xe2\x80\xa9" ? 3 : 0;
    default: return 0;
    }
}

const std::string* text_of(const json::Value& record, std::string_view key) {
    const json::Value* value = record.find(key);
    return value && value->kind() == json::Value::Kind::String ? &value->text() : nullptr;
}

/// An integer member (as the host reads JSON: a number with neither fraction
/// nor exponent), saturated to the range of long long.
std::optional<long long> count_of(const json::Value& record, std::string_view key) {
    const json::Value* value = record.find(key);
    if (!value || value->kind() != json::Value::Kind::Integer) return std::nullopt;
    return value->integer();
}

}  // namespace

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (std::size_t end = line_end_at(text, pos)) {
            lines.push_back(text.substr(start, pos - start));
            start = pos += end;
        } else {
            ++pos;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

void read_transcript(std::string_view text, replay::Book& book) {
    for (std::string_view line : split_lines(text)) {
        json::Value record;
        try {
            record = json::parse(line, {.repeated_keys = true});
        } catch (const json::ParseError&) {
            continue;
        }
        if (record.kind() != json::Value::Kind::Object) continue;
        const std::string *prompt = text_of(record, "prompt"), *reply = text_of(record, "reply");
        if (!prompt || !reply) continue;
        const std::string *model = text_of(record, "model"), *step = text_of(record, "step");
        book.add(*prompt, {*reply,
                           {count_of(record, "tokens_in"), count_of(record, "tokens_out")},
                           model ? *model : "",
                           step ? *step : ""});
    }
}

BookCache::Book BookCache::get(const std::string& signature, const std::function<Book()>& read) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (book_ && signature_ == signature) return book_;
    }
    Book book = read();
    std::lock_guard<std::mutex> lock(mutex_);
    signature_ = signature;
    book_ = book;
    return book;
}

std::optional<std::string> replay_path_refusal(const std::filesystem::path& path, std::string_view shown) {
    std::error_code unknown;
    std::filesystem::file_status status = std::filesystem::status(path, unknown);
    if (!std::filesystem::exists(status)) return replay_path_missing(shown);
    if (std::filesystem::is_regular_file(status) || std::filesystem::is_directory(status)) return std::nullopt;
    return "replay path is neither a transcript nor a folder: " + std::string(shown);
}

std::optional<std::vector<std::filesystem::path>> transcript_files(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_regular_file(path, error)) return std::vector<fs::path>{path};
    if (!fs::is_directory(path, error)) return std::nullopt;
    std::vector<fs::path> files;
    // Folder links are followed and unreadable folders passed over, as the host's recursive glob does.
    auto options = fs::directory_options::follow_directory_symlink | fs::directory_options::skip_permission_denied;
    for (auto it = fs::recursive_directory_iterator(path, options, error); !error && it != fs::end(it);
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(".")) {
            it.disable_recursion_pending();
            continue;
        }
        // Files alone, links followed: a pipe of that name would hold the read forever.
        std::error_code kind_error;
        if (name.size() > 6 && name.ends_with(".jsonl") && it->is_regular_file(kind_error)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    return files;
}

std::string files_signature(const std::vector<std::filesystem::path>& files) {
    std::string signature;
    for (const std::filesystem::path& file : files) {
        std::error_code size_error, time_error;
        auto size = std::filesystem::file_size(file, size_error);
        auto changed = std::filesystem::last_write_time(file, time_error);
        signature += file.native() + "\t";
        signature += size_error || time_error
                         ? std::string("?")
                         : std::to_string(size) + "\t" + std::to_string(changed.time_since_epoch().count());
        signature += "\n";
    }
    return signature;
}

}  // namespace tarvok::generative::providers
