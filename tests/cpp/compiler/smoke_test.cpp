#include "compiler/compiler.hpp"

#include <gtest/gtest.h>

using namespace tarvok::compiler;

TEST(Smoke, ReplyContractPair) {
    auto c = compile("float a;\nfloat b;\ndvar float x;\nminimize z: a*x;\nsubject to { b*x >= 0; }", "a = 10;\nb= 5;");
    EXPECT_TRUE(c->ok()) << c->report();
}
