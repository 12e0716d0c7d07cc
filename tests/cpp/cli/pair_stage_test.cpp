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

/// A stage whose host hooks are plain: paths shown as they are, warnings kept.
class PlainStage : public PairStage {
  public:
    explicit PlainStage(Pair target) : PairStage(std::move(target)) { stage(); }
    std::vector<std::string> warnings;
    int folders_made = 0;

  private:
    std::string shown(const fs::path& path) const override { return path.string(); }
    void warn(const std::string& line) override { warnings.push_back(line); }
    fs::path make_folder(const fs::path& parent) override {
        fs::path folder = parent / (".tarvok-" + std::to_string(++folders_made));
        fs::create_directories(folder);
        return folder;
    }
};

}  // namespace

TEST_F(Placement, AStageSharesOneFolderPerTargetFolderAndGoesWithIt) {
    fs::path folder;
    {
        PlainStage together(target_);
        EXPECT_EQ(together.folders_made, 1);
        folder = together.staged().model.parent_path();
        EXPECT_EQ(together.staged().data, folder / "plan.dat");
        write(together.staged().model, "new model");
        write(together.staged().data, "new data");
        together.place();
        EXPECT_EQ(read(target_.data), "new data");
        EXPECT_EQ(together.targets_text(), target_.model.string() + " and " + target_.data.string());
    }
    EXPECT_FALSE(fs::exists(folder));
    PlainStage apart({target_.model, root_ / "data" / "plan.dat"});
    EXPECT_EQ(apart.folders_made, 2);
    EXPECT_EQ(apart.staged().data.parent_path().parent_path(), root_ / "data");
}

TEST_F(Placement, AStageRefusesFoldersFinishesHalfMovesAndKeepsFailures) {
    fs::create_directories(target_.data);
    try {
        PlainStage refused(target_);
        ADD_FAILURE() << "a folder as the data target was taken";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.status, tarvok::ExitStatus::Usage);
        EXPECT_EQ(failure.message, target_.data.string() + " is a folder");
    }
    fs::remove(target_.data);
    write(staged_.model, "half-moved model");
    write(journal_path(target_.model), journal_text(staged_, target_));
    PlainStage stage(target_);
    ASSERT_EQ(stage.warnings.size(), 1u);
    EXPECT_EQ(stage.warnings[0].rfind("tarvok: finished moving the pair", 0), 0u);
    EXPECT_EQ(read(target_.model), "half-moved model");
    write(stage.staged().model, "broken");
    Pair kept = stage.keep_failed();
    EXPECT_EQ(stage.kept_text(kept), with_suffix(target_.model, ".failed").string());
    EXPECT_EQ(stage.kept_text({}), "");
}
