#include "common/files.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tarvok::files;

namespace {

class Folder : public tarvok::testing::ScratchFolder {
  protected:
    std::vector<std::string> names(const fs::path& folder) const {
        std::vector<std::string> out;
        for (auto& entry : fs::directory_iterator(folder)) out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

}  // namespace

using Replace = Folder;

TEST_F(Replace, BothFilesGetTheirBytesAndKeepTheirPermissions) {
    fs::path model = write("m.mod", "old model"), data = root_ / "new" / "d.dat";
    fs::create_directories(data.parent_path());
    ::chmod(model.c_str(), 0640);
    std::string big(3 << 20, 'x');
    FileContent files[] = {{model, "new model"}, {data, big}};
    replace_files(files);
    EXPECT_EQ(read(model), "new model");
    EXPECT_EQ(read(data), big);
    struct stat st {};
    ASSERT_EQ(::stat(model.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(names(root_), (std::vector<std::string>{"m.mod", "new"}));  // no temporaries left
}

TEST_F(Replace, AFailureOnTheSecondFileLeavesTheFirstAsItWas) {
    fs::path model = write("m.mod", "iteration 1 model"), data = root_ / "missing" / "d.dat";
    FileContent files[] = {{model, "iteration 2 model"}, {data, "data"}};
    try {
        replace_files(files);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.error_number(), ENOENT);
        EXPECT_EQ(e.path(), data);  // the caller's name, not the temporary's
    }
    EXPECT_EQ(read(model), "iteration 1 model");
    EXPECT_EQ(names(root_), std::vector<std::string>{"m.mod"});
}

TEST_F(Replace, ALinkStaysALinkAndItsFileIsReplaced) {
    fs::path real = write("store/real.mod", "old");
    fs::path link = root_ / "link.mod";
    fs::create_symlink("store/real.mod", link);
    FileContent files[] = {{link, "new"}};
    replace_files(files);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read(real), "new");
    EXPECT_EQ(follow_links(link), root_ / "store/real.mod");
}

TEST_F(Replace, AFolderIsNoFileToWrite) {
    fs::create_directories(root_ / "dir.mod");
    FileContent files[] = {{root_ / "dir.mod", "x"}};
    try {
        replace_files(files);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.error_number(), EISDIR);
    }
}

using SameFile = Folder;

TEST_F(SameFile, SpellingsLinksAndHardLinksOfOneFile) {
    fs::path x = write("sub/x.txt", "x");
    fs::create_symlink("sub/x.txt", root_ / "soft.txt");
    fs::create_hard_link(x, root_ / "hard.txt");
    EXPECT_TRUE(same_file(x, root_ / "sub" / ".." / "sub" / "./x.txt"));
    EXPECT_TRUE(same_file(x, root_ / "soft.txt"));
    EXPECT_TRUE(same_file(root_ / "hard.txt", x));
    EXPECT_FALSE(same_file(x, root_ / "sub" / "y.txt"));
    // Neither exists yet: the paths decide.
    EXPECT_TRUE(same_file(root_ / "new" / "a.mod", root_ / "new" / ".." / "new" / "a.mod"));
    EXPECT_FALSE(same_file(root_ / "new" / "a.mod", root_ / "new" / "a.dat"));
    // A link to a file not written yet writes that file.
    fs::create_symlink("later.dat", root_ / "pending.dat");
    EXPECT_TRUE(same_file(root_ / "pending.dat", root_ / "later.dat"));
}

using AtomicFile = tarvok::testing::ScratchFolder;

TEST_F(AtomicFile, ReplacesWholeAndKeepsPermissions) {
    fs::path folder = root_;
    fs::path target = folder / "model.py";
    write_file_atomically(target.string(), "first\n");
    EXPECT_EQ(read(target), "first\n");
    ::chmod(target.c_str(), 0750);
    write_file_atomically(target.string(), std::string(1 << 20, 'x'));
    EXPECT_EQ(read(target).size(), 1u << 20);
    struct stat info;
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0750u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);  // no temporary left
}

TEST_F(AtomicFile, FailuresLeaveNothingBehind) {
    fs::path folder = root_;
    EXPECT_THROW(write_file_atomically((folder / "missing" / "model.py").string(), "x"), std::system_error);
    fs::create_directory(folder / "taken.py");
    try {
        write_file_atomically((folder / "taken.py").string(), "x");
        ADD_FAILURE() << "wrote over a folder";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EISDIR);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}
