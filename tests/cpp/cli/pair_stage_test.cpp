#include "cli/pair_stage.hpp"
#include "cli/command_options.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvok::cli;
using namespace tarvok::files;

namespace {

class Placement : public tarvok::testing::ScratchFolder {
  protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        fs::create_directories(root_ / ".tarvok-stage");
        staged_ = {root_ / ".tarvok-stage" / "plan.mod", root_ / ".tarvok-stage" / "plan.dat"};
        target_ = {root_ / "plan.mod", root_ / "plan.dat"};
    }

    Pair staged_, target_;
};

}  // namespace

namespace {

/// Warnings kept.
struct Warnings {
    std::vector<std::string> lines;
    Output out{[](const std::string&) {}, [this](const std::string& text) { lines.push_back(text); }};
};

std::size_t stage_folders(const fs::path& folder) {
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        n += entry.path().filename().string().starts_with(".tarvok-") ? 1 : 0;
    return n;
}

}  // namespace

TEST_F(Placement, AStageSharesOneFolderPerTargetFolderAndGoesWithIt) {
    fs::path folder;
    {
        Warnings out;
        PairStage together(target_, out.out);
        EXPECT_EQ(stage_folders(root_), 2u);  // this stage's and the fixture's
        folder = together.staged().model.parent_path();
        EXPECT_EQ(together.staged().data, folder / "plan.dat");
        write(together.staged().model, "new model");
        write(together.staged().data, "new data");
        together.place();
        EXPECT_EQ(read(target_.data), "new data");
        EXPECT_EQ(together.targets_text(), target_.model.string() + " and " + target_.data.string());
    }
    EXPECT_FALSE(fs::exists(folder));
    Warnings out;
    PairStage apart({target_.model, root_ / "data" / "plan.dat"}, out.out);
    EXPECT_EQ(stage_folders(root_) + stage_folders(root_ / "data"), 3u);
    EXPECT_EQ(apart.staged().data.parent_path().parent_path(), root_ / "data");
}

TEST_F(Placement, AStageRefusesFoldersFinishesHalfMovesAndKeepsFailures) {
    fs::create_directories(target_.data);
    try {
        Warnings out;
        PairStage refused(target_, out.out);
        ADD_FAILURE() << "a folder as the data target was taken";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.status, tarvok::ExitStatus::Usage);
        EXPECT_EQ(failure.message, target_.data.string() + " is a folder");
    }
    fs::remove(target_.data);
    write(staged_.model, "half-moved model");
    write(journal_path(target_.model), journal_text(staged_, target_));
    Warnings out;
    PairStage stage(target_, out.out);
    ASSERT_EQ(out.lines.size(), 1u);
    EXPECT_EQ(out.lines[0].rfind("tarvok: finished moving the pair", 0), 0u);
    EXPECT_EQ(read(target_.model), "half-moved model");
    write(stage.staged().model, "broken");
    Pair kept = stage.keep_failed();
    EXPECT_EQ(stage.kept_text(kept), with_suffix(target_.model, ".failed").string());
    EXPECT_EQ(stage.kept_text({}), "");
}

TEST_F(Placement, AStagingFolderThatCannotBeMadeIsRefusedAndLeavesNoneBehind) {
    write("file", "not a folder");
    Warnings out;
    try {
        PairStage stage({target_.model, root_ / "file" / "plan.dat"}, out.out);
        ADD_FAILURE() << "a stage under a file was made";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.status, tarvok::ExitStatus::Usage);
        EXPECT_EQ(failure.message.rfind("cannot write in " + (root_ / "file").string() + ": [Errno 17] File exists", 0),
                  0u)
            << failure.message;
    }
    EXPECT_EQ(stage_folders(root_), 1u);                        // the fixture's alone: the model's stage went again
    EXPECT_EQ(shown_path("a/\xff.mod"), "a/\xed\xb3\xbf.mod");  // U+DCFF, as the host names the byte
}
