// The command line of `tarvok check`: which arguments are paths and options,
// what is refused, and the closing line. The binding reads the files,
// compiles and prints.
#pragma once

#include "compiler/compiler.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::cli {

inline constexpr const char* kCheckUsage = "usage: tarvok check MODEL.mod [DATA.dat] [--json] [--max-size N]";

/// Said after the diagnostics of a model checked without data that it takes.
inline constexpr const char* kDataNotChecked = "note: no data was given, so the data was not checked";

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

/// What `tarvok check` prints, one write at a time (each text then a
/// newline), and its exit status. Lines for a reader show what a terminal
/// would act on as escapes; JSON keeps every text exact.
struct CheckOutput {
    struct Write {
        std::string text;
        bool to_stderr = false;
    };
    std::vector<Write> writes;
    int status = 0;
};

/// The help, exit status 0.
CheckOutput help_output();
/// A refusal: its line on stderr, or with `as_json` one object on stdout; status 2.
CheckOutput refusal_output(const CheckRefusal& refusal, bool as_json);
/// The diagnostics of a checked pair: the report and OK line, or with
/// `as_json` the records, each naming its file (`data_file` says whether
/// the data came from a file of its own); status 0 when it compiles, else 1.
CheckOutput check_output(const compiler::Compilation& c, const compiler::FileNames& names, bool data_file,
                         bool as_json);

}  // namespace tarvok::cli
