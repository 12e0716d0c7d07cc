// `tarvok rank WORDS...`: the closest examples of the shipped library.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_rank(py::object commands) {
    py::object rank =
        commands.attr("add_parser")("rank", py::arg("help") = "rank the example library against a problem description");
    rank.attr("add_argument")("query", py::arg("nargs") = "*");
}

int run_rank(py::object args) {
    py::object status = py::module_::import("tarvok.example_ranker").attr("main")(args.attr("query"));
    return status.is_none() ? 0 : status.cast<int>();
}

}  // namespace tarvok::cli
