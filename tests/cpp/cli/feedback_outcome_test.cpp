#include "cli/feedback_outcome.hpp"

#include <gtest/gtest.h>

using namespace tarvok::cli;
using tarvok::ExitStatus;

TEST(RevisionStep, OnlyACompilingChangeIsWrittenOrKept) {
    EXPECT_EQ(revision_step(true, true, true), RevisionStep::Write);
    EXPECT_EQ(revision_step(false, true, true), RevisionStep::KeepProposal);
    EXPECT_EQ(revision_step(true, false, true), RevisionStep::Nothing);
    EXPECT_EQ(revision_step(false, true, false), RevisionStep::Nothing);
}

TEST(FeedbackClosing, ARevisionThatDoesNotCompileFailsOnlyWhenApplied) {
    FeedbackClosing applied = feedback_closing({.apply = true, .compiles = false, .changes = true}, "m.mod:1:1: error");
    EXPECT_EQ(applied.status, ExitStatus::DoesNotCompile);
    EXPECT_EQ(applied.warnings,
              (std::vector<std::string>{"m.mod:1:1: error",
                                        "tarvok: the proposed revision does not compile; the files are unchanged"}));
    FeedbackClosing shown = feedback_closing({.apply = false, .compiles = false, .changes = true}, "d");
    EXPECT_EQ(shown.status, ExitStatus::Success);
    EXPECT_EQ(shown.warnings.back(), "tarvok: the proposed revision does not compile; it cannot be applied");
}

TEST(FeedbackClosing, SaysWhereThingsWentOrHowToApply) {
    FeedbackEnd end{
        .apply = true, .compiles = true, .changes = true, .applied = true, .model_file = "m.mod", .data_file = "m.dat"};
    EXPECT_EQ(feedback_closing(end, "").warnings.front(), "Applied the revision to m.mod and m.dat");
    end.backups = {{"m.mod.bak", "m.dat.bak"}};
    EXPECT_EQ(feedback_closing(end, "").warnings.front(),
              "Applied the revision to m.mod and m.dat; the previous files are in m.mod.bak and m.dat.bak");
    EXPECT_EQ(feedback_closing({.compiles = true, .changes = true}, "").warnings.front(),
              "To write exactly this revision, run the same command with --apply.");
    EXPECT_TRUE(feedback_closing({.compiles = true, .changes = false}, "").warnings.empty());
    EXPECT_EQ(shown_diff(""), "(the revision changes nothing)");
    EXPECT_EQ(shown_diff("-a\n+b\n\n"), "-a\n+b");
    EXPECT_EQ(feedback_text(std::nullopt), "(no feedback text)");
}

TEST(FeedbackReply, TheReplysKindAndItsJsonKeepTheReplysOwnKeysInPlace) {
    using tarvok::data::Value;
    EXPECT_EQ(reply_kind(Value::null()), ReplyKind::NoFeedback);
    EXPECT_EQ(reply_kind(Value::array()), ReplyKind::NoFeedback);
    Value reply = Value::object({{"feedback", Value::of("Looks right.")}});
    EXPECT_EQ(reply_kind(reply), ReplyKind::FeedbackOnly);
    EXPECT_EQ(feedback_of(reply), "Looks right.");
    EXPECT_EQ(feedback_of(Value::object()), std::nullopt);
    reply.members().emplace_back("diff", Value::of("the LLM's own"));
    reply.members().emplace_back("revised_data", Value::of("param n := 2;"));
    EXPECT_EQ(reply_kind(reply), ReplyKind::Revision);

    Value shown = revision_json(reply, "--- m.dat\n", true, std::nullopt);
    std::vector<std::string> keys;
    for (const auto& [key, value] : shown.members()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"feedback", "diff", "revised_data", "compiles", "applied"}));
    EXPECT_EQ(shown.find("diff")->text(), "--- m.dat\n");  // ours replaces the reply's where it stood
    EXPECT_FALSE(shown.find("applied")->boolean());
    shown = revision_json(reply, "", true, std::pair<std::string, std::string>{"m.mod.bak", ""});
    EXPECT_TRUE(shown.find("applied")->boolean());
    EXPECT_EQ(shown.find("backup_model_file")->text(), "m.mod.bak");
    EXPECT_EQ(shown.find("backup_data_file")->kind(), Value::Kind::Null);  // there was no data file to keep
}

namespace {

/// A host that plays a given reply and revision and records each step in order.
class FakeFeedback : public FeedbackHost, public Output {
  public:
    tarvok::data::Value kept, asked;
    ProposedRevision revision;
    Backups backups;
    std::vector<std::string> log;

    bool take_kept_reply() override {
        log.push_back("kept?");
        held_ = kept;
        return kept.kind() != tarvok::data::Value::Kind::Null;
    }
    void ask() override {
        log.push_back("ask");
        held_ = asked;
    }
    tarvok::data::Value reply() override { return held_; }
    ProposedRevision revise() override { return revision; }
    Backups write_revision() override {
        log.push_back("write");
        return backups;
    }
    void keep_reply() override { log.push_back("keep"); }
    void say_reply_json() override { log.push_back("reply json"); }
    void say_json(const tarvok::data::Value& value) override {
        log.push_back(std::string("json applied=") + (value.find("applied")->boolean() ? "true" : "false"));
    }
    void say(const std::string& line) override { log.push_back("say " + line); }
    void warn(const std::string& line) override { log.push_back("warn " + line); }

  private:
    tarvok::data::Value held_;
};

tarvok::data::Value revising(const char* feedback) {
    using tarvok::data::Value;
    return Value::object({{"feedback", Value::of(feedback)}, {"revised_model", Value::of("var x;")}});
}

}  // namespace

TEST(AnswerFeedback, AKeptReplyIsUsedOnlyWithApplyAndAReplyWithoutRevisionEndsWell) {
    FakeFeedback host;
    host.kept = revising("kept");
    host.asked = tarvok::data::Value::object({{"feedback", tarvok::data::Value::of("Fine.")}});
    EXPECT_EQ(answer_feedback(host, host, {.apply = false}), 0);
    EXPECT_EQ(host.log, (std::vector<std::string>{"ask", "say Fine."}));

    host.log.clear();
    host.asked = tarvok::data::Value::null();
    EXPECT_EQ(answer_feedback(host, host, {.apply = false, .json = true}), 0);
    EXPECT_EQ(host.log, (std::vector<std::string>{"ask", "reply json"}));

    host.log.clear();
    host.revision = {"-a\n+b\n", ""};
    host.backups = {"m.mod.bak", "m.dat.bak"};
    EXPECT_EQ(answer_feedback(host, host, {.apply = true, .model_file = "m.mod", .data_file = "m.dat"}), 0);
    EXPECT_EQ(host.log, (std::vector<std::string>{"kept?", "write", "say kept", "say ", "say -a\n+b",
                                                  "warn Applied the revision to m.mod and m.dat; the previous "
                                                  "files are in m.mod.bak and m.dat.bak"}));
}

TEST(AnswerFeedback, ARevisionIsWrittenOrKeptOnlyWhenItCompilesAndChangesSomething) {
    FakeFeedback host;
    host.asked = revising("Try this.");
    host.revision = {"-a\n+b\n", ""};
    EXPECT_EQ(answer_feedback(host, host, {.json = true}), 0);
    EXPECT_EQ(host.log, (std::vector<std::string>{"ask", "keep", "json applied=false",
                                                  "warn To write exactly this revision, run the same command with "
                                                  "--apply."}));

    host.log.clear();
    host.revision = {"-a\n+b\n", "m.mod:1:1: error"};
    EXPECT_EQ(answer_feedback(host, host, {.apply = true, .json = true}), tarvok::code(ExitStatus::DoesNotCompile));
    EXPECT_EQ(host.log[2], "json applied=false");  // asked ("kept?" found none), then shown: nothing written
    EXPECT_EQ(host.log[3], "warn m.mod:1:1: error");

    host.log.clear();
    host.revision = {"", ""};
    EXPECT_EQ(answer_feedback(host, host, {.apply = true, .json = true}), 0);
    EXPECT_EQ(host.log, (std::vector<std::string>{"kept?", "ask", "json applied=false"}));
}
