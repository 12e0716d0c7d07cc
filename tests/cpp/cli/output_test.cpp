#include "cli/output.hpp"
#include "cli/output_paths.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvok::cli;

TEST(TellFailure, OneLineOnStderrOrAnObjectOnStdoutAndCtrlCSaysItPlainly) {
    std::vector<std::string> lines;
    Output out{[&](const std::string& text) { lines.push_back("out " + text); },
               [&](const std::string& text) { lines.push_back("err " + text); }};
    EXPECT_EQ(tell(out, unhandled(false, "boom\x1b"), false), 1);
    EXPECT_EQ(tell(out, unhandled(true, "not enough memory \xc3\xa9\x1b"), true), 2);  // no verdict on the model
    EXPECT_EQ(tell_interrupt(out, false), 130);
    EXPECT_EQ(tell_interrupt(out, true), 130);
    // A reader's line shows the escape; JSON keeps every character, indented as the host's json.dumps.
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "err tarvok: error: boom\\x1b\n",
                         "out {\n  \"error\": \"not enough memory \xc3\xa9\\u001b\",\n  \"status\": 2\n}\n",
                         "err tarvok: interrupted\n", "out {\n  \"error\": \"interrupted\",\n  \"status\": 130\n}\n"}));
    EXPECT_EQ(written_line({"a.py", "a.npz"}), "Wrote a.py and a.npz");
}
