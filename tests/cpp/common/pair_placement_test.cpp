#include "common/pair_placement.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <unistd.h>
#include <string>
#include <vector>

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

TEST_F(Placement, MovesBothFilesOverTheOldPairAndLeavesNoJournal) {
    write(target_.model, "old model");
    write(target_.data, "old data");
    write(staged_.model, "new model");
    write(staged_.data, "new data");
    EXPECT_FALSE(place_pair(staged_, target_));
    EXPECT_EQ(read(target_.model), "new model");
    EXPECT_EQ(read(target_.data), "new data");
    EXPECT_FALSE(fs::exists(journal_path(target_.model)));
    EXPECT_FALSE(fs::exists(staged_.model));
}

TEST_F(Placement, AFailureBeforeTheFirstRenameChangesNothing) {
    write(target_.model, "old model");
    write(target_.data, "old data");
    write(staged_.model, "new model");  // the staged data is missing
    EXPECT_TRUE(place_pair(staged_, target_));
    EXPECT_EQ(read(target_.model), "old model");
    EXPECT_EQ(read(target_.data), "old data");
    EXPECT_FALSE(fs::exists(journal_path(target_.model)));
}

TEST_F(Placement, AMoveStoppedBetweenTheRenamesIsFinishedFromItsJournal) {
    write(target_.model, "old model");
    write(target_.data, "old data");
    write(staged_.model, "new model");
    write(staged_.data, "new data");
    // What a crash after step 2 leaves behind.
    write(journal_path(target_.model), journal_text(staged_, target_));
    fs::rename(staged_.data, target_.data);

    std::string why;
    EXPECT_EQ(finish_pending(target_, why), Pending::Finished);
    EXPECT_EQ(read(target_.model), "new model");
    EXPECT_EQ(read(target_.data), "new data");
    EXPECT_FALSE(fs::exists(journal_path(target_.model)));
    EXPECT_FALSE(fs::exists(root_ / ".tarvok-stage"));  // the emptied staging folder goes too
    EXPECT_EQ(finish_pending(target_, why), Pending::None);
}

TEST_F(Placement, AForeignFileWhereTheJournalGoesIsNotActedOn) {
    write(journal_path(target_.model), "model=/etc/passwd\n");
    std::string why;
    EXPECT_EQ(finish_pending(target_, why), Pending::Unreadable);
    EXPECT_TRUE(fs::exists(journal_path(target_.model)));
}

TEST_F(Placement, APlantedJournalMovesNothingButItsOwnPairsStagedFiles) {
    fs::path victim = write("home/.bashrc", "the user's own"), bait = write("bait/plan.dat", "planted");
    write(target_.model, "old model");
    write(target_.data, "old data");
    fs::create_directories(root_ / "store");
    fs::create_directories(root_ / "elsewhere" / ".tarvok-x");
    fs::create_directory_symlink(root_ / "elsewhere" / ".tarvok-x", root_ / ".tarvok-linked");
    fs::create_symlink(bait, staged_.data);
    write(root_ / "store" / "plan.mod", "planted");
    const fs::path dots = root_ / ".tarvok-stage" / ".." / ".tarvok-stage" / "plan.mod";
    const std::pair<Pair, Pair> planted[] = {
        {{bait, bait}, {victim, victim}},                                   // another pair altogether
        {{bait, staged_.data}, {target_.model, victim}},                    // the right model, another data
        {{root_ / "store" / "plan.mod", bait}, target_},                    // no staging folder of ours
        {{dots, staged_.model}, target_},                                   // '..'
        {{root_ / ".tarvok-linked" / "plan.mod", staged_.model}, target_},  // a linked staging folder
        {{staged_.model, staged_.data}, target_},                           // a staged file that is a link
    };
    for (const auto& [staged, recorded] : planted) {
        write(journal_path(target_.model), journal_text(staged, recorded));
        std::string why;
        EXPECT_EQ(finish_pending(target_, why), Pending::Refused) << staged.model << " " << recorded.model;
        EXPECT_NE(why, "");
    }
    fs::remove(journal_path(target_.model));
    fs::create_symlink(victim, journal_path(target_.model));  // a journal that is a link is none
    std::string why;
    EXPECT_EQ(finish_pending(target_, why), Pending::Refused);
    EXPECT_EQ(read(victim), "the user's own");
    EXPECT_EQ(read(bait), "planted");
    EXPECT_EQ(read(target_.model), "old model");
    EXPECT_EQ(read(target_.data), "old data");
    if (::geteuid() == 0) {  // another's journal, as only root can make one here
        fs::remove(journal_path(target_.model));
        fs::remove(staged_.data);
        write(journal_path(target_.model), journal_text(staged_, target_));
        ASSERT_EQ(::chown(journal_path(target_.model).c_str(), 65534, 65534), 0);
        EXPECT_EQ(finish_pending(target_, why), Pending::Refused);
        EXPECT_EQ(read(target_.model), "old model");
    }
}

TEST_F(Placement, TheJournalIsWrittenInPlaceOfWhatWasPlantedAtItsName) {
    fs::path victim = write("victim", "the user's own");
    fs::create_symlink(victim, journal_path(target_.model));
    fs::create_symlink(victim, with_suffix(journal_path(target_.model), ".tmp"));
    write(staged_.model, "new model");
    write(staged_.data, "new data");
    EXPECT_FALSE(place_pair(staged_, target_));
    EXPECT_EQ(read(target_.model), "new model");
    EXPECT_EQ(read(victim), "the user's own");
    EXPECT_FALSE(fs::exists(fs::symlink_status(journal_path(target_.model))));
}

TEST(Journal, PathsWithLineBreaksAndBackslashesSurvive) {
    Pair staged{"/tmp/a\nb/x.mod", "/tmp/c\\n/x.dat"}, target{"/t/m\\.mod", "/t/d\n\n.dat"};
    auto parsed = parse_journal(journal_text(staged, target));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->first.model, staged.model);
    EXPECT_EQ(parsed->first.data, staged.data);
    EXPECT_EQ(parsed->second.model, target.model);
    EXPECT_EQ(parsed->second.data, target.data);
    std::string text = journal_text(staged, target);
    EXPECT_FALSE(parse_journal(text.substr(0, text.rfind("data="))));                 // a line missing
    EXPECT_FALSE(parse_journal("staged model=a\nstaged data=b\nmodel=c\ndata=d\n"));  // no first line
}

TEST_F(Placement, AFailedAttemptIsKeptBesideItsTargets) {
    write(target_.model, "good model");
    write(staged_.model, "broken model");
    write(with_suffix(target_.model, ".failed"), "older attempt");
    std::error_code error;
    Pair kept = keep_failed(staged_, target_, error);
    EXPECT_FALSE(error);
    EXPECT_EQ(kept.model, root_ / "plan.mod.failed");
    EXPECT_TRUE(kept.data.empty());  // never written
    EXPECT_EQ(read(kept.model), "broken model");
    EXPECT_EQ(read(target_.model), "good model");
}

TEST_F(Placement, BackUpCopiesWhatExistsAndSaysWhatFailed) {
    write(target_.model, "old model");
    write(with_suffix(target_.model, ".bak"), "older copy");
    std::string error;
    Pair copies = back_up(target_, error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(read(copies.model), "old model");  // the older copy replaced
    EXPECT_TRUE(copies.data.empty());            // no data file to keep
    EXPECT_EQ(read(target_.model), "old model");
    // A link at a backup's name is replaced, never written through.
    fs::path victim = write("victim", "the user's own");
    fs::remove(with_suffix(target_.model, ".bak"));
    fs::create_symlink(victim, with_suffix(target_.model, ".bak"));
    write(target_.data, "old data");
    copies = back_up(target_, error);
    EXPECT_EQ(error, "");
    EXPECT_FALSE(fs::is_symlink(copies.model));
    EXPECT_EQ(read(copies.model), "old model");
    EXPECT_EQ(read(copies.data), "old data");
    EXPECT_EQ(read(victim), "the user's own");
    fs::remove(with_suffix(target_.model, ".bak"));
    fs::create_directories(with_suffix(target_.model, ".bak") / "in the way");
    copies = back_up(target_, error);
    EXPECT_EQ(error.rfind("cannot back up " + target_.model.string() + ": ", 0), 0u) << error;
    EXPECT_TRUE(copies.model.empty());
    EXPECT_EQ(read(with_suffix(target_.data, ".bak")), "old data");  // neither or both: the older copy stays
}

TEST_F(Placement, ATargetMustBeAFileThatCanBeWritten) {
    EXPECT_EQ(unwritable_target(target_.model, "plan.mod"), std::nullopt);  // not there yet
    write(target_.model, "old model");
    EXPECT_EQ(unwritable_target(target_.model, "plan.mod"), std::nullopt);
    fs::create_directories(root_ / "plan.dat");
    EXPECT_EQ(unwritable_target(root_ / "plan.dat", "plan.dat"), "plan.dat is a folder");
    // A link to nothing cannot be written through.
    fs::create_symlink(root_ / "nowhere" / "x", root_ / "dangling.mod");
    EXPECT_EQ(unwritable_target(root_ / "dangling.mod", "d.mod"), "d.mod is not writable");
}
