// A library's embeddings kept on disk between runs, so that a second run
// ranks against them instead of embedding the library again.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::example_ranker {

/// The environment variable that names the folder of kept vectors.
inline constexpr const char* kCacheDirVariable = "TARVOK_CACHE_DIR";

/// The folder kept vectors go in: `override_dir` when set and not empty,
/// else `xdg_cache`/tarvok when that is an absolute path, else
/// `home`/.cache/tarvok; empty (nothing kept) when none of them is given.
std::filesystem::path vectors_folder(const char* override_dir, const char* xdg_cache, const char* home);

/// What one file of kept vectors belongs to. A file is used only when all of
/// it matches: the library folder (absolute), the library's stamp (see
/// library_stamp), a hash of the texts as read, and the model's identity.
struct VectorsKey {
    std::string library;
    std::string stamp;
    std::string texts_hash;
    std::string model;
};

/// Row-major float32 embeddings, one row per description.
struct Vectors {
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::vector<float> values;
};

/// What a model's weights on disk are: every file below `folder` (links to
/// folders not followed) with its size and modification time, in name order.
/// Empty when the folder cannot be read.
std::string weights_stamp(const std::filesystem::path& folder);

/// Where the weights of the model named `name` are, made absolute as the
/// host's os.path.abspath makes it: `packaged` (the folder the installed
/// package ships them in) when given, else the name itself when it names a
/// folder; none for a name the hub resolves, whose vectors are not kept.
std::optional<std::filesystem::path> weights_folder(std::string_view name, std::optional<std::string_view> packaged);

/// The identity of a model for kept vectors: its name, its weights' folder
/// and their stamp, and the versions of the libraries that encode, each with
/// its length first (no two lists of them alike), then the model's type.
std::string model_identity(std::string_view name, const std::filesystem::path& folder, std::string_view weights,
                           const std::vector<std::string>& versions, std::string_view type_name);

/// FNV-1a of each text with its length, in order, as 8 bytes.
std::string texts_hash(const std::vector<std::string_view>& texts);

/// The file's name in the folder: one per library folder and model, so a
/// changed library replaces its own file rather than adding another.
std::string vectors_file_name(std::string_view library, std::string_view model);

/// The file's bytes: a header, the key, the sizes, the values, and a
/// checksum over all of it.
std::string encode_vectors(const VectorsKey& key, const Vectors& vectors);

/// The vectors in `bytes` when they are whole, their checksum holds, and
/// they belong to `key` with `rows` rows; none otherwise.
std::optional<Vectors> decode_vectors(std::string_view bytes, const VectorsKey& key, std::size_t rows);

/// The kept vectors for `key` in `folder`, or none when there are none that
/// match (a missing, truncated, corrupt or stale file, a link, no regular
/// file). Never throws.
std::optional<Vectors> read_kept_vectors(const std::filesystem::path& folder, const VectorsKey& key, std::size_t rows);

/// Keeps `vectors` for `key` in `folder` (made, owner only, when missing),
/// written whole or not at all and never through a link. A failure keeps
/// nothing and is not an error: the next run embeds again. Never throws.
void keep_vectors(const std::filesystem::path& folder, const VectorsKey& key, const Vectors& vectors);

}  // namespace tarvok::example_ranker
