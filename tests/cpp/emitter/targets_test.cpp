#include "emitter/targets.hpp"
#include "scipy_emitter/program_script.hpp"
#include "solver/program.hpp"

#include <gtest/gtest.h>

#include <set>

using namespace tarvok::emitter;

TEST(Targets, EveryTargetHasOneNameADottedSuffixAndAHelpLine) {
    std::set<std::string_view> names;
    for (const Emitter* t : targets()) {
        EXPECT_TRUE(names.insert(t->name()).second) << t->name();
        EXPECT_EQ(find_target(t->name()), t);
        ASSERT_FALSE(t->suffix().empty());
        EXPECT_EQ(t->suffix().front(), '.');
        EXPECT_FALSE(t->summary().empty());
    }
    EXPECT_EQ(default_target().name(), "scipy");
    EXPECT_EQ(find_target("SciPy"), nullptr);  // names are exact
    EXPECT_EQ(find_target(""), nullptr);
}

TEST(Targets, TheScipyTargetWritesTheProgramsScript) {
    auto p =
        tarvok::solver::instantiate("dvar int+ x; dvar int+ y; maximize 2*x + y; subject to { cap: x + y <= 3; }", "");
    Emitted emitted = find_target("scipy")->emit(*p);
    namespace se = tarvok::scipy_emitter;
    EXPECT_EQ(emitted.text, se::script_text(se::render_script(se::program_script_input(*p))));
    EXPECT_TRUE(emitted.arrays.empty());  // small: its numbers are in the text
    EXPECT_NE(emitted.text.find("cap"), std::string::npos);
}
