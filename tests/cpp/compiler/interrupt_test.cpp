// A stop requested through the interrupt hook unwinds the compiler cleanly
// from any pass (the sanitizers watch for leaks).
#include "common/interrupt.hpp"
#include "compiler/compiler.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace std::chrono_literals;

TEST(Interrupt, StopsACompilationInEveryPass) {
    // Enough work in every pass (reading, names, types, data, checks) for
    // thousands of ticks each.
    std::string model = "range I = 1..8000;\nfloat a[I] = [1";
    for (int i = 1; i < 8000; ++i) model += ", 1";
    model += "];\nfloat s = sum(i in I, j in 1..10) a[i] * j;\ndvar float x[I];\nminimize sum(i in I) x[i]";
    for (int i = 0; i < 5000; ++i) model += " + x[" + std::to_string(i % 300 + 1) + "]";
    model += ";\nsubject to {\n  forall(i in I, j in 1..10: i > j) x[i - j] <= a[i] / j;\n}";
    auto run = [&](int stop_at) {
        int polls = 0;
        tarvok::Interrupt interrupt([&] { return ++polls == stop_at; }, 0us);
        tarvok::compiler::CompileOptions options;
        options.interrupt = &interrupt;
        auto c = tarvok::compiler::compile(model, "", options);
        EXPECT_TRUE(c->ok()) << c->report();
        return polls;
    };
    int total = run(-1);  // never stops: how many polls a whole compilation makes
    ASSERT_GT(total, 200);
    for (int percent : {1, 25, 50, 75, 99}) {
        int stop_at = std::max(1, total * percent / 100);
        EXPECT_THROW(run(stop_at), tarvok::Interrupted) << percent;
    }
}
