// `tarvok rank WORDS... [--embedding-model M] [--examples DIR] [--top-k N]`:
// the closest worked examples of a library.
#include "bindings/cli/command.hpp"
#include "bindings/example_ranker/entries.hpp"
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
    py::list ranking;
    if (auto problem = load_embedding_model(name)) {
        warn("tarvok: " + *problem + "; ranking by word overlap (BM25) instead");
        ranking = example_ranker::bind::rank_lexically(query, examples, top_k);
    } else {
        ranking = example_ranker::bind::rank(query, examples, top_k, name);
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
