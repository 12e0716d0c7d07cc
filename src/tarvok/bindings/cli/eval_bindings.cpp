// `tarvok eval [DATASET] --out DIR ...`: answer accuracy on a benchmark set.
// The arguments and the run belong to tarvok.evaluation, as `check` belongs
// to the compiler.
#include "bindings/cli/command.hpp"
#include "bindings/evaluation/entries.hpp"

namespace tarvok::cli {

void add_eval(py::object commands) {
    py::object eval =
        add_command(commands, "eval", "measure answer accuracy on a benchmark set of word problems", providers_help());
    evaluation::bind::add_arguments(eval);
}

int run_eval(py::object args) { return evaluation::bind::run_command(args); }

const Registration registration{"eval", run_eval, add_eval};

}  // namespace tarvok::cli
