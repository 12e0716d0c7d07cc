// The command line of `tarvok check`: which arguments are paths and options,
// what is refused, and the closing line. The binding reads the files,
// compiles and prints.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::compiler {

inline constexpr const char* kCheckUsage = "usage: tarvok check MODEL.mod [DATA.dat] [--json] [--max-size N]";

/// The text of `tarvok check --help`.
std::string check_help();

/// A refusal: the lines for a reader and the message of the JSON object.
struct CheckRefusal {
    std::string line;
    std::string message;
};

struct CheckArguments {
    bool help = false;
    bool json = false;                ///< --json anywhere, so that every refusal is JSON too
    std::vector<std::size_t> paths;   ///< the positions of the model and data paths
    std::optional<std::string> size;  ///< the value of --max-size, as given
    std::optional<CheckRefusal> refusal;
};

/// `args` as given; an argument that is not text is nothing here (a path, never an option).
CheckArguments read_check_arguments(const std::vector<std::optional<std::string>>& args);

/// The refusal of a --max-size value the host could not read as a whole number of at least 1.
CheckRefusal refused_size(const std::string& size);
/// A file that cannot be read: its path as shown and the system's reason.
CheckRefusal refused_read(const std::string& path, const std::string& reason);

/// "OK", or "OK, 2 warnings".
std::string check_ok_line(std::size_t warnings);

}  // namespace tarvok::compiler
