#include "example_ranker/description_files.hpp"
#include "example_ranker/description_text.hpp"
#include "example_ranker/utf8.hpp"

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

int decode(const std::string& bytes, char32_t& cp) { return decode_one(bytes, cp); }

}  // namespace

TEST(Decoding, AcceptsWellFormedSequencesOnly) {
    char32_t cp = 0;
    EXPECT_EQ(decode("A", cp), 1);
    EXPECT_EQ(cp, U'A');
    EXPECT_EQ(decode("\xC3\xA9", cp), 2);
    EXPECT_EQ(cp, U'\u00E9');
    EXPECT_EQ(decode("\xE2\x82\xAC", cp), 3);
    EXPECT_EQ(cp, U'\u20AC');
    EXPECT_EQ(decode("\xF0\x9F\x98\x80", cp), 4);
    EXPECT_EQ(cp, U'\U0001F600');
    // Overlong forms, encoded surrogates, code points above U+10FFFF, stray bytes.
    for (const char* bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xED\xA0\x80", "\xF0\x80\x80\x80",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\xFF", "\xE2\x41"}) {
        EXPECT_EQ(decode(bad, cp), kInvalidSequence) << bad;
    }
    EXPECT_EQ(decode("\xE2\x82", cp), kTruncatedSequence);
    EXPECT_EQ(decode("\xF0\x9F", cp), kTruncatedSequence);
}

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

TEST(Trimming, HostWhiteSpaceOnly) {
    EXPECT_EQ(trim_host_space("\xE3\x80\x80 Stra\xC3\x9F" "e \xE2\x80\xA9\x1F"), "Stra\xC3\x9F" "e");
    EXPECT_EQ(trim_host_space("\xC2\x85\xC2\xA0x\xE2\x80\x8A"), "x");
    // Zero-width space (U+200B) and the byte-order mark are not white space to the host.
    EXPECT_EQ(trim_host_space("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");
    EXPECT_EQ(trim_host_space(" \t\r\n\x0B\x0C "), "");
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
