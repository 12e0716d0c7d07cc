// `tarvok lsp [--stdio]`: the language server for .mod and .dat files, which
// an editor starts and talks to on stdin and stdout.
#include "bindings/cli/command.hpp"
#include "bindings/language_server/entries.hpp"

namespace tarvok::cli {

int run_lsp(const CommandLine&) {
    require_extra("pygls", "tarvok lsp", "lsp");
    // stdout carries the protocol from here on; messages go to stderr.
    language_server::bind::serve();
    return 0;
}

const Registration registration{"lsp", run_lsp};

}  // namespace tarvok::cli
