#include "example_ranker/description_files.hpp"
#include "example_ranker/description_text.hpp"
#include "example_ranker/file_names.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarvok::example_ranker;

namespace {

/// A fresh directory under the system's temporary folder, removed afterwards.
class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("ranker_core_" + std::to_string(::getpid()) + "_" +
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

    fs::path root_;
};

}  // namespace

TEST(Decoding, UndecodableNameBytesStandForSurrogates) {
    EXPECT_EQ(host_name("caf\xE9"), (std::u32string{U'c', U'a', U'f', 0xDCE9}));
    EXPECT_EQ(host_name("\xE2\x82" "A"), (std::u32string{0xDCE2, 0xDC82, U'A'}));
    // Names order by code point, upper case first; an escaped byte (U+DCFF)
    // sorts before U+E000 although its byte is the larger one.
    EXPECT_LT(host_name("B"), host_name("a"));
    EXPECT_LT(host_name("\xC3\xA9"), host_name("\xE9"));
    EXPECT_LT(host_name("\xFF"), host_name("\xEE\x80\x80"));
}

using Listing = TempDir;

TEST_F(Listing, RecursiveTxtFilesSortedByComponents) {
    for (const char* rel : {"a.b/x.txt", "a/z.txt", "a/sub/y.txt", "B/q.txt", "top.txt", ".txt", "a/n.TXT",
                            "a/m.mod", "deep/1/2/3/4/5/f.txt"}) {
        write(rel, "t");
    }
    fs::create_directories(root_ / "dir.txt");
    std::vector<RelativePath> found = list_description_files(root_);
    std::vector<RelativePath> expected = {
        {".txt"}, {"B", "q.txt"}, {"a", "sub", "y.txt"}, {"a", "z.txt"}, {"a.b", "x.txt"},
        {"deep", "1", "2", "3", "4", "5", "f.txt"}, {"top.txt"}};
    EXPECT_EQ(found, expected);
}

TEST_F(Listing, LinksToFilesCountLinksToDirectoriesAreNotFollowed) {
    fs::path target = write("real/r.txt", "t");
    fs::create_directories(root_ / "lib");
    fs::create_symlink(target, root_ / "lib" / "link.txt");
    fs::create_symlink(root_ / "missing", root_ / "lib" / "broken.txt");
    fs::create_directory_symlink(root_ / "lib", root_ / "lib" / "cycle");
    fs::create_directory_symlink(root_ / "real", root_ / "lib" / "other");
    EXPECT_EQ(list_description_files(root_ / "lib"), (std::vector<RelativePath>{{"link.txt"}}));
}

TEST_F(Listing, MissingRootOrFileRootHoldsNothing) {
    EXPECT_TRUE(list_description_files(root_ / "nowhere").empty());
    EXPECT_TRUE(list_description_files(write("f.txt", "t")).empty());
}

TEST(PathOrder, ProperPrefixFirst) {
    EXPECT_TRUE(path_less({"a"}, {"a", "b.txt"}));
    EXPECT_FALSE(path_less({"a", "b.txt"}, {"a"}));
    EXPECT_TRUE(path_less({"a", "z.txt"}, {"a.b", "x.txt"}));
}

using Reading = TempDir;

TEST_F(Reading, DropsUndecodableBytesAndNormalisesLineEnds) {
    fs::path p = write("a.txt", "\xEF\xBB\xBF  ok\xFF\xFE here\r\nnext\rlast\xE2\x82 \n\n");
    EXPECT_EQ(read_text(p), "\xEF\xBB\xBF  ok here\nnext\nlast");  // U+FEFF is no white space
}

TEST_F(Reading, SequencesAndLineEndsAcrossReadChunks) {
    const std::size_t chunk = 64 * 1024;
    std::string bytes(chunk - 1, 'x');
    bytes += "\xE2\x82\xAC";  // euro sign split by the chunk boundary
    std::string crlf(chunk - 1, 'y');
    crlf += "\r\nz";
    fs::path euro = write("euro.txt", bytes);
    EXPECT_EQ(read_text(euro), bytes);
    EXPECT_EQ(read_text(euro, -2), std::string(chunk - 2, 'x'));
    std::string text = read_text(write("crlf.txt", crlf), 200000);
    EXPECT_EQ(text.size(), chunk + 1);
    EXPECT_EQ(text.substr(chunk - 1), "\nz");
}

TEST_F(Reading, LimitCountsCharactersBeforeTrimming) {
    fs::path p = write("a.txt", "   abcdef");
    EXPECT_EQ(read_text(p, 5), "ab");
    EXPECT_EQ(read_text(p, 0), "");
    EXPECT_EQ(read_text(p, -1), "");
    EXPECT_EQ(read_text(p, -3), "abc");
    EXPECT_EQ(read_text(p, -100), "");
    EXPECT_EQ(read_text(p, std::numeric_limits<std::int64_t>::max()), "abcdef");
    EXPECT_EQ(read_text(p, std::numeric_limits<std::int64_t>::min()), "");
    EXPECT_EQ(read_text(write("u.txt", "\xC3\xA9\xC3\xA9\xC3\xA9"), 2), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(read_text(write("c.txt", "a\r\nb"), 2), "a");
}

TEST_F(Reading, FailuresGiveEmptyText) {
    EXPECT_EQ(read_text(root_ / "missing.txt"), "");
    EXPECT_EQ(read_text(root_), "");
}

TEST(Preview, CharactersNotBytesAndLineFeedsAsBlanks) {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "\xC3\xA9\n";
    std::string shown = preview(text);
    EXPECT_EQ(shown.size(), 150u * 2 + 150u);
    EXPECT_EQ(shown.substr(0, 6), "\xC3\xA9 \xC3\xA9 ");
    EXPECT_EQ(preview("a\r\nb", 300), "a\r b");  // only "\n" is replaced
    EXPECT_EQ(preview("short", 300), "short");
}

TEST(ScoreOrder, DescendingStableWithNanLast) {
    const double nan = std::nan("");
    EXPECT_EQ(order_by_score({0.1, 0.9, 0.5}), (std::vector<std::size_t>{1, 2, 0}));
    EXPECT_EQ(order_by_score({0.5, 0.7, 0.5, 0.7}), (std::vector<std::size_t>{1, 3, 0, 2}));
    EXPECT_EQ(order_by_score({nan, 0.2, nan, -1.0}), (std::vector<std::size_t>{1, 3, 0, 2}));
    EXPECT_TRUE(order_by_score({}).empty());
}
