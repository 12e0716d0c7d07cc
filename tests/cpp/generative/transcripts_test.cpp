#include "generative/providers/transcripts.hpp"

#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <string>
#include <vector>

namespace pv = tarvok::generative::providers;
namespace replay = tarvok::generative::replay;

namespace {

using Lines = std::vector<std::string_view>;

TEST(Transcripts, LinesEndWhereTheHostsSplitlinesEndsThem) {
    EXPECT_EQ(pv::split_lines("a\r\nb\rc\n"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(pv::split_lines(""), Lines{});
    EXPECT_EQ(pv::split_lines("\n"), Lines{""});
    EXPECT_EQ(pv::split_lines("x\n\ny"), (Lines{"x", "", "y"}));
    EXPECT_EQ(pv::split_lines("a\vb\fc\x1c"
                              "d\x1d"
                              "e\x1e"
                              "f\xc2\x85g\xe2\x80\xa8h\xe2\x80\xa9i"),
              (Lines{"a", "b", "c", "d", "e", "f", "g", "h", "i"}));
    // Neighbours of the line ends are text: U+001F, U+2027 and a lone lead byte.
    EXPECT_EQ(pv::split_lines("a\x1f"
                              "b\xe2\x80\xa7"
                              "c\xc2"),
              Lines{"a\x1f"
                    "b\xe2\x80\xa7"
                    "c\xc2"});
}

TEST(Transcripts, RecordsNeedTextPromptAndReplyAndOnlyIntegersCount) {
    replay::Book book;
    pv::read_transcript(R"({"prompt": "p1", "reply": "first", "model": "m1", "tokens_in": 3, "tokens_out": -0}
{"prompt": "p1", "reply": "cut off
not json at all
[1, 2]
{"prompt": "p2", "reply": 7}
{"prompt": "p3", "reply": "r3", "model": 5, "tokens_in": 2.0, "tokens_out": true}
{"prompt": "p4", "reply": "r4", "tokens_in": 99999999999999999999999, "tokens_out": -99999999999999999999999}
{"prompt": "p5", "reply": "old", "reply": "new", "tokens_in": 1e3})",
                        book);
    EXPECT_EQ(book.size(), 4u);
    const replay::Recorded* first = book.find("p1");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->reply, "first");
    EXPECT_EQ(first->model, "m1");
    EXPECT_EQ(first->usage.tokens_in, 3);
    EXPECT_EQ(first->usage.tokens_out, 0);
    EXPECT_FALSE(book.find("p2")) << "a reply that is no text is no record";
    const replay::Recorded* third = book.find("p3");
    ASSERT_TRUE(third);
    EXPECT_EQ(third->model, "");
    EXPECT_FALSE(third->usage.tokens_in) << "a float is no count";
    EXPECT_FALSE(third->usage.tokens_out) << "a boolean is no count";
    EXPECT_EQ(book.find("p4")->usage.tokens_in, LLONG_MAX);
    EXPECT_EQ(book.find("p4")->usage.tokens_out, LLONG_MIN);
    EXPECT_EQ(book.find("p5")->reply, "new") << "a repeated key keeps its last value";
    EXPECT_FALSE(book.find("p5")->usage.tokens_in);
    EXPECT_EQ(book.models(), (std::set<std::string>{"m1"}));
}

TEST(Transcripts, TheBookIsReadAgainOnlyWhenItsFilesChanged) {
    pv::BookCache cache;
    int reads = 0;
    auto read = [&] {
        ++reads;
        return std::make_shared<const replay::Book>();
    };
    pv::BookCache::Book first = cache.get("a\t1", read);
    EXPECT_EQ(cache.get("a\t1", read), first);
    EXPECT_EQ(reads, 1);
    EXPECT_NE(cache.get("a\t2", read), first);
    EXPECT_EQ(reads, 2);
}

using TranscriptFolder = tarvok::testing::ScratchFolder;

TEST_F(TranscriptFolder, AFileIsItselfAndAFolderItsVisibleTranscriptsInNameOrder) {
    auto first = write("b/2.jsonl", "{}"), second = write("b/sub/1.jsonl", "{}"), third = write("c.jsonl", "{}");
    write("a.json", "{}");
    write(".hidden.jsonl", "{}");
    write(".cache/3.jsonl", "{}");
    // What is no file is passed over, a link to a pipe too (reading it would wait forever).
    ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink(root_ / "pipe", root_ / "b/p.jsonl");
    std::filesystem::create_directory(root_ / "d.jsonl");
    EXPECT_EQ(pv::transcript_files(root_), (std::vector<std::filesystem::path>{first, second, third}));
    EXPECT_EQ(pv::transcript_files(third), (std::vector<std::filesystem::path>{third}));
    EXPECT_FALSE(pv::transcript_files(root_ / "nowhere"));

    // The signature changes with a file's content, and marks a file gone meanwhile.
    std::string before = pv::files_signature({first, third});
    write("c.jsonl", "{} ");
    EXPECT_NE(pv::files_signature({first, third}), before);
    std::filesystem::remove(third);
    EXPECT_NE(pv::files_signature({first, third}).find("c.jsonl\t?"), std::string::npos);
}

}  // namespace
