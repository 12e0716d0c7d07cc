#include "common/file_lock.hpp"
#include "common/pair_placement.hpp"
#include "scratch_folder.hpp"
#include "web/api.hpp"
#include "web/workdir.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

using namespace tarvok::web;

namespace {

using Members = std::vector<std::pair<std::string, Value>>;

Parsed parsed(std::string_view path, Members body) {
    return parse_request(*endpoint_at(path), Value::object(std::move(body)));
}

std::string refused(std::string_view path, Members body) {
    Parsed p = parsed(path, std::move(body));
    EXPECT_FALSE(p.request.has_value());
    return p.error;
}

TEST(Requests, TakeWhatEachEndpointNeedsWithItsDefaults) {
    Parsed run = parsed("/api/run", {{"model", Value::of("dvar float x;")}, {"sensitivity", Value::of("duals")}});
    ASSERT_TRUE(run.request) << run.error;
    const auto& r = std::get<RunRequest>(*run.request);
    EXPECT_EQ(r.pair.model, "dvar float x;");
    EXPECT_EQ(r.pair.data, "");
    EXPECT_EQ(r.time_limit, kDefaultSolveSeconds);
    EXPECT_EQ(r.sensitivity, Sensitivity::Duals);

    Parsed emit =
        parsed("/api/emit", {{"model", Value::of("m")}, {"data", Value::of("d")}, {"format", Value::of("lp")}});
    ASSERT_TRUE(emit.request) << emit.error;
    EXPECT_EQ(std::get<EmitRequest>(*emit.request).output->name, "lp");

    Parsed examples = parsed("/api/examples", {});
    ASSERT_TRUE(examples.request) << examples.error;
    EXPECT_EQ(std::get<ExamplesRequest>(*examples.request).description, "");

    Parsed generate =
        parsed("/api/generate",
               {{"description", Value::of("plan")}, {"iterations", Value::of(3.0)}, {"model", Value::null()}});
    ASSERT_TRUE(generate.request) << generate.error;
    EXPECT_EQ(std::get<GenerateRequest>(*generate.request).iterations, 3);
    EXPECT_FALSE(std::get<GenerateRequest>(*generate.request).model);
}

TEST(Requests, AProviderTheTableDoesNotKnowIsRefused) {
    auto lower = [](std::string_view name) {
        std::string out(name);
        for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    Members generate = {{"description", Value::of("plan")}, {"provider", Value::of("OpenAI")}};
    EXPECT_TRUE(parse_request(*endpoint_at("/api/generate"), Value::object(generate), lower).request)
        << "the name as the host folds it";
    EXPECT_EQ(refused("/api/generate", {{"description", Value::of("plan")}, {"provider", Value::of("acme")}}),
              "'provider': unknown provider 'acme'; choose openai, google, ollama or replay");
    EXPECT_EQ(refused("/api/feedback",
                      {{"question", Value::of("why?")}, {"model", Value::of("m")}, {"provider", Value::of("openia")}}),
              "'provider': unknown provider 'openia'; choose openai, google, ollama or replay");
}

TEST(Requests, BadBodiesSayWhatIsWrong) {
    EXPECT_EQ(parse_request(*endpoint_at("/api/check"), Value::array()).error,
              "the body must be a JSON object, not a list");
    EXPECT_EQ(refused("/api/check", {}), "'model' is required");
    EXPECT_EQ(refused("/api/check", {{"model", Value::of(int64_t{3})}}), "'model' must be a string, not a number");
    EXPECT_EQ(refused("/api/run", {{"model", Value::of("m")}, {"solver", Value::of("x")}}),
              "unknown member 'solver'; this endpoint takes model, data, time_limit, mip_gap, sensitivity");
    EXPECT_EQ(refused("/api/run", {{"model", Value::of("m")}, {"time_limit", Value::of(1e9)}}),
              "'time_limit' must be a number above 0 and at most 600");
    EXPECT_EQ(refused("/api/run", {{"model", Value::of("m")}, {"time_limit", Value::of(std::nan(""))}}),
              "'time_limit' must be a number above 0 and at most 600");
    EXPECT_EQ(refused("/api/emit", {{"model", Value::of("m")}, {"format", Value::of("exe")}}),
              "'format' must be one of 'scipy', 'mps', 'lp'");
    EXPECT_EQ(refused("/api/generate", {{"description", Value::of(" \n")}}), "'description' is empty");
    EXPECT_EQ(refused("/api/generate", {{"description", Value::of("x")}, {"iterations", Value::of(int64_t{99})}}),
              "'iterations' must be from 1 to 20");
    EXPECT_EQ(refused("/api/feedback", {{"model", Value::of("m")}}), "'question' is required");
    EXPECT_EQ(refused("/api/apply", {{"name", Value::of("../up")}, {"model", Value::of("m")}}).rfind("'name': ", 0),
              0u);
    EXPECT_EQ(refused("/api/apply", {{"name", Value::of("../up")}}), "'model' is required")
        << "the body's own faults first";
    std::string huge(kMaxTextBytes + 1, 'x');
    EXPECT_EQ(refused("/api/check", {{"model", Value::of(huge)}}),
              "'model' has " + std::to_string(huge.size()) + " bytes; at most 4194304 are taken");
}

TEST(Requests, BodiesAreBoundedBeforeTheyAreRead) {
    const Endpoint& generate = *endpoint_at("/api/generate");
    EXPECT_EQ(body_refusal(generate, std::nullopt), "");
    EXPECT_EQ(body_refusal(generate, kMaxSmallBody), "");
    EXPECT_NE(body_refusal(generate, kMaxSmallBody + 1).find("takes at most"), std::string::npos);
    EXPECT_NE(body_refusal(*endpoint_at("/api/run"), uint64_t{1} << 40), "");
    EXPECT_EQ(endpoint_at("/api/nothing"), nullptr);
    EXPECT_EQ(http_status(Outcome::TooLarge), 413);
    EXPECT_EQ(http_status(Outcome::DoesNotCompile), 422);
}

TEST(Stream, AFrameCannotBeEndedByItsText) {
    EXPECT_EQ(frame(FrameKind::Step, R"({"kind":"iteration"})"), "event: step\ndata: {\"kind\":\"iteration\"}\n\n");
    // Raw line ends (never in JSON from the server, but text is text) each start a data line.
    EXPECT_EQ(frame(FrameKind::Failed, "a\n\nevent: result\r\nb\rc"),
              "event: failed\ndata: a\ndata: \ndata: event: result\ndata: b\ndata: c\n\n");
    EXPECT_EQ(heartbeat().front(), ':');
    EXPECT_EQ(frame_name(FrameKind::Cancelled), "cancelled");
}

TEST(Stream, NumbersJsonCannotHoldArriveAsTexts) {
    EXPECT_EQ(browser_json(R"({"up": Infinity, "down": -Infinity, "gap": NaN, "x": [-1.5e+300, 2]})"),
              R"({"up": "Infinity", "down": "-Infinity", "gap": "NaN", "x": [-1.5e+300, 2]})");
    // Inside a text the words are the text's own, escaped quotes included.
    EXPECT_EQ(browser_json(R"(["NaN", "say \"Infinity\" -Infinity\\", NaN])"),
              R"(["NaN", "say \"Infinity\" -Infinity\\", "NaN"])");
}

TEST(Names, OnlyPlainWordsNameAPair) {
    for (const char* good : {"model", "plan_2024", "a-b", "X"}) EXPECT_EQ(name_refusal(good), "") << good;
    for (const char* bad : {"", "..", "../x", "a/b", "a\\b", "-rf", ".hidden", "a b", "x.mod", "\xc3\xa9"})
        EXPECT_NE(name_refusal(bad), "") << bad;
    EXPECT_NE(name_refusal(std::string(65, 'a')), "");
}

class Workdir : public tarvok::testing::ScratchFolder {};

TEST_F(Workdir, InsideResolvesDotsAndLinks) {
    fs::path work = root_ / "work";
    fs::create_directories(work / "sub");
    EXPECT_TRUE(inside(work, work / "a.mod"));
    EXPECT_TRUE(inside(work, work / "sub" / ".." / "a.mod"));
    EXPECT_FALSE(inside(work, work / ".." / "a.mod"));
    EXPECT_FALSE(inside(work, work));
    EXPECT_FALSE(inside(work, root_ / "workshop" / "a.mod"));
    fs::create_directory_symlink(root_, work / "out");
    EXPECT_FALSE(inside(work, work / "out" / "a.mod"));
}

TEST_F(Workdir, ApplyKeepsTheEarlierPairAsBackups) {
    fs::path work = root_ / "work";
    Applied first = apply_pair(work, "plan", "model 1", "data 1");
    ASSERT_EQ(first.error, "");
    EXPECT_EQ(read(work / "plan.mod"), "model 1");
    EXPECT_TRUE(first.backups.model.empty());

    Applied second = apply_pair(work, "plan", "model 2", "data 2");
    ASSERT_EQ(second.error, "");
    EXPECT_EQ(read(work / "plan.mod"), "model 2");
    EXPECT_EQ(read(work / "plan.dat"), "data 2");
    EXPECT_EQ(read(second.backups.model), "model 1");
    EXPECT_EQ(read(second.backups.data), "data 1");
    EXPECT_FALSE(fs::exists(tarvok::files::journal_path(work / "plan.mod")));
    // The staging folder is gone again.
    for (const auto& entry : fs::directory_iterator(work))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".tarvok-")) << entry.path();
}

TEST_F(Workdir, SavesOfANameTakeItsLockInTurn) {
    fs::path work = root_ / "work";
    fs::create_directories(work);
    {
        auto held = tarvok::files::FileLock::try_take(lock_path(work, "plan"));  // a save under way
        ASSERT_TRUE(held);
        Applied waited = apply_pair(work, "plan", "m", "d", std::chrono::milliseconds(30));
        EXPECT_EQ(waited.error, "another save of 'plan' is under way; try again");
        EXPECT_FALSE(fs::exists(work / "plan.mod"));
        EXPECT_EQ(apply_pair(work, "other", "m", "d").error, "");  // each name has its own
    }
    EXPECT_EQ(apply_pair(work, "plan", "m", "d").error, "");
}

TEST_F(Workdir, ApplyRefusesNamesAndTargetsThatLeadOutside) {
    fs::path work = root_ / "work";
    EXPECT_NE(apply_pair(work, "../escape", "m", "d").error, "");
    EXPECT_FALSE(fs::exists(root_ / "escape.mod"));

    fs::create_directories(work);
    write("outside.mod", "keep");
    fs::create_symlink(root_ / "outside.mod", work / "plan.mod");
    Applied linked = apply_pair(work, "plan", "m", "d");
    EXPECT_NE(linked.error.find("link"), std::string::npos);
    EXPECT_EQ(read(root_ / "outside.mod"), "keep");
    EXPECT_FALSE(fs::exists(work / "plan.dat"));
}

}  // namespace

namespace {

TEST(Headers, OnlyJsonFromThisMachineAndThisPage) {
    auto status = [](Headers h, bool loopback) {
        auto r = header_refusal(h, loopback);
        return r ? r->status : 0;
    };
    EXPECT_EQ(status({"application/json", "127.0.0.1:8000", ""}, true), 0);
    EXPECT_EQ(status({"Application/JSON; charset=utf-8", "localhost:8000", "http://localhost:8000"}, true), 0);
    EXPECT_EQ(status({"application/json", "[::1]:8000", ""}, true), 0);
    // A form or plain text is what another site can send without asking first.
    EXPECT_EQ(status({"text/plain", "127.0.0.1:8000", ""}, true), 415);
    EXPECT_EQ(status({"application/x-www-form-urlencoded", "127.0.0.1:8000", ""}, true), 415);
    EXPECT_EQ(status({"application/json", "127.0.0.1:8000", "http://evil.example"}, true), 403);
    // A name of another site that resolves to this machine.
    EXPECT_EQ(status({"application/json", "evil.example:8000", "http://evil.example:8000"}, true), 403);
    EXPECT_EQ(status({"application/json", "box.lan:8000", ""}, false), 0);
}

}  // namespace

namespace {

TEST(Bounds, DeclaredLengthsAndLoopbackAddresses) {
    EXPECT_EQ(declared_length(std::nullopt), std::nullopt);
    EXPECT_EQ(declared_length("1024"), 1024u);
    // Anything but a plain count is too large to read.
    for (const char* bad : {"", "-1", "12abc", " 12", "99999999999999999999999"})
        EXPECT_EQ(declared_length(std::string_view(bad)), UINT64_MAX) << bad;
    for (const char* local : {"127.0.0.1", "localhost", "::1"}) EXPECT_TRUE(is_loopback(local)) << local;
    for (const char* open : {"0.0.0.0", "::", "192.168.1.2", "127.0.0.1.example"}) EXPECT_FALSE(is_loopback(open));
    EXPECT_EQ(page_url("::1", "8000"), "http://[::1]:8000/");
    EXPECT_EQ(page_url("localhost", "80"), "http://localhost:80/");
}

TEST_F(Workdir, TheDefaultIsANewFolderUnderTheUsersData) {
    EXPECT_EQ(default_workdir("", root_, "20260101-120000"),
              root_ / ".local" / "share" / "tarvok" / "serve" / "20260101-120000");
    // A relative data folder is ignored, as the convention says.
    EXPECT_EQ(default_workdir("data", root_, "s"), root_ / ".local" / "share" / "tarvok" / "serve" / "s");
    fs::create_directories(root_ / "xdg" / "tarvok" / "serve" / "s");
    EXPECT_EQ(default_workdir((root_ / "xdg").string(), "/nowhere", "s"), root_ / "xdg" / "tarvok" / "serve" / "s-2");
}

}  // namespace

/// Sets an environment variable for one scope; unset (nullptr) removes it.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(Workdir, TheDefaultFolderFollowsTheEnvironment) {
    {
        ScopedVariable data("XDG_DATA_HOME", (root_ / "data").c_str());
        fs::path made = default_workdir_now();
        EXPECT_EQ(made.parent_path(), root_ / "data" / "tarvok" / "serve");
        EXPECT_EQ(made.filename().string().size(), std::string("20261209-101500").size()) << made;
    }
    // A relative XDG_DATA_HOME is ignored; home is $HOME without its trailing '/', and "/" when empty.
    ScopedVariable relative("XDG_DATA_HOME", "relative");
    {
        ScopedVariable home("HOME", (root_.string() + "/h//").c_str());
        EXPECT_EQ(default_workdir_now().parent_path(), root_ / "h" / ".local" / "share" / "tarvok" / "serve");
    }
    ScopedVariable home("HOME", "");
    EXPECT_EQ(default_workdir_now().parent_path(), fs::path("/.local/share/tarvok/serve"));
}

TEST(Endpoints, AdmissionRefusesByPathThenHeadersThenBody) {
    Headers json{"application/json", "127.0.0.1:8000", ""};
    Admission taken = admit("/api/run", json, true, true);
    EXPECT_EQ(taken.endpoint, endpoint_at("/api/run"));
    EXPECT_FALSE(taken.refusal);
    auto refusal = [](Admission a) {
        return a.refusal ? std::to_string(a.refusal->status) + " " + a.refusal->message : "";
    };
    EXPECT_EQ(refusal(admit("/api/none", {"text/plain", "", ""}, false, true)), "404 no endpoint /api/none");
    // Headers are refused before a body that went past its bound is mentioned.
    EXPECT_EQ(refusal(admit("/api/run", {"text/plain", "127.0.0.1", ""}, false, true)),
              "415 send the body as application/json");
    EXPECT_EQ(refusal(admit("/api/examples", json, false, true)),
              "413 /api/examples takes a body of at most 262144 bytes");
}

TEST(Endpoints, ARunAsksTheSolverForWhatItsRequestSays) {
    auto options = [](RunRequest r) {
        std::string out;
        Value given = solve_options(r);
        for (const auto& [key, value] : given.members())
            out += key + "=" +
                   (value.kind() == Value::Kind::String    ? value.text()
                    : value.kind() == Value::Kind::Boolean ? "true"
                                                           : std::to_string(value.number())) +
                   " ";
        return out;
    };
    EXPECT_EQ(options(RunRequest{}), "time_limit=60.000000 ");
    EXPECT_EQ(options(RunRequest{{}, 5, 0.01, Sensitivity::Full}),
              "time_limit=5.000000 mip_gap=0.010000 sensitivity=true ");
    EXPECT_EQ(options(RunRequest{{}, 5, std::nullopt, Sensitivity::Duals}), "time_limit=5.000000 sensitivity=duals ");
}

TEST(Endpoints, FailuresOfTheWorkAndBodiesPastTheBound) {
    for (const Endpoint& e : endpoints()) {
        Outcome expected = e.path == "/api/feedback" ? Outcome::ProviderFailed : Outcome::Failed;
        EXPECT_EQ(e.failure, expected) << e.path;
    }
    EXPECT_EQ(too_large_message(*endpoint_at("/api/examples")), "/api/examples takes a body of at most 262144 bytes");
}
