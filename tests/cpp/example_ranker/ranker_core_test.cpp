#include "example_ranker/description_files.hpp"
#include "example_ranker/load_failure.hpp"
#include "example_ranker/ranking.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace tarvok::example_ranker;

namespace {

using TempDir = tarvok::testing::ScratchFolder;

}  // namespace

using Listing = TempDir;

TEST_F(Listing, RecursiveTxtFilesSortedByComponents) {
    for (const char* rel : {"a.b/x.txt", "a/z.txt", "a/sub/y.txt", "B/q.txt", "top.txt", ".txt", "a/n.TXT", "a/m.mod",
                            "deep/1/2/3/4/5/f.txt"}) {
        write(rel, "t");
    }
    fs::create_directories(root_ / "dir.txt");
    std::vector<RelativePath> found = list_description_files(root_);
    std::vector<RelativePath> expected = {{".txt"},       {"B", "q.txt"},   {"a", "sub", "y.txt"},
                                          {"a", "z.txt"}, {"a.b", "x.txt"}, {"deep", "1", "2", "3", "4", "5", "f.txt"},
                                          {"top.txt"}};
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

TEST_F(Listing, StampChangesWithAnyFileAndOnlyThen) {
    write("a/a.txt", "diet mix");
    write("b/b.txt", "ship route");
    auto stamp = [&] { return library_stamp(root_, list_description_files(root_)); };
    std::string first = stamp();
    EXPECT_EQ(stamp(), first);
    write("b/b.mod", "not a description");
    EXPECT_EQ(stamp(), first);

    // Same size and the same modification time: the bytes tell.
    fs::file_time_type when = fs::last_write_time(root_ / "b/b.txt");
    write("b/b.txt", "ship rout3");
    fs::last_write_time(root_ / "b/b.txt", when);
    std::string changed = stamp();
    EXPECT_NE(changed, first);

    fs::rename(root_ / "a/a.txt", root_ / "a/c.txt");
    EXPECT_NE(stamp(), changed);
    fs::rename(root_ / "a/c.txt", root_ / "a/a.txt");
    EXPECT_EQ(stamp(), changed);
    write("c.txt", "");
    EXPECT_NE(stamp(), changed);
    fs::remove(root_ / "c.txt");

    // Names are told apart whole, not as their concatenation.
    EXPECT_NE(library_stamp(root_, {{"x", "yz.txt"}}), library_stamp(root_, {{"xy", "z.txt"}}));
}

TEST_F(Listing, DescriptionTextAsTheHostReadsIt) {
    // Undecodable bytes (a stray one, a surrogate, a cut sequence at the end) go; line endings become "\n".
    fs::path mixed = write("m.txt",
                           "  a\xff\r\nb\rc\xed\xa0\x80"
                           "d\r\r\ne \xe2\x82");
    EXPECT_EQ(read_description(mixed, 100), "a\nb\ncd\n\ne");
    // The cut counts characters ("\r\n" is one, "\xc3\xa9" is one) and comes before the trim.
    EXPECT_EQ(read_description(write("cut.txt", "   abcdef"), 5), "ab");
    EXPECT_EQ(read_description(write("wide.txt", "\xc3\xa9\r\n\xc3\xa9x"), 3), "\xc3\xa9\n\xc3\xa9");
    // As the host's read(max_chars + 1)[:max_chars]: 0 and -1 read nothing, below that the end is cut off.
    fs::path plain = write("p.txt", "abcdef");
    EXPECT_EQ(read_description(plain, 0), "");
    EXPECT_EQ(read_description(plain, -1), "");
    EXPECT_EQ(read_description(plain, -3), "abc");
    EXPECT_EQ(read_description(plain, -9), "");
    // A long file is read only as far as the limit, across reads of the file.
    EXPECT_EQ(read_description(write("long.txt", std::string(200000, 'x') + "\xc3\xa9"), 200001).size(), 200002u);
    EXPECT_EQ(read_description(root_, 10), "");  // a folder
    EXPECT_EQ(read_description(root_ / "none.txt", 10), "");
    EXPECT_EQ(read_description(write("blank.txt", " \t\r\n\xe2\x80\x83"), 10), "");
}

TEST_F(Listing, LibraryFolderAndFilePathsAsTheHostSpellsThem) {
    EXPECT_EQ(joined_name("/", {"a", "b.txt"}), "/a/b.txt");
    EXPECT_EQ(joined_name("lib", {"n\xff.txt"}), "lib/n\xed\xb3\xbf.txt");  // an undecodable byte as its surrogate
    EXPECT_EQ(default_library_folder((root_ / "pkg" / "mod.so").native()), (root_ / "pkg" / "tvl_models").native());
    fs::create_directories(root_ / "real");
    fs::create_directory_symlink(root_ / "real", root_ / "link");
    write("real/mod.so", "");
    EXPECT_EQ(default_library_folder((root_ / "link" / "mod.so").native()), (root_ / "real" / "tvl_models").native());
    EXPECT_TRUE(library_folder_exists(root_.native()));
    EXPECT_FALSE(library_folder_exists((root_ / "none").native()));
    EXPECT_FALSE(library_folder_exists((write("f", "") / "below").native()));
    EXPECT_FALSE(library_folder_exists(root_.native() + std::string(1, '\0')));
}

TEST(Preview, FirstCharactersWithNewlinesAsSpaces) {
    std::string long_text = "a\nb" + std::string(400, 'x');
    EXPECT_EQ(preview(long_text), "a b" + std::string(297, 'x'));
    std::string wide;
    for (int i = 0; i < 301; ++i) wide += "\xc3\xa9";
    EXPECT_EQ(preview(wide), wide.substr(0, 600));
    EXPECT_EQ(preview("\xed\xb3\xbf" + std::string(300, 'y')), "\xed\xb3\xbf" + std::string(299, 'y'));
}

TEST(PathOrder, ProperPrefixFirst) {
    EXPECT_TRUE(path_less({"a"}, {"a", "b.txt"}));
    EXPECT_FALSE(path_less({"a", "b.txt"}, {"a"}));
    EXPECT_TRUE(path_less({"a", "z.txt"}, {"a.b", "x.txt"}));
}

TEST(ScoreOrder, DescendingStableWithNanLast) {
    const double nan = std::nan("");
    EXPECT_EQ(order_by_score({0.1, 0.9, 0.5}), (std::vector<std::size_t>{1, 2, 0}));
    EXPECT_EQ(order_by_score({0.5, 0.7, 0.5, 0.7}), (std::vector<std::size_t>{1, 3, 0, 2}));
    EXPECT_EQ(order_by_score({nan, 0.2, nan, -1.0}), (std::vector<std::size_t>{1, 3, 0, 2}));
    EXPECT_TRUE(order_by_score({}).empty());
}

TEST(RankingRules, KeptEntriesAndFailureTexts) {
    // top_k of 0 or less keeps all; beyond the count keeps all; no overflow for huge limits.
    EXPECT_EQ(kept_entries(5, 0), 5u);
    EXPECT_EQ(kept_entries(5, -3), 5u);
    EXPECT_EQ(kept_entries(5, 2), 2u);
    EXPECT_EQ(kept_entries(5, 5), 5u);
    EXPECT_EQ(kept_entries(5, 9223372036854775807LL), 5u);
    EXPECT_EQ(kept_entries(0, 3), 0u);

    EXPECT_EQ(first_line("No module named 'torch'\nTraceback"), "No module named 'torch'");
    EXPECT_EQ(first_line("one line"), "one line");
    EXPECT_EQ(first_line("\nlater"), "");
    EXPECT_EQ(unavailable_message("m", "r"),
              "embedding model 'm' could not be loaded (r), so the descriptions cannot be encoded");
    // The command's one line names the default model and only the first line of why.
    EXPECT_EQ(rank_command_failure("No module named 'torch'\nTraceback (most recent call last)"),
              "tarvok-rank: cannot load the embedding model 'sentence-transformers/all-MiniLM-L6-v2' (No module "
              "named 'torch'); install the rag extra: pip install \"tarvok[rag]\"");
}

TEST(RankingLine, NumbersAlignAndScoresShowFourDecimals) {
    EXPECT_EQ(ranking_line(1, "/lib/a.txt", 1.0 / 3), " 1. /lib/a.txt  score=0.3333");
    EXPECT_EQ(ranking_line(10, "/lib/b.txt", 1.0 / 12), "10. /lib/b.txt  score=0.0833");
    EXPECT_EQ(ranking_line(2, "x", -0.00004), " 2. x  score=-0.0000");
    EXPECT_EQ(ranking_line(3, "x", -std::nan("")), " 3. x  score=nan");
    EXPECT_EQ(ranking_line(4, "x", -HUGE_VAL), " 4. x  score=-inf");
}

TEST(MissingModelFolder, OnlyAPathThatIsNotThereFailsWithoutALoad) {
    EXPECT_EQ(missing_model_folder("/nonexistent", false), "no folder /nonexistent");
    EXPECT_EQ(missing_model_folder("../models/m", false), "no folder ../models/m");
    EXPECT_FALSE(missing_model_folder("./here", true));  // a folder on disk is loaded
    EXPECT_FALSE(missing_model_folder(fs::temp_directory_path().native()));
    EXPECT_TRUE(missing_model_folder(fs::temp_directory_path().native() + "/none-such-model"));
    // Hub names, and a bare relative name, which may be either: the library decides.
    for (const char* name : {"sentence-transformers/all-MiniLM-L6-v2", "models/m", "m", ""})
        EXPECT_FALSE(missing_model_folder(name, false)) << name;
}
