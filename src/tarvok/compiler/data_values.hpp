// Data given as values rather than as a data text (a JSON object, or the
// objects a caller holds), written as the data text of the model at hand, so
// that it meets the same checks and messages as a data file.
#pragma once

#include "common/json.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tarvok::data {

/// The most bytes a data text written from values may have.
inline constexpr std::size_t kMaxTextBytes = 16u << 20;
/// How deeply values may nest.
inline constexpr std::size_t kMaxDataDepth = 64;

/// Data given as values is a JSON value (common/json.hpp).
using Value = json::Value;
using json::describe_kind;

/// `given` as data read through the host's JSON reader holds it: an integer
/// beyond 64 bits is the float the host's float() makes of it. Nesting deeper
/// than `most` levels throws std::runtime_error saying `too_deep`.
Value host_numbers(const Value& given, std::size_t most, const std::string& too_deep);

/// The data text for `model_text` from a JSON object {name: value}: sets as
/// braces, arrays as nested brackets in the order given, tuples from objects
/// (fields by name, in the order the tuple type declares them) or from
/// arrays. Returns the text, or the message of what cannot be written.
/// `known_text`, data text given beside the values (.dat files), gives the
/// sets that may key them.
std::variant<std::string, std::string> data_from_json(std::string_view model_text, const Value& data,
                                                      std::string_view known_text = {});

/// Where a value came from in the data: its name, then a key or a list
/// position per level.
struct DataPath {
    std::vector<std::string> steps;
    std::vector<bool> positional;  ///< per step: a list position rather than a key
};

/// The value of `data` that data_from_json wrote over byte `offset` of its
/// text (the innermost), or nothing.
std::optional<DataPath> data_path_at(std::string_view model_text, const Value& data, size_t offset,
                                     std::string_view known_text = {});

/// `capacity["Odense"]`, `need[2]`.
std::string path_text(const DataPath& path);

/// How a place of data given as a mapping in the host is named in messages:
/// `data["capacity"]["Odense"]`; "" for a place no value wrote.
std::string mapping_path_at(std::string_view model_text, const Value& data, size_t offset);

/// Data given as a mapping in the host, written as the model's data text,
/// with how to name the entry a place of the text was written from.
struct WrittenMapping {
    std::string text;
    std::function<std::string(uint32_t offset)> origin;  ///< mapping_path_at over what was written
};

/// data_from_json for data given as a mapping: what it wrote, or the message
/// of what cannot be written.
std::variant<WrittenMapping, std::string> write_mapping(std::string model_text, Value data,
                                                        std::string known_text = {});

/// Data gathered from files and written as (the end of) a data text, with
/// what it takes to name the file, and the row of a table, each value came from.
struct DataSources {
    size_t base = 0;  ///< where the written text starts in the data text compiled
    std::string model_text;
    std::string known_text;                                          ///< as given to data_from_json
    Value values;                                                    ///< as given to data_from_json
    std::map<std::string, std::string> files;                        ///< name -> the file that gave it
    std::map<std::string, std::map<std::string, std::string>> rows;  ///< name -> path after the name -> "file:row"
};

/// Where the data text's byte `offset` came from: `tables/capacity.csv:4`,
/// `d.json: capacity["Odense"]`; "" for a place before the written text.
std::string describe_source(const DataSources& sources, size_t offset);

/// The type of a single value the data fills, as a table's cell is read for it.
enum class CellType : uint8_t { Unknown, Int, Float, String, Boolean, Tuple };

/// What a model declares under a name that data may give.
struct Declared {
    bool is_set = false;
    size_t dims = 0;                     ///< index sets of a parameter
    CellType value = CellType::Unknown;  ///< a parameter's values; a set's elements
    std::vector<CellType> fields;        ///< the fields of a tuple value (or of a set's tuple elements)
    std::vector<CellType> index;         ///< the elements of each index set (Tuple for a set of tuples)
};

/// The parameters and sets `model_text` declares, by name.
std::map<std::string, Declared> declared_names(std::string_view model_text);

/// A key as the data writes it (`"2.50"`, `"<a,1>"`), made comparable with
/// an element of a set whose elements (or tuple fields) are of `kinds`: a
/// number by its value, a tuple field by field. Equal elements give equal texts.
/// `tuple`: the elements are tuples, whose key is written `<a,1>` (a JSON key,
/// a CSV cell) or, key by key, as one nested level per field (a Python tuple).
std::string canonical_key(std::string_view key, const std::vector<CellType>& kinds, bool tuple);

// ------------------------------------------- values given as host objects ----

/// The element name a float key stands for when it is a whole number in the
/// range of the integers ("3" for 3.0); nothing otherwise, and the host spells it.
std::optional<std::string> whole_number_key(double key);

/// Why a value cannot be data: it nests too deeply, or is of `type_name`.
std::string too_deep_message();
std::string not_a_data_value_message(std::string_view type_name);
/// Why a mapping of data is refused for a name that is no text.
std::string data_name_message(std::string_view function, std::string_view type_name);

/// The entries of a mapping whose keys may be tuples, as nested objects:
/// {(a, b): v} becomes {a: {b: v}}. Each entry holds its key's fields (one
/// for a plain key) as element names, and its value; a later entry replaces
/// what an earlier one put at its place, as assigning into a dict does, and
/// a key through a mapping given as a value adds to it.
Value nest_keys(std::vector<std::pair<std::vector<std::string>, Value>> entries);

}  // namespace tarvok::data
