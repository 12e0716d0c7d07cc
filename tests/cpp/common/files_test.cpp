#include "common/files.hpp"

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

class Folder : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("generative_files_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path write(const std::string& rel, const std::string& bytes) {
        fs::path p = root_ / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::string> names(const fs::path& folder) const {
        std::vector<std::string> out;
        for (auto& entry : fs::directory_iterator(folder)) out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path root_;
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
