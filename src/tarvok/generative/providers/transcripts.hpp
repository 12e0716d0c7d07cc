// Reading recorded conversations for the replay back-end: the records of a
// transcript (JSON lines) and the book of the transcripts last read, kept
// while their files stay as they were.
#pragma once

#include "generative/replay.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative::providers {

/// The lines of `text` as the host's str.splitlines() cuts them: at every
/// line end it knows (\n, \r, \r\n, \v, \f, \x1c to \x1e, U+0085, U+2028, U+2029).
std::vector<std::string_view> split_lines(std::string_view text);

/// Adds the records of one transcript to `book`: each line an object with a
/// text "prompt" and "reply", and maybe a text "model" and integer
/// "tokens_in" and "tokens_out". A line that is no record (one cut off when
/// a run was stopped) is passed over.
void read_transcript(std::string_view text, replay::Book& book);

/// Why no transcripts can be read at `path` (shown as `shown`): it is not
/// there (as the host's os.path.exists tells), or it is neither a file nor a
/// folder, links followed (a pipe, a device); nothing when they can.
std::optional<std::string> replay_path_refusal(const std::filesystem::path& path, std::string_view shown);

/// The transcripts at `path`: the file itself, or the *.jsonl files of the
/// folder and every folder below it, in name order (names that start with a
/// dot are passed over, as the host's glob does, and so is what is no file
/// even through its link). Nothing when `path` is neither a file nor a folder.
std::optional<std::vector<std::filesystem::path>> transcript_files(const std::filesystem::path& path);

/// What a book of `files` is kept under: each file with its size and time of
/// last change ("?" for a file gone meanwhile: reading it then fails).
std::string files_signature(const std::vector<std::filesystem::path>& files);

/// The book of the files last read.
class BookCache {
  public:
    using Book = std::shared_ptr<const replay::Book>;
    /// The kept book when `signature` (the files with their sizes and times
    /// of change) is the one it was read under, else what `read` makes, then
    /// kept. No lock is held while reading.
    Book get(const std::string& signature, const std::function<Book()>& read);

  private:
    std::mutex mutex_;
    std::string signature_;
    Book book_;
};

}  // namespace tarvok::generative::providers
