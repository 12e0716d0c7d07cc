#include "cli/output_paths.hpp"

#include "cli/command_options.hpp"
#include "common/files.hpp"
#include "generative/workflow.hpp"

namespace tarvok::cli {

void refuse_output_over(const GivenPath& output, const std::vector<GivenPath>& inputs, const std::string& what) {
    for (const GivenPath& input : inputs) {
        if (files::same_file(output.path, input.path)) {
            fail(ExitStatus::Usage,
                 what + " " + output.shown + " is the same file as " + input.shown + "; choose another path");
        }
    }
}

void refuse_alternatives_over(const AlternativeOutputs& o,
                              const std::function<std::filesystem::path(const std::string&)>& path_of) {
    for (long long k = 1; k <= o.what_if_max; ++k) {
        for (const GivenPath* target : {&o.model, &o.data}) {
            std::string shown = generative::workflow::alternative_path(target->shown, k);
            GivenPath alternative{path_of(shown), shown};
            refuse_output_over(alternative, {o.model, o.data}, "the alternative");
            if (o.record) refuse_output_over(alternative, {*o.record}, "the alternative");
            if (o.script) refuse_output_over(alternative, {*o.script}, "the alternative");
            std::error_code error;
            if (std::filesystem::exists(std::filesystem::symlink_status(alternative.path, error)))
                fail(ExitStatus::Usage,
                     "the alternative " + shown + " exists; alternatives are written only as new files: move it away");
        }
    }
}

std::string written_line(const std::vector<std::string>& written) {
    std::string line = "Wrote";
    for (std::size_t k = 0; k < written.size(); ++k) line += (k ? " and " : " ") + written[k];
    return line;
}

}  // namespace tarvok::cli
