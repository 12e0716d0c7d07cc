#include "common/files.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace fs = std::filesystem;
using tarvok::files::append_whole;
using tarvok::files::FileError;

namespace {

using AppendWhole = tarvok::testing::ScratchFolder;

TEST_F(AppendWhole, CreatesTheFileThenKeepsWhatItHoldsAndAddsAtTheEnd) {
    fs::path log = root_ / "run.jsonl";
    append_whole(log, "first\n");
    append_whole(log, std::string(1 << 20, 'x') + "\n");
    append_whole(log, "");
    std::string held = read(log);
    EXPECT_EQ(held.substr(0, 6), "first\n");
    EXPECT_EQ(held.size(), 6u + (1u << 20) + 1u);
}

TEST_F(AppendWhole, AFileThatCannotBeOpenedIsTheSystemsErrorForItsPath) {
    fs::path missing = root_ / "no" / "run.jsonl";
    try {
        append_whole(missing, "line\n");
        ADD_FAILURE() << "appended in a folder that does not exist";
    } catch (const FileError& e) {
        EXPECT_EQ(e.error_number(), ENOENT);
        EXPECT_EQ(e.path(), missing);
    }
    fs::create_directory(root_ / "taken");
    try {
        append_whole(root_ / "taken", "line\n");
        ADD_FAILURE() << "appended to a folder";
    } catch (const FileError& e) {
        EXPECT_EQ(e.error_number(), EISDIR);
    }
}

TEST_F(AppendWhole, AnOwnedNameReplacesALinkThatAUsersPathFollows) {
    fs::path elsewhere = root_ / "elsewhere", log = root_ / "run.jsonl";
    fs::create_symlink(elsewhere, log);
    append_whole(log, "user's\n");
    EXPECT_EQ(read(elsewhere), "user's\n");
    append_whole(log, "owned\n", tarvok::files::Existing::Replace);
    EXPECT_FALSE(fs::is_symlink(log));
    EXPECT_EQ(read(log), "owned\n");
    EXPECT_EQ(read(elsewhere), "user's\n");
}

}  // namespace
