// Which snapshot answers each document, which documents are sent diagnostics,
// and the protocol's shape of the answers.
#include "language_server/answers.hpp"

#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <map>

using namespace tarvok::language_server;
using tarvok::compiler::SourceFile;

namespace {

std::shared_ptr<Snapshot> model_snapshot(std::string text = "dvar float x;\nminimize x;\n") {
    return std::shared_ptr<Snapshot>(Snapshot::of_model(std::move(text), std::nullopt));
}

const Value& member(const Value& v, std::string_view name) {
    const Value* found = v.find(name);
    EXPECT_NE(found, nullptr) << name;
    static const Value none;
    return found ? *found : none;
}

}  // namespace

TEST(Documents, PairsADataFileWithItsModelOnlyWhenThatExists) {
    auto none = [](const std::string&) { return false; };
    auto all = [](const std::string&) { return true; };
    EXPECT_EQ(Documents::pair_of("file:///a/p.mod", none).data, "file:///a/p.dat");
    EXPECT_EQ(Documents::pair_of("file:///a/p.dat", none).model, "");
    EXPECT_EQ(Documents::pair_of("file:///a/p.dat", all).model, "file:///a/p.mod");
}

TEST(Documents, ADataFileCheckedAloneJoinsItsModelLater) {
    Documents docs;
    auto alone = model_snapshot(), together = model_snapshot();
    docs.keep({"", "p.dat"}, "p.dat", alone);
    EXPECT_EQ(docs.snapshot_of("p.dat"), alone);
    docs.keep({"p.mod", "p.dat"}, "p.mod", together);
    EXPECT_EQ(docs.snapshot_of("p.dat"), together);
    EXPECT_EQ(docs.snapshot_of("p.mod"), together);
    EXPECT_EQ(alone.use_count(), 1) << "the lone snapshot is let go";
    docs.forget("p.mod");
    EXPECT_EQ(docs.snapshot_of("p.mod"), nullptr);
    EXPECT_EQ(docs.snapshot_of("p.dat"), nullptr) << "its pair's snapshot went with it";
    EXPECT_EQ(docs.snapshot_of("q.mod"), nullptr);
}

TEST(Documents, ClearsOnlyWhatShows) {
    Documents docs;
    EXPECT_FALSE(docs.sends("p.mod", false, false));
    EXPECT_TRUE(docs.sends("p.mod", false, true));
    EXPECT_TRUE(docs.sends("p.mod", true, false));
    EXPECT_FALSE(docs.sends("", true, true));
    docs.sent("p.mod", true);
    EXPECT_TRUE(docs.sends("p.mod", false, false));
    docs.sent("p.mod", false);
    EXPECT_FALSE(docs.sends("p.mod", false, false));
}

TEST(Documents, BuildsFromTheTextsThatWereRead) {
    DocumentPair pair{"p.mod", "p.dat"};
    Documents::Built both = Documents::build(pair, "int n = ...;\ndvar float x;\n", "n = ;", {});
    ASSERT_TRUE(both.snapshot);
    EXPECT_EQ(both.key, "p.mod");
    std::vector<Documents::Shown> shown = Documents::shown(pair, *both.snapshot);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].uri, "p.mod");
    ASSERT_NE(shown[1].diagnostics, nullptr);
    EXPECT_FALSE(shown[1].diagnostics->empty()) << "the data's fault shows on the data";

    // A model that cannot be read: its data is checked alone, kept under its own name.
    Documents::Built alone = Documents::build(pair, std::nullopt, "n = 1;", {});
    EXPECT_EQ(alone.key, "p.dat");
    ASSERT_TRUE(alone.snapshot);
    EXPECT_EQ(Documents::shown(pair, *alone.snapshot)[0].diagnostics, nullptr) << "the model shows nothing";
    EXPECT_FALSE(Documents::build(pair, std::nullopt, std::nullopt, {}).snapshot);
}

TEST(Documents, ClosingRechecksWhileAPartnerIsOpen) {
    DocumentPair pair{"p.mod", "p.dat"};
    auto open_is = [](std::string uri) { return [uri](const std::string& u) { return u == uri; }; };
    EXPECT_TRUE(Documents::closing(pair, open_is("p.dat")).recheck);
    EXPECT_TRUE(Documents::closing(pair, open_is("p.mod")).recheck);
    Documents::Closing last = Documents::closing(pair, open_is("q.mod"));
    EXPECT_FALSE(last.recheck);
    EXPECT_EQ(last.cleared, (std::vector<std::string>{"p.mod", "p.dat"}));
    EXPECT_EQ(Documents::closing({"", "q.dat"}, open_is("")).cleared, (std::vector<std::string>{"q.dat"}))
        << "a member the pair does not have is neither asked about nor cleared";
}

class DocumentFiles : public tarvok::testing::ScratchFolder {};

TEST_F(DocumentFiles, OnlyFilesTheCommandsReadAreRead) {
    std::string refusal;
    EXPECT_EQ(document_on_disk(write("p.mod", "dvar float x;\r\n"), refusal), "dvar float x;\r\n");
    EXPECT_EQ(document_on_disk(root_, refusal), std::nullopt) << "a folder";
    EXPECT_EQ(document_on_disk(root_ / "missing.mod", refusal), std::nullopt);
    EXPECT_EQ(refusal, "") << "no file is no refusal";
    EXPECT_EQ(document_on_disk(write("q.dat", "n = 1;\n\xff"), refusal), std::nullopt);
    EXPECT_EQ(refusal, "not UTF-8: byte 0xff at line 2, column 1");
}

TEST(Answers, PublishedDiagnosticsCarryTheVersionOfAnOpenDocument) {
    auto snapshot = model_snapshot("dvar float x\n");
    Value sent = published_value("file:///p.mod", &snapshot->diagnostics(SourceFile::Model), 7);
    EXPECT_EQ(member(sent, "uri").text(), "file:///p.mod");
    EXPECT_EQ(member(sent, "version").integer(), 7);
    ASSERT_FALSE(member(sent, "diagnostics").items().empty());
    EXPECT_EQ(member(member(sent, "diagnostics").items()[0], "source").text(), "tarvok");
    Value cleared = published_value("file:///p.mod", nullptr, std::nullopt);
    EXPECT_TRUE(member(cleared, "diagnostics").items().empty());
    EXPECT_EQ(member(cleared, "version").kind(), Value::Kind::Null);
}

TEST(Answers, PlacesPointIntoTheDocumentThatHoldsThem) {
    Location in_data{SourceFile::Data, Range{{1, 2}, {1, 5}}};
    EXPECT_EQ(member(location_value(in_data, "file:///p.mod"), "uri").text(), "file:///p.dat");
    EXPECT_EQ(member(location_value(in_data, "file:///p.dat"), "uri").text(), "file:///p.dat");
    Value location = location_value(in_data, "file:///p.dat");
    const Value& start = member(member(location, "range"), "start");
    EXPECT_EQ(member(start, "line").integer(), 1);
    EXPECT_EQ(member(start, "character").integer(), 2);
}

TEST(Answers, QuickFixesCarryTheirEditAndDiagnostic) {
    auto s = model_snapshot("int cakes = 3;\ndvar float x\nmaximize cake * x;\n");
    std::vector<Value> actions = quick_fix_actions(*s, SourceFile::Model, Range{{2, 10}, {2, 10}}, "file:///p.mod");
    ASSERT_EQ(actions.size(), 1u);
    const Value& action = actions[0];
    EXPECT_EQ(member(action, "title").text(), "Replace 'cake' with 'cakes'");
    EXPECT_EQ(member(action, "kind").text(), "quickfix");
    const Value& edits = member(member(member(action, "edit"), "changes"), "file:///p.mod");
    ASSERT_EQ(edits.items().size(), 1u);
    EXPECT_EQ(member(edits.items()[0], "newText").text(), "cakes");
    const Value& diagnostic = member(action, "diagnostics").items().at(0);
    EXPECT_EQ(member(diagnostic, "code").text(), "T0201");
    EXPECT_EQ(member(diagnostic, "source").text(), "tarvok");
    EXPECT_EQ(diagnostic.find("relatedInformation"), nullptr) << "no notes: no related information";
}

TEST(Queries, WithoutASnapshotEachAnswersEmptyInItsShape) {
    QueryArgs args{"file:///p.mod"};
    for (const QueryRow& row : queries()) {
        Value v = answer(row.query, nullptr, args);
        if (row.query == Query::Completion)
            EXPECT_EQ(member(v, "items").items().size(), 0u);
        else if (row.many)
            EXPECT_TRUE(v.kind() == Value::Kind::Array && v.items().empty()) << row.method;
        else
            EXPECT_EQ(v.kind(), Value::Kind::Null) << row.method;
    }
}

TEST(Queries, OnlyCodeActionsRegisterOptionsAndAChangeIsReadAgain) {
    for (const QueryRow& row : queries()) {
        RegistrationOptions options = registration_options(row.query);
        if (row.query != Query::CodeActions) {
            EXPECT_TRUE(options.type.empty()) << row.method;
            continue;
        }
        EXPECT_EQ(options.type, "CodeActionOptions");
        EXPECT_EQ(member(options.options, "codeActionKinds").items().at(0).text(), "quickfix");
    }
    std::map<std::string_view, Notice> taken;
    for (const NoticeRow& row : notices()) taken[row.method] = row.notice;
    EXPECT_EQ(taken, (std::map<std::string_view, Notice>{{"textDocument/didChange", Notice::Changed},
                                                         {"textDocument/didClose", Notice::Closed},
                                                         {"textDocument/didOpen", Notice::Changed}}));
}

TEST(Queries, AnswerFromTheSnapshotInTheProtocolsShape) {
    auto s = model_snapshot();
    QueryArgs args{"file:///p.mod", SourceFile::Model, Position{1, 9}};
    args.with_declaration = true;
    EXPECT_EQ(answer(Query::References, s.get(), args).items().size(), 2u);
    args.with_declaration = false;
    EXPECT_EQ(answer(Query::References, s.get(), args).items().size(), 1u);
    EXPECT_EQ(member(member(answer(Query::Definition, s.get(), args), "range"), "start").find("line")->integer(), 0);
    EXPECT_NE(answer(Query::Hover, s.get(), args).find("contents"), nullptr);
    EXPECT_FALSE(answer(Query::Symbols, s.get(), args).items().empty());
    args.at = Position{0, 0};  // on a keyword: nothing to hover or jump to
    EXPECT_EQ(answer(Query::Definition, s.get(), args).kind(), Value::Kind::Null);
}
