#include "cli/command_options.hpp"
#include "emitter/emission.hpp"
#include "scipy_emitter/program_script.hpp"
#include "scratch_folder.hpp"
#include "solver/mps.hpp"
#include "web/api.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

using namespace tarvok::emitter;
namespace solver = tarvok::solver;
using tarvok::json::Value;

namespace {

/// A target added from outside targets.cpp, as a new one would be: its
/// numbers go beside its text once the program has more than one column.
class FakeEmitter final : public Emitter {
  public:
    FakeEmitter() : Emitter("fake", ".fk", "a fake script") {}
    Emitted emit(const solver::Program& program) const override {
        Emitted out{"columns " + std::to_string(program.columns()) + "\n", {}};
        if (program.columns() > 1) out.arrays.push_back({"c", std::vector<double>(program.cost)});
        return out;
    }
};
const FakeEmitter kFake;
const OutputRegistration kFakeEntry{Output::of(kFake, "text/x-fake")};

solver::CompiledModel compiled(const char* model, const char* data = "") {
    return {solver::compile_texts(model, data, {}, {}, nullptr), {}};
}

Means means(std::filesystem::path scratch = {}, bool inline_only = false) {
    Means m;
    m.watch = [](const auto& expand) { return expand(nullptr); };
    m.scratch = std::move(scratch);
    m.inline_only = inline_only;
    return m;
}

constexpr const char* kTwoColumns = "dvar int+ x; dvar int+ y; maximize 2*x + y; subject to { cap: x + y <= 3; }";

}  // namespace

TEST(Outputs, EveryEntryHasOneNameADottedSuffixAMediaTypeAndAHelpLine) {
    std::set<std::string_view> names;
    for (const Output& o : outputs()) {
        EXPECT_TRUE(names.insert(o.name).second) << o.name;
        EXPECT_EQ(find_output(o.name), &o);
        ASSERT_FALSE(o.suffix.empty());
        EXPECT_EQ(o.suffix.front(), '.');
        EXPECT_FALSE(o.media_type.empty());
        EXPECT_FALSE(o.summary.empty());
    }
    EXPECT_EQ(default_output().name, "scipy");
    EXPECT_EQ(find_output("SciPy"), nullptr);  // names are exact
    std::vector<std::string_view> scripts;
    for (const Emitter* t : targets()) scripts.push_back(t->name);
    EXPECT_EQ(scripts, (std::vector<std::string_view>{"scipy", "fake"}));  // model files are no script targets
    EXPECT_EQ(find_target("mps"), nullptr);
}

TEST(Outputs, ANewEntryReachesEveryFrontEndsChoices) {
    // tarvok emit --to: its help and its check.
    auto emit = tarvok::cli::options_of("emit", {});
    ASSERT_TRUE(emit);
    bool listed = false;
    for (const auto& option : emit->options)
        if (option.flags.front() == "--to") listed = option.help.find("fake (a fake script)") != std::string::npos;
    EXPECT_TRUE(listed);
    EXPECT_FALSE(tarvok::cli::refused_target("fake"));
    EXPECT_EQ(*tarvok::cli::refused_target("mps"), "unknown target 'mps' (choose scipy, fake)");
    // The page's /api/emit: the format it takes and the file it answers with.
    namespace web = tarvok::web;
    const web::Endpoint& endpoint = *web::endpoint_at("/api/emit");
    web::Parsed parsed =
        web::parse_request(endpoint, Value::object({{"model", Value::of("m")}, {"format", Value::of("fake")}}));
    ASSERT_TRUE(parsed.request) << parsed.error;
    const Output& chosen = *std::get<web::EmitRequest>(*parsed.request).output;
    EXPECT_EQ(chosen.name, "fake");
    Value answer = web::emitted(chosen);
    EXPECT_EQ(answer.find("file_name")->text(), "model.fk");
    EXPECT_EQ(answer.find("media_type")->text(), "text/x-fake");
    std::string error =
        web::parse_request(endpoint, Value::object({{"model", Value::of("m")}, {"format", Value::of("x")}})).error;
    EXPECT_EQ(error, "'format' must be one of 'scipy', 'mps', 'lp', 'fake'");
}

class Emission_ : public tarvok::testing::ScratchFolder {};

TEST_F(Emission_, MakesEachOutputFromTheOneProgram) {
    solver::CompiledModel c = compiled(kTwoColumns);
    Emission script = emit(c, "scipy", means());
    ASSERT_FALSE(script.refusal);
    std::string failure;
    std::shared_ptr<solver::Program> p = c.program(means().watch, failure);  // kept: the same program
    namespace se = tarvok::scipy_emitter;
    EXPECT_EQ(script.made.text, se::script_text(se::render_script(se::program_script_input(*p))));
    EXPECT_TRUE(script.made.arrays.empty());

    Emission mps = emit(c, "mps", means(root_));
    ASSERT_FALSE(mps.refusal);
    EXPECT_EQ(mps.made.text, solver::mps_text(*p));  // written whole and read back as it is

    // The .lp file is the solver library's: a writer that fails leaves no file and says so.
    Means failing = means(root_);
    failing.write_lp = [](const auto&, const auto&, const auto&, const auto&) { return false; };
    Emission lp = emit(c, "lp", failing);
    ASSERT_TRUE(lp.refusal);
    EXPECT_EQ(lp.refusal->kind, Refusal::Kind::WriteFailed);
    EXPECT_EQ(lp.refusal->error_number, EIO);
    EXPECT_FALSE(std::filesystem::exists(root_ / "model.lp"));
}

TEST_F(Emission_, RefusesWithWhatEachFrontEndWords) {
    solver::CompiledModel broken_pair = compiled("dvar float x; minimize y;");
    Emission broken = emit(broken_pair, "scipy", means());
    ASSERT_TRUE(broken.refusal);
    EXPECT_EQ(broken.refusal->kind, Refusal::Kind::DoesNotCompile);
    EXPECT_EQ(broken.refusal->message, broken_pair.source().compilation->report());
    ASSERT_EQ(broken.refusal->diagnostics.kind(), Value::Kind::Array);
    EXPECT_FALSE(broken.refusal->diagnostics.items().empty());

    solver::CompiledModel c = compiled(kTwoColumns);
    EXPECT_FALSE(emit(c, "fake", means()).refusal);  // arrays beside the text are fine for a file
    Emission inline_only = emit(c, "fake", means({}, true));
    ASSERT_TRUE(inline_only.refusal);
    EXPECT_EQ(inline_only.refusal->kind, Refusal::Kind::TooLarge);

    Emission unknown = emit(c, "pdf", means());
    ASSERT_TRUE(unknown.refusal);
    EXPECT_EQ(unknown.refusal->message, "unknown output 'pdf' (choose scipy, mps, lp, fake)");
}
