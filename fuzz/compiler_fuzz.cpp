// libFuzzer entry for the compiler core. An input is a model text, then
// optionally "\n%%\n" and a data text. Besides crashes, hangs and leaks (the
// sanitizers), it checks what callers rely on: a compilation either succeeds
// with no report or fails with one, every report is valid UTF-8, and every
// diagnostic points inside its text.
#include "common/utf8.hpp"
#include "compiler/compiler.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tarvok::compiler;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(bytes), size);
    size_t cut = input.find("\n%%\n");
    std::string_view model = input.substr(0, cut);
    std::string_view data = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 4);

    CompileOptions options;  // smaller budgets keep each run fast; the limits are the shipped ones
    options.data_steps = 200'000;
    options.steps_per_declaration = 50'000;
    options.check_steps = 200'000;
    auto c = compile(model, data, options);

    std::string report = c->report();
    check(c->ok() == report.empty());
    check(tarvok::utf8::is_valid(report));
    for (const Diagnostic& d : c->diagnostics.items()) {
        std::string_view text = d.at.file == SourceFile::Model ? model : data;
        check(d.at.offset <= text.size());
        check(d.at.line >= 1 && d.at.column >= 1);
        check(!d.message.empty());
    }
    return 0;
}
