// `tarvok eval [DATASET] --out DIR ...`: answer accuracy on a benchmark set.
// The arguments and the run belong to tarvok.evaluation, as `check` belongs
// to the compiler.
#include "bindings/cli/command.hpp"

namespace tarvok::cli {

namespace {

py::module_ evaluation() { return py::module_::import("tarvok.evaluation"); }

}  // namespace

void add_eval(py::object commands) {
    py::object eval =
        add_command(commands, "eval", "measure answer accuracy on a benchmark set of word problems", providers_help());
    evaluation().attr("_add_arguments")(eval);
}

int run_eval(py::object args) {
    py::object status = evaluation().attr("_run_command")(args);
    return status.cast<int>();
}

const Registration registration{"eval", run_eval, add_eval};

}  // namespace tarvok::cli
