#include "cli/output.hpp"
#include "cli/output_paths.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvok::cli;

namespace {

/// The lines a command would print, in order; JSON as its error and status.
class RecordedOutput : public Output {
  public:
    std::vector<std::string> lines;
    void say(const std::string& line) override { lines.push_back("out " + line); }
    void warn(const std::string& line) override { lines.push_back("err " + line); }
    void say_json(const tarvok::data::Value& value) override {
        lines.push_back("json " + value.find("error")->text() + " " + std::to_string(value.find("status")->integer()));
    }
};

}  // namespace

TEST(TellFailure, OneLineOnStderrOrAnObjectOnStdoutAndCtrlCSaysItPlainly) {
    RecordedOutput out;
    EXPECT_EQ(tell(out, unhandled(false, "boom"), false), 1);
    EXPECT_EQ(tell(out, unhandled(true, "not enough memory"), true), 2);  // no verdict on the model
    EXPECT_EQ(tell_interrupt(out, false), 130);
    EXPECT_EQ(tell_interrupt(out, true), 130);
    EXPECT_EQ(out.lines, (std::vector<std::string>{"err tarvok: error: boom", "json not enough memory 2",
                                                   "err tarvok: interrupted", "json interrupted 130"}));
    EXPECT_EQ(written_line({"a.py", "a.npz"}), "Wrote a.py and a.npz");
}
