#include "cli/feedback_outcome.hpp"
#include "common/json.hpp"

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

/// Each text of an output in order, its newline dropped; JSON by whether it says the revision was applied.
struct Recorded {
    std::vector<std::string> log;
    Output out{[this](const std::string& text) { keep("say ", text); },
               [this](const std::string& text) { keep("warn ", text); }};

    void keep(const char* stream, const std::string& text) {
        std::string line = text.substr(0, text.size() - 1);
        if (!line.starts_with('{') && line != "null") return log.push_back(stream + line);
        tarvok::data::Value json = tarvok::json::parse(line);
        const tarvok::data::Value* applied = json.find("applied");
        log.push_back(applied ? std::string("json applied=") + (applied->boolean() ? "true" : "false") : "reply json");
    }
};

tarvok::data::Value revising(const char* feedback) {
    using tarvok::data::Value;
    return Value::object({{"feedback", Value::of(feedback)}, {"revised_model", Value::of("var x;")}});
}

}  // namespace

TEST(TellFeedback, AReplyWithoutRevisionEndsWellAndAnAppliedOneSaysWhereThePreviousFilesAre) {
    Recorded out;
    EXPECT_EQ(tell_feedback(out.out, {}, tarvok::data::Value::object({{"feedback", tarvok::data::Value::of("Fine.")}}),
                            std::nullopt, std::nullopt),
              0);
    EXPECT_EQ(tell_feedback(out.out, {.json = true}, tarvok::data::Value::null(), std::nullopt, std::nullopt), 0);
    EXPECT_EQ(out.log, (std::vector<std::string>{"say Fine.", "reply json"}));

    out.log.clear();
    FeedbackOptions run{.apply = true, .model_file = "m.mod", .data_file = "m.dat"};
    ProposedRevision revision{"-a\n+b\n", ""};
    EXPECT_EQ(feedback_step(run, revision), RevisionStep::Write);
    EXPECT_EQ(tell_feedback(out.out, run, revising("kept"), revision, Backups{"m.mod.bak", "m.dat.bak"}), 0);
    EXPECT_EQ(out.log, (std::vector<std::string>{"say kept", "say ", "say -a\n+b",
                                                 "warn Applied the revision to m.mod and m.dat; the previous "
                                                 "files are in m.mod.bak and m.dat.bak"}));
}

TEST(TellFeedback, ARevisionIsWrittenOrKeptOnlyWhenItCompilesAndChangesSomething) {
    Recorded out;
    ProposedRevision revision{"-a\n+b\n", ""};
    EXPECT_EQ(feedback_step({.json = true}, revision), RevisionStep::KeepProposal);
    EXPECT_EQ(tell_feedback(out.out, {.json = true}, revising("Try this."), revision, std::nullopt), 0);
    EXPECT_EQ(out.log, (std::vector<std::string>{"json applied=false",
                                                 "warn To write exactly this revision, run the same command with "
                                                 "--apply."}));

    out.log.clear();
    revision = {"-a\n+b\n", "m.mod:1:1: error"};
    EXPECT_EQ(feedback_step({.apply = true}, revision), RevisionStep::Nothing);
    EXPECT_EQ(tell_feedback(out.out, {.apply = true, .json = true}, revising("x"), revision, std::nullopt),
              tarvok::code(ExitStatus::DoesNotCompile));
    EXPECT_EQ(out.log, (std::vector<std::string>{"json applied=false", "warn m.mod:1:1: error",
                                                 "warn tarvok: the proposed revision does not compile; the files "
                                                 "are unchanged"}));

    out.log.clear();
    revision = {"", ""};
    EXPECT_EQ(feedback_step({.apply = true}, revision), RevisionStep::Nothing);
    EXPECT_EQ(tell_feedback(out.out, {.apply = true, .json = true}, revising("x"), revision, std::nullopt), 0);
    EXPECT_EQ(out.log, (std::vector<std::string>{"json applied=false"}));
}
