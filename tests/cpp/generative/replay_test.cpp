// The book of recorded replies and the message for a prompt it lacks.
#include "generative/replay.hpp"

#include <gtest/gtest.h>

using namespace tarvok::generative::replay;

TEST(Replay, TheLastRecordOfAPromptWinsAndPromptsMatchExactly) {
    Book book;
    book.add("p", {"first", {3, 4}, "m1"});
    book.add("p", {"second", {}, "m2"});
    book.add("p ", {"spaced", {}, ""});
    ASSERT_NE(book.find("p"), nullptr);
    EXPECT_EQ(book.find("p")->reply, "second");
    EXPECT_EQ(book.find("p ")->reply, "spaced");
    EXPECT_EQ(book.find("P"), nullptr);
    EXPECT_EQ(book.size(), 2u);
    EXPECT_EQ(book.models(), (std::set<std::string>{"m1", "m2"}));
}

TEST(Replay, TheMissingReplyMessageNamesStepFirstLineAndHash) {
    EXPECT_EQ(missing_reply("repair", "Fix this model\r\nmore", "ab12", "runs/a"),
              "no recorded reply for the repair request (first line: 'Fix this model', SHA-256 ab12) in runs/a");
    EXPECT_EQ(missing_reply("", "", "00", "t.jsonl"),
              "no recorded reply for the request (first line: '', SHA-256 00) in t.jsonl");
    // A long first line is cut at whole characters.
    std::string line(118, 'x');
    EXPECT_EQ(first_line(line + "\xC3\xA9\xC3\xA9\xC3\xA9"), line + "\xC3\xA9\xC3\xA9...");
}
