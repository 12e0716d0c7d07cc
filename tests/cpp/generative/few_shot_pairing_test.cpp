// Finding a stored description's model and data files beside it.
#include "generative/few_shot.hpp"

#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarvok::generative;
namespace fs = std::filesystem;

namespace {

class FewShotPairing : public tarvok::testing::ScratchFolder {};

TEST_F(FewShotPairing, TheSameStemComesFirstElseTheFirstByName) {
    for (const char* name : {"b.txt", "a.mod", "b.mod", "a.dat", "B.dat"}) write(name, "x");
    EXPECT_EQ(file_beside(root_, root_ / "b.mod", ".mod"), root_ / "b.mod");
    EXPECT_EQ(file_beside(root_, root_ / "b.dat", ".dat"), root_ / "B.dat");  // upper case sorts first
    // A folder of the same name is no file: the first by name stands in.
    fs::create_directory(root_ / "c.mod");
    EXPECT_EQ(file_beside(root_, root_ / "c.mod", ".mod"), root_ / "a.mod");
}

TEST_F(FewShotPairing, MissingFilesAndFoldersAreAbsentNotErrors) {
    EXPECT_EQ(file_beside(root_ / "none", root_ / "none" / "q.mod", ".mod"), std::nullopt);
    EXPECT_EQ(file_beside(root_, root_ / "q.mod", ".mod"), std::nullopt);
    // A link to nothing is listed but does not exist.
    fs::create_symlink(root_ / "gone.mod", root_ / "a.mod");
    EXPECT_EQ(file_beside(root_, root_ / "q.mod", ".mod"), std::nullopt);
    // Through a file, as if it were a folder; and a name no file can have.
    write("plain", "x");
    EXPECT_EQ(file_beside(root_ / "plain", root_ / "plain" / "q.mod", ".mod"), std::nullopt);
    EXPECT_EQ(file_beside(root_ / "none", fs::path(std::string("q\0.mod", 6)), ".mod"), std::nullopt);
}

TEST_F(FewShotPairing, AFolderThatCannotBeListedThrows) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    write("q.txt", "x");
    fs::permissions(root_, fs::perms::owner_write | fs::perms::owner_exec);
    EXPECT_THROW(file_beside(root_, root_ / "q.mod", ".mod"), fs::filesystem_error);
    fs::permissions(root_, fs::perms::owner_all);
}

}  // namespace
