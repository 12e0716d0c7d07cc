#include "generative/references.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using tarvok::generative::grammar_document;

namespace {

using GrammarDocument = tarvok::testing::ScratchFolder;

TEST_F(GrammarDocument, TheInstallationsCopyComesFirstThenThePackagesThenTheDocumentedPlace) {
    fs::path package = root_ / "tarvok";
    fs::path documented = root_ / "docs" / "grammars" / "Tarvok grammar.md";
    fs::path own_copy = package / "docs" / "grammars" / "Tarvok grammar.md";
    EXPECT_EQ(grammar_document(package, "Tarvok grammar.md"), documented);  // neither: the documented place
    write("tarvok/docs/grammars/Tarvok grammar.md", "own");
    EXPECT_EQ(grammar_document(package, "Tarvok grammar.md"), own_copy);
    write("docs/grammars/Tarvok grammar.md", "installed");
    EXPECT_EQ(grammar_document(package, "Tarvok grammar.md"), documented);
    EXPECT_EQ(grammar_document(package, "Tarvok_GBNF"), root_ / "docs" / "grammars" / "Tarvok_GBNF");
}

}  // namespace
