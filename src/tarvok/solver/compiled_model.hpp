// A model compiled with its data and kept for running: expanded into its
// Program on first use, once, by whichever caller asks first; every later
// caller gets that program, or the same reason it could not be made. Also
// the compiling and expanding of texts as the solver module's functions do it.
#pragma once

#include "common/interrupt.hpp"
#include "compiler/data_values.hpp"
#include "solver/program.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvok::solver {

/// The texts compiled within `sizes`, their data's places named by `origin`,
/// the `arrays` read packed, Ctrl-C polled through `interrupt`.
std::shared_ptr<Source> compile_texts(std::string model_text, std::string data_text, const tc::SizeLimits& sizes,
                                      tc::DataOrigin origin, Interrupt* interrupt,
                                      std::vector<tc::GivenArray> arrays = {});

/// The program of the texts compiled as compile_texts does, or nullptr and in
/// `failure` why the model cannot be expanded.
std::unique_ptr<Program> expand_texts(std::string model_text, std::string data_text, const tc::SizeLimits& sizes,
                                      tc::DataOrigin origin, std::vector<tc::GivenArray> arrays, Interrupt* interrupt,
                                      std::string& failure);

class CompiledModel {
  public:
    CompiledModel(std::shared_ptr<Source> source, tc::SizeLimits sizes) : source_(std::move(source)), sizes_(sizes) {}

    const Source& source() const { return *source_; }
    bool ok() const { return source_->compilation->ok(); }
    /// `<CompiledModel ok>`, or `<CompiledModel with errors>`.
    std::string repr() const { return std::string("<CompiledModel ") + (ok() ? "ok" : "with errors") + ">"; }

    /// Names the files (and rows of tables) that data written from them came
    /// from, in messages; `sources.model_text` is filled in here.
    void name_data_sources(data::DataSources sources);

    /// Runs the expansion, given the interrupt it polls, as the caller watches long work.
    using Watch =
        std::function<std::unique_ptr<Program>(const std::function<std::unique_ptr<Program>(Interrupt*)>& expand)>;

    /// The program, expanded through `watch` on first use (within the size
    /// limit the model was compiled with); nullptr and in `failure` why, when
    /// it cannot be made. Callers wait for the first one's expansion.
    std::shared_ptr<Program> program(const Watch& watch, std::string& failure);

  private:
    std::shared_ptr<Source> source_;
    tc::SizeLimits sizes_;
    std::mutex made_;
    std::shared_ptr<Program> program_;
    std::string failure_;  ///< why the program could not be made
};

}  // namespace tarvok::solver
