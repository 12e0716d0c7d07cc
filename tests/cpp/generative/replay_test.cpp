// The book of recorded replies and the message for a prompt it lacks.
#include "generative/replay.hpp"

#include "generative/prompts.hpp"

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

TEST(Replay, AMissNamesWhatSetsItApartFromTheNearestRecordedPrompt) {
    using tarvok::generative::pieces::example_open;
    using tarvok::generative::pieces::grammar_close;
    using tarvok::generative::pieces::grammar_open;
    const std::string grammar = std::string(grammar_open) + "G" + std::string(grammar_close);
    const std::string example = std::string(example_open) + "1\">\n";
    Book book;
    EXPECT_EQ(nearest_difference(book, "generate", "x"), "");
    book.add("Task\n" + grammar + "Problem A\n", {"r1", {}, "", "generate"});
    book.add("Task\n" + example + example + "Problem A\n", {"r2", {}, "", "repair"});
    // Of the same step first; then the longest shared beginning.
    EXPECT_EQ(nearest_difference(book, "generate", "Task\n" + example + "Problem A\n"),
              "; the nearest recorded prompt (a generate request, of 2) has the grammar reference where this has "
              "none, has 0 few-shot examples where this has 1 and differs first at line 2: recorded "
              "'<grammar_reference>', asked '<example index=\"1\">'");
    EXPECT_EQ(nearest_difference(book, "", "Task\n" + grammar + "Problem B\n"),
              "; the nearest recorded prompt (a generate request, of 2) differs first at line 8: recorded "
              "'Problem A', asked 'Problem B'");
    book.add("Assume\n", {"r3", {}, "", "assumptions"});
    EXPECT_NE(nearest_difference(book, "assumptions", "Assume more\n").find("(an assumptions request, of 3)"),
              std::string::npos);
}
