// libFuzzer entry for the compiler core. An input is a model text, then
// optionally "\n%%\n" and a data text. Besides crashes, hangs and leaks (the
// sanitizers), it checks what callers rely on: a compilation either succeeds
// with no report or fails with one, every report is valid UTF-8, every
// diagnostic points inside its text with a code of the table and a message
// of bounded length, and no input takes more than a second (the time oracle).
#include "common/utf8.hpp"
#include "compiler/compiler.hpp"
#include "oracle.hpp"

#include <cstdint>
#include <string_view>

using namespace tarvok::compiler;
using namespace tarvok::fuzz;

namespace {

void check_diagnostic(const Diagnostic& d, std::string_view model, std::string_view data) {
    std::string_view text = d.at.file == SourceFile::Model ? model : data;
    check(d.at.offset <= text.size(), "a diagnostic points past its text");
    check(d.at.line >= 1 && d.at.column >= 1, "a diagnostic has no place");
    check(!d.message.empty(), "an empty message");
    check(d.message.size() <= 1000, "a message longer than 1000 bytes");
    check(static_cast<size_t>(d.code) < diagnostic_codes().size(), "a code outside the table");
    Position end = end_position(d, text);
    check(end.line > d.at.line || (end.line == d.at.line && end.column >= d.at.column), "a span that ends first");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    auto [model, data] = split_input(bytes, size);

    // The shipped limits, with the step budgets cut for this build.
    CompileOptions options;
    cut_step_budgets(options);
    TimeOracle time;
    auto c = compile(model, data, options);
    std::string report = c->report();
    time.check(size, "an input took more than a second");

    check(c->ok() == report.empty(), "a report without errors, or errors without a report");
    check(tarvok::utf8::is_valid(report), "a report that is not UTF-8");
    for (const Diagnostic& d : c->diagnostics.items()) check_diagnostic(d, model, data);
    for (const Diagnostic& d : c->diagnostics.warnings()) check_diagnostic(d, model, data);
    check(tarvok::utf8::is_valid(render_for_files(c->diagnostics, model, data, {})), "a file report not UTF-8");
    return 0;
}
