// `tarvok rank WORDS... [--embedding-model M] [--examples DIR] [--top-k N]`:
// the closest worked examples of a library.
#include "bindings/cli/command.hpp"
#include "common/utf8.hpp"
#include "example_ranker/ranking.hpp"

namespace tarvok::cli {

int run_rank(const CommandLine& line) {
    std::string words;
    for (const std::string& word : line.texts("query")) words += (words.empty() ? "" : " ") + word;
    std::string description(utf8::strip_host_space(words));
    if (description.empty()) fail(ExitStatus::Usage, "the description is empty");
    py::object query = host::text(description);
    std::optional<std::string> folder = line.text("examples");
    py::object examples = folder ? py::object(host::text(examples_folder(*folder))) : py::none();
    py::object top_k = whole_number(line, "top_k");
    py::object name = embedding_model(line);
    py::module_ ranker = py::module_::import("tarvok.example_ranker");
    py::object ranking;
    if (auto problem = load_embedding_model(name)) {
        warn("tarvok: " + *problem + "; ranking by word overlap (BM25) instead");
        ranking = ranker.attr("rank_lexically")(query, py::arg("models_dir") = examples, py::arg("top_k") = top_k);
    } else {
        ranking = ranker.attr("rank_problem_descriptions")(query, py::arg("models_dir") = examples,
                                                           py::arg("top_k") = top_k, py::arg("model_name") = name);
    }
    if (line.flag("json")) {
        say_json(ranking);
        return 0;
    }
    if (!host::truthy(ranking)) say("No descriptions found.");
    std::size_t number = 0;
    for (py::handle entry : ranking)
        say(example_ranker::ranking_line(++number, host::str_of(entry["path"]), py::float_(entry["score"])));
    return 0;
}

const Registration registration{"rank", run_rank};

}  // namespace tarvok::cli
