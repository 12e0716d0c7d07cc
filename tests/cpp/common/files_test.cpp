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

TEST_F(Replace, ThePackagesOwnNamesReplaceALinkAndNewFilesTakeNothing) {
    fs::path victim = write("victim", "the user's own");
    fs::create_symlink(victim, root_ / "plan.mod.bak");
    FileContent backup[] = {{root_ / "plan.mod.bak", "copy", Existing::Replace}};
    replace_files(backup);
    EXPECT_FALSE(fs::is_symlink(root_ / "plan.mod.bak"));
    EXPECT_EQ(read(root_ / "plan.mod.bak"), "copy");
    EXPECT_EQ(read(victim), "the user's own");

    auto refused = [&](std::span<const FileContent> files) {
        try {
            replace_files(files);
        } catch (const FileError& e) {
            return e.error_number();
        }
        return 0;
    };
    fs::create_symlink(victim, root_ / "p.alt1.mod");
    write("p.alt2.mod", "kept");
    for (const char* taken : {"p.alt1.mod", "p.alt2.mod"}) {
        FileContent fresh[] = {{root_ / taken, "new", Existing::Refuse}};
        EXPECT_EQ(refused(fresh), EEXIST) << taken;
    }
    EXPECT_EQ(read(victim), "the user's own");
    EXPECT_EQ(read(root_ / "p.alt2.mod"), "kept");
    // A new file already in place goes again when a later one cannot be renamed.
    fs::create_directories(root_ / "p.alt3.dat" / "in the way");
    FileContent pair[] = {{root_ / "p.alt3.mod", "m", Existing::Refuse},
                          {root_ / "p.alt3.dat", "d", Existing::Replace}};
    EXPECT_NE(refused(pair), 0);
    EXPECT_FALSE(fs::exists(root_ / "p.alt3.mod"));
    FileContent good[] = {{root_ / "p.alt4.mod", "m", Existing::Refuse}, {root_ / "p.alt4.dat", "d", Existing::Refuse}};
    EXPECT_EQ(refused(good), 0);
    EXPECT_EQ(read(root_ / "p.alt4.dat"), "d");
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
    EXPECT_THROW(write_file_atomically((folder / "missing" / "model.py").string(), "x"), FileError);
    fs::create_directory(folder / "taken.py");
    try {
        write_file_atomically((folder / "taken.py").string(), "x");
        ADD_FAILURE() << "wrote over a folder";
    } catch (const FileError& e) {
        EXPECT_EQ(e.error_number(), EISDIR);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

using WrittenByPath = Folder;

/// What a library that writes by path does: fopen, fputs, fclose, ignoring every error.
void library_writes(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

TEST_F(WrittenByPath, ACompleteFileReplacesTheTargetThroughItsLink) {
    fs::path target = write("store/plan.lp", "old\nend\n");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("store/plan.lp", root_ / "plan.lp");
    {
        FileWrittenByPath out(root_ / "plan.lp");
        EXPECT_EQ(out.path().parent_path(), root_ / "store");  // beside the file it really is
        EXPECT_EQ(out.path().extension(), ".lp");              // the writer picks its format by it
        library_writes(out.path(), "max\n obj: x\nend\n");
        EXPECT_EQ(read(target), "old\nend\n");  // untouched until the commit
        out.commit("end\n");
    }
    EXPECT_EQ(read(target), "max\n obj: x\nend\n");
    EXPECT_TRUE(fs::is_symlink(root_ / "plan.lp"));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(names(root_ / "store"), (std::vector<std::string>{"plan.lp"}));
}

TEST_F(WrittenByPath, AShortEmptyOrAbandonedFileLeavesTheTargetAsItWas) {
    fs::path target = write("plan.mps", "NAME\nENDATA\n");
    for (std::string written : {std::string("NAME\nROWS\n N  obj"), std::string()}) {
        FileWrittenByPath out(target);
        library_writes(out.path(), written);
        try {
            out.commit("ENDATA\n");
            ADD_FAILURE() << "a short file was committed";
        } catch (const FileError& e) {
            EXPECT_TRUE(e.error_number() == EIO || e.error_number() == ENOSPC) << e.error_number();
            EXPECT_EQ(e.path(), target);
        }
    }
    {
        FileWrittenByPath abandoned(target);  // the writer failed: no commit
        library_writes(abandoned.path(), "NAME\n");
    }
    EXPECT_EQ(read(target), "NAME\nENDATA\n");
    EXPECT_EQ(names(root_), (std::vector<std::string>{"plan.mps"}));
}

TEST_F(WrittenByPath, FoldersThatCannotTakeTheFileAreRefusedAtOnce) {
    fs::create_directories(root_ / "dir.lp");
    for (auto [target, error] : {std::pair{root_ / "dir.lp", EISDIR}, std::pair{root_ / "missing" / "x.lp", ENOENT}}) {
        try {
            FileWrittenByPath out(target);
            ADD_FAILURE() << "accepted " << target;
        } catch (const FileError& e) {
            EXPECT_EQ(e.error_number(), error);
        }
    }
    // A device is written directly: nothing can be renamed over it.
    FileWrittenByPath null("/dev/null");
    EXPECT_EQ(null.path(), "/dev/null");
    library_writes(null.path(), "x");
    null.commit("end\n");
}

using InputRead = Folder;

TEST_F(InputRead, TheBytesExactlyAsTheyAre) {
    std::string bytes = "float x = 1;\r\n// Ærø \u2028 \x1b[31m\r\nlast\rline";
    bytes += std::string("\0end", 4);
    InputFile file = read_input_file(write("m.mod", bytes));
    ASSERT_TRUE(file.ok()) << file.reason();
    EXPECT_EQ(file.bytes, bytes);  // no line end translated, NUL kept
    EXPECT_TRUE(read_input_file(write("empty.dat", "")).ok());
}

TEST_F(InputRead, StopsJustPastTheLimit) {
    fs::path exact = write("exact.mod", std::string(1000, 'a'));
    EXPECT_TRUE(read_input_file(exact, 1000).ok());
    InputFile larger = read_input_file(exact, 999);
    EXPECT_EQ(larger.failure, InputFile::Failure::TooLarge);
    EXPECT_TRUE(larger.bytes.empty());
    // An endless device ends at the limit too.
    InputFile zero = read_input_file("/dev/zero", 1 << 20);
    EXPECT_EQ(zero.failure, InputFile::Failure::TooLarge);
    EXPECT_EQ(zero.reason(), "larger than 1 MiB, the most a model or data file may hold");
    EXPECT_EQ(kMaxInputBytes, std::size_t{64} << 20);
}

TEST_F(InputRead, BytesThatAreNotUtf8AreLocated) {
    // Columns count characters as the compiler does: 'é' is one.
    InputFile bad = read_input_file(write("m.mod", "float x;\n// é \xFF\xFE in a comment\n"));
    EXPECT_EQ(bad.failure, InputFile::Failure::NotUtf8);
    EXPECT_EQ(bad.reason(), "not UTF-8: byte 0xff at line 2, column 6");
    // Surrogates are no UTF-8 either, nor are overlong forms.
    EXPECT_EQ(read_input_file(write("s.dat", "x = \"\xED\xA0\x80\";")).reason(),
              "not UTF-8: byte 0xed at line 1, column 6");
    EXPECT_EQ(read_input_file(write("o.dat", "\xC0\xAF")).failure, InputFile::Failure::NotUtf8);
}

TEST_F(InputRead, SystemFailuresKeepTheirNumber) {
    InputFile missing = read_input_file(root_ / "none.mod");
    EXPECT_EQ(missing.failure, InputFile::Failure::System);
    EXPECT_EQ(missing.error_number, ENOENT);
    EXPECT_EQ(missing.reason(), "No such file or directory");
    fs::create_directories(root_ / "dir.mod");
    EXPECT_EQ(read_input_file(root_ / "dir.mod").error_number, EISDIR);
}
