#include "solver/compiled_model.hpp"

#include <algorithm>

namespace tarvok::solver {

std::shared_ptr<Source> compile_texts(std::string model_text, std::string data_text, const tc::SizeLimits& sizes,
                                      tc::DataOrigin origin, Interrupt* interrupt, std::vector<tc::GivenArray> arrays) {
    tc::CompileOptions options;
    options.interrupt = interrupt;
    options.sizes = sizes;
    options.data_origin = std::move(origin);
    options.given_arrays = std::move(arrays);
    return compile_source(std::move(model_text), std::move(data_text), options);
}

std::unique_ptr<Program> expand_texts(std::string model_text, std::string data_text, const tc::SizeLimits& sizes,
                                      tc::DataOrigin origin, std::vector<tc::GivenArray> arrays, Interrupt* interrupt,
                                      std::string& failure) {
    InstantiateOptions options;
    options.compile.sizes = sizes;
    options.compile.interrupt = interrupt;
    std::shared_ptr<Source> source = compile_texts(std::move(model_text), std::move(data_text), sizes,
                                                   std::move(origin), interrupt, std::move(arrays));
    return instantiate_or_explain(std::move(source), options, failure);
}

void CompiledModel::name_data_sources(data::DataSources sources) {
    sources.model_text = source_->model_text;
    // What comes before the written values is the data text given as it is, whose sets may key them.
    sources.known_text = source_->data_text.substr(0, std::min(sources.base, source_->data_text.size()));
    auto kept = std::make_shared<const data::DataSources>(std::move(sources));
    source_->compilation->data_origin = [kept](uint32_t offset) { return data::describe_source(*kept, offset); };
}

std::shared_ptr<Program> CompiledModel::program(const Watch& watch, std::string& failure) {
    std::lock_guard<std::mutex> lock(made_);
    if (!program_ && failure_.empty()) {
        program_ = watch([&](Interrupt* interrupt) {
            InstantiateOptions options;
            options.compile.sizes = sizes_;  // the limit it was compiled within
            options.compile.interrupt = interrupt;
            return instantiate_or_explain(source_, options, failure_);
        });
    }
    if (!program_) failure = failure_;
    return program_;
}

}  // namespace tarvok::solver
