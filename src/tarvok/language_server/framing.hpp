// The frames `tarvok lsp` reads on stdin, and the messages it answers before
// the protocol library sees them: a frame over the limit, a body that is not
// JSON, and a request whose positions are not the protocol's whole numbers
// each get an error reply, so that every request is answered and no header
// can make the server take more memory than the limit.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok::language_server {

/// The most bytes one message body may have: twice the largest model or data
/// file the commands read (64 MiB), so that an open document the commands
/// would take fits with its JSON escapes.
inline constexpr std::size_t kMaxFrameBytes = std::size_t{128} << 20;
/// The longest header line read; a longer one makes its frame unreadable.
inline constexpr std::size_t kMaxHeaderLine = 8192;

/// JSON-RPC's error codes for a message refused before it is read.
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kInvalidParams = -32602;

/// One frame: its body, or why it was refused (the reply goes back with id null).
struct Frame {
    std::string body;
    std::optional<std::string> refusal;
};

/// Reads frames (`Content-Length: N` header lines, a blank line, N bytes)
/// from `read`, which fills up to the bytes asked and returns how many it
/// gave (0 at the end of the input). A frame whose header is unreadable or
/// whose length is over `max_body` is refused unread: the reader then skips
/// to the next `Content-Length:` it finds, so that one bad header costs one
/// frame, not the session.
class FrameReader {
  public:
    using Read = std::function<std::size_t(char* into, std::size_t most)>;
    explicit FrameReader(Read read, std::size_t max_body = kMaxFrameBytes);

    /// The next frame; nullopt at the end of the input.
    std::optional<Frame> next();

  private:
    bool fill();
    /// The next line, its end taken off; nullopt at the end of the input, "\x01" past kMaxHeaderLine.
    std::optional<std::string> line();
    /// Skips the input up to the next "Content-Length:" (any case), kept as the next line's start.
    bool resynchronise();

    Read read_;
    std::size_t max_body_;
    std::string buffer_;
    std::size_t start_ = 0;
};

/// What to do with a message before the protocol library reads it.
struct Screened {
    enum class Kind { Pass, Refuse, Drop } kind = Kind::Pass;
    /// The request's id as JSON ("null" for none), for a reply.
    std::string id = "null";
    bool request = false;  ///< a request (it has a method and an id), which must be answered
    int code = 0;
    std::string message;  ///< why it is refused or dropped
};

/// Reads `body`: a text that is not JSON (nested past the parser's depth
/// too) is refused with the id its top level shows (null for none), a
/// notification dropped; a text that is not one object is refused with id
/// null; a request whose positions (any object with `line` and `character`)
/// are not whole numbers from 0 to 2^31 - 1 is refused with its id; such a
/// notification is dropped (it cannot be answered). Anything else passes.
Screened screen_message(std::string_view body);

/// The frame of a JSON-RPC error reply to `id` (JSON text).
std::string error_frame(std::string_view id, int code, std::string_view message);

}  // namespace tarvok::language_server
