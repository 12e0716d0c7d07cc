// Benchmark sets of word problems: reading the records, choosing each
// record's description, reference objective and id, and naming its folder.
#pragma once

#include "common/error.hpp"
#include "common/json.hpp"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::evaluation {

/// The key of a problem's record: its id, and for a repeated run its number.
std::string record_key(std::string_view id, long long repeat);

/// One problem to run.
struct Problem {
    std::string id;                  ///< the record's id, or its record number
    std::string folder;              ///< the id made safe as a folder name
    std::string description;         ///< the word problem
    std::optional<double> expected;  ///< the reference optimal objective, when the record has a usable one
    std::size_t record = 0;          ///< 1-based position among the records
    std::string question_hash;       ///< a hash of the description, set by the caller (see Record)
    std::string problem_class;       ///< the record's class ("" when it names none)
    long long repeat = 1;            ///< which run of the problem, when each runs several times

    std::string key() const { return record_key(id, repeat); }
};

/// A record that was skipped, and why.
struct BadRecord {
    std::size_t record = 0;  ///< 1-based position among the records
    std::size_t line = 0;    ///< line of the file where it starts
    std::string reason;
};

struct Dataset {
    std::vector<Problem> problems;
    std::vector<BadRecord> bad;
};

/// The file as a whole cannot be read as a data set (an Error of kind Value).
class DatasetError : public Error {
  public:
    explicit DatasetError(const std::string& message) : Error(Kind::Value, message) {}
};

/// Keys tried in order; the first present one (not null) decides.
inline constexpr std::string_view kDescriptionKeys[] = {"description", "question", "en_question", "problem"};
inline constexpr std::string_view kObjectiveKeys[] = {"objective", "answer", "en_answer", "optimal_value"};
inline constexpr std::string_view kClassKeys[] = {"problem_class", "class", "category"};

/// Fields named by the user instead of the keys tried in order ("" keeps the
/// choice). A named field that a record lacks leaves it without that field.
struct Fields {
    std::string question, answer, id, problem_class;
};

enum class Format { Json, Csv };

/// Reads a JSON array of objects, JSON Lines (one object per non-blank
/// line) or, as Format::Csv, comma-separated values whose first row names
/// the fields (quoted fields may hold commas, quotes doubled and line breaks;
/// an empty cell is an absent field). A record that is not usable is listed
/// in `bad` and skipped; ids must be unique. Throws DatasetError for text
/// that is not of its form or holds no record at all.
Dataset read_dataset(std::string_view text, const Fields& fields = {}, Format format = Format::Json);

/// The number a numeric text stands for: optional sign, digits with optional
/// comma thousands separators, optional fraction and exponent, white space
/// around. Nothing for any other text or a value that is not finite.
std::optional<double> numeric_text(std::string_view text);

/// The reference objective of a record's value: a finite number, a numeric
/// text, or a list of one such value, also written as a text ("[469200.0]").
/// Nothing (no reference) for anything else.
std::optional<double> reference_value(const json::Value& value);

/// A folder name for `id`: the id itself when it is made of letters, digits,
/// '.', '_' and '-' only, does not start with '.', is at most 80 bytes and is
/// not one of the names the run writes beside the folders; otherwise a safe
/// form of it followed by folder_hash(id). read_dataset makes the folders of
/// one data set distinct, also when ids are made to collide.
std::string folder_name(std::string_view id);

/// "-" and 12 hexadecimal digits of a hash of `id`.
std::string folder_hash(std::string_view id);

}  // namespace tarvok::evaluation
