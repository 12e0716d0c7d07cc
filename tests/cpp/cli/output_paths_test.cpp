#include "cli/output_paths.hpp"
#include "cli/command_options.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace tarvok::cli;
namespace fs = std::filesystem;

namespace {

class OutputPaths : public tarvok::testing::ScratchFolder {
  protected:
    GivenPath given(const std::string& name) const { return {root_ / name, name}; }

    /// The message of the refusal `body` makes, or "" when it refuses nothing.
    template <typename Body>
    std::string refusal(Body body) {
        try {
            body();
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.status, tarvok::ExitStatus::Usage);
            return failure.message;
        }
        return "";
    }
};

}  // namespace

TEST_F(OutputPaths, AnOutputMayNotFallOnAnInputHoweverItIsSpelled) {
    write("plan.mod", "model");
    fs::create_directories(root_ / "sub");
    EXPECT_EQ(refusal([&] {
                  refuse_output_over({root_ / "sub" / ".." / "plan.mod", "x"}, {given("plan.mod")}, "--write");
              }),
              "--write x is the same file as plan.mod; choose another path");
    fs::create_hard_link(root_ / "plan.mod", root_ / "again.mod");
    EXPECT_NE(refusal([&] { refuse_output_over(given("again.mod"), {given("plan.mod")}, "the script"); }), "");
    EXPECT_EQ(refusal([&] { refuse_output_over(given("other.mod"), {given("plan.mod")}, "the script"); }), "");
}

TEST_F(OutputPaths, AnAlternativesFilesMayNotFallOnTheCommandsOtherFiles) {
    auto path_of = [&](const std::string& text) { return root_ / text; };
    AlternativeOutputs outputs{given("plan.mod"), given("plan.dat"), std::nullopt, given("plan.alt2.dat"), 2};
    write("plan.alt2.dat", "a script's place");
    EXPECT_EQ(refusal([&] { refuse_alternatives_over(outputs, path_of); }),
              "the alternative plan.alt2.dat is the same file as plan.alt2.dat; choose another path");
    outputs.what_if_max = 1;  // the second alternative is never written
    EXPECT_EQ(refusal([&] { refuse_alternatives_over(outputs, path_of); }), "");
    fs::create_symlink(root_ / "plan.mod", root_ / "plan.alt1.mod");
    EXPECT_EQ(refusal([&] { refuse_alternatives_over(outputs, path_of); }),
              "the alternative plan.alt1.mod is the same file as plan.mod; choose another path");
    // Alternatives are new files: anything at their names, a link to elsewhere too, is refused.
    fs::remove(root_ / "plan.alt1.mod");
    for (const char* taken : {"plan.alt1.mod", "plan.alt1.dat"}) {
        fs::create_symlink(root_ / "elsewhere", root_ / taken);
        EXPECT_EQ(refusal([&] { refuse_alternatives_over(outputs, path_of); }),
                  "the alternative " + std::string(taken) +
                      " exists; alternatives are written only as new files: move it away");
        fs::remove(root_ / taken);
    }
}
