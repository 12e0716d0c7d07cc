#include "emitter/emission.hpp"

#include "common/files.hpp"
#include "compiler/model_tree.hpp"
#include "solver/mps.hpp"

namespace tarvok::emitter {

namespace {

Emission refused(const Output* output, Refusal refusal) {
    Emission out;
    out.output = output;
    out.refusal = std::move(refusal);
    return out;
}

/// The model file written whole where the caller lends room, then read back as it is.
Emission model_file(const Output& output, const solver::Program& program, const Means& means) {
    std::filesystem::path path = means.scratch / ("model" + std::string(output.suffix));
    if (std::string why = solver::unwritable_reason(program); !why.empty())
        return refused(&output, {.kind = Refusal::Kind::Unwritable, .message = why, .path = path});
    int error = solver::write_model_file(program, path, output.format,
                                         [&](const auto& columns, const auto& rows, const auto& lp) {
                                             return means.write_lp(program, columns, rows, lp);
                                         });
    files::InputFile read;
    if (error == 0) {
        read = files::read_input_file(path);
        if (!read.ok()) error = read.error_code();
    }
    if (error != 0) return refused(&output, {.kind = Refusal::Kind::WriteFailed, .error_number = error, .path = path});
    Emission out;
    out.output = &output;
    out.made.text = std::move(read.bytes);
    return out;
}

}  // namespace

Emission emit(const Output& output, const solver::Program& program, const Means& means) {
    if (!output.script) return model_file(output, program, means);
    Emission out;
    out.output = &output;
    out.made = output.script->emit(program);
    if (means.inline_only && !out.made.arrays.empty()) return refused(&output, {.kind = Refusal::Kind::TooLarge});
    return out;
}

Emission emit(solver::CompiledModel& compiled, std::string_view name, const Means& means) {
    const Output* output = find_output(name);
    if (!output) {
        std::string choices;
        for (const Output& o : outputs()) choices += (choices.empty() ? "" : ", ") + std::string(o.name);
        return refused(nullptr, {.kind = Refusal::Kind::UnknownOutput,
                                 .message = "unknown output '" + std::string(name) + "' (choose " + choices + ")"});
    }
    const compiler::Compilation& compilation = *compiled.source().compilation;
    if (!compiled.ok())
        return refused(output, {.kind = Refusal::Kind::DoesNotCompile,
                                .message = compilation.report(),
                                .diagnostics = compiler::tree::diagnostic_record_tree(compilation, true)});
    std::string failure;
    std::shared_ptr<solver::Program> program = compiled.program(means.watch, failure);
    if (!program) return refused(output, {.kind = Refusal::Kind::DoesNotCompile, .message = failure});
    return emit(*output, *program, means);
}

}  // namespace tarvok::emitter
