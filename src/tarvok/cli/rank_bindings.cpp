// `tarvok rank WORDS... [--embedding-model M] [--examples DIR] [--top-k N]`:
// the closest worked examples of a library.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_rank(py::object commands) {
    py::object rank =
        add_command(commands, "rank", "rank the example library against a problem description",
                    "The default embedding model is loaded offline from the weights the rag extra installs; without "
                    "an embedding model the examples are ranked by the words they share with the description "
                    "(BM25).");
    rank.attr("add_argument")("query", py::arg("nargs") = "*", py::arg("metavar") = "WORD",
                              py::arg("help") = "the problem description");
    add_embedding_option(rank);
    rank.attr("add_argument")("--examples", py::arg("metavar") = "DIR",
                              py::arg("help") = "example library (default: the shipped one)");
    rank.attr("add_argument")("--top-k", py::arg("type") = builtin("int"), py::arg("default") = 10,
                              py::arg("metavar") = "N", py::arg("help") = "how many to print; 0 for all (default: 10)");
    rank.attr("add_argument")("--json", py::arg("action") = "store_true",
                              py::arg("help") = "print the ranking as JSON (and errors as JSON)");
}

int run_rank(py::object args) {
    py::object query = py::str(" ").attr("join")(args.attr("query")).attr("strip")();
    if (!host::truthy(query)) fail(ExitStatus::Usage, "the description is empty");
    py::object examples = args.attr("examples");
    if (!examples.is_none()) {
        examples = absolute(examples);
        if (!host::truthy(py::module_::import("os").attr("path").attr("isdir")(examples))) {
            fail(ExitStatus::Usage, "examples folder not found: " + host::str_of(examples));
        }
    }
    py::object name = embedding_model(args);
    py::module_ ranker = py::module_::import("tarvok.example_ranker");
    py::object ranking;
    if (auto problem = load_embedding_model(name)) {
        warn("tarvok: " + *problem + "; ranking by word overlap (BM25) instead");
        ranking = ranker.attr("rank_lexically")(query, py::arg("models_dir") = examples,
                                                py::arg("top_k") = args.attr("top_k"));
    } else {
        ranking = ranker.attr("rank_problem_descriptions")(query, py::arg("models_dir") = examples,
                                                           py::arg("top_k") = args.attr("top_k"),
                                                           py::arg("model_name") = name);
    }
    if (host::truthy(args.attr("json"))) {
        say_json(ranking);
        return 0;
    }
    if (!host::truthy(ranking)) say("No descriptions found.");
    py::str line("{:2d}. {}  score={:.4f}");
    long number = 0;
    for (py::handle entry : ranking) say(host::str_of(line.format(++number, entry["path"], entry["score"])));
    return 0;
}

}  // namespace tarvok::cli
