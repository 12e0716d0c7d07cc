// Where a command's lines go, as its cores see it: the binding prints them
// on the host's stdout and stderr.
#pragma once

#include "cli/command_options.hpp"
#include "compiler/data_values.hpp"

#include <string>

namespace tarvok::cli {

/// A command's output: lines for a reader on stdout, lines on stderr, and JSON on stdout.
class Output {
  public:
    virtual ~Output() = default;
    virtual void say(const std::string& line) = 0;
    virtual void warn(const std::string& line) = 0;
    virtual void say_json(const data::Value& value) = 0;
};

/// Tells a failure: with --json as an object on stdout, else as one line on
/// stderr ("tarvok: error: ..."); its exit status.
int tell(Output& out, const Failure& failure, bool json);

/// Tells that Ctrl-C ended the command; its exit status.
int tell_interrupt(Output& out, bool json);

/// The failure for an error no command handled: `line` says what it was.
/// Memory that ran out is no verdict on the model: a status of its own kind.
Failure unhandled(bool out_of_memory, std::string line);

}  // namespace tarvok::cli
