// Where a command's lines go, as its cores see it: the binding prints them
// on the host's stdout and stderr.
#pragma once

#include "cli/command_options.hpp"
#include "compiler/data_values.hpp"

#include <functional>
#include <string>

namespace tarvok::cli {

/// As json.dumps(value, indent=2, ensure_ascii=False) writes it.
std::string json_text(const data::Value& value);

/// A command's output: lines for a reader on stdout, lines on stderr, and
/// JSON on stdout, each text handed whole to its stream's sink (the host's
/// stream in the binding, a string a test keeps).
struct Output {
    using Sink = std::function<void(const std::string& text)>;
    Sink out, err;

    /// Human-readable lines show what a terminal would act on as escapes
    /// (terminal::shown); JSON keeps every character exact.
    void say(const std::string& line) const;
    void warn(const std::string& line) const;
    void say_json(const data::Value& value) const;
};

/// Tells a failure: with --json as an object on stdout, else as one line on
/// stderr ("tarvok: error: ..."); its exit status.
int tell(const Output& out, const Failure& failure, bool json);

/// Tells that Ctrl-C ended the command; its exit status.
int tell_interrupt(const Output& out, bool json);

/// The failure for an error no command handled: `line` says what it was.
/// Memory that ran out is no verdict on the model: a status of its own kind.
Failure unhandled(bool out_of_memory, std::string line);

}  // namespace tarvok::cli
