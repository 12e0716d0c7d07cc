// `tarvok serve`: the local page for the whole loop (describe, watch, read,
// solve, ask and revise, download) and its JSON API, served by tarvok.web.
#include "bindings/cli/command.hpp"
#include "bindings/web/entries.hpp"

namespace tarvok::cli {

int run_serve(const CommandLine& line) {
    long long port = *line.integer("port");
    if (port < 0 || port > 65535) fail(ExitStatus::Usage, "--port must be from 0 to 65535");
    py::object workdir = py::none();
    if (std::optional<std::string> given = line.text("workdir")) {
        std::string folder = absolute(*given);
        std::error_code error;
        fs::file_status status = fs::status(files::named_path(folder), error);
        if (fs::exists(status) && !fs::is_directory(status))
            fail(ExitStatus::Usage, "--workdir " + folder + " is not a folder");
        workdir = host::text(folder);
    }
    require_extra("starlette", "tarvok serve", "web");
    require_extra("uvicorn", "tarvok serve", "web");
    web::bind::serve(host::text(line.given("host")), py::int_(port), py::bool_(line.flag("open")), workdir);
    return 0;
}

const Registration registration{"serve", run_serve};

}  // namespace tarvok::cli
