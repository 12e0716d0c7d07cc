#include "language_server/framing.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace tarvok::language_server;

namespace {

/// A reader over `input`, handing out at most `step` bytes a call, as a pipe may.
FrameReader reader_of(const std::string& input, std::size_t step = 7, std::size_t most = kMaxFrameBytes) {
    auto at = std::make_shared<std::size_t>(0);
    return FrameReader(
        [input, at, step](char* into, std::size_t want) {
            std::size_t n = std::min({want, step, input.size() - *at});
            std::memcpy(into, input.data() + *at, n);
            *at += n;
            return n;
        },
        most);
}

std::string frame(const std::string& body) {
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

/// The bodies and refusals of every frame of `input`, in order ("!" marks a refusal).
std::vector<std::string> frames_of(const std::string& input, std::size_t most = kMaxFrameBytes) {
    FrameReader reader = reader_of(input, 7, most);
    std::vector<std::string> out;
    while (auto f = reader.next()) out.push_back(f->refusal ? "!" + *f->refusal : f->body);
    return out;
}

TEST(LspFraming, BadHeadersCostOneFrameAndTheNextIsRead) {
    std::string ok = R"({"jsonrpc": "2.0", "id": 1, "method": "shutdown"})";
    EXPECT_EQ(frames_of(frame(ok) + "Content-Type: x\r\n" + frame("{}")), (std::vector<std::string>{ok, "{}"}));
    // A length past the limit is refused unread, whatever follows: a short body, or the whole one.
    EXPECT_EQ(frames_of("Content-Length: 1000000000000\r\n\r\n{\"half\": " + frame(ok)),
              (std::vector<std::string>{
                  "!a message of 1000000000000 bytes is refused: one message may have at most 134217728 bytes", ok}));
    EXPECT_EQ(
        frames_of(frame(std::string(40, 'x')) + frame("{}"), 32),
        (std::vector<std::string>{"!a message of 40 bytes is refused: one message may have at most 32 bytes", "{}"}));
    EXPECT_EQ(frames_of("content-length: 99999999999999999999999\r\n\r\n" + frame(ok)).back(), ok);
    EXPECT_EQ(frames_of("Content-Length: -3\r\n\r\n" + frame(ok)),
              (std::vector<std::string>{"!the Content-Length '-3' is not a whole number", ok}));
    EXPECT_EQ(frames_of("Content-Type: x\r\n\r\n" + frame(ok)),
              (std::vector<std::string>{"!the message has no Content-Length header", ok}));
    EXPECT_EQ(frames_of(std::string(20000, 'h') + "\r\n\r\n" + frame(ok)),
              (std::vector<std::string>{"!a header line is longer than 8192 bytes", ok}));
    // The input ending inside a body ends the reading.
    EXPECT_EQ(frames_of("Content-Length: 10\r\n\r\n{}"), std::vector<std::string>{});
}

TEST(LspFraming, RequestsWithPositionsThatAreNotTheProtocolsAreRefusedWithTheirId) {
    auto hover = [](const std::string& line, const std::string& id = "4") {
        return screen_message(
            R"({"jsonrpc": "2.0", "id": )" + id +
            R"(, "method": "textDocument/hover", "params": {"textDocument": {"uri": "file:///m.mod"},)"
            R"( "position": {"line": )" +
            line + R"(, "character": 2}}})");
    };
    EXPECT_EQ(hover("3").kind, Screened::Kind::Pass);
    EXPECT_EQ(hover("2147483647").kind, Screened::Kind::Pass);
    for (const char* bad : {"-1", "9223372036854775808", "2147483648", "1.5", "1e3", "\"3\"", "true", "null"}) {
        Screened s = hover(bad);
        EXPECT_EQ(s.kind, Screened::Kind::Refuse) << bad;
        EXPECT_EQ(s.id, "4");
        EXPECT_EQ(s.code, kInvalidParams);
        EXPECT_EQ(s.message, "Invalid params: params.position.line must be a whole number from 0 to 2147483647, not " +
                                 std::string(bad));
    }
    EXPECT_EQ(hover("-1", R"("a\"b")").id, R"("a\"b")");
    Screened range = screen_message(
        R"({"id": 9, "method": "textDocument/codeAction", "params": {"range": {"start": {"line": 0, "character": 0},)"
        R"( "end": {"line": 0, "character": -4}}}})");
    EXPECT_EQ(range.message,
              "Invalid params: params.range.end.character must be a whole number from 0 to 2147483647, not -4");
    // A notification cannot be answered: it is dropped.
    EXPECT_EQ(
        screen_message(R"({"method": "textDocument/didChange", "params": {"p": {"line": -1, "character": 0}}})").kind,
        Screened::Kind::Drop);
}

TEST(LspFraming, BodiesThatAreNotOneJsonObjectAreRefusedToTheIdTheyShow) {
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    Screened s = screen_message(R"({"params": )" + deep + R"(, "id": 3, "method": "x"})");
    EXPECT_EQ(s.kind, Screened::Kind::Refuse);
    EXPECT_EQ(s.id, "3");
    EXPECT_EQ(s.code, kParseError);
    EXPECT_TRUE(s.message.starts_with("Parse error: ")) << s.message;
    EXPECT_EQ(screen_message(R"({"id": 3, "method": "x", "par)").id, "3");
    for (const char* body : {"[1]", "{\"id\": [1], \"method\": \"x\", \"params\": !}"}) {
        EXPECT_EQ(screen_message(body).kind, Screened::Kind::Refuse) << body;
        EXPECT_EQ(screen_message(body).id, "null") << body;
    }
    EXPECT_EQ(screen_message(R"({"method": "x", "params": )" + deep + "}").kind, Screened::Kind::Drop);
    EXPECT_EQ(error_frame("7", kParseError, "bad \"x\""),
              "Content-Length: 78\r\n\r\n"
              R"({"jsonrpc": "2.0", "id": 7, "error": {"code": -32700, "message": "bad \"x\""}})");
}

}  // namespace
