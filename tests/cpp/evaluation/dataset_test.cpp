#include "evaluation/dataset.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace tarvok::evaluation;
namespace json = tarvok::json;

TEST(Dataset, JsonLinesWithBlankAndBadLines) {
    std::string text =
        "{\"id\": \"a\", \"description\": \"Make bread.\", \"objective\": 190}\n"
        "\n"
        "{\"question\": \"Ship goods.\", \"answer\": \"1,234.5\"}\r\n"
        "{\"description\": \"cut off\n"
        "[1, 2]\n"
        "{\"objective\": 3}\n"
        "{\"id\": 7, \"problem\": \"Seven.\", \"optimal_value\": \"n/a\"}";
    Dataset d = read_dataset(text);
    ASSERT_EQ(d.problems.size(), 3u);
    EXPECT_EQ(d.problems[0].id, "a");
    EXPECT_EQ(d.problems[0].expected, 190.0);
    EXPECT_EQ(d.problems[1].id, "2");  // no id: the record number, blank lines not counted
    EXPECT_EQ(d.problems[1].description, "Ship goods.");
    EXPECT_EQ(d.problems[1].expected, 1234.5);
    EXPECT_EQ(d.problems[2].id, "7");
    EXPECT_EQ(d.problems[2].expected, std::nullopt);  // a text that is no number: no reference
    EXPECT_EQ(d.problems[2].record, 6u);

    ASSERT_EQ(d.bad.size(), 3u);
    EXPECT_EQ(d.bad[0].record, 3u);
    EXPECT_EQ(d.bad[0].line, 4u);
    EXPECT_EQ(d.bad[0].reason.rfind("not valid JSON: unterminated string", 0), 0u) << d.bad[0].reason;
    EXPECT_EQ(d.bad[1].reason, "not a JSON object");
    EXPECT_EQ(d.bad[1].line, 5u);
    EXPECT_EQ(d.bad[2].reason, "no description ('description', 'question', 'en_question' or 'problem')");
}

TEST(Dataset, JsonArrayAndByteOrderMark) {
    Dataset d =
        read_dataset("\xEF\xBB\xBF [ {\"en_question\": \"Q1\", \"en_answer\": 5},\n 3,\n {\"problem\": \"Q3\"} ]");
    ASSERT_EQ(d.problems.size(), 2u);
    EXPECT_EQ(d.problems[0].id, "1");
    EXPECT_EQ(d.problems[0].expected, 5.0);
    EXPECT_EQ(d.problems[1].id, "3");
    EXPECT_EQ(d.problems[1].expected, std::nullopt);
    ASSERT_EQ(d.bad.size(), 1u);
    EXPECT_EQ(d.bad[0].record, 2u);
}

TEST(Dataset, TheFirstPresentKeyDecides) {
    Dataset d = read_dataset(
        "{\"description\": null, \"question\": \"from question\", \"problem\": \"not this\", "
        "\"objective\": null, \"answer\": \"oops\", \"en_answer\": 4}\n"
        "{\"description\": \"d\", \"objective\": true, \"answer\": 4}\n"
        "{\"description\": \"d\", \"objective\": [1], \"id\": \"x\"}\n");
    EXPECT_EQ(d.problems[0].description, "from question");
    EXPECT_EQ(d.problems[0].expected, std::nullopt);  // 'answer' is present and not numeric
    EXPECT_EQ(d.problems[1].expected, std::nullopt);  // a boolean is not a number
    EXPECT_EQ(d.problems[2].expected, 1.0);           // a list of one number
}

TEST(Dataset, UnusableRecordsAreNamed) {
    Dataset d = read_dataset(
        "{\"description\": 5}\n"
        "{\"question\": \"  \\n \"}\n"
        "{\"description\": \"ok\", \"id\": \"\"}\n"
        "{\"description\": \"ok\", \"id\": [1]}\n"
        "{\"description\": \"ok\", \"id\": \"dup\"}\n"
        "{\"description\": \"again\", \"id\": \"dup\"}\n"
        "{\"description\": \"ok\", \"id\": 1.5}\n");
    ASSERT_EQ(d.bad.size(), 5u);
    EXPECT_EQ(d.bad[0].reason, "'description' is not a text");
    EXPECT_EQ(d.bad[1].reason, "'question' is empty");
    EXPECT_EQ(d.bad[2].reason, "'id' must be a non-empty text or a number");
    EXPECT_EQ(d.bad[3].reason, "'id' must be a non-empty text or a number");
    EXPECT_EQ(d.bad[4].reason, "id 'dup' repeats record 5");
    ASSERT_EQ(d.problems.size(), 2u);
    EXPECT_EQ(d.problems[1].id, "1.5");
}

TEST(Dataset, WholeFileFailures) {
    EXPECT_THROW(read_dataset(""), DatasetError);
    EXPECT_THROW(read_dataset(" \n\t\n"), DatasetError);
    EXPECT_THROW(read_dataset("[{\"description\": \"a\"},"), DatasetError);
    EXPECT_THROW(read_dataset("[]"), DatasetError);
}

TEST(Dataset, NumericTexts) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    for (const Case& c : {Case{"190", 190.0},
                          Case{" -3.25 ", -3.25},
                          Case{"+7", 7.0},
                          Case{"1,234,567.5", 1234567.5},
                          Case{"12,345", 12345.0},
                          Case{".5", 0.5},
                          Case{"5.", 5.0},
                          Case{"2.5e3", 2500.0},
                          Case{"1E-2", 0.01},
                          Case{"\xC2\xA0"
                               "42\n",
                               42.0},
                          Case{"1,23", std::nullopt},
                          Case{"1234,567", std::nullopt},
                          Case{",123", std::nullopt},
                          Case{"$5", std::nullopt},
                          Case{"5%", std::nullopt},
                          Case{"12 units", std::nullopt},
                          Case{"nan", std::nullopt},
                          Case{"inf", std::nullopt},
                          Case{"1e999", std::nullopt},
                          Case{"", std::nullopt},
                          Case{"-", std::nullopt},
                          Case{".", std::nullopt},
                          Case{"1e", std::nullopt},
                          Case{"--1", std::nullopt}}) {
        EXPECT_EQ(numeric_text(c.text), c.value) << c.text;
    }
}

TEST(Dataset, FolderNamesAreSafeAndDistinct) {
    EXPECT_EQ(folder_name("bakery"), "bakery");
    EXPECT_EQ(folder_name("IndustryOR_12.v2-x"), "IndustryOR_12.v2-x");
    std::set<std::string> names;
    for (const char* id : {"../etc/passwd", "a/b", "a_b", "a b", ".hidden", "..", ".", "results.jsonl", "summary.json",
                           "caf\xC3\xA9", "x:y", "x?y"}) {
        std::string name = folder_name(id);
        EXPECT_TRUE(names.insert(name).second) << id << " -> " << name;
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_NE(name.front(), '.') << id;
        for (unsigned char c : name) EXPECT_TRUE(std::isalnum(c) || c == '.' || c == '_' || c == '-') << id;
    }
    std::string long_id(300, 'q');
    EXPECT_LE(folder_name(long_id).size(), 80u);
    EXPECT_NE(folder_name(long_id), folder_name(long_id + "r"));
    EXPECT_EQ(folder_name("a/b"), folder_name("a/b"));  // the same id, the same folder, in any run
}

TEST(Dataset, IdsThatDifferOnlyInCaseGetDistinctFolders) {
    Dataset d = read_dataset(
        "{\"id\": \"Knap\", \"description\": \"a\"}\n{\"id\": \"knap\", \"description\": \"b\"}\n"
        "{\"id\": \"other\", \"description\": \"c\"}\n");
    ASSERT_EQ(d.problems.size(), 3u);
    std::string first = d.problems[0].folder, second = d.problems[1].folder;
    for (char& ch : first) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (char& ch : second) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_NE(first, second);
    EXPECT_EQ(d.problems[2].folder, "other");
}

TEST(Dataset, IdsMadeToCollideStillGetDistinctFolders) {
    // "x/y" is refused as a folder and gets its hash; an id that is that very
    // folder name; and one that is the folder the second gets after the
    // case-collision round (its own hash appended).
    std::string first = "x/y", second = folder_name(first), third = second + folder_hash(second);
    std::string text;
    for (const std::string& id : {first, second, third, second + "-2"})
        text += "{\"id\": " + json::quote(id) + ", \"description\": \"d\"}\n";
    Dataset d = read_dataset(text);
    ASSERT_EQ(d.problems.size(), 4u);
    std::set<std::string> folders;
    for (const Problem& p : d.problems) {
        std::string lower = p.folder;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(folders.insert(lower).second) << p.id << " -> " << p.folder;
    }
    // In data-set order, so the same data set gives the same folders in every run.
    EXPECT_EQ(read_dataset(text).problems[3].folder, d.problems[3].folder);
}

TEST(Csv, HeaderRowQuotedFieldsAndNamedFields) {
    Dataset d = read_dataset(
        "id,question,answer,problem_class\r\n"
        "a,\"Make 3, not \"\"4\"\"\nitems\",\"[469200.0]\",LP\r\n"
        "\r\n"
        "b,Plain,\"1,234.5\",\r\n"
        "c,Other,n/a,MILP,,\n"
        "d,Too many,1,LP,extra\n",
        {}, Format::Csv);
    ASSERT_EQ(d.problems.size(), 3u);
    EXPECT_EQ(d.problems[0].description, "Make 3, not \"4\"\nitems");
    EXPECT_EQ(d.problems[0].expected, 469200.0);
    EXPECT_EQ(d.problems[0].problem_class, "LP");
    EXPECT_EQ(d.problems[1].expected, 1234.5);
    EXPECT_EQ(d.problems[1].problem_class, "");  // an empty cell is no class
    EXPECT_FALSE(d.problems[2].expected);        // unreadable: no reference
    ASSERT_EQ(d.bad.size(), 1u);
    EXPECT_EQ(d.bad[0].line, 7u);  // counted past the quoted line break and the blank row
    EXPECT_NE(d.bad[0].reason.find("5 fields where the header names 4"), std::string::npos);

    Fields named{"text", "optimum", "key", "kind"};
    Dataset n = read_dataset(
        "{\"key\": \"k1\", \"text\": \"T\", \"optimum\": [\"7\"], \"kind\": 3, \"question\": \"no\"}\n", named);
    ASSERT_EQ(n.problems.size(), 1u);
    EXPECT_EQ(n.problems[0].id, "k1");
    EXPECT_EQ(n.problems[0].description, "T");
    EXPECT_EQ(n.problems[0].expected, 7.0);
    EXPECT_EQ(n.problems[0].problem_class, "3");
    EXPECT_THROW(read_dataset("q\n\"open", {}, Format::Csv), DatasetError);
}

TEST(ReferenceValue, ListsOfOneOnly) {
    auto ref = [](const char* text) { return reference_value(json::parse(text)); };
    EXPECT_EQ(ref("[12]"), 12.0);
    EXPECT_EQ(ref("\" [ \\\"2,500\\\" ] \""), 2500.0);
    EXPECT_FALSE(ref("[1, 2]"));
    EXPECT_FALSE(ref("[[1]]"));
    EXPECT_FALSE(ref("\"[[1]]\""));
    EXPECT_FALSE(ref("[]"));
}
